package com.corvane.qel.deployer.modburn.tool.inventory;

import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * One record of an inventory as written: its line, its values by column (with their own lines),
 * and the defects found while reading it (a field too many, an unknown member).
 */
record Record(int line, Map<String, String> values, Map<String, Integer> lines, List<String> defects) {
    static final List<String> COLUMNS = List.of("name", "family", "address", "user", "password", "url",
        "url_password", "reboot", "modifier", "canary", "chassis", "group", "expect_version");
    static final List<String> REQUIRED = List.of("family", "address", "user", "password", "url");

    /** The line a value was written on; the record's own line for a column it does not have. */
    int lineOf(String column) {
        return lines.getOrDefault(column, line);
    }

    /** A value without its surrounding blanks; "" for a column the record does not have. */
    String get(String column) {
        String v = values.get(column);
        return v == null ? "" : v.strip();
    }

    /** The column a header or member name stands for, or null. */
    static String column(String name) {
        String key = name.strip().toLowerCase(Locale.ROOT).replace('-', '_').replace(' ', '_');
        if (key.equals("urlpassword")) {
            key = "url_password";
        }
        return COLUMNS.contains(key) ? key : null;
    }
}
