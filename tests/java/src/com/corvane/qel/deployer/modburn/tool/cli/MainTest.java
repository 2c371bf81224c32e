package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/** The commands end to end, with a scripted library in place of the real one. */
public class MainTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private final FakeBackend backend = new FakeBackend();
    private ToolRun tool;
    private Path dir;

    @Before
    public void setUp() throws Exception {
        dir = tmp.newFolder("work").toPath();
        Files.writeString(dir.resolve("pw"), "sw-Secret1\n");
        Files.writeString(dir.resolve("ftppw"), "ftp-Secret2\n");
        tool = new ToolRun(dir, () -> backend);
        tool.env = Map.of("SW_PW", "env-Secret3");
    }

    private int run(String... args) {
        return tool.run(args);
    }

    private String out() {
        return tool.out();
    }

    private String err() {
        return tool.err();
    }

    private void assertNoSecret(String... texts) {
        for (String t : texts) {
            for (String secret : new String[] {"sw-Secret1", "ftp-Secret2", "env-Secret3", "hunter2"}) {
                assertFalse("a password shows in:\n" + t, t.contains(secret));
            }
        }
    }

    @Test
    public void refusesBadArgumentsWithStatusTwoAndStartsNothing() {
        String[][] cases = {
            {"update", "brokade", "h", "admin", "ftp://u@s/f"},
            {"update", "brocade", "h", "admin"},
            {"update", "brocade", "h", "admin", "ftp://u@s/f", "--debug", "3"},
            {"update", "brocade", "h", "admin", "ftp://u@s/f", "--telnet-debug", "-1"},
            {"update", "brocade", "h", "admin", "ftp://u@s/f", "--progress", "fancy"},
            {"update", "brocade", "h", "admin", "ftp://u@s/f", "--modifier", "x"},
            {"update", "brocade", "h", "admin", "ftp://u@s/f", "--password", "hunter2"},
            {"update", "brocade", "h", "admin", "ftp://u@s/f", "--url-password=hunter2"},
            {"update", "brocade", "h", "admin", "ftp://u:hunter2@s/f"},
            {"update", "brocade", "h", "admin", "ftp://u@s/f", "--password-file", "pw", "--password-stdin"},
            {"check", "brocade", "h", "admin", "ftp://u@s/f", "--password", "hunter2"},
            {"check", "brocade", "h", "admin", "ftp://u:hunter2@s/f"},
            {"check", "brocade", "h", "admin", "ftp://u@s/f", "--url-password-env", "A", "--url-password-prompt"},
            {"fleet", "inv.csv", "--parallel", "0"},
            {"fleet", "inv.csv", "--parallel", "10001"},
            {"fleet"},
            {"nosuch"},
        };
        for (String[] args : cases) {
            tool.err.reset();
            assertEquals(String.join(" ", args) + "\n" + err(), ExitStatus.USAGE, run(args));
            assertTrue(err(), err().startsWith("modburn: "));
            assertNoSecret(err(), out());
        }
        assertTrue(backend.started.isEmpty());
    }

    @Test
    public void refusesARequestTheFamilyCannotTakeBeforeAskingForPasswords() {
        assertEquals(ExitStatus.REFUSED, run("update", "brocade", "h", "admin", "tftp://s/f"));
        assertEquals(ExitStatus.REFUSED, run("update", "veltra", "10.0.0.1", "admin", "tftp://s/f", "--reboot"));
        assertEquals(ExitStatus.REFUSED, run("update", "sas", "10.0.0.1", "admin", "tftp://s/f"));
        assertTrue(err(), err().contains("Brocade takes ftp URLs, not tftp"));
        assertTrue(backend.started.isEmpty());
    }

    @Test
    public void takesPasswordsFromFileStandardInputAndEnvironment() {
        // arguments after the URL, standard input, expected password, expected URL
        String[][] cases = {
            {"--password-file=pw", "", "sw-Secret1", "ftp://fw@s/f"},
            {"--password-stdin", "hunter2\n", "hunter2", "ftp://fw@s/f"},
            {"--password-env=SW_PW", "", "env-Secret3", "ftp://fw@s/f"},
            {"", "hunter2\n", "hunter2", "ftp://fw@s/f"}, // the prompt, without a terminal, reads a line
            {"--password-file=pw --url-password-file=ftppw", "", "sw-Secret1", "ftp://fw:ftp-Secret2@s/f"},
            {"--password-stdin --url-password-stdin", "hunter2\nftp-Secret2\n", "hunter2", "ftp://fw:ftp-Secret2@s/f"},
            {"--password-env=SW_PW --url-password-prompt", "ftp-Secret2\n", "env-Secret3", "ftp://fw:ftp-Secret2@s/f"},
        };
        for (String[] c : cases) {
            backend.started.clear();
            tool.out.reset();
            tool.err.reset();
            tool.stdin = c[1];
            List<String> args = new ArrayList<>(List.of("update", "brocade", "10.0.0.1", "admin", "ftp://fw@s/f",
                "--progress=plain", "--log", "u.log"));
            if (!c[0].isEmpty()) {
                args.addAll(List.of(c[0].split(" ")));
            }
            assertEquals(c[0] + "\n" + err(), 0, run(args.toArray(new String[0])));
            Job j = backend.started.get(0);
            assertEquals(c[2], j.password());
            assertEquals(c[3], j.url());
            assertNoSecret(out(), err());
        }
    }

    @Test
    public void passwordProblemsEndWithStatusThree() {
        String[][] cases = {
            {"--password-file=missing", "", "the switch password file"},
            {"--password-stdin", "", "standard input ended"},
            {"--password-env=NOPE", "", "variable NOPE is not set"},
            {"--password-file=pw --url-password-stdin", "a@b\n", "cannot carry"},
        };
        for (String[] c : cases) {
            tool.err.reset();
            tool.stdin = c[1];
            List<String> args = new ArrayList<>(List.of("update", "brocade", "10.0.0.1", "admin", "ftp://fw@s/f"));
            args.addAll(List.of(c[0].split(" ")));
            assertEquals(c[0], ExitStatus.SETUP, run(args.toArray(new String[0])));
            assertTrue(err(), err().contains(c[2]));
        }
        assertTrue(backend.started.isEmpty());
    }

    @Test
    public void endsWithOneOutcomeLineAndTheExitStatusOfItsClass() throws Exception {
        // result code, exit status, outcome line (a part of it)
        Object[][] cases = {
            {0, 0, "modburn: Brocade switch 10.0.0.1 updated from ftp://fw:***********@s/f, rebooted"},
            {-13, 12, "modburn: Brocade switch 10.0.0.1 failed: IO_TIMEOUT (-13): text of IO_TIMEOUT; switch text: "
                + "\"login: admin\\r\\nPassword: \""},
            {-19, 13, "failed: IO_BAD_SWITCH_LOGIN (-19)"},
            {-11, 11, "failed: IO_CONN_ERR (-11)"},
            {-15, 14, "failed: IO_FILE_NOT_FOUND (-15)"},
            {-99, 16, "failed: NOT_SERVED (-99)"},
            {-4, 10, "failed: IO_INV_IP (-4)"},
        };
        for (Object[] c : cases) {
            tool.out.reset();
            backend.codes.put("10.0.0.1", (Integer) c[0]);
            backend.switchTexts.put("10.0.0.1", "login: admin\r\nPassword: ");
            backend.leakPassword = true;
            int rc = run("update", "6", "10.0.0.1", "admin", "ftp://fw@s/f", "--reboot", "--password-file=pw",
                "--url-password-file=ftppw", "--log=one.log", "--progress=plain");
            assertEquals(c[0] + ": " + err(), c[1], rc);
            String[] lines = out().split("\n");
            assertEquals(out(), 1, lines.length);
            assertTrue(lines[0], lines[0].contains((String) c[2]));
        }
        String log = Files.readString(dir.resolve("one.log"));
        assertTrue(log, log.contains("brocadeflash:update:10.0.0.1: fileurl=ftp://fw:***********@s/f"));
        assertTrue(log, log.contains("++++ Switch/MODBURN log AppLogger started"));
        assertNoSecret(out(), err(), log);
    }

    @Test
    public void showsProgressOnStandardErrorInPlaceOrAsLines() {
        backend.pauseMillis = 600;
        tool.stdin = "hunter2\n";
        assertEquals(0, run("update", "brocade", "10.0.0.1", "admin", "ftp://fw@s/f", "--password-stdin",
            "--progress=plain"));
        String plain = err();
        assertTrue(plain, plain.indexOf("modburn: stage connect\n") >= 0
            && plain.indexOf("modburn: stage connect\n") < plain.indexOf("modburn: stage update\n"));
        assertTrue(plain, plain.contains("brocadeflash:update:10.0.0.1: fileurl=ftp://fw@s/f\n"));
        assertFalse(plain, plain.contains("\033["));

        tool.err.reset();
        tool.stdin = "hunter2\n";
        assertEquals(0, run("update", "brocade", "10.0.0.1", "admin", "ftp://fw@s/f", "--password-stdin",
            "--progress=live"));
        String live = err();
        assertTrue(live, live.contains("\r\033[2K[update 0:00] switch:admin>"));
        // The status line is rewritten below each log line that scrolls by.
        assertTrue(live, live.contains("brocadeflash:update:10.0.0.1: fileurl=ftp://fw@s/f\n[connect 0:00] switch:admin>"));
        assertNoSecret(plain, live, out());

        // The percentage the console shows stands by its stage.
        tool.err.reset();
        tool.stdin = "hunter2\n";
        backend.percents.put("10.0.0.1", 40L);
        assertEquals(0, run("update", "brocade", "10.0.0.1", "admin", "ftp://fw@s/f", "--password-stdin",
            "--progress=live"));
        assertTrue(err(), Pattern.compile("\r\033\\[2K\\[update 40% 0:0\\d\\] Downloading 40%")
            .matcher(err()).find());
        backend.percents.clear();

        // Stages shorter than the refresh are still shown, each once.
        tool.err.reset();
        backend.pauseMillis = 0;
        tool.stdin = "hunter2\n";
        assertEquals(0, run("update", "brocade", "10.0.0.1", "admin", "ftp://fw@s/f", "--password-stdin",
            "--progress=plain"));
        assertTrue(err(), err().contains("modburn: stage connect\n"));
        assertTrue(err(), err().contains("modburn: stage update\n"));
        assertEquals(err(), err().indexOf("stage update"), err().lastIndexOf("stage update"));
    }

    @Test
    public void listsTheFamilies() {
        assertEquals(0, run("families"));
        String[] lines = out().split("\n");
        assertEquals(12, lines.length);
        assertTrue(lines[0], lines[0].matches("code\\s+family\\s+module\\s+schemes\\s+reboot\\s+modifier\\s+address\\s+served"));
        assertTrue(lines[6], lines[6].matches("6\\s+Brocade\\s+brocadeflash\\s+ftp\\s+yes\\s+-\\s+name or IP\\s+yes"));
        assertTrue(lines[1], lines[1].matches("1\\s+Cisco IOS\\s+ciscoflash\\s+ftp,tftp,rcp\\s+yes.*yes"));
        assertTrue(lines[2], lines[2].matches("2\\s+Veltra\\s+veltraflash\\s+tftp\\s+no\\s+-\\s+IP only\\s+not yet"));
        assertTrue(lines[11], lines[11].matches("11\\s+SAS\\s+sasflash\\s+tftp\\s+no\\s+1 main, 2 SM1, 3 SM2.*"));
        tool.out.reset();
        backend.openFails = true;
        assertEquals(0, run("families"));
        assertTrue(out(), out().contains("served: ? (no library here)"));
    }

    private Path inventory(String name, String text) throws Exception {
        Path p = dir.resolve(name);
        Files.writeString(p, text);
        return p;
    }

    @Test
    public void fleetRunsEverySwitchAndSummarises() throws Exception {
        inventory("inv.csv", "family,address,user,password,url,url_password,reboot,name\n"
            + "brocade,127.0.1.1,admin,file:pw,ftp://fw@s/f,file:ftppw,yes,core-1\n"
            + "cisco,127.0.1.2,admin,env:SW_PW,tftp://s/f,,no,\n"
            + "brocade,127.0.1.3,admin,file:pw,ftp://fw@s/f,,no,\n");
        backend.codes.put("127.0.1.3", -17);
        backend.leakPassword = true;
        int rc = run("fleet", "inv.csv", "--parallel=2", "--log-dir=logs", "--progress=plain");
        assertEquals(err(), ExitStatus.SOME_FAILED, rc);
        String o = out();
        assertTrue(o, o.startsWith("modburn: 3 switches, 2 at a time; logs in " + dir.resolve("logs")));
        assertTrue(o, o.contains("core-1 (Brocade): succeeded in"));
        assertTrue(o, o.contains("127.0.1.3 (Brocade): failed in 0:00: IO_BAD_FILE: text of IO_BAD_FILE"));
        assertTrue(o, o.endsWith("2 succeeded, 1 failed, 0 not started\n"));
        assertEquals(1, tool.interrupts.size());
        List<String> logs = new ArrayList<>();
        for (String f : new String[] {"core-1.log", "127.0.1.2.log", "127.0.1.3.log", "fleet.log"}) {
            logs.add(Files.readString(dir.resolve("logs").resolve(f)));
        }
        assertTrue(logs.get(0), logs.get(0).contains("brocadeflash:update:127.0.1.1: fileurl=ftp://fw:***********@s/f"));
        assertTrue(logs.get(1), logs.get(1).contains("ciscoflash: connecting to Cisco IOS switch ip=127.0.1.2"));
        assertTrue(logs.get(3), logs.get(3).contains("AppLogger started"));
        assertNoSecret(o, err(), String.join("", logs));

        tool.out.reset();
        backend.codes.clear();
        assertEquals(0, run("fleet", "inv.csv", "--log-dir=logs2", "--progress=plain"));
    }

    @Test
    public void fleetStopsStartingOnCtrlC() throws Exception {
        StringBuilder inv = new StringBuilder("family,address,user,password,url\n");
        for (int i = 1; i <= 6; i++) {
            inv.append("brocade,127.0.1.").append(i).append(",admin,file:pw,ftp://fw@s/f\n");
        }
        inventory("inv.csv", inv.toString());
        backend.pauseMillis = 100;
        backend.onStart = n -> {
            if (n == 2) {
                tool.interrupts.get(0).run();
            }
        };
        assertEquals(ExitStatus.INTERRUPTED, run("fleet", "inv.csv", "--parallel=2", "--log-dir=logs", "--progress=plain"));
        assertEquals(2, backend.started.size());
        assertTrue(out(), out().contains("stopping: no more updates will start; waiting for the 2 running"));
        assertTrue(out(), out().endsWith("2 succeeded, 0 failed, 4 not started\n"));
    }

    @Test
    public void aDefectiveInventoryStartsNothing() throws Exception {
        // inventory, expected message (a part of it)
        String[][] cases = {
            {"family,address,user,password,url\nbrocade,h,admin,hunter2,ftp://u@s/f\n",
                "inv.csv: line 2: password: expected a password reference"},
            {"family,address,user,password,url\nbrocade,h,admin,file:nofile,ftp://u@s/f\n",
                "inv.csv: line 2: the switch password file"},
            {"family,address,user,password,url\nbrocade,h,admin,prompt,ftp://u@s/f\n",
                "inv.csv: line 2: standard input ended before the switch password"},
            {"family,address,user\n", "line 1: the header lacks the column password"},
        };
        for (String[] c : cases) {
            tool.err.reset();
            inventory("inv.csv", c[0]);
            assertEquals(c[0], ExitStatus.SETUP, run("fleet", "inv.csv", "--log-dir=logs"));
            assertTrue(err(), err().contains(c[1]));
            assertTrue(err(), err().endsWith("modburn: nothing started\n"));
            assertNoSecret(err(), out());
        }
        assertEquals(ExitStatus.SETUP, run("fleet", "absent.csv"));
        assertTrue(backend.started.isEmpty());
        assertFalse(Files.exists(dir.resolve("logs")));
    }

    @Test
    public void aLibraryThatWillNotLoadIsASetupFailure() throws Exception {
        backend.openFails = true;
        tool.stdin = "pw\n";
        assertEquals(ExitStatus.SETUP, run("update", "brocade", "h", "admin", "ftp://u@s/f", "--password-stdin"));
        assertTrue(err(), err().contains("no library here"));
    }
}
