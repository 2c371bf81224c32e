package com.corvane.qel.deployer.modburn.tool.bridge;

import java.util.List;

/**
 * What a switch's version listing gave: its version lines ("LABEL: VALUE", in the switch's
 * order), or the failure of the listing as a result (its code and the library's error text).
 */
public record Versions(List<String> values, Result failure) {
    public Versions {
        values = List.copyOf(values);
    }

    /** A listing that came through. */
    public static Versions of(List<String> values) {
        return new Versions(values, null);
    }

    /** A listing that failed. */
    public static Versions failed(Result failure) {
        return new Versions(List.of(), failure);
    }

    /** Whether the listing came through. */
    public boolean read() {
        return failure == null;
    }

    /** Whether one of the values holds text (an expected version). */
    public boolean holds(String text) {
        return values.stream().anyMatch(v -> v.contains(text));
    }

    /** The values on one line, "; " between them. */
    public String shown() {
        return shown(values);
    }

    /** Version lines on one line, "; " between them; "not read" for none. */
    public static String shown(List<String> values) {
        return values.isEmpty() ? "not read" : String.join("; ", values);
    }
}
