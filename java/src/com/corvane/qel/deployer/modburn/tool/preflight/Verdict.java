package com.corvane.qel.deployer.modburn.tool.preflight;

/**
 * The outcome of one step of the pre-flight check: passed, failed or not checked, a short word
 * for the summary table and a sentence for the operator.
 */
public record Verdict(State state, String word, String text) {
    public enum State { OK, FAILED, SKIPPED }

    public static Verdict ok(String text) {
        return new Verdict(State.OK, "ok", text);
    }

    public static Verdict failed(String word, String text) {
        return new Verdict(State.FAILED, word, text);
    }

    public static Verdict skipped(String text) {
        return new Verdict(State.SKIPPED, "not checked", text);
    }

    public boolean failed() {
        return state == State.FAILED;
    }

    /** The line printed for the step: "ok", "ok: ...", "not checked: ..." or "FAILED (word): ...". */
    public String line() {
        return switch (state) {
            case OK -> text.isEmpty() ? "ok" : "ok: " + text;
            case SKIPPED -> "not checked: " + text;
            case FAILED -> "FAILED (" + word + "): " + text;
        };
    }
}
