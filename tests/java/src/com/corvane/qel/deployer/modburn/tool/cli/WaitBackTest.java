package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.fleet.WaitBack;
import com.corvane.qel.deployer.modburn.tool.preflight.ConsoleAddress;
import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.FileServers;
import com.corvane.qel.deployer.modburn.tool.testing.RebootingSwitch;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/** Waiting for a rebooted switch: the wait itself, and through update and fleet. */
public class WaitBackTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private final FakeBackend backend = new FakeBackend();
    private ToolRun tool;
    private ByteArrayOutputStream out;
    private ByteArrayOutputStream err;

    @Before
    public void setUp() throws Exception {
        Files.writeString(tmp.getRoot().toPath().resolve("pw"), "sw-Secret1\n");
        tool = new ToolRun(tmp.getRoot().toPath(), () -> backend);
        out = tool.out;
        err = tool.err;
    }

    @Test
    public void waitsForTheConsoleToGoAndComeBack() throws Exception {
        // goes down after ms, back after ms (-1 never), limit in s, expected code, expected message start
        Object[][] rows = {
            {100L, 500L, 5L, 0, "back after 0:00"},
            {0L, 300L, 5L, 0, "back after 0:00"},
            {100L, -1L, 1L, Codes.NOT_BACK, "updated, but not back after 0:01"},
            {-1L, -1L, 1L, Codes.NOT_BACK, "updated, but the console never stopped answering within 0:01"},
        };
        for (Object[] r : rows) {
            try (RebootingSwitch sw = new RebootingSwitch((Long) r[0], (Long) r[1])) {
                List<String> status = new ArrayList<>();
                long start = System.nanoTime();
                Result res = new WaitBack(Duration.ofSeconds((Long) r[2]), 25, 100, System::nanoTime, Thread::sleep)
                    .await(sw.address(), status::add);
                long millis = (System.nanoTime() - start) / 1_000_000;
                String what = r[0] + "/" + r[1] + ": " + res + " " + status;
                assertEquals(what, (int) (Integer) r[3], res.code());
                assertTrue(what, res.message().startsWith((String) r[4]));
                assertEquals(what, "waiting for " + sw.address() + " to stop answering", status.get(0));
                if (res.code() == 0) {
                    assertTrue(what, status.get(1).startsWith("down after 0:00"));
                    assertTrue(what + " in " + millis + " ms", millis >= (Long) r[1] - 50 && millis < 3000);
                } else {
                    assertTrue(what + " in " + millis + " ms", millis >= 1000 && millis < 2500);
                }
            }
        }
    }

    @Test
    public void aStopEndsTheWaitAtTheNextPoll() throws Exception {
        try (RebootingSwitch sw = new RebootingSwitch(0, -1)) {
            long start = System.nanoTime();
            Result res = WaitBack.of(Duration.ofSeconds(60), 20).await(sw.address(), s -> { },
                () -> System.nanoTime() - start > 200_000_000L);
            assertEquals(Codes.NOT_BACK, res.code());
            assertTrue(res.message(), res.message().startsWith("updated, but the wait for the switch was stopped"));
            assertTrue((System.nanoTime() - start) / 1_000_000 < 2000);
        }
    }

    @Test
    public void consoleAddresses() {
        Object[][] rows = {
            {"10.0.0.7", "10.0.0.7", 23}, {"10.0.0.7:2323", "10.0.0.7", 2323}, {"sw-a.lab", "sw-a.lab", 23},
            {"[fd00::7]", "fd00::7", 23}, {"[fd00::7]:24", "fd00::7", 24}, {"fd00::7", "fd00::7", 23},
            {"10.0.0.7:99999", "10.0.0.7", -1}, {"10.0.0.7:x", "10.0.0.7", -1},
            {"ssh://10.0.0.7", "10.0.0.7", 22}, {"SSH://sw-a.lab:2222", "sw-a.lab", 2222},
            {"ssh://[fd00::7]", "fd00::7", 22}, {"ssh://[fd00::7]:830", "fd00::7", 830},
            {"sshx://10.0.0.7", "sshx", -1},
        };
        for (Object[] r : rows) {
            assertEquals((String) r[0], new ConsoleAddress((String) r[1], (Integer) r[2]),
                ConsoleAddress.parse((String) r[0]));
        }
        assertEquals("[fd00::7]:24", ConsoleAddress.parse("[fd00::7]:24").toString());
        Object[][] ssh = {{"ssh://10.0.0.7", true}, {" Ssh://sw", true}, {"10.0.0.7", false}, {"ssh:/sw", false},
            {null, false}};
        for (Object[] r : ssh) {
            assertEquals(String.valueOf(r[0]), r[1], ConsoleAddress.isSsh((String) r[0]));
        }
    }

    private int run(String... args) {
        return tool.run(args);
    }

    @Test
    public void updateReportsTheSwitchBack() throws Exception {
        try (RebootingSwitch sw = RebootingSwitch.onReboot(50, 400)) {
            rebootOnUpdate(sw);
            int rc = run("update", "brocade", sw.address(), "admin", "ftp://fw@10.0.0.5/fw/v9.bin", "--reboot",
                "--password-file", "pw", "--wait-back", "10s", "--wait-back-poll-ms", "25", "--progress", "plain");
            String text = out.toString(StandardCharsets.UTF_8);
            assertEquals(text + err, 0, rc);
            assertTrue(text, text.contains("updated from ftp://fw@10.0.0.5/fw/v9.bin, rebooted (back after 0:00)"));
            assertTrue(err.toString(StandardCharsets.UTF_8).contains("modburn: stage wait-back"));
            assertTrue(err.toString(StandardCharsets.UTF_8).contains("modburn: wait-back: back after 0:00"));
        }
    }

    @Test
    public void updateOfASwitchThatStaysDownFailsAsUnreachable() throws Exception {
        try (RebootingSwitch sw = new RebootingSwitch(0, -1)) {
            int rc = run("update", "brocade", sw.address(), "admin", "ftp://fw@10.0.0.5/fw/v9.bin", "--reboot",
                "--password-file", "pw", "--wait-back", "1s", "--wait-back-poll-ms", "25", "--progress", "plain");
            String text = out.toString(StandardCharsets.UTF_8);
            assertEquals(text, ExitStatus.UNREACHABLE, rc);
            assertTrue(text, text.contains("failed: NOT_BACK (-1001): updated, but not back after 0:01"));
        }
    }

    @Test
    public void waitBackWithoutRebootIsRefused() throws Exception {
        assertEquals(ExitStatus.USAGE, run("update", "brocade", "10.0.0.1", "admin", "ftp://fw@10.0.0.5/f",
            "--password-file", "pw", "--wait-back", "10m"));
        assertEquals(ExitStatus.USAGE, run("update", "brocade", "10.0.0.1", "admin", "ftp://fw@10.0.0.5/f",
            "--reboot", "--password-file", "pw", "--wait-back", "soon"));
        assertTrue(backend.started.isEmpty());
    }

    /** Each switch goes down (and maybe comes back) as its update returns, as a reboot would. */
    private void rebootOnUpdate(RebootingSwitch... switches) {
        for (RebootingSwitch sw : switches) {
            backend.afterUpdate.put(sw.address(), sw::reboot);
        }
    }

    @Test
    public void aModuleStartsOnlyOnceItsPartnerIsBack() throws Exception {
        try (RebootingSwitch first = RebootingSwitch.onReboot(50, 400);
             RebootingSwitch second = RebootingSwitch.onReboot(50, 400)) {
            rebootOnUpdate(first, second);
            Path dir = tmp.getRoot().toPath();
            Files.writeString(dir.resolve("pair.csv"), String.join("\n",
                "family,address,user,password,url,reboot,name,chassis",
                "brocade," + first.address() + ",admin,file:pw,ftp://fw@10.0.0.5/f.bin,yes,left,c1",
                "brocade," + second.address() + ",admin,file:pw,ftp://fw@10.0.0.5/f.bin,yes,right,c1", ""));
            int rc = run("fleet", "pair.csv", "--log-dir", "pair-logs", "--parallel", "2", "--wait-back", "5s",
                "--wait-back-poll-ms", "25", "--progress", "plain");
            String text = out.toString(StandardCharsets.UTF_8);
            assertEquals(text, ExitStatus.OK, rc);
            assertTrue(text, first.backAt() > 0 && second.backAt() > 0);
            // The chassis keeps a path: the second module went down only after the first was back.
            assertTrue(text, backend.startedAt.get(second.address()) > first.backAt());
        }
    }

    @Test
    public void fleetCountsASwitchNotBackAsFailed() throws Exception {
        try (RebootingSwitch back = RebootingSwitch.onReboot(50, 300);
             RebootingSwitch gone = RebootingSwitch.onReboot(50, -1)) {
            rebootOnUpdate(back, gone);
            Path dir = tmp.getRoot().toPath();
            Files.writeString(dir.resolve("fleet.csv"), String.join("\n",
                "family,address,user,password,url,reboot,name",
                "brocade," + back.address() + ",admin,file:pw,ftp://fw@10.0.0.5/f.bin,yes,back",
                "brocade," + gone.address() + ",admin,file:pw,ftp://fw@10.0.0.5/f.bin,yes,gone",
                // no reboot: no wait
                "brocade,127.0.0.1:" + FileServers.freeTcpPort() + ",admin,file:pw,ftp://fw@10.0.0.5/f.bin,no,stays",
                ""));
            int rc = run("fleet", "fleet.csv", "--log-dir", "logs", "--wait-back", "1s", "--wait-back-poll-ms", "25",
                "--progress", "plain");
            String text = out.toString(StandardCharsets.UTF_8);
            assertEquals(text, ExitStatus.SOME_FAILED, rc);
            String[][] summary = {
                {"back ", "ok (back after 0:00)"},
                {"gone ", "NOT_BACK", "updated, but not back after 0:01"},
                {"stays ", "ok"},
            };
            for (String[] row : summary) {
                String line = text.lines().filter(l -> l.startsWith(row[0]) && l.contains("/logs/")).findFirst()
                    .orElse("");
                for (int i = 1; i < row.length; i++) {
                    assertTrue(row[0] + ": " + line + "\n" + text, line.contains(row[i]));
                }
            }
            assertFalse(text, text.lines().anyMatch(l -> l.startsWith("stays ") && l.contains("back after")));
            assertTrue(text, text.contains("2 succeeded, 1 failed, 0 not started"));
            assertTrue(text, text.contains("(Brocade): stage wait-back"));
            String goneLog = Files.readString(dir.resolve("logs/gone.log"));
            assertTrue(goneLog, goneLog.contains("modburn: wait-back: updated, but not back after 0:01"));
        }
    }
}
