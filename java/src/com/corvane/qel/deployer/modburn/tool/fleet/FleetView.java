package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.Versions;
import com.corvane.qel.deployer.modburn.tool.text.Escape;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.io.PrintStream;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.EnumMap;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Supplier;

/**
 * The fleet's display. On a terminal a live table that is redrawn in place; otherwise plain lines,
 * one for each change of a switch's stage or state, fit for a log or a pipe. Both end with the
 * same summary table.
 */
abstract class FleetView implements Display {
    protected final PrintStream out;
    protected final int width;
    /** Where the rollout stands (phase, budget left); "" for a plain fleet. */
    protected volatile Supplier<String> standing = () -> "";

    FleetView(PrintStream out, int width) {
        this.out = out;
        this.width = width;
    }

    /** Shows the runner's phase and failure budget along with the switches. */
    FleetView following(FleetRunner runner) {
        standing = runner::standing;
        return this;
    }

    /**
     * The detail of an outcome: for a failure the switch's most telling line (else the result
     * code's text), for a switch not started why, for a success any note; masked.
     */
    static String detail(Slot s) {
        Progress p = s.progress;
        String text = switch (p.state()) {
            case FAILED -> {
                String line = p.result().tellingLine();
                yield line.isEmpty() ? p.result().statusText() : line;
            }
            case SUCCEEDED -> p.result().message();
            case SKIPPED, HELD -> p.notStartedWhy();
            default -> "";
        };
        return s.masker.line(text);
    }

    /** The result as tables show it: ok, verified or current (with any note), the code's name, ... */
    static String resultText(Slot s) {
        Progress p = s.progress;
        return switch (p.state()) {
            case WAITING -> "waiting";
            case RUNNING -> "running";
            case SUCCEEDED -> {
                String word = successWord(s);
                yield p.result().message().isEmpty() || s.proof != null && s.proof.outcome() == VerifiedUpdate.Outcome.CURRENT
                    ? word : word + " (" + p.result().message() + ")";
            }
            case FAILED -> Codes.name(p.result().code());
            case SKIPPED -> "not started";
            case HELD -> "held";
        };
    }

    /** What a success was: "ok", or what its versions showed ("verified", "current"). */
    static String successWord(Slot s) {
        VerifiedUpdate.Proof proof = s.proof;
        return proof == null ? "ok" : proof.outcome().word;
    }

    @Override
    public void stopping(int running) {
        say("stopping: no more updates will start; waiting for the " + running
            + " running (Ctrl-C again quits at once)");
    }

    private String pendingHalt;

    /**
     * Told on an update's thread, shown at the next refresh: after the outcome that caused it,
     * which the display shows only then.
     */
    @Override
    public synchronized void halted(String why, int running) {
        pendingHalt = "stopping: " + why + ": no more updates will start"
            + (running > 0 ? "; waiting for the " + running + " running" : "");
    }

    /** Shows a stop the rollout made itself, once; called at the end of each refresh. */
    protected synchronized void showHalt() {
        if (pendingHalt != null) {
            String message = pendingHalt;
            pendingHalt = null;
            say(message);
        }
    }

    @Override
    public void phase(String text) {
        say("modburn: " + text);
    }

    /** Prints a message line between refreshes; control characters in it are escaped. */
    abstract void say(String message);

    /** Prints the summary table and returns its closing count line. */
    String summary(List<Slot> slots, long nowNanos) {
        return summary(slots, nowNanos, "");
    }

    /**
     * Prints the summary table, the reason the rollout stopped early (when stopWhy is not "")
     * and the closing count line, which it returns.
     */
    String summary(List<Slot> slots, long nowNanos, String stopWhy) {
        boolean chassis = knowsChassis(slots);
        Table t = new Table(cells(chassis, "switch", "family", "chassis", "result", "elapsed", "detail", "log"));
        int ok = 0;
        int failed = 0;
        int skipped = 0;
        int held = 0;
        for (Slot s : slots) {
            Progress p = s.progress;
            switch (p.state()) {
                case SUCCEEDED -> ok++;
                case FAILED -> failed++;
                case HELD -> held++;
                default -> skipped++;
            }
            t.row(cells(chassis, s.job.name(), s.job.family().displayName, s.place(), resultText(s),
                Table.duration(p.elapsedSeconds(nowNanos)), detail(s), String.valueOf(s.log)));
        }
        out.println();
        for (String line : t.lines(0)) {
            out.println(line);
        }
        String verified = versions(slots);
        if (!stopWhy.isEmpty()) {
            out.println(Escape.line("stopped early: " + stopWhy + "; " + skipped + (skipped == 1 ? " switch"
                : " switches") + " not started"));
        }
        String counts = ok + " succeeded, " + failed + " failed, " + skipped + " not started"
            + (held > 0 ? ", " + held + " held" : "") + verified;
        out.println(counts);
        out.flush();
        return counts;
    }

