package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Where one update stands, as far as its log shows: the stage the library's module is in and the
 * last console line it typed or saw. The library writes these lines anyway; reading them back is
 * what lets the tool show progress without the library knowing about a display. Updated on the
 * update's thread, read by the display's.
 */
public final class Progress {
    public enum State { WAITING, RUNNING, SUCCEEDED, FAILED, SKIPPED, HELD }

    private final String address;
    private State state = State.WAITING;
    private String stage = "";
    /** Every stage entered by the module, in order, so that a display polling now and then misses none. */
    private final List<String> stages = new ArrayList<>();
    private String lastLine = "";
    private long startNanos;
    private long endNanos;
    private Result result;
    private String notStartedWhy = "";

    public Progress(String address) {
        this.address = address;
    }

    // "brocadeflash: connecting to Brocade switch ip=..."
    private static final Pattern CONNECTING = Pattern.compile("^[a-z]+flash: connecting to ");
    // "brocadeflash:update:10.0.0.1: ..." (module, stage, address)
    private static final Pattern STAGE = Pattern.compile("^[a-z]+flash:([A-Za-z][A-Za-z0-9_]*):");
    // "modburn:io_cmd_resp:5: telnet_write: \"firmwaredownload ...\""
    private static final Pattern TYPED = Pattern.compile("^modburn:io_cmd_resp:\\d+: telnet_write: \"(.*)\"\\s*$");
    // "                       matched string=\"...\"" and "          last response=\"...\""
    private static final Pattern SEEN = Pattern.compile("^\\s+(?:matched string|last response)=\"(.*)\"\\s*$");

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

    /** Reads one log entry (one or more lines) for stage and console text. */
    synchronized void observe(String entry) {
        for (String line : entry.split("\n")) {
            observeLine(line);
        }
    }

    private void observeLine(String line) {
        if (CONNECTING.matcher(line).find()) {
            enter("connect");
            return;
        }
        Matcher m = STAGE.matcher(line);
        if (m.find()) {
            String field = m.group(1);
            // Entry-function lines put the address where stage lines put the stage.
            if (!field.equals(address)) {
                enter(field);
            }
            return;
        }
        m = TYPED.matcher(line);
        if (m.find()) {
            String typed = lastPiece(m.group(1));
            lastLine = "> " + typed;
            return;
        }
        m = SEEN.matcher(line);
        if (m.find()) {
            String seen = lastPiece(m.group(1));
            if (!seen.isEmpty()) {
                lastLine = seen;
            }
        }
    }

    private void enter(String next) {
        if (!next.equals(stage) || stages.isEmpty()) {
            stages.add(next);
        }
        stage = next;
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

    /** The last non-blank line of an escaped console text ("a\r\nb\r\n" gives "b"). */
    static String lastPiece(String escaped) {
        String[] pieces = escaped.split("\\\\r|\\\\n");
        for (int i = pieces.length - 1; i >= 0; i--) {
            if (!pieces[i].isBlank()) {
                return pieces[i].strip();
            }
        }
        return "";
    }

    public synchronized State state() {
        return state;
    }

    synchronized String stage() {
        return stage;
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
