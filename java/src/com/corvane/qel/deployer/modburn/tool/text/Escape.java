package com.corvane.qel.deployer.modburn.tool.text;

/**
 * Text from outside (a console, the library, a file server, a file) as it may reach a person: every
 * control character written as an escape, so that none moves a cursor, changes colours, rings or
 * ends a line where the tool did not. The control characters are C0 (U+0000 to U+001F), DEL and C1
 * (U+0080 to U+009F); they are written \t, \n and \r, and \xHH for the others.
 */
public final class Escape {
    private Escape() {
    }

    /** Whether c is a control character. */
    public static boolean isControl(char c) {
        return c < 0x20 || (c >= 0x7f && c <= 0x9f);
    }

    /** Whether the text holds a control character. */
    public static boolean hasControl(CharSequence text) {
        for (int i = 0; i < text.length(); i++) {
            if (isControl(text.charAt(i))) {
                return true;
            }
        }
        return false;
    }

    /** The text for one line: every control character escaped, line ends included. */
    public static String line(String text) {
        return escape(text, false);
    }

    /** The text for a log or a block of lines: every control character escaped but the line end. */
    public static String lines(String text) {
        return escape(text, true);
    }

    private static String escape(String text, boolean keepLineEnds) {
        if (text == null || !hasControl(text)) {
            return text;
        }
        StringBuilder b = new StringBuilder(text.length() + 16);
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (!isControl(c) || (keepLineEnds && c == '\n')) {
                b.append(c);
            } else if (c == '\t' || c == '\n' || c == '\r') {
                b.append(c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r");
            } else {
                b.append(String.format("\\x%02x", (int) c));
            }
        }
        return b.toString();
    }
}
