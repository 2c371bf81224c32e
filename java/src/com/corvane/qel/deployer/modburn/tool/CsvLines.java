package com.corvane.qel.deployer.modburn.tool;

import java.util.ArrayList;
import java.util.List;

/**
 * Reads CSV records (RFC 4180: fields separated by commas, optionally in double quotes, a
 * doubled quote inside quotes standing for one) and remembers the line each record starts on.
 * Blank lines and lines starting with '#' are skipped.
 */
final class CsvLines {
    /** One record: the line it starts on and its fields. */
    record Record(int line, List<String> fields) {
    }

    private final String text;
    private int pos;
    private int line = 1;

    CsvLines(String text) {
        this.text = text;
    }

    /**
     * The next record, or null at the end. Throws IllegalArgumentException, naming the line,
     * for a quote that is never closed or text after a closing quote.
     */
    Record next() {
        while (pos < text.length()) {
            int start = line;
            if (restOfLineBlank() || firstNonBlank() == '#') {
                skipLine();
                continue;
            }
            List<String> fields = new ArrayList<>();
            while (true) {
                fields.add(field(start));
                if (pos >= text.length() || atLineEnd()) {
                    skipLineEnd();
                    return new Record(start, fields);
                }
                pos++; // the comma
            }
        }
        return null;
    }

    private boolean atLineEnd() {
        char c = text.charAt(pos);
        return c == '\n' || c == '\r';
    }

    private char firstNonBlank() {
        for (int i = pos; i < text.length() && text.charAt(i) != '\n'; i++) {
            if (!Character.isWhitespace(text.charAt(i))) {
                return text.charAt(i);
            }
        }
        return '\n';
    }

    private boolean restOfLineBlank() {
        for (int i = pos; i < text.length() && text.charAt(i) != '\n'; i++) {
            if (!Character.isWhitespace(text.charAt(i))) {
                return false;
            }
        }
        return true;
    }

    private void skipLine() {
        while (pos < text.length() && text.charAt(pos) != '\n') {
            pos++;
        }
        if (pos < text.length()) {
            pos++;
            line++;
        }
    }

    private void skipLineEnd() {
        if (pos < text.length() && text.charAt(pos) == '\r') {
            pos++;
        }
        if (pos < text.length() && text.charAt(pos) == '\n') {
            pos++;
            line++;
        }
    }

    /** One field, ending before a comma, a line end or the end of the text. */
    private String field(int recordLine) {
        StringBuilder b = new StringBuilder();
        int p = pos;
        while (p < text.length() && (text.charAt(p) == ' ' || text.charAt(p) == '\t')) {
            p++;
        }
        if (p < text.length() && text.charAt(p) == '"') {
            pos = p + 1;
            while (true) {
                if (pos >= text.length()) {
                    throw new IllegalArgumentException("line " + recordLine + ": a quoted field is never closed");
                }
                char c = text.charAt(pos++);
                if (c == '"') {
                    if (pos < text.length() && text.charAt(pos) == '"') {
                        b.append('"');
                        pos++;
                        continue;
                    }
                    break;
                }
                if (c == '\n') {
                    line++;
                }
                b.append(c);
            }
            while (pos < text.length() && (text.charAt(pos) == ' ' || text.charAt(pos) == '\t')) {
                pos++;
            }
            if (pos < text.length() && text.charAt(pos) != ',' && !atLineEnd()) {
                throw new IllegalArgumentException("line " + line + ": text after a closing quote");
            }
            return b.toString();
        }
        while (pos < text.length() && text.charAt(pos) != ',' && !atLineEnd()) {
            b.append(text.charAt(pos++));
        }
        return b.toString();
    }
}
