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
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeSet;

/**
 * A fleet inventory: the switches to update, read from CSV (a header line naming the columns)
 * or JSON (an array of objects, or an object whose "switches" member is one). Columns and
 * members: family, address, user, password, url, and optionally url_password, reboot, modifier,
 * name, canary (yes: the switch is one of the rollout's canaries), chassis and group (the blade
 * chassis a module sits in, and its redundancy set there), and expect_version (the version a
 * verified update must leave). Passwords are references (file:PATH,
 * env:NAME, prompt[:LABEL]), never the passwords themselves. The records are read by CsvRecords
 * or JsonRecords; this class checks them. Every defect found is reported with its line. A fleet
 * reads an inventory whole or not at all (read, parse); the check examines it row by row
 * (examine), so that one refused row does not keep the others from being checked.
 */
public final class Inventory {
    private Inventory() {
    }

    /** A row the tool refuses: its line, how the operator named it, its family as written, and why. */
    public record Rejected(int line, String name, String family, List<String> problems) {
    }

    /**
     * An inventory examined: the rows that passed, the rows refused, the defects of the file
     * itself (its syntax, its header: nothing can be checked), every defect in the order found
     * (the file's, the rows', and the addresses and names listed twice: what a fleet refuses), and
     * what deserves a warning only (an address listed twice, a redundancy set of mixed families).
     * Messages lead with the file.
     */
    public record Examined(List<Entry> entries, List<Rejected> rejected, List<String> unusable, List<String> defects,
                           List<String> warnings) {
    }

    /** Why a user name with a control character is refused (it is typed on the switch as it stands). */
    public static final String CONTROL_IN_USER = "holds a control character (a line end, a tab, an escape), which the"
        + " switch would take as keys of their own";

    /**
     * Reads and checks an inventory file for a fleet; relative password file paths are taken from
     * its folder. Any defect (an address or a name listed twice included) throws them all.
     */
    public static List<Entry> read(Path file) throws InventoryException {
        return whole(examine(file));
    }

    /** Parses inventory text for a fleet; source names it in messages. */
    public static List<Entry> parse(String text, boolean json, Path base, String source) throws InventoryException {
        return whole(examine(text, json, base, source));
    }

    /** The entries of an inventory without a defect, else every defect in the order found. */
    private static List<Entry> whole(Examined e) throws InventoryException {
        if (!e.defects().isEmpty()) {
            throw new InventoryException(e.defects());
        }
        return e.entries();
    }

    /** Examines an inventory file row by row; a file that cannot be read is a defect of the file. */
    public static Examined examine(Path file) {
        String text;
        try {
            byte[] bytes = Files.readAllBytes(file);
            text = StandardCharsets.UTF_8.newDecoder().decode(ByteBuffer.wrap(bytes)).toString();
        } catch (CharacterCodingException e) {
            return unusable(file + ": not UTF-8 text");
        } catch (IOException e) {
            return unusable(file + ": cannot be read: " + e.getMessage());
        }
        Path base = file.toAbsolutePath().getParent();
        return examine(text, isJson(file, text), base, file.toString());
    }

