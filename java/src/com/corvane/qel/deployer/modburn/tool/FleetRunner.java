package com.corvane.qel.deployer.modburn.tool;

import java.io.IOException;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.LongSupplier;

/**
 * Runs a fleet of updates on a fixed number of worker threads, each update with its own log
 * file, while the calling thread refreshes a display. A rollout runs in phases (canaries, then
 * waves). A stop, asked for (Ctrl-C) or the rollout's own (a failed canary, a spent failure
 * budget), lets the running updates finish (an update blocked in a switch dialogue cannot be
 * cut short safely) and starts no more.
 */
final class FleetRunner {
    /** One switch of the fleet: its job, its log file and where it stands. */
    static final class Slot {
        final Job job;
        /** The update's own log file, or null when it writes to the shared writer. */
        final Path log;
        final Writer shared;
        final Progress progress;
        /** Set by the rollout's plan: whether the switch is a canary, and its wave (0: canaries). */
        volatile boolean canary;
        volatile int wave = 1;

        /** A slot whose log is a file of its own, created afresh. */
        Slot(Job job, Path log) {
            this(job, log, null);
        }

        /** A slot whose log goes to a writer that outlives it (the terminal, an appended file). */
        Slot(Job job, Writer shared) {
            this(job, null, shared);
        }

        private Slot(Job job, Path log, Writer shared) {
            this.job = job;
            this.log = log;
            this.shared = shared;
            this.progress = new Progress(job.address());
        }
    }

    /** What the runner shows while it runs. */
    interface Display {
        /** Called on the runner's thread at every refresh and once after the last update. */
        void refresh(List<Slot> slots, long nowNanos);

        /**
         * Called once when a stop has been requested, on the requesting thread, with the count
         * of running updates.
         */
        void stopping(int running);

        /** Called on the runner's thread as a phase of the rollout begins or a pause starts. */
        default void phase(String text) {
        }

        /**
         * Called once when the rollout stops itself (a canary failed, the failure budget is
         * spent), on the thread that saw it, with why and the count of running updates.
         */
        default void halted(String why, int running) {
        }

        /** Called on the update's thread as soon as its outcome is known. */
        default void ended(Slot slot) {
        }
    }

    /** Why a rollout stopped before every switch had started. */
    enum Stop { NONE, INTERRUPTED, CANARY, BUDGET }

    private final Backend backend;
    private final LogRouter router;
    private final int parallel;
    private final LongSupplier clock;
    private final AtomicReference<Stop> stop = new AtomicReference<>(Stop.NONE);
    private volatile String stopWhy = "";
    private final AtomicInteger running = new AtomicInteger();
    private final AtomicInteger failed = new AtomicInteger();
    private volatile Display display;
    private volatile Rollout rollout = Rollout.allAtOnce(List.of());
    private volatile String phaseLabel = "";

    FleetRunner(Backend backend, LogRouter router, int parallel, LongSupplier clock) {
        if (parallel < 1) {
            throw new IllegalArgumentException("parallel must be 1 or more");
        }
        this.backend = backend;
        this.router = router;
        this.parallel = parallel;
        this.clock = clock;
    }

    /**
     * Asks the runner to start no more updates and tells the display at once; returns false if
     * it was asked before. Safe to call from any thread (a Ctrl-C handler).
     */
    boolean requestStop() {
        if (!stop.compareAndSet(Stop.NONE, Stop.INTERRUPTED)) {
            return false;
        }
        stopWhy = "stopped by Ctrl-C";
        wake();
        Display d = display;
        if (d != null) {
            d.stopping(running.get());
        }
        return true;
    }

    /** Stops the rollout for its own reason; false if it was stopped before. */
    private boolean halt(Stop reason, String why, int finishing) {
        if (!stop.compareAndSet(Stop.NONE, reason)) {
            return false;
        }
        stopWhy = why;
        wake();
        Display d = display;
        if (d != null) {
            d.halted(why, running.get() - finishing);
        }
        return true;
    }

    /** Ends a pause between waves at once. */
    private void wake() {
        synchronized (stop) {
            stop.notifyAll();
        }
    }

    boolean stopRequested() {
        return stop.get() != Stop.NONE;
    }

    /** Why the rollout stopped early (NONE: it did not). */
    Stop stopReason() {
        return stop.get();
    }

    /** The reason in words ("" when it did not stop early). */
    String stopWhy() {
        return stopWhy;
    }

    /** The failure budget left, as shown: "" when there is no budget. */
    String budgetLeft() {
        Rollout r = rollout;
        if (r.failureLimit <= 0) {
            return "";
        }
        return "failure budget: " + Math.max(0, r.failureLimit - failed.get()) + " of " + r.failureLimit + " left";
    }

    /** Where the rollout stands, as shown: its phase and the budget left ("" for a plain fleet). */
    String standing() {
        String phase = phaseLabel;
        String budget = budgetLeft();
        return phase.isEmpty() ? budget : budget.isEmpty() ? phase : phase + ", " + budget;
    }

    /**
     * Runs every slot (unless stopped), refreshing the display every refreshMillis, and
     * returns once every started update has ended. Slots never started are marked skipped.
     */
    void run(List<Slot> slots, Display display, long refreshMillis) throws InterruptedException {
        run(Rollout.allAtOnce(slots), slots, display, refreshMillis);
    }

