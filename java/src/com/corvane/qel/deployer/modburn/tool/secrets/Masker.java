package com.corvane.qel.deployer.modburn.tool.secrets;

import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;

/**
 * Hides passwords in everything the tool itself prints or writes, one "*" per character. The
 * library masks its own log lines already; the tool masks again because its display and its files
 * must stay clean even if a secret reaches them some other way, and a text may hold a secret in
 * pieces (split by a line end, an escape, a retry): so every piece of a secret as long as PIECE
 * characters (all of a shorter secret) is hidden wherever it stands.
 */
public final class Masker {
    /** The length of the pieces of a secret that are hidden. */
    public static final int PIECE = 5;

    public static final Masker NONE = new Masker(Map.of());

    /** The pieces to hide, by their length (PIECE, or the length of a shorter secret). */
    private final Map<Integer, Set<String>> pieces;

    private Masker(Map<Integer, Set<String>> pieces) {
        this.pieces = pieces;
    }

    /** A masker for the given secrets; null and empty ones are ignored. */
    public static Masker of(String... secrets) {
        return of(Arrays.asList(secrets));
    }

    /** A masker for the given secrets; null and empty ones are ignored. */
    public static Masker of(List<String> secrets) {
        Map<Integer, Set<String>> pieces = new TreeMap<>();
        for (String s : secrets) {
            if (s == null || s.isEmpty()) {
                continue;
            }
            int n = Math.min(PIECE, s.length());
            Set<String> of = pieces.computeIfAbsent(n, k -> new HashSet<>());
            for (int i = 0; i + n <= s.length(); i++) {
                of.add(s.substring(i, i + n));
            }
        }
        return new Masker(pieces);
    }

    /** The text with every piece of every secret replaced by stars. */
    public String mask(String text) {
        if (text == null || pieces.isEmpty()) {
            return text;
        }
        boolean[] hidden = null;
        for (Map.Entry<Integer, Set<String>> e : pieces.entrySet()) {
            int n = e.getKey();
            for (int i = 0; i + n <= text.length(); i++) {
                if (e.getValue().contains(text.substring(i, i + n))) {
                    if (hidden == null) {
                        hidden = new boolean[text.length()];
                    }
                    Arrays.fill(hidden, i, i + n, true);
                }
            }
        }
        if (hidden == null) {
            return text;
        }
        StringBuilder b = new StringBuilder(text);
        for (int i = 0; i < hidden.length; i++) {
            if (hidden[i]) {
                b.setCharAt(i, '*');
            }
        }
        return b.toString();
    }

    /**
     * Text from outside made fit for one line of the tool's output: masked, its control
     * characters escaped (line ends too), and masked again, as an escape could complete a piece.
     */
    public String line(String text) {
        return mask(Escape.line(mask(text)));
    }

    /** The same for a log entry or a block of lines: line ends stay. */
    public String lines(String text) {
        return mask(Escape.lines(mask(text)));
    }
}
