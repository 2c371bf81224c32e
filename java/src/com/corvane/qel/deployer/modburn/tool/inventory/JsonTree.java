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
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A JSON document read with Jackson's streaming parser into plain values: objects become
 * JsonObject (which remembers the line of the object and of each member, so that an inventory
 * error can name its line), arrays lists, numbers BigDecimal, strings, booleans and null the
 * Java values. Syntax errors name the line and column Jackson reports.
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

    private static final JsonFactory FACTORY = JsonFactory.builder()
        .enable(StreamReadFeature.STRICT_DUPLICATE_DETECTION)
        .build();

    private JsonTree() {
    }

    /** Parses one JSON text; anything but white space after the value is an error. */
    public static Object parse(String text) throws JsonException {
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
            throw at == null ? new JsonException(e.getOriginalMessage()) : error(at, e.getOriginalMessage());
        } catch (IOException e) {
            throw new JsonException(e.getMessage());
        }
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
