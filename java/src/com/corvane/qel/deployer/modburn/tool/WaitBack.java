package com.corvane.qel.deployer.modburn.tool;

import java.util.function.BooleanSupplier;
import java.util.function.Consumer;
import java.util.function.LongSupplier;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Waits for a rebooted switch to come back: polls its console port with short TCP connects
 * until it stops answering, then until it answers again, for at most a given time in all.
 * A switch that never stops answering within that time did not reboot as asked, and counts as
 * not back too.
 */
final class WaitBack {
    /** Result code of an update whose switch did not come back (not a library code). */
    static final int NOT_BACK = Status.NOT_BACK;

    /** Pauses between polls; the tests shorten them. */
    interface Sleeper {
        void sleep(long millis) throws InterruptedException;
    }

    private final long limitSeconds;
    private final long pollMillis;
    private final int connectTimeoutMillis;
    private final LongSupplier clock;
    private final Sleeper sleeper;

    WaitBack(long limitSeconds, long pollMillis, int connectTimeoutMillis, LongSupplier clock, Sleeper sleeper) {
        this.limitSeconds = limitSeconds;
        this.pollMillis = pollMillis;
        this.connectTimeoutMillis = connectTimeoutMillis;
        this.clock = clock;
        this.sleeper = sleeper;
    }

    /** The wait the tool runs: a poll every pollMillis (2 s unless the tests shorten it), 1 s connects. */
    static WaitBack of(long limitSeconds, long pollMillis) {
        return new WaitBack(limitSeconds, pollMillis, (int) Math.max(50, Math.min(1000, pollMillis / 2)),
            System::nanoTime, Thread::sleep);
    }

    long limitSeconds() {
        return limitSeconds;
    }

    /**
     * Waits for the switch at address; status receives a line for the display at each change.
     * Returns the outcome as the update's result: success with "back after m:ss", or NOT_BACK.
     */
    Result await(String address, Consumer<String> status) throws InterruptedException {
        return await(address, status, () -> false);
    }

    /** As above; a wait that stopped is asked to end (Ctrl-C) ends at the next poll, not back. */
    Result await(String address, Consumer<String> status, BooleanSupplier stopped) throws InterruptedException {
        ConsoleAddress console = ConsoleAddress.parse(address);
        long start = clock.getAsLong();
        long deadline = start + limitSeconds * 1_000_000_000L;
        String limit = Table.duration(limitSeconds);
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
                return new Result(NOT_BACK, "updated, but the wait for the switch was stopped after "
                    + Table.duration(seconds(now - start)));
            }
            if (now >= deadline) {
                return new Result(NOT_BACK, down ? "updated, but not back after " + limit
                    : "updated, but the console never stopped answering within " + limit + " (no reboot seen)");
            }
            sleeper.sleep(Math.max(1, Math.min(pollMillis, (deadline - now) / 1_000_000L)));
        }
    }

    private static long seconds(long nanos) {
        return nanos / 1_000_000_000L;
    }

    private static final Pattern PARTS = Pattern.compile("(?:(\\d+)h)?(?:(\\d+)m)?(?:(\\d+)s?)?");
    private static final Pattern CLOCK = Pattern.compile("(?:(\\d+):)?(\\d+):(\\d{2})");

    /** Longest wait accepted: a day. */
    static final long MAX_SECONDS = 24 * 3600;

    /**
     * Seconds of a duration as an operator writes it: "600", "90s", "10m", "1h30m", "2m30s",
     * "3:12" or "1:00:00". Throws UsageException for anything else, or a wait outside 1 s to a day.
     */
    static long parseDuration(String text) {
        String t = text == null ? "" : text.strip().toLowerCase(java.util.Locale.ROOT);
        long seconds = -1;
        Matcher c = CLOCK.matcher(t);
        Matcher p = PARTS.matcher(t);
        try {
            if (c.matches()) {
                seconds = (c.group(1) == null ? 0 : Long.parseLong(c.group(1)) * 3600) + Long.parseLong(c.group(2)) * 60
                    + Long.parseLong(c.group(3));
            } else if (!t.isEmpty() && p.matches()) {
                seconds = part(p.group(1)) * 3600 + part(p.group(2)) * 60 + part(p.group(3));
            }
        } catch (NumberFormatException e) {
            seconds = -1;
        }
        if (seconds < 1 || seconds > MAX_SECONDS) {
            throw new UsageException("--wait-back takes a duration from 1s to 24h, such as 600, 90s, 10m, 1h30m or 3:12");
        }
        return seconds;
    }

    private static long part(String digits) {
        return digits == null ? 0 : Long.parseLong(digits);
    }
}