    /**
     * Prints the versions before and after of every switch whose versions were read, and returns
     * the counts of the verification for the closing line ("" when nothing was verified).
     */
    private String versions(List<Slot> slots) {
        Map<VerifiedUpdate.Outcome, Integer> counts = new EnumMap<>(VerifiedUpdate.Outcome.class);
        boolean heading = false;
        for (Slot s : slots) {
            VerifiedUpdate.Proof proof = s.proof;
            if (proof == null) {
                continue;
            }
            counts.merge(proof.outcome(), 1, Integer::sum);
            if (!proof.hasVersions()) {
                continue;
            }
            if (!heading) {
                out.println();
                out.println("versions before and after the update:");
                heading = true;
            }
            out.println(s.masker.line(s.job.name() + " (" + proof.outcome().word + ")"));
            out.println(s.masker.line("  before: " + Versions.shown(proof.before())));
            out.println(s.masker.line("  after:  " + Versions.shown(proof.after())));
        }
        if (counts.isEmpty()) {
            return "";
        }
        StringBuilder b = new StringBuilder(";");
        for (VerifiedUpdate.Outcome o : VerifiedUpdate.Outcome.values()) {
            int n = counts.getOrDefault(o, 0);
            boolean always = o == VerifiedUpdate.Outcome.VERIFIED || o == VerifiedUpdate.Outcome.UNCHANGED
                || o == VerifiedUpdate.Outcome.CURRENT;
            if (o != VerifiedUpdate.Outcome.UPDATED && o != VerifiedUpdate.Outcome.FAILED && (always || n > 0)) {
                b.append(b.length() > 1 ? ", " : " ").append(n).append(' ').append(o.word.replace('_', ' '));
            }
        }
        return b.toString();
    }

    /** The live table, redrawn in place with ANSI cursor movements. */
    static final class Live extends FleetView {
        private final int maxRows;
        private int drawn;

        Live(PrintStream out, int width, int maxRows) {
            super(out, width);
            this.maxRows = Math.max(maxRows, 5);
        }

        @Override
        public synchronized void refresh(List<Slot> slots, long nowNanos) {
            List<String> lines = render(slots, nowNanos);
            StringBuilder b = new StringBuilder();
            if (drawn > 0) {
                b.append("\033[").append(drawn).append('A');
            }
            for (String line : lines) {
                b.append('\r').append("\033[2K").append(line).append('\n');
            }
            // A shorter table than the last one leaves old lines below: clear them.
            for (int i = lines.size(); i < drawn; i++) {
                b.append("\033[2K\n");
            }
            if (drawn > lines.size()) {
                b.append("\033[").append(drawn - lines.size()).append('A');
            }
            out.print(b);
            out.flush();
            drawn = lines.size();
            showHalt();
        }

        List<String> render(List<Slot> slots, long nowNanos) {
            // In inventory order while all fit; otherwise running switches first, then the
            // finished ones, then those still waiting.
            List<Slot> order = new ArrayList<>(slots);
            if (order.size() > maxRows - 2) {
                order.sort(Comparator.comparingInt(s -> switch (s.progress.state()) {
                case RUNNING -> 0;
                case FAILED, SUCCEEDED -> 1;
                case SKIPPED, HELD -> 2;
                case WAITING -> 3;
                }));
            }
            boolean chassis = knowsChassis(slots);
            Table t = new Table(cells(chassis, "switch", "family", "chassis", "stage", "elapsed", "result", "console"));
            int shown = Math.min(order.size(), maxRows - 2);
            for (int i = 0; i < shown; i++) {
                Progress p = order.get(i).progress;
                Job j = order.get(i).job;
                String console = p.state() == Progress.State.RUNNING ? p.lastLine() : "";
                t.row(cells(chassis, j.name(), j.family().displayName, order.get(i).place(), p.shownStage(),
                    Table.duration(p.elapsedSeconds(nowNanos)), resultText(order.get(i)), console));
            }
            List<String> lines = new ArrayList<>(t.lines(width - 1));
            String where = standing.get();
            String tail = counts(slots) + (shown < order.size() ? " (" + (order.size() - shown) + " not shown)" : "")
                + (where.isEmpty() ? "" : "; " + where);
            lines.add(tail.length() > width - 1 ? tail.substring(0, width - 1) : tail);
            return lines;
        }

