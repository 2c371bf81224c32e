package com.corvane.qel.deployer.modburn.tool;

/**
 * The outcome of one step of the pre-flight check: passed, failed or not checked, a short word
 * for the summary table and a sentence for the operator.
 */
record Verdict(State state, String word, String text) {
    enum State { OK, FAILED, SKIPPED }

    static Verdict ok(String text) {
        return new Verdict(State.OK, "ok", text);
    }

    static Verdict failed(String word, String text) {
        return new Verdict(State.FAILED, word, text);
    }

    static Verdict skipped(String text) {
        return new Verdict(State.SKIPPED, "not checked", text);
    }

    boolean failed() {
        return state == State.FAILED;
    }

    /** The line printed for the step: "ok", "ok: ...", "not checked: ..." or "FAILED (word): ...". */
    String line() {
        return switch (state) {
            case OK -> text.isEmpty() ? "ok" : "ok: " + text;
            case SKIPPED -> "not checked: " + text;
            case FAILED -> "FAILED (" + word + "): " + text;
        };
    }
}
