package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.io.IOException;
import java.io.Writer;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.Iterator;
import java.util.LinkedList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.ThreadFactory;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.LongSupplier;

/**
 * Runs a fleet of updates on a pool of worker threads, at most a given number at once, each
 * update with its own log file. The calling thread hands the updates to the pool as room frees
 * up and refreshes a display meanwhile. A rollout runs in phases (canaries, then waves). A
 * stop, asked for (Ctrl-C) or the rollout's own (a failed canary, a spent failure budget), lets
 * the running updates finish (an update blocked in a switch dialogue cannot be cut short
 * safely) and starts no more.
 */
public final class FleetRunner {
    private final Backend backend;
    private final LogRouter router;
    private final int parallel;
    private final LongSupplier clock;
    private final AtomicReference<Stop> stop = new AtomicReference<>(Stop.NONE);
    private volatile String stopWhy = "";
    /** Guards the hand-out of updates; notified when an update ends or a stop is asked for. */
    private final Object lock = new Object();
    /** Set under the lock with each notification, so that a wait never misses one. */
    private boolean changed;
    private final AtomicInteger running = new AtomicInteger();
    private final AtomicInteger failed = new AtomicInteger();
    private volatile Display display;
    private volatile Rollout rollout = Rollout.allAtOnce(List.of());
    private volatile String phaseLabel = "";
    private volatile WaitBack waitBack;
    private volatile boolean verify;
    private volatile boolean skipCurrent;
    /** The chassis rule and the servers' turns; guarded by the lock. */
    private Gates gates = new Gates(0, 0);
    /** The slots of each redundancy set, so that a failure holds the rest of its set. */
    private final Map<String, List<Slot>> sets = new HashMap<>();

