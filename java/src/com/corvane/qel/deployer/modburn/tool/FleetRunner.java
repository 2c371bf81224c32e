package com.corvane.qel.deployer.modburn.tool;

import java.io.IOException;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.LongSupplier;

/**
 * Runs a fleet of updates on a fixed number of worker threads, each update with its own log
 * file, while the calling thread refreshes a display. A stop request lets the running updates
 * finish (an update blocked in a switch dialogue cannot be cut short safely) and starts no more.
 */
final class FleetRunner {
    /** One switch of the fleet: its job, its log file and where it stands. */
    static final class Slot {
        final Job job;
        /** The update's own log file, or null when it writes to the shared writer. */
        final Path log;
        final Writer shared;
        final Progress progress;

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
    }

    private final Backend backend;
    private final LogRouter router;
    private final int parallel;
    private final LongSupplier clock;
    private final AtomicBoolean stop = new AtomicBoolean();
    private final AtomicInteger running = new AtomicInteger();
    private volatile Display display;
    private volatile WaitBack waitBack;

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
        if (!stop.compareAndSet(false, true)) {
            return false;
        }
        Display d = display;
        if (d != null) {
            d.stopping(running.get());
        }
        return true;
    }

    /**
     * After each successful update with a reboot, wait for the switch to come back (null: no
     * wait); a switch that does not come back fails its update.
     */
    void waitBack(WaitBack w) {
        waitBack = w;
    }

    boolean stopRequested() {
        return stop.get();
    }

    /**
     * Runs every slot (unless stopped), refreshing the display every refreshMillis, and
     * returns once every started update has ended. Slots never started are marked skipped.
     */
    void run(List<Slot> slots, Display display, long refreshMillis) throws InterruptedException {
        this.display = display;
        AtomicInteger next = new AtomicInteger();
        List<Thread> workers = new ArrayList<>();
        int count = Math.min(parallel, slots.size());
        for (int w = 0; w < count; w++) {
            Thread t = new Thread(() -> work(slots, next), "modburn-fleet-" + (w + 1));
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
        for (Slot s : slots) {
            if (s.progress.state() == Progress.State.WAITING) {
                s.progress.skip();
            }
        }
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
        while (!stop.get()) {
            int i = next.getAndIncrement();
            if (i >= slots.size()) {
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
            p.finish(new Result(Status.TOOL_ERROR, "cannot open the log file " + slot.log + ": " + e.getMessage()),
                clock.getAsLong());
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
        WaitBack w = waitBack;
        if (w != null && r.code() == 0 && slot.job.reboot() && slot.job.family().reboots) {
            r = awaitReturn(w, slot, log, r);
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
        p.finish(r, clock.getAsLong());
    }

    /** The outcome of the wait for a rebooted switch, written to its log as it goes. */
    private Result awaitReturn(WaitBack w, Slot slot, SwitchLog log, Result updated) {
        Progress p = slot.progress;
        p.note("wait-back", "");
        Result back;
        try {
            back = w.await(slot.job.address(), line -> {
                p.note("wait-back", line);
                log.entry("modburn: wait-back: " + line + "\n");
            }, stop::get);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            back = new Result(Status.NOT_BACK, "updated, but the wait for the switch was interrupted");
        }
        log.entry("modburn: wait-back: " + back.message() + "\n");
        if (back.succeeded() && !updated.message().isEmpty()) {
            return new Result(back.code(), updated.message() + "; " + back.message());
        }
        return back;
    }
}