    /**
     * Runs a rollout phase by phase: a phase starts once the one before it has ended, unless
     * the rollout was stopped, and a failed canary stops it. Returns once every started update
     * has ended; slots never started are marked skipped with the reason.
     */
    void run(Rollout plan, List<Slot> slots, Display display, long refreshMillis) throws InterruptedException {
        this.display = display;
        this.rollout = plan;
        for (int i = 0; i < plan.phases.size() && !stopRequested(); i++) {
            Rollout.Phase phase = plan.phases.get(i);
            if (i > 0 && plan.pauseMillis > 0) {
                phaseLabel = "pause before " + (phase.label().isEmpty() ? "the next wave" : phase.label());
                display.phase(phaseLabel + " (" + (plan.pauseMillis < 1000 ? plan.pauseMillis + " ms"
                    : Table.duration(plan.pauseMillis / 1000)) + ")"
                    + (budgetLeft().isEmpty() ? "" : "; " + budgetLeft()));
                pause(plan.pauseMillis, slots, refreshMillis);
                if (stopRequested()) {
                    break;
                }
            }
            phaseLabel = phase.label();
            if (!phase.label().isEmpty()) {
                display.phase(phase.label() + ": " + names(phase.slots())
                    + (budgetLeft().isEmpty() ? "" : "; " + budgetLeft()));
            }
            runPhase(phase, slots, refreshMillis);
        }
        String why = stopWhy.isEmpty() ? "not started" : stopWhy;
        for (Slot s : slots) {
            if (s.progress.state() == Progress.State.WAITING) {
                s.progress.skip(why);
            }
        }
        display.refresh(slots, clock.getAsLong());
    }

    /** "3 switches (a, b, c)", the names cut after a few. */
    private static String names(List<Slot> slots) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i < Math.min(slots.size(), 5); i++) {
            b.append(i > 0 ? ", " : "").append(slots.get(i).job.name());
        }
        if (slots.size() > 5) {
            b.append(", ...");
        }
        return slots.size() + (slots.size() == 1 ? " switch (" : " switches (") + b + ")";
    }

    /** Waits between waves, refreshing the display; a stop ends the pause at once. */
    private void pause(long millis, List<Slot> slots, long refreshMillis) throws InterruptedException {
        long end = clock.getAsLong() + millis * 1_000_000L;
        while (!stopRequested()) {
            long left = (end - clock.getAsLong()) / 1_000_000L;
            if (left <= 0) {
                return;
            }
            display.refresh(slots, clock.getAsLong());
            synchronized (stop) {
                stop.wait(Math.max(1, Math.min(left, refreshMillis)));
            }
        }
    }

    private void runPhase(Rollout.Phase phase, List<Slot> slots, long refreshMillis) throws InterruptedException {
        List<Slot> mine = phase.slots();
        AtomicInteger next = new AtomicInteger();
        List<Thread> workers = new ArrayList<>();
        int count = Math.min(parallel, mine.size());
        for (int w = 0; w < count; w++) {
            Thread t = new Thread(() -> work(mine, next), "modburn-fleet-" + (w + 1));
            workers.add(t);
            t.start();
        }
        while (!allEnded(workers)) {
            display.refresh(slots, clock.getAsLong());
            for (Thread t : workers) {
                t.join(refreshMillis);
                if (t.isAlive()) {
                    break;
                }
            }
        }
        // The phase's last outcomes are shown before the next phase is announced.
        display.refresh(slots, clock.getAsLong());
    }

    private static boolean allEnded(List<Thread> workers) {
        for (Thread t : workers) {
            if (t.isAlive()) {
                return false;
            }
        }
        return true;
    }

    private void work(List<Slot> slots, AtomicInteger next) {
        while (!stopRequested()) {
            int i = next.getAndIncrement();
            if (i >= slots.size()) {
                return;
            }
            int limit = rollout.failureLimit;
            if (limit > 0 && failed.get() >= limit) {
                // Only a switch left waiting makes the spent budget a stop.
                String of = rollout.budgetText.endsWith("%")
                    ? rollout.budgetText + " (" + limit + (limit == 1 ? " failure)" : " failures)") : String.valueOf(limit);
                halt(Stop.BUDGET, "the failure budget of " + of + " is spent", 0);
                return;
            }
            running.incrementAndGet();
            try {
                runOne(slots.get(i));
            } finally {
                running.decrementAndGet();
            }
        }
    }

    private void runOne(Slot slot) {
        Progress p = slot.progress;
        p.start(clock.getAsLong());
        Writer out = slot.shared;
        try {
            if (out == null) {
                out = Files.newBufferedWriter(slot.log, StandardCharsets.UTF_8);
            }
        } catch (IOException e) {
            finish(slot, new Result(Status.TOOL_ERROR, "cannot open the log file " + slot.log + ": " + e.getMessage()));
            return;
        }
        SwitchLog log = new SwitchLog(out, slot.shared == null, slot.job.masker(), p);
        Result r;
        router.attach(log);
        try {
            r = backend.update(slot.job);
        } catch (RuntimeException | LinkageError e) {
            r = new Result(Status.TOOL_ERROR, "the update ended in " + e);
        } finally {
            router.detach();
        }
        IOException logFault = log.failure();
        try {
            log.close();
        } catch (IOException e) {
            logFault = logFault != null ? logFault : e;
        }
        if (logFault != null && r.succeeded()) {
            // The switch was updated; only its record is short. Say so without calling it a failure.
            r = new Result(r.code(), "log incomplete: " + logFault.getMessage());
        }
        finish(slot, r);
    }

    /** Records the outcome; a failure counts against the budget, and a failed canary stops the rollout. */
    private void finish(Slot slot, Result r) {
        slot.progress.finish(r, clock.getAsLong());
        display.ended(slot);
        if (!r.succeeded()) {
            failed.incrementAndGet();
            if (slot.canary) {
                // This update still counts as running until its worker moves on.
                halt(Stop.CANARY, "the canary " + slot.job.name() + " failed", 1);
            }
        }
    }
}
