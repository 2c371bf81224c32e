package com.corvane.qel.deployer.modburn.tool.bridge;

import com.corvane.qel.deployer.modburn.tool.text.Escape;

/**
 * The outcome of one update: the library's result code (0 for success) and, for a failure, the
 * error text it threw ("Error: <family> switch=<address>: <status text>", optionally followed
 * by "SWITCH TEXT=" and the switch's own words in quotes).
 */
public record Result(int code, String message) {
    public static final Result OK = new Result(0, "");

    public boolean succeeded() {
        return code == 0 || code == 1;
    }

    private static final String SWITCH_TEXT = "SWITCH TEXT=\n";

    /** The status part of the error text, without the switch text. */
    public String statusText() {
        String head = message;
        int cut = head.indexOf(SWITCH_TEXT);
        if (cut >= 0) {
            head = head.substring(0, cut);
        }
        // "Error: Brocade switch=10.0.0.1: Telnet timeout (IO_TIMEOUT)"
        int sw = head.indexOf(" switch=");
        if (head.startsWith("Error: ") && sw >= 0) {
            int colon = head.indexOf(": ", sw);
            if (colon >= 0) {
                head = head.substring(colon + 2);
            }
        }
        return head.strip();
    }

    /** The switch's own words quoted by the error text, or "" when it quotes none. */
    public String switchText() {
        int cut = message.indexOf(SWITCH_TEXT);
        if (cut < 0) {
            return "";
        }
        String text = message.substring(cut + SWITCH_TEXT.length());
        if (text.startsWith("\"")) {
            text = text.substring(1);
        }
        if (text.endsWith("\"")) {
            text = text.substring(0, text.length() - 1);
        }
        return text;
    }

    /** The switch text on one line, line ends shown as "\n", as printed by the tool. */
    public String switchTextOneLine() {
        return Escape.line(switchText());
    }

    // Words with which switches say that something went wrong.
    private static final java.util.regex.Pattern COMPLAINT = java.util.regex.Pattern.compile(
        "(?i)error|fail|cannot|can't|unable|not found|no such|invalid|denied|refused|timed? ?out|incorrect|"
            + "bad |illegal|not allowed|not permitted|unknown|abort|no space|unreachable");
    // A line that is only a prompt: "sim:admin>", "switch#", "Password:".
    private static final java.util.regex.Pattern PROMPT = java.util.regex.Pattern.compile("^\\S{0,40}[>#$%:]$");
    /** The longest telling line shown; a longer one is cut with "...". */
    public static final int TELLING_MAX = 160;

    /**
     * The line of the switch's quoted text that says most about the failure: the last line
     * with a word of complaint in it, else the last line that is not a bare prompt; "" when the
     * error text quotes no switch text.
     */
    public String tellingLine() {
        String chosen = "";
        String lastPlain = "";
        for (String raw : switchText().split("\r\n|\r|\n")) {
            String line = raw.strip();
            if (line.isEmpty() || PROMPT.matcher(line).matches()) {
                continue;
            }
            lastPlain = line;
            if (COMPLAINT.matcher(line).find()) {
                chosen = line;
            }
        }
        String line = chosen.isEmpty() ? lastPlain : chosen;
        StringBuilder b = new StringBuilder();
        // Control characters (a console's colours, a bell) read as blanks in a table's cell.
        line.chars().forEach(c -> b.append(Escape.isControl((char) c) ? ' ' : (char) c));
        line = b.toString();
        return line.length() > TELLING_MAX ? line.substring(0, TELLING_MAX - 3) + "..." : line;
    }
}