    private static Examined unusable(String problem) {
        return new Examined(List.of(), List.of(), List.of(problem), List.of(problem), List.of());
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

    /** Examines inventory text; source names it in messages. */
    public static Examined examine(String text, boolean json, Path base, String source) {
        if (text.startsWith("\uFEFF")) {
            text = text.substring(1);
        }
        List<String> fileProblems = new ArrayList<>();
        List<Record> records = json ? JsonRecords.read(text, fileProblems) : CsvRecords.read(text, fileProblems);
        List<String> problems = new ArrayList<>(fileProblems);
        List<Entry> entries = new ArrayList<>();
        List<Rejected> rejected = new ArrayList<>();
        boolean chassis = records.stream().anyMatch(r -> !r.get("chassis").isEmpty());
        for (Record r : records) {
            List<String> own = new ArrayList<>(r.defects());
            Entry e = check(r, base, chassis, own);
            if (own.isEmpty()) {
                entries.add(e);
            } else {
                problems.addAll(own);
                rejected.add(new Rejected(r.line(), shownName(r), r.get("family"), named(source, own)));
            }
        }
        List<String> twice = listedTwice(entries);
        problems.addAll(twice);
        if (records.isEmpty() && problems.isEmpty()) {
            fileProblems.add("lists no switches");
            problems.add("lists no switches");
        }
        List<String> warnings = new ArrayList<>(twice);
        warnings.addAll(mixedSets(entries));
        return new Examined(List.copyOf(entries), List.copyOf(rejected), named(source, fileProblems),
            named(source, problems), named(source, warnings));
    }

    private static List<String> named(String source, List<String> messages) {
        List<String> named = new ArrayList<>();
        for (String m : messages) {
            named.add(source + ": " + m);
        }
        return List.copyOf(named);
    }

    /** How a row is named when it is refused: its name, its address, or its line. */
    private static String shownName(Record r) {
        return !r.get("name").isEmpty() ? r.get("name") : !r.get("address").isEmpty() ? r.get("address")
            : "line " + r.line();
    }

    /** Checks one record, adding its defects to problems; the entry it makes is used only when none. */
    private static Entry check(Record r, Path base, boolean chassisColumn, List<String> problems) {
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
        String chassis = r.get("chassis");
        if (chassisColumn && chassis.isEmpty()) {
            problems.add("line " + r.line() + ": chassis is missing: other rows name their chassis, and a rollout"
                + " that knows the chassis must know every module's");
        } else if (chassis.isEmpty() && !r.get("group").isEmpty()) {
            problems.add("line " + r.lineOf("group") + ": a group belongs to a chassis: name the chassis too");
        }
        if (Escape.hasControl(r.get("expect_version"))) {
            problems.add("line " + r.lineOf("expect_version") + ": expect_version holds a control character, which no"
                + " listed version holds");
        }
        if (!problems.isEmpty()) {
            return null;
        }
        String name = r.get("name").isEmpty() ? address : r.get("name");
        return new Entry(r.line(), name, family, address, r.get("user"), password, url, urlPassword,
            reboot, modifier, canary, chassis, r.get("group"), r.get("expect_version"));
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

    /**
     * Addresses and names listed twice. Two rows for one switch would run two sessions at once on
     * one console: a fleet refuses them; the check warns and checks both.
     */
    private static List<String> listedTwice(List<Entry> entries) {
        List<String> twice = new ArrayList<>();
        Map<String, Integer> addresses = new HashMap<>();
        Map<String, Integer> names = new HashMap<>();
        for (Entry e : entries) {
            Integer seen = addresses.putIfAbsent(e.address().toLowerCase(Locale.ROOT), e.line());
            if (seen != null) {
                twice.add("line " + e.line() + ": the switch " + e.address() + " is already listed on line " + seen);
                continue;
            }
            seen = names.putIfAbsent(e.name(), e.line());
            if (seen != null) {
                twice.add("line " + e.line() + ": the name " + e.name() + " is already used on line " + seen);
            }
        }
        return twice;
    }

    /** Redundancy sets whose modules are of different families: possible, but worth a second look. */
    private static List<String> mixedSets(List<Entry> entries) {
        Map<String, List<Entry>> sets = new LinkedHashMap<>();
        for (Entry e : entries) {
            if (e.redundancySet() != null) {
                sets.computeIfAbsent(e.redundancySet(), k -> new ArrayList<>()).add(e);
            }
        }
        List<String> mixed = new ArrayList<>();
        for (List<Entry> set : sets.values()) {
            TreeSet<String> families = new TreeSet<>();
            set.forEach(e -> families.add(e.family().displayName));
            if (families.size() > 1) {
                Entry first = set.get(0);
                mixed.add("line " + first.line() + ": " + (first.group().isEmpty() ? "chassis " + first.chassis()
                    : "group " + first.group() + " of chassis " + first.chassis()) + " holds modules of different"
                    + " families (" + String.join(", ", families) + ")");
            }
        }
        return mixed;
    }
}
