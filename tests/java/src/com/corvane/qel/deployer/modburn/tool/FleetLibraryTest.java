package com.corvane.qel.deployer.modburn.tool;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.BrokenBarrierException;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.After;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/**
 * Fifty updates at once in one JVM, through the real library, against fifty simulated Brocade
 * consoles: every update succeeds, each switch's log file holds its own entries and only those,
 * whole, and no descriptor is left open.
 */
public class FleetLibraryTest {
    static final int SWITCHES = 50;
    static final String SWITCH_PW = "Sw1tch-Secret";
    static final String FTP_PW = "Ftp-Secret9";
    static final Pattern STAMP = Pattern.compile("\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d ");

    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private Process sim;

    @After
    public void stopSimulator() throws Exception {
        if (sim != null && sim.isAlive()) {
            sim.destroy();
            sim.waitFor(10, TimeUnit.SECONDS);
        }
    }

    static String address(int i) {
        return "127.0.90." + i;
    }

    private static String property(String name) {
        String v = System.getProperty(name);
        assertNotNull("the test needs -D" + name, v);
        return v;
    }

    /** Starts the simulator with one console per switch and waits until all listen. */
    private void startSimulator(Path dir) throws Exception {
        Path scenarios = Path.of(property("modburn.scenarios"));
        StringBuilder conf = new StringBuilder();
        for (int i = 1; i <= SWITCHES; i++) {
            String scn = i % 2 == 0 ? "brocade/success-reboot.scn" : "brocade/success.scn";
            conf.append(address(i)).append(":23 ").append(scenarios.resolve(scn)).append('\n');
        }
        Path confFile = dir.resolve("switches.conf");
        Files.writeString(confFile, conf);
        sim = new ProcessBuilder(property("modburn.switchsim"), "--config", confFile.toString(), "--once",
            "--accept-timeout-ms", "60000").redirectErrorStream(true).start();
        BufferedReader r = new BufferedReader(new InputStreamReader(sim.getInputStream(), StandardCharsets.UTF_8));
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
        int listening = 0;
        StringBuilder said = new StringBuilder();
        while (listening < SWITCHES && System.nanoTime() < deadline) {
            String line = r.readLine();
            if (line == null) {
                break;
            }
            said.append(line).append('\n');
            if (line.startsWith("switchsim: listening on ")) {
                listening++;
            }
        }
        assertEquals("the simulator said:\n" + said, SWITCHES, listening);
        // Keep draining its output so that it never blocks on a full pipe.
        Thread drain = new Thread(() -> {
            try {
                while (r.readLine() != null) {
                    // discard
                }
            } catch (Exception e) {
                // the process ended
            }
        });
        drain.setDaemon(true);
        drain.start();
    }

    /** The library behind a gate that lets all updates start together and counts them. */
    static final class Together implements Backend {
        final Backend lib = new LibraryBackend();
        final CyclicBarrier gate = new CyclicBarrier(SWITCHES);
        final AtomicInteger inside = new AtomicInteger();
        final AtomicInteger most = new AtomicInteger();

        @Override
        public void open(LogRouter router, int telnetDebugLevel) throws SetupException {
            lib.open(router, telnetDebugLevel);
        }

        @Override
        public Result update(Job job) {
            try {
                gate.await(60, TimeUnit.SECONDS);
            } catch (InterruptedException | BrokenBarrierException | TimeoutException e) {
                return new Result(Status.TOOL_ERROR, "the updates did not start together: " + e);
            }
            most.accumulateAndGet(inside.incrementAndGet(), Math::max);
            try {
                return lib.update(job);
            } finally {
                inside.decrementAndGet();
            }
        }

        @Override
        public int check(Job job) {
            return lib.check(job);
        }

        @Override
        public String text(int code) {
            return lib.text(code);
        }

        @Override
        public boolean serves(Family family) {
            return lib.serves(family);
        }
    }

