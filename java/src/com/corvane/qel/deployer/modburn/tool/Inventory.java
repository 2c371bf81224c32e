package com.corvane.qel.deployer.modburn.tool;

import java.io.IOException;
import java.math.BigDecimal;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.apache.commons.csv.CSVFormat;
import org.apache.commons.csv.CSVParser;
import org.apache.commons.csv.CSVRecord;

/**
 * A fleet inventory: the switches to update, read from CSV (a header line naming the columns)
 * or JSON (an array of objects, or an object whose "switches" member is one). Columns and
 * members: family, address, user, password, url, and optionally url_password, reboot, modifier,
 * name and canary (yes: the switch is one of the rollout's canaries). Passwords are references (file:PATH, env:NAME, prompt[:LABEL]), never the passwords
 * themselves. Every defect found is reported with its line, and a defective inventory yields no
 * entries at all, so nothing starts.
 */
final class Inventory {
    /** One switch of the inventory, checked but with its passwords not yet read. */
    record Entry(int line, String name, Family family, String address, String user,
                 PasswordSource password, String url, PasswordSource urlPassword,
                 boolean reboot, int modifier, boolean canary) {
    }

    /** All defects of an inventory, each naming its line. */
    static final class InventoryException extends Exception {
        private static final long serialVersionUID = 1L;
        final List<String> problems;

        InventoryException(List<String> problems) {
            super(String.join("\n", problems));
            this.problems = List.copyOf(problems);
        }
    }

    private static final List<String> COLUMNS = List.of(
        "name", "family", "address", "user", "password", "url", "url_password", "reboot", "modifier", "canary");
    private static final List<String> REQUIRED = List.of("family", "address", "user", "password", "url");

    private Inventory() {
    }

    /** Reads and checks an inventory file; relative password file paths are taken from its folder. */
    static List<Entry> read(Path file) throws InventoryException {
        String text;
        try {
            byte[] bytes = Files.readAllBytes(file);
            text = StandardCharsets.UTF_8.newDecoder().decode(ByteBuffer.wrap(bytes)).toString();
        } catch (CharacterCodingException e) {
            throw new InventoryException(List.of(file + ": not UTF-8 text"));
        } catch (IOException e) {
            throw new InventoryException(List.of(file + ": cannot be read: " + e.getMessage()));
        }
        Path base = file.toAbsolutePath().getParent();
        return parse(text, isJson(file, text), base, file.toString());
    }

    private static boolean isJson(Path file, String text) {
        String name = file.getFileName().toString().toLowerCase(Locale.ROOT);
        if (name.endsWith(".json")) {
            return true;
        }
        if (name.endsWith(".csv")) {
            return false;
        }
        String t = text.strip();
        return t.startsWith("[") || t.startsWith("{");
    }

    /** Parses inventory text; source names it in messages. */
    static List<Entry> parse(String text, boolean json, Path base, String source) throws InventoryException {
        if (text.startsWith("\uFEFF")) {
            text = text.substring(1);
        }
        List<String> problems = new ArrayList<>();
        List<Raw> raws = json ? fromJson(text, problems) : fromCsv(text, problems);
        List<Entry> entries = new ArrayList<>();
        for (Raw raw : raws) {
            Entry e = check(raw, base, problems);
            if (e != null) {
                entries.add(e);
            }
        }
        checkDuplicates(entries, problems);
        if (raws.isEmpty() && problems.isEmpty()) {
            problems.add("lists no switches");
        }
        if (!problems.isEmpty()) {
            List<String> named = new ArrayList<>();
            for (String p : problems) {
                named.add(source + ": " + p);
            }
            throw new InventoryException(named);
        }
        return entries;
    }

    /** One record as written: its line, and its values by column (with their own lines). */
    private record Raw(int line, Map<String, String> values, Map<String, Integer> lines) {
        int lineOf(String column) {
            return lines.getOrDefault(column, line);
        }

        String get(String column) {
            String v = values.get(column);
            return v == null ? "" : v.strip();
        }
    }

    /** The column a header or member name stands for, or null. */
    private static String column(String name) {
        String key = name.strip().toLowerCase(Locale.ROOT).replace('-', '_').replace(' ', '_');
        if (key.equals("urlpassword")) {
            key = "url_password";
        }
        return COLUMNS.contains(key) ? key : null;
    }

    // ---- CSV ----

    private static final CSVFormat CSV = CSVFormat.RFC4180.builder()
        .setCommentMarker('#')
        .setIgnoreEmptyLines(true)
        .setIgnoreSurroundingSpaces(true)
        .build();

