package com.corvane.qel.deployer.modburn.tool.inventory;

import java.io.IOException;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.apache.commons.csv.CSVFormat;
import org.apache.commons.csv.CSVParser;
import org.apache.commons.csv.CSVRecord;

/**
 * The records of a CSV inventory: a header line naming the columns, then one record per switch
 * (RFC 4180 quoting; blank lines and lines starting with '#' are skipped), each with the line it
 * starts on. Syntax defects are said plainly with their line.
 */
final class CsvRecords {
    private CsvRecords() {
    }

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

    /** The records of the text; its defects are added to problems. */
    static List<Record> read(String text, List<String> problems) {
        List<Record> records = new ArrayList<>();
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
                        return records;
                    }
                    continue;
                }
                Map<String, String> values = new LinkedHashMap<>();
                if (fields.size() != header.size()) {
                    records.add(new Record(line, values, Map.of(), List.of("line " + line + ": " + fields.size()
                        + " fields, but the header on line " + headerLine + " names " + header.size())));
                    continue;
                }
                for (int i = 0; i < header.size(); i++) {
                    values.put(header.get(i), fields.get(i));
                }
                records.add(new Record(line, values, Map.of(), List.of()));
            }
        } catch (IOException | RuntimeException e) {
            problems.add(problem(e));
            return records;
        }
        if (header == null) {
            problems.add("has no header line (" + String.join(",", Record.REQUIRED) + ",...)");
        }
        return records;
    }

    /** Reads a header record into columns; false (with its problems added) when it is unusable. */
    private static boolean header(List<String> fields, int line, List<String> header, List<String> problems) {
        boolean ok = true;
        for (String f : fields) {
            String col = Record.column(f);
            if (col == null) {
                problems.add("line " + line + ": unknown column \"" + f.strip() + "\" (columns: "
                    + String.join(", ", Record.COLUMNS) + ")");
                ok = false;
            } else if (header.contains(col)) {
                problems.add("line " + line + ": column " + col + " appears twice");
                ok = false;
            }
            header.add(col);
        }
        for (String req : Record.REQUIRED) {
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
    private static String problem(Exception e) {
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
}
