package com.corvane.qel.deployer.modburn.tool.inventory;

import com.fasterxml.jackson.core.JsonFactory;
import com.fasterxml.jackson.core.JsonLocation;
import com.fasterxml.jackson.core.JsonParser;
import com.fasterxml.jackson.core.JsonProcessingException;
import com.fasterxml.jackson.core.JsonToken;
import com.fasterxml.jackson.core.StreamReadFeature;
import java.io.IOException;
import java.math.BigDecimal;
import java.util.ArrayList;
import java.util.Collection;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A JSON document read with Jackson's streaming parser into plain values: objects become
 * JsonObject (which remembers the line of the object and of each member, so that an inventory
 * error can name its line), arrays lists, numbers BigDecimal, strings, booleans and null the
 * Java values. Syntax errors name the line and column Jackson reports, and say what is wrong in
 * the tool's own words: never the text found there, which may be a password written without its
 * quotes.
 */
public final class JsonTree {
    /** An object with the lines its members were written on. */
    public static final class JsonObject extends LinkedHashMap<String, Object> {
        private static final long serialVersionUID = 1L;
        public final int line;
        private final Map<String, Integer> keyLines = new HashMap<>();

        JsonObject(int line) {
            this.line = line;
        }

        /** The line the key was written on, or the object's line for a key it does not have. */
        public int lineOf(String key) {
            return keyLines.getOrDefault(key, line);
        }
    }

    /** A syntax error, its message naming line and column. */
    public static final class JsonException extends Exception {
        private static final long serialVersionUID = 1L;

        JsonException(String message) {
            super(message);
        }
    }

    /** Nesting deeper than this is refused rather than risking the stack. */
    static final int MAX_DEPTH = 100;

    // Jackson's locations would quote the document itself; the tool names line and column only.
    private static final JsonFactory FACTORY = JsonFactory.builder()
        .enable(StreamReadFeature.STRICT_DUPLICATE_DETECTION)
        .disable(StreamReadFeature.INCLUDE_SOURCE_IN_LOCATION)
        .build();

    private JsonTree() {
    }

    /** Parses one JSON text; anything but white space after the value is an error. */
    public static Object parse(String text) throws JsonException {
        return parse(text, Set.of());
    }

    /**
     * Parses one JSON text; a duplicate member is named only when it is one of the known names
     * (any other might be a secret written where a name belongs).
     */
    public static Object parse(String text, Collection<String> known) throws JsonException {
        try (JsonParser p = FACTORY.createParser(text)) {
            JsonToken first = p.nextToken();
            if (first == null) {
                throw new JsonException("line 1, column 1: no JSON value (the text is empty)");
            }
            Object value = value(p, 0);
            if (p.nextToken() != null) {
                throw error(p.currentTokenLocation(), "unexpected text after the end of the JSON value");
            }
            return value;
        } catch (JsonProcessingException e) {
            JsonLocation at = e.getLocation();
            String said = said(e.getOriginalMessage(), known);
            throw at == null ? new JsonException(said) : error(at, said);
        } catch (IOException e) {
            throw new JsonException("the text cannot be read as JSON");
        }
    }

    // Jackson's words: what is found is quoted ('...'), what was expected is not.
    private static final Pattern CHARACTER = Pattern.compile("Unexpected character \\('(.)' \\(code \\d+\\)\\)(.*)",
        Pattern.DOTALL);
    private static final Pattern DUPLICATE = Pattern.compile("Duplicate field '(.*)'", Pattern.DOTALL);
    /** Characters of JSON's own grammar, which may be quoted back. */
    private static final String PUNCTUATION = "{}[],:\"";

    // Jackson's words for a defect, and the tool's: the first row whose words a message holds.
    private static final String[][] SAID = {
        {"Unrecognized token", "a bare word where a value belongs: texts (password references too) go in double quotes"},
        {"Unexpected end-of-input", "the text ends before the JSON value does (a quote, ] or } is missing)"},
        {"Illegal unquoted character", "a control character inside a text: write it as a backslash escape"},
        {"Unrecognized character escape", "an unknown backslash escape inside a text"},
        {"Unexpected close marker", "a ] or } that closes nothing open"},
        {"numeric value", "not a number"},
    };
    // What Jackson expected after an unexpected character, said plainly.
    private static final String[][] EXPECTED = {
        {"numeric value", "not a number"},
        {"double-quote to start field name", "a member name goes in double quotes"},
        {"separate Object entries", "a comma or } must come next"},
        {"separate Array entries", "a comma or ] must come next"},
        {"valid value", "a value is a text in double quotes, a number, true, false, null, an array or an object"},
    };

    /** What a syntax error says, in words that quote nothing of the text but its punctuation. */
    static String said(String jackson, Collection<String> known) {
        String m = jackson == null ? "" : jackson;
        Matcher c = CHARACTER.matcher(m);
        if (c.matches()) {
            String found = PUNCTUATION.indexOf(c.group(1).charAt(0)) >= 0 ? " ('" + c.group(1) + "')" : "";
            return "Unexpected character" + found + ": " + words(EXPECTED, c.group(2));
        }
        Matcher d = DUPLICATE.matcher(m);
        if (d.matches()) {
            return known.contains(d.group(1)) ? "Duplicate field '" + d.group(1) + "'" : "a member name appears twice";
        }
        return words(SAID, m);
    }

    private static String words(String[][] table, String message) {
        for (String[] row : table) {
            if (message.contains(row[0])) {
                return row[1];
            }
        }
        return "not valid JSON here";
    }

    private static JsonException error(JsonLocation at, String message) {
        return new JsonException("line " + at.getLineNr() + ", column " + at.getColumnNr() + ": " + message);
    }

    /** The value whose first token is the parser's current one. */
    private static Object value(JsonParser p, int depth) throws IOException, JsonException {
        JsonToken t = p.currentToken();
        if ((t == JsonToken.START_OBJECT || t == JsonToken.START_ARRAY) && depth >= MAX_DEPTH) {
            throw error(p.currentTokenLocation(), "nested deeper than " + MAX_DEPTH + " levels");
        }
        switch (t) {
            case START_OBJECT -> {
                JsonObject obj = new JsonObject(p.currentTokenLocation().getLineNr());
                while (p.nextToken() == JsonToken.FIELD_NAME) {
                    String key = p.currentName();
                    obj.keyLines.put(key, p.currentTokenLocation().getLineNr());
                    p.nextToken();
                    obj.put(key, value(p, depth + 1));
                }
                return obj;
            }
            case START_ARRAY -> {
                List<Object> list = new ArrayList<>();
                while (p.nextToken() != JsonToken.END_ARRAY) {
                    list.add(value(p, depth + 1));
                }
                return list;
            }
            case VALUE_STRING -> {
                return p.getText();
            }
            case VALUE_NUMBER_INT, VALUE_NUMBER_FLOAT -> {
                return p.getDecimalValue();
            }
            case VALUE_TRUE -> {
                return Boolean.TRUE;
            }
            case VALUE_FALSE -> {
                return Boolean.FALSE;
            }
            case VALUE_NULL -> {
                return null;
            }
            default -> throw error(p.currentTokenLocation(), "unexpected " + t);
        }
    }
}
