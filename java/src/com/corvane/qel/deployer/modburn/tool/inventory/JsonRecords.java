package com.corvane.qel.deployer.modburn.tool.inventory;

import java.math.BigDecimal;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The records of a JSON inventory: an array of objects, or an object whose "switches" member is
 * one. Each member keeps the line it was written on; syntax errors name line and column.
 */
final class JsonRecords {
    private JsonRecords() {
    }

    /** The records of the text; its defects are added to problems. */
    static List<Record> read(String text, List<String> problems) {
        Object doc;
        try {
            doc = JsonTree.parse(text, Record.COLUMNS);
        } catch (JsonTree.JsonException e) {
            problems.add(e.getMessage());
            return List.of();
        }
        Object list = doc;
        if (doc instanceof JsonTree.JsonObject obj) {
            list = obj.get("switches");
            if (!(list instanceof List<?>)) {
                problems.add("line " + obj.line + ": expected an array of switches, or an object whose "
                    + "\"switches\" member is one");
                return List.of();
            }
        }
        if (!(list instanceof List<?> items)) {
            problems.add("line 1: expected an array of switches");
            return List.of();
        }
        List<Record> records = new ArrayList<>();
        for (Object item : items) {
            if (!(item instanceof JsonTree.JsonObject obj)) {
                problems.add("expected every switch to be an object {\"family\": ..., \"address\": ...}");
                continue;
            }
            records.add(record(obj));
        }
        return records;
    }

    /** One switch object as a record; members of an unknown name or kind are its defects. */
    private static Record record(JsonTree.JsonObject obj) {
        List<String> problems = new ArrayList<>();
        Map<String, String> values = new LinkedHashMap<>();
        Map<String, Integer> lines = new HashMap<>();
        for (Map.Entry<String, Object> m : obj.entrySet()) {
            int line = obj.lineOf(m.getKey());
            String col = Record.column(m.getKey());
            if (col == null) {
                problems.add("line " + line + ": unknown member \"" + m.getKey() + "\" (members: "
                    + String.join(", ", Record.COLUMNS) + ")");
                continue;
            }
            Object v = m.getValue();
            String s;
            if (v == null) {
                s = "";
            } else if (v instanceof String str) {
                s = str;
            } else if (v instanceof Boolean || v instanceof BigDecimal) {
                s = v instanceof BigDecimal d ? d.toPlainString() : v.toString();
            } else {
                problems.add("line " + line + ": " + col + " must be a string, number or boolean");
                continue;
            }
            values.put(col, s);
            lines.put(col, line);
        }
        return new Record(obj.line, values, lines, problems);
    }
}
