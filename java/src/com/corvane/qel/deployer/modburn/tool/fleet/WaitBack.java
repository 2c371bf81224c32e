package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.preflight.ConsoleAddress;
import com.corvane.qel.deployer.modburn.tool.preflight.Reachability;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.time.Duration;
import java.util.function.BooleanSupplier;
import java.util.function.Consumer;
import java.util.function.LongSupplier;
import java.util.function.Predicate;
import java.util.function.Supplier;

/**
 * Waits for a rebooted switch to come back: polls its console port with short TCP connects
 * until it stops answering, then until it answers again, for at most a given time in all.
 * A switch that never stops answering within that time did not reboot as asked, and counts as
 * not back too.
 */
public final class WaitBack {
    /** Pauses between polls; the tests shorten them. */
    public interface Sleeper {
        void sleep(long millis) throws InterruptedException;
    }

    /** The wait a verification of a rebooted switch runs when none was asked for. */
    public static final Duration DEFAULT_LIMIT = Duration.ofMinutes(10);
    /** Time between polls unless the tests shorten it. */
    public static final long DEFAULT_POLL_MILLIS = 2000;

    private final Duration limit;
    private final long pollMillis;
    private final int connectTimeoutMillis;
    private final LongSupplier clock;
    private final Sleeper sleeper;

    public WaitBack(Duration limit, long pollMillis, int connectTimeoutMillis, LongSupplier clock, Sleeper sleeper) {
        this.limit = limit;
        this.pollMillis = pollMillis;
        this.connectTimeoutMillis = connectTimeoutMillis;
        this.clock = clock;
        this.sleeper = sleeper;
    }

    /** The wait the tool runs: a poll every pollMillis (2 s unless the tests shorten it), 1 s connects. */
    public static WaitBack of(Duration limit, long pollMillis) {
        return new WaitBack(limit, pollMillis, (int) Math.max(50, Math.min(1000, pollMillis / 2)),
            System::nanoTime, Thread::sleep);
    }

    /**
     * Waits for the switch at address; status receives a line for the display at each change.
     * Returns the outcome as the update's result: success with "back after m:ss", or NOT_BACK.
     */
    public Result await(String address, Consumer<String> status) throws InterruptedException {
        return await(address, status, () -> false);
    }

    /** As above; a wait that stopped is asked to end (Ctrl-C) ends at the next poll, not back. */
    public Result await(String address, Consumer<String> status, BooleanSupplier stopped) throws InterruptedException {
        ConsoleAddress console = ConsoleAddress.parse(address);
        long start = clock.getAsLong();
        long deadline = start + limit.toNanos();
        String shown = Table.duration(limit.toSeconds());
        status.accept("waiting for " + console + " to stop answering");
        boolean down = false;
        while (true) {
            boolean answers = Reachability.answers(console, connectTimeoutMillis);
            long now = clock.getAsLong();
            if (!down && !answers) {
                down = true;
                status.accept("down after " + Table.duration(seconds(now - start)) + "; waiting for it to answer");
            } else if (down && answers) {
                return new Result(0, "back after " + Table.duration(seconds(now - start)));
            }
            if (stopped.getAsBoolean()) {
                return new Result(Codes.NOT_BACK, "updated, but the wait for the switch was stopped after "
                    + Table.duration(seconds(now - start)));
            }
            if (now >= deadline) {
                return new Result(Codes.NOT_BACK, down ? "updated, but not back after " + shown
                    : "updated, but the console never stopped answering within " + shown + " (no reboot seen)");
            }
            sleeper.sleep(Math.max(1, Math.min(pollMillis, (deadline - now) / 1_000_000L)));
        }
    }

    /**
     * Tries until an attempt gives a result that needs no other (again is false for it), the
     * wait's time counted from startNanos is spent, or a stop is asked for; a poll's pause between
     * attempts. Returns the last attempt's result. The versions of a switch that has just come
     * back are read so, while its console does not answer logins yet.
     */
    public <T> T retry(long startNanos, Supplier<T> attempt, Predicate<T> again, BooleanSupplier stopped)
            throws InterruptedException {
        long deadline = startNanos + limit.toNanos();
        while (true) {
            T result = attempt.get();
            long now = clock.getAsLong();
            if (!again.test(result) || now >= deadline || stopped.getAsBoolean()) {
                return result;
            }
            sleeper.sleep(Math.max(1, Math.min(pollMillis, (deadline - now) / 1_000_000L)));
        }
    }

    /** The clock the wait counts by (System.nanoTime unless a test gives its own). */
    public long now() {
        return clock.getAsLong();
    }

    private static long seconds(long nanos) {
        return nanos / 1_000_000_000L;
    }
}
