package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.preflight.CheckReport;
import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.FileServers;
import com.corvane.qel.deployer.modburn.tool.testing.RebootingSwitch;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.ClassRule;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/** modburn check and fleet --check-first, with real file servers and console ports on loopback. */
public class CheckCommandTest {
    @ClassRule
    public static TemporaryFolder shared = new TemporaryFolder();
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static FileServers servers;
    private static RebootingSwitch console;
    private final List<RebootingSwitch> consoles = new java.util.ArrayList<>();

    private final FakeBackend backend = new FakeBackend();
    private ToolRun tool;
    private ByteArrayOutputStream out;
    private ByteArrayOutputStream err;
    private Path dir;

    @BeforeClass
    public static void startServers() throws Exception {
        servers = new FileServers(shared.newFolder("srv").toPath());
        console = new RebootingSwitch(-1, -1);
    }

    @AfterClass
    public static void stopServers() throws Exception {
        if (servers != null) {
            servers.close();
        }
        if (console != null) {
            console.close();
        }
    }

    @Before
    public void setUp() throws Exception {
        dir = tmp.newFolder("work").toPath();
        Files.writeString(dir.resolve("pw"), "sw-Secret1\n");
        Files.writeString(dir.resolve("ftppw"), FileServers.FTP_PASSWORD + "\n");
        Files.writeString(dir.resolve("wrongpw"), "wrong-Secret4\n");
        backend.pauseMillis = 1;
        tool = new ToolRun(dir, () -> backend);
        tool.env = Map.of("SW_PW", "env-Secret3");
        out = tool.out;
        err = tool.err;
    }

    @org.junit.After
    public void closeConsoles() throws Exception {
        for (RebootingSwitch c : consoles) {
            c.close();
        }
    }

    /** The address of a console port that answers, on a loopback address of its own. */
    private String up(int n) throws Exception {
        RebootingSwitch c = new RebootingSwitch("127.205.0." + n, -1, -1);
        consoles.add(c);
        return c.address();
    }

    private int run(String... args) {
        return tool.run(args);
    }

    private String out() {
        return out.toString(StandardCharsets.UTF_8);
    }

    private void assertNoSecret() {
        String all = out() + err.toString(StandardCharsets.UTF_8);
        for (String secret : new String[] {"sw-Secret1", FileServers.FTP_PASSWORD, "env-Secret3", "wrong-Secret4"}) {
            assertFalse("a password shows in:\n" + all, all.contains(secret));
        }
    }

    /** The summary row of a switch, split into its cells. */
    private List<String> row(String name) {
        String line = out().lines().filter(l -> l.startsWith(name + " ")).reduce((a, b) -> b).orElse("");
        return List.of(line.split("\\s{2,}"));
    }

