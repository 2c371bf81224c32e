package com.corvane.qel.deployer.modburn.tool.secrets;

import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;

/**
 * Shows the passwords of one update as one "*" per character in everything the tool itself
 * prints or writes. The library masks its own log lines already; the tool masks again because
 * its display and its files must stay clean even if a line reaches it some other way.
 */
public final class Masker {
    public static final Masker NONE = new Masker(List.of());

    private final List<String> secrets;

    private Masker(List<String> secrets) {
        this.secrets = secrets;
    }

    /** A masker for the given secrets; null and empty ones are ignored. */
    public static Masker of(String... secrets) {
        List<String> list = new ArrayList<>();
        for (String s : secrets) {
            if (s != null && !s.isEmpty() && !list.contains(s)) {
                list.add(s);
            }
        }
        // Longest first, so that a password containing another is masked whole.
        list.sort(Comparator.comparingInt(String::length).reversed());
        return new Masker(List.copyOf(list));
    }

    /** The text with every occurrence of every secret replaced by stars. */
    public String mask(String text) {
        if (text == null || secrets.isEmpty()) {
            return text;
        }
        String out = text;
        for (String s : secrets) {
            if (out.contains(s)) {
                out = out.replace(s, "*".repeat(s.length()));
            }
        }
        return out;
    }
}
