package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * Where one update stands, as the library tells it (Switch.ProgressListener): the stage its
 * module is in, the progress its console shows (a percentage, a byte count, progress marks) and
 * its last console line. Told on the update's thread, read by the display's.
 */
public final class Progress {
    public enum State { WAITING, RUNNING, SUCCEEDED, FAILED, SKIPPED, HELD }

    private State state = State.WAITING;
    private String stage = "";
    /** Every stage entered by the module, in order, so that a display polling now and then misses none. */
    private final List<String> stages = new ArrayList<>();
    private String lastLine = "";
    /** What the console shows of the current stage's progress ("57%"); "" when nothing. */
    private String measure = "";
    /** The last stage the update worked in (the close of its session aside) and its progress there. */
    private String worked = "";
    private String workedMeasure = "";
    private long startNanos;
    private long endNanos;
    private Result result;
    private String notStartedWhy = "";

    synchronized void start(long nanos) {
        state = State.RUNNING;
        stage = "start";
        startNanos = nanos;
    }

    synchronized void finish(Result r, long nanos) {
        result = r;
        state = r.succeeded() ? State.SUCCEEDED : State.FAILED;
        stage = r.succeeded() ? "done" : stage;
        endNanos = nanos;
    }

    synchronized void skip() {
        skip("");
    }

    /** Marks the update as never started, for the reason given ("" when there is none to tell). */
    synchronized void skip(String why) {
        state = State.SKIPPED;
        stage = "not started";
        notStartedWhy = why;
    }

    /** Marks the update as held back for good: a module of its redundancy set failed (why says which). */
    synchronized void hold(String why) {
        state = State.HELD;
        stage = "held";
        notStartedWhy = why;
    }

    /** Why the update was not started (skipped or held), or "". */
    public synchronized String notStartedWhy() {
        return notStartedWhy;
    }

    /** Milliseconds since the update started (to its end once it ended); 0 before it started. */
    synchronized long elapsedMillis(long nowNanos) {
        if (state == State.WAITING || state == State.SKIPPED || state == State.HELD) {
            return 0;
        }
        long end = state == State.RUNNING ? nowNanos : endNanos;
        return (end - startNanos) / 1_000_000L;
    }

    /**
     * The listener for the library's events of this update; every text it shows is first put
     * through masker (masked, control characters escaped).
     */
    Switch.ProgressListener listener(Masker masker) {
        return (stage, kind, value, text) -> event(stage, kind, value, masker.line(text));
    }

    /** Takes one event of the library (its text already masked). */
    synchronized void event(String stage, String kind, long value, String text) {
        switch (kind) {
            case Switch.ProgressListener.STAGE -> {
                // The console's last line stays until it says more; its progress was the last stage's.
                enter(stage);
                measure = "";
            }
            case Switch.ProgressListener.LINE -> lastLine = text;
            case Switch.ProgressListener.PERCENT -> shows(value + "%", text);
            case Switch.ProgressListener.BYTES -> shows(bytes(value), text);
            case Switch.ProgressListener.MARKS -> shows(value + " marks", text);
            case Switch.ProgressListener.OUTCOME -> {
                if (!stage.isEmpty()) {
                    worked = stage;
                }
            }
            default -> {
                // a kind this tool does not know yet
            }
        }
    }

    private void shows(String value, String line) {
        measure = value;
        workedMeasure = value;
        lastLine = line;
    }

    /** A byte count as the display shows it: "512 bytes", "4096 kB", "5.1 MB". */
    static String bytes(long n) {
        if (n < 10_000) {
            return n + " bytes";
        }
        if (n < 10_000_000) {
            return n / 1000 + " kB";
        }
        return String.format(Locale.ROOT, "%.1f MB", n / 1e6);
    }

    private void enter(String next) {
        if (!next.equals(stage) || stages.isEmpty()) {
            stages.add(next);
        }
        stage = next;
        if (!next.equals("disconnect") && !next.equals(worked)) {
            worked = next;
            workedMeasure = "";
        }
    }

    /** Enters a stage of the tool's own (after the library's update) with a line to show. */
    synchronized void note(String stage, String line) {
        enter(stage);
        lastLine = line;
    }

    /** The stages entered from the index on (0: all of them). */
    synchronized List<String> stagesFrom(int index) {
        return index >= stages.size() ? List.of() : List.copyOf(stages.subList(index, stages.size()));
    }

    public synchronized State state() {
        return state;
    }

    synchronized String stage() {
        return stage;
    }

    /** The stage with the progress its console shows: "update 57%". */
    synchronized String shownStage() {
        return measure.isEmpty() ? stage : stage + " " + measure;
    }

    /** The last stage the update worked in ("" before it started) and the progress it showed there. */
    synchronized String worked() {
        return worked;
    }

    synchronized String workedMeasure() {
        return workedMeasure;
    }

    synchronized String lastLine() {
        return lastLine;
    }

    public synchronized Result result() {
        return result;
    }

    /** Seconds since the update started (to its end once it ended); 0 before it started. */
    long elapsedSeconds(long nowNanos) {
        return elapsedMillis(nowNanos) / 1000;
    }
}