    @Test
    public void everyStepOfEverySwitchGetsItsVerdict() throws Exception {
        String down = "127.0.0.1:" + FileServers.freeTcpPort();
        String ftpOk = servers.ftpUrl("fw/image.bin");
        backend.checkCodes.put("127.0.0.9:23", -7);
        backend.checkCodes.put("127.0.0.10:23", Codes.NOT_SERVED);
        // name, family, address, password, url, url_password, then the expected summary cells
        String[][] rows = {
            {"good", "brocade", up(1), "file:pw", ftpOk, "file:ftppw", "ok", "ok", "ok", "ok"},
            {"nofile", "brocade", up(2), "file:pw", servers.ftpUrl("fw/v8.bin"), "file:ftppw", "ok", "ok", "ok",
                "file missing"},
            {"badlogin", "brocade", up(3), "env:SW_PW", ftpOk, "file:wrongpw", "ok", "ok", "ok", "login refused"},
            {"unplugged", "cisco", down, "file:pw", servers.tftpUrl("fw/image.bin"), "", "ok", "ok", "no answer", "ok"},
            {"tftpmiss", "cisco", up(4), "file:pw", servers.tftpUrl("ios/none.bin"), "", "ok", "ok", "ok",
                "file missing"},
            {"libno", "brocade", "127.0.0.9:23", "file:pw", ftpOk, "file:ftppw", "IO_INV_URL_LOGIN",
                "ok", "no answer", "ok"},
            {"noserve", "nortel", "127.0.0.10:23", "file:pw", ftpOk, "file:ftppw", "not served", "ok",
                "no answer", "ok"},
            {"nopw", "brocade", up(5), "file:missing-pw", ftpOk, "file:ftppw", "ok", "unreadable", "ok", "ok"},
            {"nourlpw", "brocade", up(6), "file:pw", ftpOk, "env:NO_SUCH_VAR", "ok", "unreadable", "ok", "not checked"},
        };
        StringBuilder csv = new StringBuilder("name,family,address,user,password,url,url_password\n");
        for (String[] r : rows) {
            csv.append(String.join(",", r[0], r[1], r[2], "admin", r[3], r[4], r[5])).append('\n');
        }
        Files.writeString(dir.resolve("inv.csv"), csv);

        long start = System.nanoTime();
        int rc = run("check", "inv.csv", "--timeout", "1");
        long millis = (System.nanoTime() - start) / 1_000_000;
        assertEquals(out() + err, ExitStatus.SOME_FAILED, rc);
        for (String[] r : rows) {
            List<String> cells = row(r[0]);
            assertEquals(r[0] + ":\n" + out(), List.of(r[6], r[7], r[8], r[9]), cells.subList(2, cells.size()));
        }
        String text = out();
        assertTrue(text, text.contains("  firmware    FAILED (file missing): the FTP server 127.0.0.1:"
            + servers.ftpPort + " has no file fw/v8.bin: 550"));
        assertTrue(text, text.contains("  passwords   FAILED (unreadable): the switch password file "
            + dir.resolve("missing-pw") + " does not exist"));
        assertTrue(text, text.contains("  parameters  FAILED (IO_INV_URL_LOGIN): the library refuses the request: text"
            + " of IO_INV_URL_LOGIN"));
        assertTrue(text, text.contains("  parameters  FAILED (not served): the library has no module for Nortel yet"));
        assertTrue(text, text.contains(CheckReport.FROM_HERE));
        assertTrue(text, text.contains("1 ok, 8 with problems"));
        assertTrue("took " + millis + " ms", millis < 10_000);
        // The library's check saw the passwords that were read; nothing was updated.
        assertTrue(backend.checked.stream().anyMatch(j -> j.name().equals("good")
            && j.password().equals("sw-Secret1") && j.url().contains(":" + FileServers.FTP_PASSWORD + "@")));
        assertTrue(backend.started.isEmpty());
        assertNoSecret();
    }

    @Test
    public void singleSwitchFormAndItsRefusals() throws Exception {
        String ftpOk = servers.ftpUrl("fw/image.bin");
        // arguments, expected exit status, a piece of the output
        Object[][] rows = {
            {new String[] {"check", "brocade", console.address(), "admin", ftpOk, "--password-file", "pw",
                "--url-password-file", "ftppw"}, ExitStatus.OK, "1 ok, 0 with problems"},
            {new String[] {"check", "brocade", console.address(), "admin", servers.tftpUrl("fw/image.bin"),
                "--password-file", "pw"}, ExitStatus.SOME_FAILED,
                "parameters  FAILED (refused): Brocade takes ftp URLs, not tftp"},
            {new String[] {"check", "sas", console.address(), "admin", servers.tftpUrl("sas/fw.bin"),
                "--password-file", "pw", "--reboot", "--modifier", "2"}, ExitStatus.SOME_FAILED,
                "SAS has no reboot stage"},
            {new String[] {"check", "brocade", "h", "admin", "ftp://fw:hunter2@s/f"}, ExitStatus.USAGE, ""},
            {new String[] {"check", "brocade", "h", "admin"}, ExitStatus.USAGE, ""},
            {new String[] {"check", "inv.csv", "--password-file", "pw"}, ExitStatus.USAGE, ""},
            {new String[] {"check", "nothing.csv"}, ExitStatus.SOME_FAILED, "nothing checked"},
        };
        for (Object[] r : rows) {
            out.reset();
            err.reset();
            String[] args = (String[]) r[0];
            int rc = run(args);
            assertEquals(String.join(" ", args) + "\n" + out() + err, (int) (Integer) r[1], rc);
            assertTrue(String.join(" ", args) + "\n" + out(), out().contains((String) r[2]));
        }
        assertNoSecret();
        assertTrue(backend.started.isEmpty());
    }

