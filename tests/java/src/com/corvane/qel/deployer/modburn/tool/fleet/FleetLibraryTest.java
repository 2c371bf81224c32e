package com.corvane.qel.deployer.modburn.tool.fleet;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.LibraryBackend;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.bridge.Versions;
import com.corvane.qel.deployer.modburn.tool.cli.ExitStatus;
import com.corvane.qel.deployer.modburn.tool.inventory.JsonTree;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import com.corvane.qel.deployer.modburn.tool.testing.Descriptors;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import com.corvane.qel.deployer.modburn.tool.testing.Transcripts;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.BrokenBarrierException;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
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

    @Rule
    public SimulatorConsoles sim = new SimulatorConsoles();

    static String address(int i) {
        return "127.0.90." + i;
    }

    /** Starts the simulator with one console per switch and waits until all listen. */
    private void startSimulator(Path dir) throws Exception {
        Map<String, String> consoles = new LinkedHashMap<>();
        for (int i = 1; i <= SWITCHES; i++) {
            consoles.put(address(i), i % 2 == 0 ? "brocade/success-reboot.scn" : "brocade/success.scn");
        }
        startSimulator(dir, consoles, true);
    }

    /**
     * Starts the simulator with a console per address (playing the scenario given, relative to
     * the scenario folder), each serving one session if once is set, and waits until all listen.
     */
    private void startSimulator(Path dir, Map<String, String> consoles, boolean once) throws Exception {
        startSimulator(dir, consoles, once, null);
    }

    /** The same, each console's transcript written in transcripts (null: none). */
    private void startSimulator(Path dir, Map<String, String> consoles, boolean once, Path transcripts)
            throws Exception {
        List<String> arguments = new ArrayList<>();
        if (once) {
            arguments.addAll(List.of("--once", "--accept-timeout-ms", "60000"));
        }
        if (transcripts != null) {
            arguments.addAll(List.of("--transcript-dir", transcripts.toString()));
        }
        sim.start(dir, consoles, arguments);
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
        public Result update(Job job, Switch.ProgressListener events) {
            try {
                gate.await(60, TimeUnit.SECONDS);
            } catch (InterruptedException | BrokenBarrierException | TimeoutException e) {
                return new Result(Codes.TOOL_ERROR, "the updates did not start together: " + e);
            }
            most.accumulateAndGet(inside.incrementAndGet(), Math::max);
            try {
                return lib.update(job, events);
            } finally {
                inside.decrementAndGet();
            }
        }

        @Override
        public Versions versions(Job job) {
            return lib.versions(job);
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
        List<Slot> slots = new ArrayList<>();
        for (int i = 1; i <= SWITCHES; i++) {
            Job job = new Job(address(i), i, Family.BROCADE, address(i), "admin", SWITCH_PW,
                "ftp://fw:" + FTP_PW + "@127.0.0.1/fos/v9.9.9.bin", i % 2 == 0, 0, 2);
            slots.add(new Slot(job, dir.resolve(address(i) + ".log")));
        }
        Together backend = new Together();
        SwitchLog fallback = new SwitchLog(Files.newBufferedWriter(dir.resolve("fleet.log")), true,
            Masker.of(SWITCH_PW, FTP_PW));
        LogRouter router = new LogRouter(fallback::entry);
        backend.open(router, 1);
        FleetRunner runner = new FleetRunner(backend, router, SWITCHES, System::nanoTime);
        List<String> before = Descriptors.leakable(dir);
        runner.run(slots, new Display() {
            @Override
            public void refresh(List<Slot> s, long nowNanos) {
            }

            @Override
            public void stopping(int running) {
            }
        }, 200);
        List<String> after = Descriptors.leakable(dir);
        fallback.close();

        assertEquals(SWITCHES, backend.most.get());
        for (Slot s : slots) {
            Progress p = s.progress;
            assertEquals(s.job.address() + ": " + p.result(), Progress.State.SUCCEEDED, p.state());
            checkLog(s.job.address(), Files.readAllLines(s.log));
            // The library told each update's stages and its console's marks to that update's progress.
            boolean reboots = s.job.reboot();
            assertEquals(s.job.address(), reboots ? List.of("connect", "logConfigInfo", "update", "reboot", "disconnect")
                : List.of("connect", "logConfigInfo", "update", "disconnect"), p.stagesFrom(0));
            assertEquals(s.job.address(), reboots ? "reboot" : "update", p.worked());
            assertEquals(s.job.address(), reboots ? "" : "20 marks", p.workedMeasure());
        }
        assertEquals("descriptors before and after the fleet", before, after);
        assertTrue("the simulator did not end", sim.process().waitFor(30, TimeUnit.SECONDS));
        assertEquals("every simulated session completed", 0, sim.process().exitValue());
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

    static final int FLEET = 20;

    @Test
    public void aCanaryFailingOnAMissingFileStopsAFleetOfTwenty() throws Exception {
        Path dir = tmp.newFolder("canary").toPath();
        Map<String, String> consoles = new LinkedHashMap<>();
        StringBuilder inv = new StringBuilder("family,address,user,password,url,url_password,name,canary\n");
        for (int i = 1; i <= FLEET; i++) {
            String ip = "127.0.91." + i;
            boolean canary = i == 1;
            consoles.put(ip, canary ? "cisco/no-such-file.scn" : "brocade/success.scn");
            inv.append(canary ? "cisco," : "brocade,").append(ip).append(",admin,file:sw.pw,")
                .append(canary ? "ftp://fw@127.0.0.1/ios/missing.tar" : "ftp://fw@127.0.0.1/fos/v9.9.9.bin")
                .append(",file:ftp.pw,sw").append(i).append(canary ? ",yes\n" : ",\n");
        }
        Files.writeString(dir.resolve("fleet.csv"), inv);
        Files.writeString(dir.resolve("sw.pw"), SWITCH_PW + "\n");
        Files.writeString(dir.resolve("ftp.pw"), FTP_PW + "\n");
        startSimulator(dir, consoles, false);

        ToolRun tool = new ToolRun(dir, LibraryBackend::new);
        int rc = tool.run("fleet", "fleet.csv", "--log-dir=logs", "--progress=plain", "--parallel=8",
            "--max-failures=2", "--report=report.json");
        String o = tool.out();
        assertEquals(o + tool.err(), ExitStatus.CANARY, rc);
        assertTrue(o, o.contains("stopped early: the canary sw1 failed; 19 switches not started"));
        assertTrue(o, o.lines().anyMatch(l -> l.matches("sw1\\s+Cisco IOS\\s+IO_FILE_NOT_FOUND\\s+\\S+\\s+"
            + "%Error opening ftp://sim-server/sim-image.tar \\(No such file or directory\\)\\s+.*sw1\\.log")));

        String report = Files.readString(dir.resolve("report.json"));
        JsonTree.JsonObject doc = (JsonTree.JsonObject) JsonTree.parse(report);
        assertEquals("canary", doc.get("stopped"));
        List<?> switches = (List<?>) doc.get("switches");
        assertEquals(FLEET, switches.size());
        JsonTree.JsonObject first = (JsonTree.JsonObject) switches.get(0);
        assertEquals("IO_FILE_NOT_FOUND", first.get("result"));
        assertEquals(Boolean.TRUE, first.get("canary"));
        for (Object s : switches.subList(1, FLEET)) {
            JsonTree.JsonObject sw = (JsonTree.JsonObject) s;
            assertEquals(sw.get("name") + "", "not started", sw.get("result"));
            assertEquals("the canary sw1 failed", sw.get("detail"));
        }
        String log = Files.readString(dir.resolve("logs").resolve("sw1.log"));
        for (String text : new String[] {o, tool.err(), report, log}) {
            assertFalse(text, text.contains(SWITCH_PW) || text.contains(FTP_PW));
        }
        // Only the canary's console was ever reached.
        List<String> sessions = new ArrayList<>();
        for (String line : sim.stop()) {
            if (line.contains(" session from ")) {
                sessions.add(line.substring(0, line.indexOf(" session from ")));
            }
        }
        assertEquals(List.of("switchsim: 127.0.91.1:23"), sessions);
    }

    // A short Brocade dialogue: prompts end with a NUL, which ends the library's console line at
    // once; the transfer takes 300 ms. The other ends with the file not found, and the switch
    // closes the session rather than let the library wait for more of its words.
    private static final String SHORT_LOGIN = String.join("\n",
        "reply version => \"Fabric OS:  v9.9.9-sim\\r\\nsim:admin> \\x00\"",
        "reply firmwareshow => \"Primary partition:   v9.9.9-sim\\r\\nsim:admin> \\x00\"",
        "send \"\\r\\nsim login: \\x00\"", "expect", "noecho on", "send \"Password: \\x00\"", "expect", "noecho off",
        "send \"sim:admin> \\x00\"", "expect firmwaredownload -s *",
        "send \"Checking system settings for firmwaredownload...\\r\\n\"", "");
    private static final String SHORT_OK = SHORT_LOGIN + String.join("\n",
        "send \"Do you want to continue [y/n]: \\x00\"", "expect y",
        "send \"Ready to install packages\\r\\n\"", "pause 300",
        "send \"Firmwaredownload has completed successfully.\\r\\n\"", "send \"sim:admin> \\x00\"", "");
    private static final String SHORT_MISSING = SHORT_LOGIN + String.join("\n",
        "send \"Cannot download the firmware: the file was not found on the server.\\r\\n\"",
        "send \"sim:admin> \\x00\"", "close", "");

    static final int CHASSIS = 20;
    /** The firmware server that more updates use than it may serve at once. */
    static final String BUSY = "10.9.0.1";

    private static String module(int chassis, int side) {
        return String.format("c%02d%c", chassis, side == 0 ? 'a' : 'b');
    }

    private static String moduleAddress(int chassis, int side) {
        return "127.0.93." + (chassis * 2 - 1 + side);
    }

    @Test
    public void twentyChassisNeverLoseBothModulesAtOnce() throws Exception {
        Path dir = tmp.newFolder("chassis").toPath();
        Path transcripts = Files.createDirectory(dir.resolve("transcripts"));
        Files.writeString(dir.resolve("short-ok.scn"), SHORT_OK);
        Files.writeString(dir.resolve("short-missing.scn"), SHORT_MISSING);
        Files.writeString(dir.resolve("sw.pw"), SWITCH_PW + "\n");
        Files.writeString(dir.resolve("ftp.pw"), FTP_PW + "\n");
        // Module a of chassis 7 fails; the server BUSY serves both modules of chassis 1 to 3 and
        // module b of chassis 4 and 5: three first modules (no more than it may serve at once, so
        // that the first modules of every chassis start together) and five second ones.
        Map<String, String> consoles = new LinkedHashMap<>();
        StringBuilder inv = new StringBuilder("family,address,user,password,url,url_password,name,chassis\n");
        for (int c = 1; c <= CHASSIS; c++) {
            for (int side = 0; side < 2; side++) {
                String failing = c == 7 && side == 0 ? "short-missing.scn" : "short-ok.scn";
                consoles.put(moduleAddress(c, side), dir.resolve(failing).toString());
                String server = c <= 3 || (side == 1 && c <= 5) ? BUSY : "10.9." + c + "." + (side + 2);
                inv.append("brocade,").append(moduleAddress(c, side)).append(",admin,file:sw.pw,ftp://fw@")
                    .append(server).append("/fos/v9.9.9.bin,file:ftp.pw,").append(module(c, side)).append(",chassis-")
                    .append(c).append('\n');
            }
        }
        Files.writeString(dir.resolve("fleet.csv"), inv);
        startSimulator(dir, consoles, true, transcripts);

        ToolRun tool = new ToolRun(dir, LibraryBackend::new);
        int rc;
        List<Transcripts.Span> sessions;
        List<Transcripts.Span> transfers;
        try (Transcripts seen = new Transcripts(transcripts)) {
            rc = tool.run("fleet", "fleet.csv", "--parallel=40", "--per-server=3", "--log-dir=logs",
                "--progress=plain", "--report=report.json");
            Thread.sleep(100);  // the last lines of the transcripts
            sessions = seen.spans(List.of("= session"), List.of("= end"));
            transfers = seen.spans(List.of("< firmwaredownload"), List.of("> Firmwaredownload has completed",
                "> Cannot download"));
        }
        String out = tool.out();
        assertEquals(out + tool.err(), ExitStatus.SOME_FAILED, rc);
        assertTrue(out, out.lines().anyMatch(l -> l.matches("c07a\\s+Brocade\\s+chassis-7\\s+IO_FILE_NOT_FOUND\\s.*")));
        assertTrue(out, out.lines().anyMatch(l -> l.matches("c07b\\s+Brocade\\s+chassis-7\\s+held\\s.*its partner c07a "
            + "failed \\(IO_FILE_NOT_FOUND\\).*")));
        assertTrue(out, out.contains("38 succeeded, 1 failed, 0 not started, 1 held"));

        // Every module but the held one had its session; no two of one chassis were in one at once.
        Map<String, String> chassisOf = new LinkedHashMap<>();
        for (int c = 1; c <= CHASSIS; c++) {
            for (int side = 0; side < 2; side++) {
                chassisOf.put(moduleAddress(c, side) + "_23", "chassis-" + c);
            }
        }
        assertEquals(2 * CHASSIS - 1, sessions.size());
        assertTrue(sessions.stream().noneMatch(s -> s.console().equals(moduleAddress(7, 1) + "_23")));
        for (Transcripts.Span a : sessions) {
            for (Transcripts.Span b : sessions) {
                if (a != b && chassisOf.get(a.console()).equals(chassisOf.get(b.console()))) {
                    assertFalse(a.console() + " and " + b.console() + " at once", a.surelyOverlaps(b));
                }
            }
        }
        // The first sessions are one module of each chassis.
        List<Transcripts.Span> byStart = new ArrayList<>(sessions);
        byStart.sort(java.util.Comparator.comparingLong(s -> s.from().by()));
        Set<String> first = new HashSet<>();
        byStart.subList(0, CHASSIS).forEach(s -> first.add(chassisOf.get(s.console())));
        assertEquals(first.toString(), CHASSIS, first.size());

        // The busy server never served more than three transfers at once, and did serve three.
        Map<String, List<Transcripts.Span>> byServer = new LinkedHashMap<>();
        Pattern typed = Pattern.compile("< firmwaredownload -s \"([^\"]*)\"");
        for (Transcripts.Span t : transfers) {
            Matcher m = typed.matcher(t.from().text());
            assertTrue(t.from().text(), m.find());
            byServer.computeIfAbsent(m.group(1), k -> new ArrayList<>()).add(t);
        }
        assertEquals(3 + 5, byServer.get(BUSY).size());
        assertEquals(3, Transcripts.mostAtOnce(byServer.get(BUSY)));
        for (List<Transcripts.Span> each : byServer.values()) {
            assertTrue(Transcripts.mostAtOnce(each) <= 3);
        }

        JsonTree.JsonObject report = (JsonTree.JsonObject) JsonTree.parse(Files.readString(dir.resolve("report.json")));
        for (Object o : (List<?>) report.get("switches")) {
            JsonTree.JsonObject sw = (JsonTree.JsonObject) o;
            boolean held = sw.get("name").equals("c07b");
            assertEquals(sw.get("name") + "", held ? "held" : sw.get("name").equals("c07a") ? "IO_FILE_NOT_FOUND" : "ok",
                sw.get("result"));
            assertEquals(held ? "its partner c07a failed (IO_FILE_NOT_FOUND)" : null, sw.get("hold_reason"));
            assertEquals("chassis-" + Integer.parseInt(((String) sw.get("name")).substring(1, 3)), sw.get("chassis"));
        }
    }
}
