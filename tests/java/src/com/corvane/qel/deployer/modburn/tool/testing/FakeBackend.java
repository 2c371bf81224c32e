package com.corvane.qel.deployer.modburn.tool.testing;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.bridge.Versions;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * A scripted stand-in for the library: each update writes the lines a module would write,
 * through the router on the calling thread, tells its progress as the library would (the
 * stages, console lines, a percentage where told, the outcome last), waits a little and returns the
 * code scripted for its address (0 unless told otherwise); each version listing lists the versions
 * scripted for the address, which a successful update may change, or fails as scripted.
 */
public final class FakeBackend implements Backend {
    public final Map<String, Integer> codes = new HashMap<>();
    public final Map<String, String> switchTexts = new HashMap<>();
    public final List<Job> started = Collections.synchronizedList(new ArrayList<>());
    public final AtomicInteger running = new AtomicInteger();
    public final AtomicInteger maxRunning = new AtomicInteger();
    public volatile long pauseMillis = 20;
    /** Pauses of particular switches, by address, in place of pauseMillis. */
    public final Map<String, Long> pauses = new java.util.concurrent.ConcurrentHashMap<>();
    /** Runs as the update of a switch (by address) returns: a reboot that begins then, say. */
    public final Map<String, Runnable> afterUpdate = new java.util.concurrent.ConcurrentHashMap<>();
    /** When each switch's update started (System.nanoTime), by address. */
    public final Map<String, Long> startedAt = new java.util.concurrent.ConcurrentHashMap<>();
    /** "start ADDRESS" and "end ADDRESS" in the order the updates started and ended. */
    public final List<String> events = Collections.synchronizedList(new ArrayList<>());
    public volatile boolean openFails;
    public volatile boolean leakPassword;
    /**
     * Further log entries of particular switches, by address, written after the login: raw
     * console text, say; each is also told as the console's line.
     */
    public final Map<String, String> logLines = new java.util.concurrent.ConcurrentHashMap<>();
    /** A percentage the console of a switch (by address) shows during its update. */
    public final Map<String, Long> percents = new java.util.concurrent.ConcurrentHashMap<>();
    /** Runs on the update's thread as it starts, with the count of updates started so far. */
    public volatile java.util.function.IntConsumer onStart;
    public LogRouter router;
    public int telnetDebug = -1;

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
    public Result update(Job job, Switch.ProgressListener progress) {
        startedAt.put(job.address(), System.nanoTime());
        events.add("start " + job.address());
        try {
            Result r = script(job, progress != null ? progress : (stage, kind, value, text) -> { });
            List<String> installed = installs.get(job.address());
            if (r.succeeded() && installed != null) {
                versions.put(job.address(), installed);
            }
            return r;
        } finally {
            events.add("end " + job.address());
            Runnable after = afterUpdate.get(job.address());
            if (after != null) {
                after.run();
            }
        }
    }

    /** The versions each switch lists, by address (absent: a listing with one line, "Active FW Version: v1"). */
    public final Map<String, List<String>> versions = new java.util.concurrent.ConcurrentHashMap<>();
    /** The versions a switch lists after its update succeeded, by address (absent: as before it). */
    public final Map<String, List<String>> installs = new java.util.concurrent.ConcurrentHashMap<>();
    /**
     * The results of a switch's listings in turn, by address: the n-th listing gives the n-th code
     * (0: it lists its versions; a failure quotes "the listing failed"); listings past the end list.
     */
    public final Map<String, List<Integer>> listingCodes = new java.util.concurrent.ConcurrentHashMap<>();
    private final Map<String, AtomicInteger> listings = new java.util.concurrent.ConcurrentHashMap<>();

    /** The jobs whose versions were listed. */
    public final List<Job> listed = Collections.synchronizedList(new ArrayList<>());

    @Override
    public Versions versions(Job job) {
        String ip = job.address();
        events.add("versions " + ip);
        listed.add(job);
        int n = listings.computeIfAbsent(ip, k -> new AtomicInteger()).getAndIncrement();
        List<Integer> codes = listingCodes.getOrDefault(ip, List.of());
        int code = n < codes.size() ? codes.get(n) : 0;
        String m = job.family().module;
        router.log(m + ": connecting to " + job.family().displayName + " switch ip=" + ip + "\n");
        if (code != 0) {
            String msg = "Error: " + job.family().displayName + " switch=" + ip + ": text of " + Codes.name(code)
                + " \nSWITCH TEXT=\n\"the listing failed\"";
            router.log("readVersions failed: error code=" + code + " (errmsg=" + msg + ")\n");
            return Versions.failed(new Result(code, msg));
        }
        List<String> lines = versions.getOrDefault(ip, List.of("Active FW Version: v1"));
        for (String v : lines) {
            router.log(m + ":logConfigInfo:" + ip + ": " + v + "\n");
        }
        return Versions.of(lines);
    }

    private Result script(Job job, Switch.ProgressListener progress) {
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
            progress.onProgress("connect", Switch.ProgressListener.STAGE, -1, "");
            router.log(m + ": connecting to " + job.family().displayName + " switch ip=" + ip + "\n");
            router.log(m + ":connect:" + ip + ": telnet_open success: handle=7\n");
            router.log("modburn:io_cmd_resp:7: telnet_write: \"admin\\r\"\n");
            if (leakPassword) {
                // A line that would carry the password if nothing masked it.
                router.log(m + ":connect:" + ip + ": typed " + job.password() + " url " + job.url() + "\n");
            }
            router.log("                       matched string=\"Fabric OS v7.4\\r\\nswitch:admin> \"\n");
            progress.onProgress("connect", Switch.ProgressListener.LINE, -1, "switch:admin>");
            String more = logLines.get(ip);
            if (more != null) {
                router.log(more);
                progress.onProgress("connect", Switch.ProgressListener.LINE, -1, more);
            }
            long pause = pauses.getOrDefault(ip, pauseMillis);
            pause(pause);
            progress.onProgress("update", Switch.ProgressListener.STAGE, -1, "");
            router.log(m + ":update:" + ip + ": fileurl=" + job.shownUrl() + "\n");
            Long percent = percents.get(ip);
            if (percent != null) {
                progress.onProgress("update", Switch.ProgressListener.PERCENT, percent, "Downloading " + percent + "%");
            }
            pause(pause);
            progress.onProgress("disconnect", Switch.ProgressListener.STAGE, -1, "");
            int code = codes.getOrDefault(ip, 0);
            progress.onProgress("update", Switch.ProgressListener.OUTCOME, code, "text of " + Codes.name(code));
            if (code == 0) {
                router.log("update succeeded: switchType=" + job.family().code + "\n");
                return Result.OK;
            }
            String text = switchTexts.getOrDefault(ip, "");
            String status = Codes.name(code);
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

    /** Parameter-check verdicts by address (0 unless told otherwise), and the jobs checked. */
    public final Map<String, Integer> checkCodes = new HashMap<>();
    public final List<Job> checked = Collections.synchronizedList(new ArrayList<>());

    @Override
    public int check(Job job) {
        checked.add(job);
        return checkCodes.getOrDefault(job.address(), 0);
    }

    @Override
    public String text(int code) {
        return "text of " + Codes.name(code);
    }

    @Override
    public boolean serves(Family family) {
        return family == Family.BROCADE || family == Family.CISCO_IOS;
    }
}
