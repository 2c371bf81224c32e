package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.FileServers;
import com.corvane.qel.deployer.modburn.tool.testing.RawServers;
import com.corvane.qel.deployer.modburn.tool.testing.Shown;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/**
 * Everything the tool prints or writes (output, error output, per-switch logs, fleet.log, the
 * report, the live table, --log) holds no piece of five characters of a secret and no control
 * character from outside but the line end, however the library's, the console's or a server's
 * text brings them; "Login incorrect" still reads as such.
 */
public class ShownTextTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static final String SWITCH_PW = "sw-Secret1";
    private static final String FTP_PW = "ftp-Secret2";
    // Control bytes as consoles send them: colours, a bell, a C1 CSI and NEL, a NUL, a bare CR.
    private static final String NOISE = "\u001b[1;31mLogin incorrect\u001b[0m\u0007\u009b\u0085\u0000\r";

    private final FakeBackend backend = new FakeBackend();
    private Path dir;

    @Before
    public void setUp() throws Exception {
        dir = tmp.newFolder("work").toPath();
        Files.writeString(dir.resolve("pw"), SWITCH_PW + "\n");
        Files.writeString(dir.resolve("ftppw"), FTP_PW + "\n");
        backend.pauseMillis = 30;
    }

    /** The library's log of a switch: the secrets in pieces, among console bytes. */
    private void noisy(String ip, boolean fails) {
        backend.logLines.put(ip, "console: " + NOISE + " typed " + SWITCH_PW.substring(0, 6) + "\u0000"
            + SWITCH_PW.substring(6) + " for fw:" + FTP_PW.substring(0, 7) + "\r\n" + FTP_PW.substring(7) + "\n");
        if (fails) {
            backend.codes.put(ip, -19);
            backend.switchTexts.put(ip, "login: admin\r\n" + NOISE + " (" + SWITCH_PW.substring(0, 5) + "|"
                + SWITCH_PW.substring(5) + ", " + FTP_PW + ")\r\nsw:admin> ");
        }
    }

    private void inventory(int n) throws Exception {
        StringBuilder b = new StringBuilder("family,address,user,password,url,url_password,name\n");
        for (int i = 1; i <= n; i++) {
            b.append("brocade,127.0.2.").append(i).append(",admin,file:pw,ftp://fw@10.9.9.9/fos/v9.bin,file:ftppw,sw")
                .append(i).append('\n');
            noisy("127.0.2." + i, i == 2);
        }
        Files.writeString(dir.resolve("inv.csv"), b);
    }

    /** Every text: no piece of a secret, no control character (the live table's own cursor moves aside). */
    private static void assertClean(String what, String text) {
        Shown.assertNoPiece(what, text, SWITCH_PW, FTP_PW);
        Shown.assertNoControl(what, Shown.withoutCursorControl(text));
    }

    private List<String> filesUnder(Path folder) throws Exception {
        List<String> texts = new ArrayList<>();
        try (Stream<Path> files = Files.walk(folder)) {
            for (Path p : files.filter(Files::isRegularFile).toList()) {
                texts.add(Files.readString(p, StandardCharsets.UTF_8));
            }
        }
        return texts;
    }

    @Test
    public void fleetOutputLogsAndReportAreClean() throws Exception {
        inventory(3);
        // mode, what the tool is told
        String[][] runs = {
            {"plain", "--progress=plain"},
            {"live", "--progress=live"},
        };
        for (String[] r : runs) {
            ToolRun tool = new ToolRun(dir, () -> backend);
            tool.terminal = r[0].equals("live");
            // Long enough for the live table to show each switch's console line while it runs.
            backend.pauseMillis = tool.terminal ? 300 : 30;
            int rc = tool.run("fleet", "inv.csv", "--log-dir=logs-" + r[0], r[1], "--report=report-" + r[0] + ".json");
            assertEquals(r[0] + ": " + tool.out() + tool.err(), ExitStatus.SOME_FAILED, rc);
            assertTrue(r[0] + ": " + Shown.printable(tool.out()), tool.out().contains("Login incorrect"));
            assertClean(r[0] + " output", tool.out());
            assertClean(r[0] + " error output", tool.err());
            List<String> logs = filesUnder(dir.resolve("logs-" + r[0]));
            assertEquals(4, logs.size());
            for (String log : logs) {
                assertClean(r[0] + " log", log);
            }
            String report = Files.readString(dir.resolve("report-" + r[0] + ".json"));
            assertTrue(report, report.contains("Login incorrect"));
            assertClean(r[0] + " report", report);
        }
    }

    @Test
    public void updateOutputAndLogAreClean() throws Exception {
        noisy("127.0.2.9", true);
        // the log's place, where it shows
        String[][] runs = {{"--log=update.log", "update.log"}, {"--progress=plain", ""}};
        for (String[] r : runs) {
            ToolRun tool = new ToolRun(dir, () -> backend);
            int rc = tool.run("update", "brocade", "127.0.2.9", "admin", "ftp://fw@10.9.9.9/fos/v9.bin",
                "--password-file=pw", "--url-password-file=ftppw", r[0]);
            assertEquals(tool.out() + tool.err(), ExitStatus.SWITCH_LOGIN, rc);
            assertTrue(Shown.printable(tool.out()), tool.out().contains("Login incorrect"));
            assertClean("update output", tool.out());
            assertClean("update error output", tool.err());
            if (!r[1].isEmpty()) {
                assertClean("update log", Files.readString(dir.resolve(r[1])));
            }
        }
    }

    @Test
    public void checkShowsWhatFileServersSayEscaped() throws Exception {
        String down = "127.0.0.1:" + FileServers.freeTcpPort();
        try (RawServers servers = new RawServers("220 \u001b]0;owned\u0007Welcome\u0085",
                "530 \u001b[31mLogin incorrect.\u001b[0m\u009b\u0007", "File \u001b[7mnot found\u001b[0m\u0007\u008d")) {
            // family, URL, a piece of what it must show
            String[][] rows = {
                {"brocade", "ftp://fw@127.0.0.1:" + servers.ftpPort() + "/fos/v9.bin", "Login incorrect."},
                {"cisco", "tftp://127.0.0.1:" + servers.tftpPort() + "/ios/x.tar", "not found"},
            };
            for (String[] r : rows) {
                ToolRun tool = new ToolRun(dir, () -> backend);
                List<String> args = new ArrayList<>(List.of("check", r[0], down, "admin", r[1], "--password-file=pw",
                    "--timeout=2"));
                if (r[1].startsWith("ftp:")) {
                    args.add("--url-password-file=ftppw");
                }
                assertEquals(ExitStatus.SOME_FAILED, tool.run(args.toArray(new String[0])));
                assertTrue(Shown.printable(tool.out()), tool.out().contains(r[2]));
                assertClean("check " + r[0], tool.out() + tool.err());
            }
        }
        assertTrue(backend.started.isEmpty());
    }
}
