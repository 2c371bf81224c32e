package com.corvane.qel.deployer.modburn.tool;

import java.math.BigDecimal;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A small JSON reader for inventories (RFC 8259): objects become JsonObject (which remembers the
 * line of the object and of each of its keys, so that an inventory error can name its line),
 * arrays become lists, numbers BigDecimal, and strings, booleans and null the Java values.
 * Errors name line and column.
 */
final class JsonReader {
    /** An object with the lines its members start on. */
    static final class JsonObject extends LinkedHashMap<String, Object> {
        private static final long serialVersionUID = 1L;
        final int line;
        private final Map<String, Integer> keyLines = new HashMap<>();

        JsonObject(int line) {
            this.line = line;
        }

        /** The line the key was written on, or the object's line for a key it does not have. */
        int lineOf(String key) {
            return keyLines.getOrDefault(key, line);
        }
    }

    /** A syntax error at a line and column (both from 1). */
    static final class JsonException extends Exception {
        private static final long serialVersionUID = 1L;
        final int line;
        final int column;

        JsonException(int line, int column, String message) {
            super("line " + line + ", column " + column + ": " + message);
            this.line = line;
            this.column = column;
        }
    }

    /** Nesting deeper than this is refused rather than risking the stack. */
    static final int MAX_DEPTH = 200;

    private final String text;
    private int pos;
    private int line = 1;
    private int lineStart;

    private JsonReader(String text) {
        this.text = text;
    }

    /** Parses one JSON text; anything but white space after the value is an error. */
    static Object parse(String text) throws JsonException {
        JsonReader r = new JsonReader(text);
        if (r.text.startsWith("\uFEFF")) {
            r.pos = 1;
        }
        r.skipSpace();
        Object value = r.value(0);
        r.skipSpace();
        if (r.pos < r.text.length()) {
            throw r.error("unexpected text after the end of the JSON value");
        }
        return value;
    }

    private JsonException error(String message) {
        return new JsonException(line, pos - lineStart + 1, message);
    }

    private void skipSpace() {
        while (pos < text.length()) {
            char c = text.charAt(pos);
            if (c == '\n') {
                line++;
                lineStart = pos + 1;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            pos++;
        }
    }

    private Object value(int depth) throws JsonException {
        if (depth > MAX_DEPTH) {
            throw error("nested deeper than " + MAX_DEPTH + " levels");
        }
        if (pos >= text.length()) {
            throw error("unexpected end of input, a value was expected");
        }
        char c = text.charAt(pos);
        return switch (c) {
            case '{' -> object(depth);
            case '[' -> array(depth);
            case '"' -> string();
            case 't' -> literal("true", Boolean.TRUE);
            case 'f' -> literal("false", Boolean.FALSE);
            case 'n' -> literal("null", null);
            default -> {
                if (c == '-' || (c >= '0' && c <= '9')) {
                    yield number();
                }
                throw error("unexpected character '" + c + "', a value was expected");
            }
        };
    }

    private JsonObject object(int depth) throws JsonException {
        JsonObject obj = new JsonObject(line);
        pos++; // {
        skipSpace();
        if (peek() == '}') {
            pos++;
            return obj;
        }
        while (true) {
            skipSpace();
            if (peek() != '"') {
                throw error("a member name in double quotes was expected");
            }
            int keyLine = line;
            String key = string();
            if (obj.containsKey(key)) {
                throw error("the member \"" + key + "\" appears twice");
            }
            skipSpace();
            if (peek() != ':') {
                throw error("':' was expected after the member name");
            }
            pos++;
            skipSpace();
            obj.put(key, value(depth + 1));
            obj.keyLines.put(key, keyLine);
            skipSpace();
            char c = peek();
            pos++;
            if (c == '}') {
                return obj;
            }
            if (c != ',') {
                pos--;
                throw error("',' or '}' was expected");
            }
        }
    }

    private List<Object> array(int depth) throws JsonException {
        List<Object> list = new ArrayList<>();
        pos++; // [
        skipSpace();
        if (peek() == ']') {
            pos++;
            return list;
        }
        while (true) {
            skipSpace();
            list.add(value(depth + 1));
            skipSpace();
            char c = peek();
            pos++;
            if (c == ']') {
                return list;
            }
            if (c != ',') {
                pos--;
                throw error("',' or ']' was expected");
            }
        }
    }

    private char peek() {
        return pos < text.length() ? text.charAt(pos) : '\0';
    }

    private String string() throws JsonException {
        StringBuilder b = new StringBuilder();
        pos++; // opening quote
        while (true) {
            if (pos >= text.length()) {
                throw error("unterminated string");
            }
            char c = text.charAt(pos++);
            if (c == '"') {
                return b.toString();
            }
            if (c < 0x20) {
                pos--;
                throw error("control character in a string (write it as an escape)");
            }
            if (c != '\\') {
                b.append(c);
                continue;
            }
            if (pos >= text.length()) {
                throw error("unterminated string");
            }
            char e = text.charAt(pos++);
            switch (e) {
                case '"' -> b.append('"');
                case '\\' -> b.append('\\');
                case '/' -> b.append('/');
                case 'b' -> b.append('\b');
                case 'f' -> b.append('\f');
                case 'n' -> b.append('\n');
                case 'r' -> b.append('\r');
                case 't' -> b.append('\t');
                case 'u' -> b.append(unicodeEscape());
                default -> {
                    pos--;
                    throw error("unknown escape '\\" + e + "'");
                }
            }
        }
    }

    private char unicodeEscape() throws JsonException {
        if (pos + 4 > text.length()) {
            throw error("\\u needs four hexadecimal digits");
        }
        int v = 0;
        for (int i = 0; i < 4; i++) {
            int d = Character.digit(text.charAt(pos + i), 16);
            if (d < 0) {
                throw error("\\u needs four hexadecimal digits");
            }
            v = v * 16 + d;
        }
        pos += 4;
        return (char) v;
    }

    private Object literal(String word, Object value) throws JsonException {
        if (!text.startsWith(word, pos)) {
            throw error("unexpected word, a value was expected");
        }
        pos += word.length();
        return value;
    }

    private BigDecimal number() throws JsonException {
        int start = pos;
        if (peek() == '-') {
            pos++;
        }
        if (peek() == '0') {
            pos++;
        } else if (isDigit(peek())) {
            digits();
        } else {
            throw error("a digit was expected");
        }
        if (peek() == '.') {
            pos++;
            if (!isDigit(peek())) {
                throw error("a digit was expected after '.'");
            }
            digits();
        }
        if (peek() == 'e' || peek() == 'E') {
            pos++;
            if (peek() == '+' || peek() == '-') {
                pos++;
            }
            if (!isDigit(peek())) {
                throw error("a digit was expected in the exponent");
            }
            digits();
        }
        try {
            return new BigDecimal(text.substring(start, pos));
        } catch (NumberFormatException e) {
            throw error("number out of range");
        }
    }

    private static boolean isDigit(char c) {
        return c >= '0' && c <= '9';
    }

    private void digits() {
        while (pos < text.length() && text.charAt(pos) >= '0' && text.charAt(pos) <= '9') {
            pos++;
        }
    }
}
