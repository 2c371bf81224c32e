package com.corvane.qel.deployer.modburn.tool.inventory;

import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordSource;
import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * A fleet inventory: the switches to update, read from CSV (a header line naming the columns)
 * or JSON (an array of objects, or an object whose "switches" member is one). Columns and
 * members: family, address, user, password, url, and optionally url_password, reboot, modifier,
 * name and canary (yes: the switch is one of the rollout's canaries). Passwords are references
 * (file:PATH, env:NAME, prompt[:LABEL]), never the passwords themselves. The records are read by
 * CsvRecords or JsonRecords; this class checks them. Every defect found is reported with its
 * line, and a defective inventory yields no entries at all, so nothing starts.
 */
public final class Inventory {
    private Inventory() {
    }

    /** Reads and checks an inventory file; relative password file paths are taken from its folder. */
    public static List<Entry> read(Path file) throws InventoryException {
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
    public static List<Entry> parse(String text, boolean json, Path base, String source) throws InventoryException {
        if (text.startsWith("\uFEFF")) {
            text = text.substring(1);
        }
        List<String> problems = new ArrayList<>();
        List<Record> records = json ? JsonRecords.read(text, problems) : CsvRecords.read(text, problems);
        List<Entry> entries = new ArrayList<>();
        for (Record r : records) {
            Entry e = check(r, base, problems);
            if (e != null) {
                entries.add(e);
            }
        }
        checkDuplicates(entries, problems);
        if (records.isEmpty() && problems.isEmpty()) {
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

    /** Why a user name with a control character is refused (it is typed on the switch as it stands). */
    public static final String CONTROL_IN_USER = "holds a control character (a line end, a tab, an escape), which the"
        + " switch would take as keys of their own";

    /** Checks one record; adds its defects to problems and returns null when it has any. */
    private static Entry check(Record r, Path base, List<String> problems) {
        int before = problems.size();
        for (String req : Record.REQUIRED) {
            if (r.get(req).isEmpty()) {
                problems.add("line " + r.lineOf(req) + ": " + req + " is missing");
            }
        }
        Family family = null;
        if (!r.get("family").isEmpty()) {
            family = Family.lookup(r.get("family"));
            if (family == null) {
                problems.add("line " + r.lineOf("family") + ": unknown family \"" + r.get("family")
                    + "\" (families: " + Family.choices() + ")");
            }
        }
        String address = r.get("address");
        if (address.chars().anyMatch(c -> Character.isWhitespace(c) || Escape.isControl((char) c))) {
            problems.add("line " + r.lineOf("address") + ": the address holds a blank or a control character");
        }
        if (Escape.hasControl(r.get("user"))) {
            problems.add("line " + r.lineOf("user") + ": user: " + CONTROL_IN_USER);
        }
        PasswordSource password = null;
        if (!r.get("password").isEmpty()) {
            password = reference(r, "password", base, problems);
        }
        PasswordSource urlPassword = null;
        String url = r.get("url");
        if (!r.get("url_password").isEmpty()) {
            urlPassword = reference(r, "url_password", base, problems);
            if (!url.isEmpty()) {
                try {
                    FileUrl.withPassword(url, "x");
                } catch (IllegalArgumentException e) {
                    problems.add("line " + r.lineOf("url_password") + ": url_password: " + e.getMessage());
                }
            }
        }
        Boolean reboot = flag(r, "reboot", problems);
        Integer modifier = integer(r.get("modifier"));
        if (modifier == null) {
            problems.add("line " + r.lineOf("modifier") + ": modifier must be a whole number, not \""
                + r.get("modifier") + "\"");
        }
        Boolean canary = flag(r, "canary", problems);
        if (family != null && !url.isEmpty() && reboot != null && modifier != null) {
            String problem = family.problemWith(url, reboot, modifier);
            if (problem != null) {
                problems.add("line " + r.line() + ": " + problem);
            }
        }
        if (problems.size() > before) {
            return null;
        }
        String name = r.get("name").isEmpty() ? address : r.get("name");
        return new Entry(r.line(), name, family, address, r.get("user"), password, url, urlPassword,
            reboot, modifier, canary);
    }

    private static PasswordSource reference(Record r, String column, Path base, List<String> problems) {
        try {
            return PasswordSource.parse(r.get(column), base);
        } catch (IllegalArgumentException e) {
            problems.add("line " + r.lineOf(column) + ": " + column + ": " + e.getMessage());
            return null;
        }
    }

    /** A yes/no column; null (with the problem added) for anything else. */
    private static Boolean flag(Record r, String column, List<String> problems) {
        Boolean value = flag(r.get(column));
        if (value == null) {
            problems.add("line " + r.lineOf(column) + ": " + column + " must be yes or no, not \"" + r.get(column)
                + "\"");
        }
        return value;
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