        @Override
        synchronized void say(String message) {
            if (drawn > 0) {
                out.print("\033[" + drawn + "A\r\033[J");
                drawn = 0;
            }
            out.println(Escape.line(message));
            out.flush();
        }
    }

    /** Counts by state for the line under the live table. */
    static String counts(List<Slot> slots) {
        int[] n = new int[Progress.State.values().length];
        for (Slot s : slots) {
            n[s.progress.state().ordinal()]++;
        }
        int held = n[Progress.State.HELD.ordinal()];
        return n[Progress.State.RUNNING.ordinal()] + " running, " + n[Progress.State.WAITING.ordinal()]
            + " waiting, " + n[Progress.State.SUCCEEDED.ordinal()] + " ok, " + n[Progress.State.FAILED.ordinal()]
            + " failed" + (held > 0 ? ", " + held + " held" : "");
    }

    /** Whether the fleet's inventory names the chassis of its modules. */
    static boolean knowsChassis(List<Slot> slots) {
        return slots.stream().anyMatch(s -> !s.chassis.isEmpty());
    }

    /** A row's cells: the chassis (the third) only for a fleet that knows its chassis. */
    private static String[] cells(boolean chassis, String... all) {
        if (chassis) {
            return all;
        }
        String[] without = new String[all.length - 1];
        without[0] = all[0];
        without[1] = all[1];
        System.arraycopy(all, 3, without, 2, all.length - 3);
        return without;
    }

    /** Plain lines, one per change, each stamped with the local time. */
    static final class Plain extends FleetView {
        private static final DateTimeFormatter TIME = DateTimeFormatter.ofPattern("HH:mm:ss");
        /** Per switch: the stages already printed and whether its end was printed. */
        private final Map<Slot, Integer> stagesShown = new HashMap<>();
        private final Map<Slot, Boolean> ended = new HashMap<>();
        private final Supplier<LocalTime> clock;

        Plain(PrintStream out, Supplier<LocalTime> clock) {
            super(out, 0);
            this.clock = clock;
        }

        @Override
        public synchronized void refresh(List<Slot> slots, long nowNanos) {
            for (Slot s : slots) {
                Progress p = s.progress;
                Progress.State state = p.state();
                if (state == Progress.State.WAITING || ended.containsKey(s)) {
                    continue;
                }
                int shown = stagesShown.getOrDefault(s, 0);
                List<String> stages = p.stagesFrom(shown);
                for (String stage : stages) {
                    line(s, "stage " + stage);
                }
                stagesShown.put(s, shown + stages.size());
                String end = switch (state) {
                    case SUCCEEDED -> (s.proof == null ? "succeeded" : successWord(s)) + " in "
                        + Table.duration(p.elapsedSeconds(nowNanos))
                        + (p.result().message().isEmpty() ? "" : " (" + p.result().message() + ")");
                    case FAILED -> "failed in " + Table.duration(p.elapsedSeconds(nowNanos)) + ": "
                        + Codes.name(p.result().code()) + ": " + detail(s) + budgetNote();
                    case SKIPPED -> "not started" + (p.notStartedWhy().isEmpty() ? "" : ": " + p.notStartedWhy());
                    case HELD -> "held: " + p.notStartedWhy();
                    default -> null;
                };
                if (end != null) {
                    line(s, end);
                    ended.put(s, true);
                }
            }
            showHalt();
            out.flush();
        }

        /** The budget left after a failure, for a rollout that has one. */
        private String budgetNote() {
            String where = standing.get();
            int at = where.indexOf("failure budget: ");
            return at < 0 ? "" : " (" + where.substring(at) + ")";
        }

        private void line(Slot s, String text) {
            out.println(s.masker.line(TIME.format(clock.get()) + " " + s.job.name() + " (" + s.job.family().displayName
                + "): " + text));
        }

        @Override
        synchronized void say(String message) {
            out.println(Escape.line(message));
            out.flush();
        }
    }
}