    // Commons CSV names the line of a defect as "(line 3) ..." or "(startline 3) ...".
    private static final Pattern CSV_LINE = Pattern.compile("^\\((?:start)?line (\\d+)\\)\\s*(.*)$", Pattern.DOTALL);

    // The parser's words for the common defects, said plainly.
    private static final Map<String, String> CSV_WORDS = Map.of(
        "EOF reached before encapsulated token finished", "a quoted field is never closed",
        "invalid char between encapsulated token and delimiter", "text after a closing quote");

    private static List<Raw> fromCsv(String text, List<String> problems) {
        List<Raw> raws = new ArrayList<>();
        List<String> header = null;
        int headerLine = 0;
        try (CSVParser parser = CSVParser.parse(text, CSV)) {
            for (CSVRecord rec : parser) {
                List<String> fields = rec.toList();
                // A comment indented by blanks is a comment too.
                if (fields.isEmpty() || fields.get(0).startsWith("#")) {
                    continue;
                }
                int line = startLine(text, (int) rec.getCharacterPosition());
                if (header == null) {
                    header = new ArrayList<>();
                    headerLine = line;
                    if (!header(fields, line, header, problems)) {
                        return raws;
                    }
                    continue;
                }
                if (fields.size() != header.size()) {
                    problems.add("line " + line + ": " + fields.size() + " fields, but the header on line "
                        + headerLine + " names " + header.size());
                    continue;
                }
                Map<String, String> values = new LinkedHashMap<>();
                for (int i = 0; i < header.size(); i++) {
                    values.put(header.get(i), fields.get(i));
                }
                raws.add(new Raw(line, values, Map.of()));
            }
        } catch (IOException | RuntimeException e) {
            problems.add(csvProblem(e));
            return raws;
        }
        if (header == null) {
            problems.add("has no header line (" + String.join(",", REQUIRED) + ",...)");
        }
        return raws;
    }

    /** Reads a header record into columns; false (with its problems added) when it is unusable. */
    private static boolean header(List<String> fields, int line, List<String> header, List<String> problems) {
        boolean ok = true;
        for (String f : fields) {
            String col = column(f);
            if (col == null) {
                problems.add("line " + line + ": unknown column \"" + f.strip() + "\" (columns: "
                    + String.join(", ", COLUMNS) + ")");
                ok = false;
            } else if (header.contains(col)) {
                problems.add("line " + line + ": column " + col + " appears twice");
                ok = false;
            }
            header.add(col);
        }
        for (String req : REQUIRED) {
            if (!header.contains(req)) {
                problems.add("line " + line + ": the header lacks the column " + req);
                ok = false;
            }
        }
        return ok;
    }

    /**
     * The line a record starts on. The parser gives the offset where it began reading the
     * record, before the blank and comment lines it skipped; those are skipped here too.
     */
    static int startLine(String text, int offset) {
        int pos = Math.min(offset, text.length());
        while (pos < text.length()) {
            int end = text.indexOf('\n', pos);
            if (end < 0) {
                end = text.length();
            }
            String piece = text.substring(pos, end);
            if (!piece.isBlank() && !piece.startsWith("#")) {
                break;
            }
            pos = Math.min(end + 1, text.length());
        }
        int line = 1;
        for (int i = 0; i < pos; i++) {
            if (text.charAt(i) == '\n') {
                line++;
            }
        }
        return line;
    }

    /** A syntax problem as the CSV parser reports it, led by its line. */
    private static String csvProblem(Exception e) {
        Throwable cause = e;
        while (cause.getCause() != null && !(cause instanceof IOException)) {
            cause = cause.getCause();
        }
        String message = String.valueOf(cause.getMessage());
        Matcher m = CSV_LINE.matcher(message);
        if (!m.matches()) {
            return message;
        }
        String said = m.group(2).strip();
        return "line " + m.group(1) + ": " + CSV_WORDS.getOrDefault(said, said);
    }

    // ---- JSON ----

