package com.corvane.qel.deployer.modburn.tool.text;

import java.util.ArrayList;
import java.util.List;

/**
 * A text table: columns padded to their widest cell, two blanks between columns. Cells are text
 * for one line: control characters in them are escaped.
 */
public final class Table {
    private final List<String[]> rows = new ArrayList<>();
    private final int columns;

    public Table(String... header) {
        columns = header.length;
        rows.add(header);
    }

    public Table row(String... cells) {
        if (cells.length != columns) {
            throw new IllegalArgumentException("a row of " + cells.length + " cells in a table of " + columns);
        }
        String[] shown = new String[cells.length];
        for (int i = 0; i < cells.length; i++) {
            shown[i] = Escape.line(cells[i]);
        }
        rows.add(shown);
        return this;
    }

    /** The lines of the table, header first, each cut to width characters (0: no limit). */
    public List<String> lines(int width) {
        int[] widths = new int[columns];
        for (String[] r : rows) {
            for (int i = 0; i < columns; i++) {
                widths[i] = Math.max(widths[i], r[i].length());
            }
        }
        List<String> out = new ArrayList<>();
        for (String[] r : rows) {
            StringBuilder b = new StringBuilder();
            for (int i = 0; i < columns; i++) {
                b.append(r[i]);
                if (i < columns - 1) {
                    b.append(" ".repeat(widths[i] - r[i].length() + 2));
                }
            }
            String line = b.toString().stripTrailing();
            out.add(width > 0 && line.length() > width ? line.substring(0, width) : line);
        }
        return out;
    }

    /** Seconds as m:ss, or h:mm:ss from an hour on. */
    public static String duration(long seconds) {
        long h = seconds / 3600;
        long m = seconds / 60 % 60;
        long s = seconds % 60;
        return h > 0 ? String.format("%d:%02d:%02d", h, m, s) : String.format("%d:%02d", m, s);
    }
}