    @Test
    public void fiftyUpdatesAtOnceEachWithItsOwnWholeLog() throws Exception {
        Path dir = tmp.newFolder("fleet").toPath();
        startSimulator(dir);
        List<FleetRunner.Slot> slots = new ArrayList<>();
        for (int i = 1; i <= SWITCHES; i++) {
            Job job = new Job(address(i), i, Family.BROCADE, address(i), "admin", SWITCH_PW,
                "ftp://fw:" + FTP_PW + "@127.0.0.1/fos/v9.9.9.bin", i % 2 == 0, 0, 2);
            slots.add(new FleetRunner.Slot(job, dir.resolve(address(i) + ".log")));
        }
        Together backend = new Together();
        SwitchLog fallback = new SwitchLog(Files.newBufferedWriter(dir.resolve("fleet.log")), true,
            Masker.of(SWITCH_PW, FTP_PW), new Progress(""));
        LogRouter router = new LogRouter(fallback);
        backend.open(router, 1);
        FleetRunner runner = new FleetRunner(backend, router, SWITCHES, System::nanoTime);
        List<String> before = Descriptors.leakable(dir);
        runner.run(slots, new FleetRunner.Display() {
            @Override
            public void refresh(List<FleetRunner.Slot> s, long nowNanos) {
            }

            @Override
            public void stopping(int running) {
            }
        }, 200);
        List<String> after = Descriptors.leakable(dir);
        fallback.close();

        assertEquals(SWITCHES, backend.most.get());
        for (FleetRunner.Slot s : slots) {
            Progress p = s.progress;
            assertEquals(s.job.address() + ": " + p.result(), Progress.State.SUCCEEDED, p.state());
            checkLog(s.job.address(), Files.readAllLines(s.log));
        }
        assertEquals("descriptors before and after the fleet", before, after);
        assertTrue("the simulator did not end", sim.waitFor(30, TimeUnit.SECONDS));
        assertEquals("every simulated session completed", 0, sim.exitValue());
    }

    private static final Pattern ADDRESS = Pattern.compile("127\\.0\\.90\\.\\d+\\b");
    private static final Pattern OPENED = Pattern.compile("brocadeflash:connect:[0-9.]+: telnet_open success: handle=(\\d+)");
    private static final Pattern HANDLE =
        Pattern.compile("^modburn:io_cmd_resp:(\\d+):|closing handle=(\\d+)|^telnet_[a-z_]+:(\\d+):");

    /** One switch's log: its own address only, one handle only, every entry whole on its own line. */
    static void checkLog(String address, List<String> lines) {
        String handle = null;
        Set<String> used = new HashSet<>();
        boolean connecting = false;
        boolean succeeded = false;
        for (String line : lines) {
            assertFalse(address + ": a password in " + line, line.contains(SWITCH_PW) || line.contains(FTP_PW));
            Matcher stamp = STAMP.matcher(line);
            assertTrue(address + ": an entry that does not start a line: " + line, stamp.lookingAt());
            String entry = line.substring(stamp.end());
            assertFalse(address + ": two entries on one line: " + line, STAMP.matcher(entry).find());
            Matcher a = ADDRESS.matcher(entry);
            while (a.find()) {
                assertEquals(address + ": another switch's line: " + line, address, a.group());
            }
            Matcher o = OPENED.matcher(entry);
            if (o.find()) {
                assertEquals(address + ": opened twice", null, handle);
                handle = o.group(1);
            }
            Matcher h = HANDLE.matcher(entry);
            if (h.find()) {
                for (int g = 1; g <= h.groupCount(); g++) {
                    if (h.group(g) != null) {
                        used.add(h.group(g));
                    }
                }
            }
            connecting |= entry.startsWith("brocadeflash: connecting to Brocade switch ip=" + address);
            succeeded |= entry.startsWith("update succeeded: switchType=6");
        }
        assertTrue(address + " has no connecting line", connecting);
        assertTrue(address + " has no success line", succeeded);
        assertNotNull(address + " never opened a session", handle);
        // Every line that names a session names this switch's own.
        assertEquals(address + ": lines of other sessions", Set.of(handle), used);
    }
}