    private static List<Raw> fromJson(String text, List<String> problems) {
        Object doc;
        try {
            doc = JsonTree.parse(text);
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
        List<Raw> raws = new ArrayList<>();
        for (Object item : items) {
            if (!(item instanceof JsonTree.JsonObject obj)) {
                problems.add("expected every switch to be an object {\"family\": ..., \"address\": ...}");
                continue;
            }
            Map<String, String> values = new LinkedHashMap<>();
            Map<String, Integer> lines = new HashMap<>();
            for (Map.Entry<String, Object> m : obj.entrySet()) {
                int line = obj.lineOf(m.getKey());
                String col = column(m.getKey());
                if (col == null) {
                    problems.add("line " + line + ": unknown member \"" + m.getKey() + "\" (members: "
                        + String.join(", ", COLUMNS) + ")");
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
            raws.add(new Raw(obj.line, values, lines));
        }
        return raws;
    }

    // ---- checks ----

    /** Checks one record; adds its defects to problems and returns null when it has any. */
    private static Entry check(Raw raw, Path base, List<String> problems) {
        int before = problems.size();
        for (String req : REQUIRED) {
            if (raw.get(req).isEmpty()) {
                problems.add("line " + raw.lineOf(req) + ": " + req + " is missing");
            }
        }
        Family family = null;
        if (!raw.get("family").isEmpty()) {
            family = Family.lookup(raw.get("family"));
            if (family == null) {
                problems.add("line " + raw.lineOf("family") + ": unknown family \"" + raw.get("family")
                    + "\" (families: " + Family.choices() + ")");
            }
        }
        String address = raw.get("address");
        if (address.chars().anyMatch(Character::isWhitespace)) {
            problems.add("line " + raw.lineOf("address") + ": the address holds a blank");
        }
        PasswordSource password = null;
        if (!raw.get("password").isEmpty()) {
            password = reference(raw, "password", base, problems);
        }
        PasswordSource urlPassword = null;
        String url = raw.get("url");
        if (!raw.get("url_password").isEmpty()) {
            urlPassword = reference(raw, "url_password", base, problems);
            if (!url.isEmpty()) {
                try {
                    FileUrl.withPassword(url, "x");
                } catch (IllegalArgumentException e) {
                    problems.add("line " + raw.lineOf("url_password") + ": url_password: " + e.getMessage());
                }
            }
        }
        Boolean reboot = flag(raw.get("reboot"));
        if (reboot == null) {
            problems.add("line " + raw.lineOf("reboot") + ": reboot must be yes or no, not \"" + raw.get("reboot") + "\"");
        }
        Integer modifier = integer(raw.get("modifier"));
        if (modifier == null) {
            problems.add("line " + raw.lineOf("modifier") + ": modifier must be a whole number, not \""
                + raw.get("modifier") + "\"");
        }
        Boolean canary = flag(raw.get("canary"));
        if (canary == null) {
            problems.add("line " + raw.lineOf("canary") + ": canary must be yes or no, not \"" + raw.get("canary") + "\"");
        }
        if (family != null && !url.isEmpty() && reboot != null && modifier != null) {
            String problem = family.problemWith(url, reboot, modifier);
            if (problem != null) {
                problems.add("line " + raw.line() + ": " + problem);
            }
        }
        if (problems.size() > before) {
            return null;
        }
        String name = raw.get("name").isEmpty() ? address : raw.get("name");
        return new Entry(raw.line(), name, family, address, raw.get("user"), password, url, urlPassword,
            reboot, modifier, canary);
    }

    private static PasswordSource reference(Raw raw, String column, Path base, List<String> problems) {
        try {
            return PasswordSource.parse(raw.get(column), base);
        } catch (IllegalArgumentException e) {
            problems.add("line " + raw.lineOf(column) + ": " + column + ": " + e.getMessage());
            return null;
        }
    }

    /** yes/no in the usual spellings; empty is no; null for anything else. */
    static Boolean flag(String text) {
        return switch (text.strip().toLowerCase(Locale.ROOT)) {
            case "", "no", "n", "false", "0", "off" -> Boolean.FALSE;
            case "yes", "y", "true", "1", "on" -> Boolean.TRUE;
            default -> null;
        };
    }

    /** A whole number in int range; empty is 0; null for anything else. */
    static Integer integer(String text) {
        String t = text.strip();
        if (t.isEmpty()) {
            return 0;
        }
        try {
            return Integer.valueOf(t);
        } catch (NumberFormatException e) {
            return null;
        }
    }

    /** Two rows for one switch would run two sessions at once on one console: refused. */
    private static void checkDuplicates(List<Entry> entries, List<String> problems) {
        Map<String, Integer> addresses = new HashMap<>();
        Map<String, Integer> names = new HashMap<>();
        for (Entry e : entries) {
            Integer seen = addresses.putIfAbsent(e.address().toLowerCase(Locale.ROOT), e.line());
            if (seen != null) {
                problems.add("line " + e.line() + ": the switch " + e.address() + " is already listed on line " + seen);
                continue;
            }
            seen = names.putIfAbsent(e.name(), e.line());
            if (seen != null) {
                problems.add("line " + e.line() + ": the name " + e.name() + " is already used on line " + seen);
            }
        }
    }
}