    public FleetRunner(Backend backend, LogRouter router, int parallel, LongSupplier clock) {
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
    public boolean requestStop() {
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

    /** Stops the rollout for its own reason, unless it was stopped before. */
    private void halt(Stop reason, String why, int finishing) {
        if (!stop.compareAndSet(Stop.NONE, reason)) {
            return;
        }
        stopWhy = why;
        wake();
        Display d = display;
        if (d != null) {
            d.halted(why, running.get() - finishing);
        }
    }

    /** Wakes the hand-out (and ends a pause between waves) at once. */
    private void wake() {
        synchronized (lock) {
            changed = true;
            lock.notifyAll();
        }
    }

    /**
     * At most perSet modules of one redundancy set of a chassis at once (in their update, reboot or
     * wait for the switch), and at most perServer updates fetching from one firmware server at
     * once; 0: no such limit. A failed module holds the rest of its set.
     */
    public void limits(int perSet, int perServer) {
        synchronized (lock) {
            gates = new Gates(perSet, perServer);
        }
    }

    /**
     * After each successful update with a reboot, wait for the switch to come back (null: no
     * wait); a switch that does not come back fails its update.
     */
    public void waitBack(WaitBack w) {
        waitBack = w;
    }

    /**
     * Reads every switch's versions before and after its update and judges them (verify), and
     * leaves a switch alone whose versions hold its expected version (skipCurrent).
     */
    public void verification(boolean verify, boolean skipCurrent) {
        this.verify = verify;
        this.skipCurrent = skipCurrent;
    }

    public boolean stopRequested() {
        return stop.get() != Stop.NONE;
    }

    /** Why the rollout stopped early (NONE: it did not). */
    public Stop stopReason() {
        return stop.get();
    }

    /** The reason in words ("" when it did not stop early). */
    public String stopWhy() {
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
    public void run(List<Slot> slots, Display display, long refreshMillis) throws InterruptedException {
        run(Rollout.allAtOnce(slots), slots, display, refreshMillis);
    }

    /**
     * Runs a rollout phase by phase: a phase starts once the one before it has ended, unless
     * the rollout was stopped, and a failed canary stops it. Returns once every started update
     * has ended; slots never started are marked skipped with the reason.
     */
    public void run(Rollout plan, List<Slot> slots, Display display, long refreshMillis) throws InterruptedException {
        this.display = display;
        this.rollout = plan;
        synchronized (lock) {
            for (Slot s : slots) {
                if (s.set != null) {
                    sets.computeIfAbsent(s.set, k -> new ArrayList<>()).add(s);
                }
            }
        }
        ExecutorService workers = Executors.newFixedThreadPool(parallel, new Workers());
        try {
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
                runPhase(phase, slots, workers, refreshMillis);
            }
        } finally {
            workers.shutdown();
        }
        String why = stopWhy.isEmpty() ? "not started" : stopWhy;
        for (Slot s : slots) {
            if (s.progress.state() == Progress.State.WAITING) {
                s.progress.skip(why);
            }
        }
        display.refresh(slots, clock.getAsLong());
    }

    /** The pool's threads, named after the fleet. */
    private static final class Workers implements ThreadFactory {
        private final AtomicInteger made = new AtomicInteger();

        @Override
        public Thread newThread(Runnable r) {
            return new Thread(r, "modburn-fleet-" + made.incrementAndGet());
        }
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
            synchronized (lock) {
                if (!changed) {
                    lock.wait(Math.max(1, Math.min(left, refreshMillis)));
                }
                changed = false;
            }
        }
    }

    /**
     * Hands the phase's updates to the workers, as many at once as allowed, and returns once
     * every update it started has ended; the display is refreshed every refreshMillis meanwhile.
     */
    private void runPhase(Rollout.Phase phase, List<Slot> slots, ExecutorService workers, long refreshMillis)
            throws InterruptedException {
        List<Slot> waiting = new LinkedList<>(phase.slots());
        long refreshNanos = refreshMillis * 1_000_000L;
        long nextRefresh = clock.getAsLong();
        while (true) {
            long now = clock.getAsLong();
            if (now - nextRefresh >= 0) {
                display.refresh(slots, now);
                nextRefresh = now + refreshNanos;
            }
            synchronized (lock) {
                handOut(waiting, workers);
                if (running.get() == 0 && (waiting.isEmpty() || stopRequested())) {
                    break;
                }
                if (!changed) {
                    lock.wait(Math.max(1, (nextRefresh - clock.getAsLong()) / 1_000_000L));
                }
                changed = false;
            }
        }
        // The phase's last outcomes are shown before the next phase is announced.
        display.refresh(slots, clock.getAsLong());
    }

    /**
     * Starts waiting updates, in their order, while there is room and the rollout allows: each the
     * first whose set and server have room. A slot held meanwhile leaves the queue. Called under
     * the lock.
     */
    private void handOut(List<Slot> waiting, ExecutorService workers) {
        Iterator<Slot> next = waiting.iterator();
        while (next.hasNext() && !stopRequested() && running.get() < parallel) {
            Slot slot = next.next();
            if (slot.progress.state() != Progress.State.WAITING) {
                next.remove();
                continue;
            }
            if (!gates.open(slot)) {
                continue;
            }
            int limit = rollout.failureLimit;
            if (limit > 0 && failed.get() >= limit) {
                // Only a switch left waiting makes the spent budget a stop.
                String of = rollout.budgetText.endsWith("%")
                    ? rollout.budgetText + " (" + limit + (limit == 1 ? " failure)" : " failures)") : String.valueOf(limit);
                halt(Stop.BUDGET, "the failure budget of " + of + " is spent", 0);
                return;
            }
            next.remove();
            gates.enter(slot);
            running.incrementAndGet();
            workers.execute(() -> {
                try {
                    runOne(slot);
                } finally {
                    synchronized (lock) {
                        gates.leaveSet(slot);
                    }
                    running.decrementAndGet();
                    wake();
                }
            });
        }
    }

    private void runOne(Slot slot) {
        Progress p = slot.progress;
        p.start(clock.getAsLong());
        Writer out = slot.shared;
        try {
            if (out == null) {
                out = PrivateFiles.open(slot.log, false);
            }
        } catch (IOException e) {
            leaveServer(slot);
            finish(slot, new Result(Codes.TOOL_ERROR, "cannot open the log file " + slot.log + ": " + e.getMessage()));
            return;
        }
        SwitchLog log = new SwitchLog(out, slot.shared == null, slot.masker);
        AtomicBoolean fetched = new AtomicBoolean();
        VerifiedUpdate.Steps steps = new VerifiedUpdate.Steps() {
            @Override
            public void stage(String stage, String line) {
                p.note(stage, line);
            }

            @Override
            public Switch.ProgressListener events() {
                return p.listener(slot.masker);
            }

            @Override
            public void log(String entry) {
                log.entry(entry);
            }

            @Override
            public void fetched() {
                // The switch has its image (or gave up): its server may serve the next in line.
                if (!fetched.getAndSet(true)) {
                    leaveServer(slot);
                }
            }

            @Override
            public boolean stopped() {
                return stop.get() == Stop.INTERRUPTED;  // a budget or canary stop lets running waits finish
            }
        };
        VerifiedUpdate.Proof proof;
        router.attach(log::entry);
        try {
            proof = new VerifiedUpdate(backend, waitBack, verify, skipCurrent).run(slot.job, slot.expect, steps);
        } finally {
            router.detach();
            steps.fetched();
        }
        slot.proof = verify ? proof : null;
        Result r = proof.result();
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

    /**
     * Records the outcome; a failure counts against the budget, holds the rest of the module's
     * redundancy set, and a failed canary stops the rollout.
     */
    private void finish(Slot slot, Result r) {
        slot.progress.finish(r, clock.getAsLong());
        if (!r.succeeded()) {
            hold(slot, r);
        }
        display.ended(slot);
        if (!r.succeeded()) {
            failed.incrementAndGet();
            if (slot.canary) {
                // This update still counts as running until its worker moves on.
                halt(Stop.CANARY, "the canary " + slot.job.name() + " failed", 1);
            }
        }
    }

    private void leaveServer(Slot slot) {
        synchronized (lock) {
            gates.leaveServer(slot);
        }
        wake();
    }

    /** Holds, for good, the modules of the failed slot's set that have not started. */
    private void hold(Slot failed, Result r) {
        String why = "its partner " + failed.job.name() + " failed (" + Codes.name(r.code()) + ")";
        synchronized (lock) {
            for (Slot s : sets.getOrDefault(failed.set, List.of())) {
                if (s.progress.state() == Progress.State.WAITING) {
                    s.progress.hold(why);
                }
            }
        }
    }
}
