package com.corvane.qel.deployer.modburn.tool;

import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * A scripted stand-in for the library: each update writes the lines a module would write,
 * through the router on the calling thread, waits a little and returns the code scripted for
 * its address (0 unless told otherwise).
 */
final class FakeBackend implements Backend {
    final Map<String, Integer> codes = new HashMap<>();
    final Map<String, String> switchTexts = new HashMap<>();
    final List<Job> started = Collections.synchronizedList(new ArrayList<>());
    final AtomicInteger running = new AtomicInteger();
    final AtomicInteger maxRunning = new AtomicInteger();
    volatile long pauseMillis = 20;
    /** Pauses of particular switches, by address, in place of pauseMillis. */
    final Map<String, Long> pauses = new java.util.concurrent.ConcurrentHashMap<>();
    /** "start ADDRESS" and "end ADDRESS" in the order the updates started and ended. */
    final List<String> events = Collections.synchronizedList(new ArrayList<>());
    volatile boolean openFails;
    volatile boolean leakPassword;
    /** Runs on the update's thread as it starts, with the count of updates started so far. */
    volatile java.util.function.IntConsumer onStart;
    LogRouter router;
    int telnetDebug = -1;

    @Override
    public void open(LogRouter router, int telnetDebugLevel) throws SetupException {
        if (openFails) {
            throw new SetupException("no library here");
        }
        this.router = router;
        this.telnetDebug = telnetDebugLevel;
        router.log("++++ Switch/MODBURN log AppLogger started\n");
    }

    @Override
    public Result update(Job job) {
        events.add("start " + job.address());
        try {
            return script(job);
        } finally {
            events.add("end " + job.address());
        }
    }

    private Result script(Job job) {
        started.add(job);
        java.util.function.IntConsumer hook = onStart;
        if (hook != null) {
            hook.accept(started.size());
        }
        int now = running.incrementAndGet();
        maxRunning.accumulateAndGet(now, Math::max);
        try {
            String m = job.family().module;
            String ip = job.address();
            router.log(m + ": connecting to " + job.family().displayName + " switch ip=" + ip + "\n");
            router.log(m + ":connect:" + ip + ": telnet_open success: handle=7\n");
            router.log("modburn:io_cmd_resp:7: telnet_write: \"admin\\r\"\n");
            if (leakPassword) {
                // A line that would carry the password if nothing masked it.
                router.log(m + ":connect:" + ip + ": typed " + job.password() + " url " + job.url() + "\n");
            }
            router.log("                       matched string=\"Fabric OS v7.4\\r\\nswitch:admin> \"\n");
            long pause = pauses.getOrDefault(ip, pauseMillis);
            pause(pause);
            router.log(m + ":update:" + ip + ": fileurl=" + job.shownUrl() + "\n");
            pause(pause);
            int code = codes.getOrDefault(ip, 0);
            if (code == 0) {
                router.log("update succeeded: switchType=" + job.family().code + "\n");
                return Result.OK;
            }
            String text = switchTexts.getOrDefault(ip, "");
            String status = Status.name(code);
            String msg = "Error: " + job.family().displayName + " switch=" + ip + ": text of " + status
                + (text.isEmpty() ? "" : " \nSWITCH TEXT=\n\"" + text + "\"");
            router.log("update failed: error code=" + code + " (errmsg=" + msg + ")\n");
            return new Result(code, msg);
        } finally {
            running.decrementAndGet();
        }
    }

    private static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    @Override
    public String text(int code) {
        return "text of " + Status.name(code);
    }

    @Override
    public boolean serves(Family family) {
        return family == Family.BROCADE || family == Family.CISCO_IOS;
    }
}