    @Test
    public void checksEveryRowInOnePassAndWarnsOfWhatLooksWrong() throws Exception {
        String ftpOk = servers.ftpUrl("fw/image.bin");
        String good = up(30);
        // name, family, address, url, chassis; then the summary cells expected (null: the row is refused)
        String[][] rows = {
            {"a1", "brocade", good, ftpOk, "c1", "ok", "ok", "ok", "ok"},
            {"tftpbrocade", "brocade", up(31), servers.tftpUrl("fw/image.bin"), "c1", null},
            {"again", "brocade", good, ftpOk, "c2", "ok", "ok", "ok", "ok"},
            {"b2", "cisco", up(32), servers.tftpUrl("fw/image.bin"), "c2", "ok", "ok", "ok", "ok"},
            {"nofamily", "brokade", up(33), ftpOk, "c3", null},
            {"nochassis", "brocade", up(34), ftpOk, "", null},
        };
        StringBuilder csv = new StringBuilder("name,family,address,user,password,url,url_password,chassis\n");
        for (String[] r : rows) {
            csv.append(String.join(",", r[0], r[1], r[2], "admin", "file:pw", r[3],
                r[3].startsWith("ftp") ? "file:ftppw" : "", r[4])).append('\n');
        }
        Files.writeString(dir.resolve("inv.csv"), csv);
        int rc = run("check", "inv.csv", "--timeout", "2");
        String text = out();
        assertEquals(text + err, ExitStatus.SOME_FAILED, rc);
        String[] says = {
            "modburn: warning: " + dir.resolve("inv.csv") + ": line 4: the switch " + good + " is already listed on line 2",
            "modburn: warning: " + dir.resolve("inv.csv") + ": line 4: chassis c2 holds modules of different families"
                + " (Brocade, Cisco IOS)",
            "modburn: checking 6 switches",
            "tftpbrocade (line 3)\n  parameters  FAILED (refused): " + dir.resolve("inv.csv")
                + ": line 3: Brocade takes ftp URLs, not tftp",
            "nofamily (line 6)\n  parameters  FAILED (refused): " + dir.resolve("inv.csv") + ": line 6: unknown family",
            "nochassis (line 7)\n  parameters  FAILED (refused): " + dir.resolve("inv.csv") + ": line 7: chassis is"
                + " missing",
            "3 ok, 3 with problems",
        };
        for (String s : says) {
            assertTrue(s + "\n" + text, text.contains(s));
        }
        for (String[] r : rows) {
            List<String> cells = row(r[0]);
            List<String> expected = r[5] == null ? List.of("refused", "not checked", "not checked", "not checked")
                : List.of(r[5], r[6], r[7], r[8]);
            assertEquals(r[0] + ":\n" + text, expected, cells.subList(2, cells.size()));
        }
        assertTrue(backend.started.isEmpty());
        // The fleet refuses to start while any row is defective.
        assertEquals(ExitStatus.SETUP, run("fleet", "inv.csv", "--log-dir", "logs"));
        assertTrue(backend.started.isEmpty());
        assertNoSecret();
    }

    private void fleetCsv(String url) throws Exception {
        closeConsoles();
        consoles.clear();
        Files.writeString(dir.resolve("fleet.csv"), String.join("\n",
            "family,address,user,password,url,url_password,name",
            "brocade," + console.address() + ",admin,file:pw," + servers.ftpUrl("fw/image.bin") + ",file:ftppw,a",
            "brocade," + up(20) + ",admin,file:pw," + url + ",file:ftppw,b", ""));
    }

    @Test
    public void fleetCheckFirstStartsNothingWhenACheckFails() throws Exception {
        fleetCsv(servers.ftpUrl("fw/v8.bin"));
        int rc = run("fleet", "fleet.csv", "--check-first", "--check-timeout", "1", "--log-dir", "logs");
        assertEquals(out() + err, ExitStatus.SOME_FAILED, rc);
        assertTrue(err.toString(StandardCharsets.UTF_8).contains("the check found problems; nothing started"));
        assertEquals(List.of("ok", "ok", "ok", "file missing"), row("b").subList(2, 6));
        assertTrue(backend.started.isEmpty());
        assertFalse(Files.exists(dir.resolve("logs")));

        out.reset();
        fleetCsv(servers.ftpUrl("fw/image.bin"));
        rc = run("fleet", "fleet.csv", "--check-first", "--log-dir", "logs", "--progress", "plain");
        assertEquals(out() + err, ExitStatus.OK, rc);
        assertTrue(out(), out().contains("2 ok, 0 with problems"));
        assertTrue(out(), out().contains("2 succeeded, 0 failed, 0 not started"));
        assertEquals(2, backend.started.size());
        assertNoSecret();
    }
}
