package com.corvane.qel.deployer.modburn.tool.fleet;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.testing.Descriptors;
import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.Shown;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.LocalTime;
import java.util.ArrayList;
import java.util.List;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class FleetRunnerTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private final FakeBackend backend = new FakeBackend();
    private final ByteArrayOutputStream shown = new ByteArrayOutputStream();
    private final PrintStream out = new PrintStream(shown, true, StandardCharsets.UTF_8);

    static Job job(int i) {
        String ip = "127.0.1." + i;
        // Passwords of their own per switch, sharing no piece of five with an address or a log line.
        return new Job("sw" + i, i + 1, i % 2 == 0 ? Family.BROCADE : Family.CISCO_IOS, ip, "admin", "Pq#" + i + "wZ",
            "ftp://fw:Fk%" + i + "jY@10.9.9.9/image.bin", false, 0, 1);
    }

    private List<Slot> slots(int n, Path dir) {
        List<Job> jobs = new ArrayList<>();
        for (int i = 1; i <= n; i++) {
            jobs.add(job(i));
        }
        List<Path> files = FleetRun.logFiles(jobs, dir);
        List<Slot> slots = new ArrayList<>();
        for (int i = 0; i < n; i++) {
            slots.add(new Slot(jobs.get(i), files.get(i)));
        }
        return slots;
    }

    private FleetRunner runner(int parallel) throws SetupException {
        LogRouter router = new LogRouter(null);
        backend.open(router, 0);
        return new FleetRunner(backend, router, parallel, System::nanoTime);
    }

    @Test
    public void runsAtMostParallelAtOnceAndRoutesEachLogToItsSwitch() throws Exception {
        Path dir = tmp.newFolder("logs").toPath();
        backend.codes.put("127.0.1.5", -13);
        backend.leakPassword = true;
        List<Slot> slots = slots(24, dir);
        List<String> before = Descriptors.leakable(dir);
        runner(4).run(slots, new FleetView.Plain(out, LocalTime::now), 20);
        assertEquals(before, Descriptors.leakable(dir));
        assertEquals(24, backend.started.size());
        assertTrue("max running " + backend.maxRunning.get(), backend.maxRunning.get() <= 4);
        assertTrue("max running " + backend.maxRunning.get(), backend.maxRunning.get() >= 2);
        for (Slot s : slots) {
            String ip = s.job.address();
            List<String> lines = Files.readAllLines(s.log);
            assertEquals(ip, 7, lines.size());
            for (String line : lines) {
                // Every entry starts a line with its time stamp and names no other switch.
                assertTrue(line, line.matches("\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d .*"));
                assertFalse(line, line.matches(".*127\\.0\\.1\\.\\d+.*") && !line.matches(".*" + ip.replace(".", "\\.") + "\\b.*"));
                Shown.assertNoPiece(ip, line, s.job.password(), "Fk%" + (s.job.line() - 1) + "jY");
            }
            boolean failed = ip.equals("127.0.1.5");
            assertEquals(failed ? Progress.State.FAILED : Progress.State.SUCCEEDED, s.progress.state());
        }
        String text = shown.toString(StandardCharsets.UTF_8);
        assertTrue(text, text.contains("sw5 (Cisco IOS): failed in 0:00: IO_TIMEOUT: text of IO_TIMEOUT"));
        assertTrue(text, text.contains("sw2 (Brocade): succeeded in 0:00"));
    }

    @Test
    public void plainLinesMissNoStageHoweverShort() throws Exception {
        backend.pauseMillis = 0;
        List<Slot> slots = slots(6, tmp.newFolder("logs").toPath());
        runner(3).run(slots, new FleetView.Plain(out, () -> LocalTime.of(9, 30, 0)), 1000);
        String text = shown.toString(StandardCharsets.UTF_8);
        for (Slot s : slots) {
            String who = "09:30:00 " + s.job.name() + " (" + s.job.family().displayName + "): ";
            int connect = text.indexOf(who + "stage connect");
            int update = text.indexOf(who + "stage update");
            int end = text.indexOf(who + "succeeded in 0:00");
            assertTrue(text, connect >= 0 && connect < update && update < end);
            assertEquals(text, end, text.lastIndexOf(who + "succeeded"));
        }
    }

    @Test
    public void stopStartsNoMoreButLetsTheRunningFinish() throws Exception {
        Path dir = tmp.newFolder("logs").toPath();
        List<Slot> slots = slots(10, dir);
        FleetRunner runner = runner(3);
        backend.pauseMillis = 100;
        backend.onStart = n -> {
            if (n == 3) {
                runner.requestStop();
            }
        };
        List<Integer> stopping = new ArrayList<>();
        runner.run(slots, new Display() {
            @Override
            public void refresh(List<Slot> s, long nowNanos) {
            }

            @Override
            public void stopping(int running) {
                stopping.add(running);
            }
        }, 10);
        assertEquals(3, backend.started.size());
        assertEquals(List.of(3), stopping);
        int done = 0;
        int skipped = 0;
        for (Slot s : slots) {
            done += s.progress.state() == Progress.State.SUCCEEDED ? 1 : 0;
            skipped += s.progress.state() == Progress.State.SKIPPED ? 1 : 0;
        }
        assertEquals(3, done);
        assertEquals(7, skipped);
        assertFalse(runner.requestStop());
    }

    @Test
    public void aLogThatCannotBeOpenedFailsOnlyItsSwitch() throws Exception {
        Path dir = tmp.newFolder("logs").toPath();
        List<Slot> slots = slots(3, dir);
        Files.createDirectory(slots.get(1).log); // a folder where the file should be
        runner(2).run(slots, new FleetView.Plain(out, LocalTime::now), 10);
        assertEquals(Progress.State.SUCCEEDED, slots.get(0).progress.state());
        assertEquals(Progress.State.FAILED, slots.get(1).progress.state());
        assertEquals(Codes.TOOL_ERROR, slots.get(1).progress.result().code());
        assertTrue(slots.get(1).progress.result().message().contains("cannot open the log file"));
        assertEquals(Progress.State.SUCCEEDED, slots.get(2).progress.state());
        assertEquals(2, backend.started.size());
    }

    @Test
    public void summaryAndLiveTableShowEverySwitch() throws Exception {
        Path dir = tmp.newFolder("logs").toPath();
        backend.codes.put("127.0.1.2", -19);
        List<Slot> slots = slots(3, dir);
        runner(3).run(slots, new FleetView.Plain(out, () -> LocalTime.of(12, 0, 1)), 10);
        shown.reset();
        String counts = new FleetView.Plain(out, LocalTime::now).summary(slots, System.nanoTime());
        assertEquals("2 succeeded, 1 failed, 0 not started", counts);
        String[] lines = shown.toString(StandardCharsets.UTF_8).split("\n");
        assertTrue(lines[1], lines[1].matches("switch\\s+family\\s+result\\s+elapsed\\s+detail\\s+log"));
        assertTrue(lines[3], lines[3].matches("sw2\\s+Brocade\\s+IO_BAD_SWITCH_LOGIN\\s+0:00\\s+text of IO_BAD_SWITCH_LOGIN\\s+.*sw2\\.log"));

        slots.get(0).progress.skip();
        Slot waiting = new Slot(job(9), dir.resolve("x.log"));
        Slot running = new Slot(job(8), dir.resolve("y.log"));
        running.progress.start(0);
        running.progress.event("update", Switch.ProgressListener.STAGE, -1, "");
        running.progress.event("update", Switch.ProgressListener.LINE, -1, "Writing 60%");
        List<Slot> all = List.of(slots.get(0), slots.get(1), waiting, running);
        List<String> table = new FleetView.Live(out, 200, 40).render(all, 65_000_000_000L);
        assertEquals(6, table.size());
        assertTrue(table.get(0), table.get(0).startsWith("switch  family"));
        // All rows fit: inventory order.
        assertTrue(table.get(1), table.get(1).contains("not started"));
        assertTrue(table.get(2), table.get(2).contains("IO_BAD_SWITCH_LOGIN"));
        assertTrue(table.get(3), table.get(3).contains("waiting"));
        assertTrue(table.get(4), table.get(4).matches("sw8\\s+Brocade\\s+update\\s+1:05\\s+running\\s+Writing 60%"));
        assertEquals("1 running, 1 waiting, 0 ok, 1 failed", table.get(5));
        for (String line : new FleetView.Live(out, 40, 40).render(all, 0)) {
            assertTrue(line, line.length() <= 39);
        }
        // Too many rows for the screen: running first, then finished, then waiting; the rest counted.
        List<String> short4 = new FleetView.Live(out, 200, 5).render(all, 0);
        assertEquals(5, short4.size());
        assertTrue(short4.get(1), short4.get(1).startsWith("sw8 "));
        assertTrue(short4.get(2), short4.get(2).contains("IO_BAD_SWITCH_LOGIN"));
        assertTrue(short4.get(3), short4.get(3).contains("not started"));
        assertEquals("1 running, 1 waiting, 0 ok, 1 failed (1 not shown)", short4.get(4));
    }

    @Test
    public void logFileNamesAreSafeAndUnique() {
        Job a = job(1);
        List<Job> jobs = List.of(
            new Job("[::1]:23", 1, Family.NORTEL, "[::1]:23", "u", "p", "ftp://u@s/f", false, 0, 1),
            new Job("core/1", 2, Family.BROCADE, "h1", "u", "p", "ftp://u@s/f", false, 0, 1),
            new Job("core_1", 3, Family.BROCADE, "h2", "u", "p", "ftp://u@s/f", false, 0, 1),
            new Job("..", 4, Family.BROCADE, "h3", "u", "p", "ftp://u@s/f", false, 0, 1),
            a);
        List<Path> files = FleetRun.logFiles(jobs, Path.of("/l"));
        assertEquals(List.of(Path.of("/l/___1__23.log"), Path.of("/l/core_1.log"), Path.of("/l/core_1-2.log"),
            Path.of("/l/switch...log"), Path.of("/l/sw1.log")), files);
    }
}
