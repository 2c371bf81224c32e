package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.inventory.JsonTree;
import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.math.BigDecimal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/**
 * Updates proven by the switch's versions, on the scripted library: each outcome of update
 * --verify (its exit status, what it prints, what it did on the switch), the refusals, and a
 * fleet whose summary and report carry every outcome.
 */
public class VerifyTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static final String PW = "sw-Secret1";
    private static final List<String> V1 = List.of("Active FW Version: v1", "Active Boot Version: b1");
    private static final List<String> V2 = List.of("Active FW Version: v2", "Active Boot Version: b1");

    /**
     * A row: the versions the switch lists before, those its update installs (null: none), the
     * results of its listings in turn, the update's code, the options; then the exit status, the
     * lines printed and what happened on the switch, in order (versions: a listing; update: the
     * update).
     */
    record Row(String what, List<String> before, List<String> installs, List<Integer> listings, int updateCode,
               List<String> options, int status, List<String> said, String done) {
    }

    static final Row[] ROWS = {
        new Row("verified, as expected", V1, V2, List.of(), 0, List.of("--verify", "--expect-version", "v2"), 0,
            List.of("modburn: Brocade switch 10.0.0.1 updated from ftp://fw@10.0.0.5/fw/v2.bin, verified",
                "  before: Active FW Version: v1; Active Boot Version: b1",
                "  after:  Active FW Version: v2; Active Boot Version: b1"), "versions update versions"),
        new Row("verified, any change", V1, V2, List.of(), 0, List.of("--verify"), 0,
            List.of("updated from ftp://fw@10.0.0.5/fw/v2.bin, verified"), "versions update versions"),
        new Row("unchanged", V1, null, List.of(), 0, List.of("--verify", "--expect-version", "v2"),
            ExitStatus.UNCHANGED,
            List.of("failed: UNCHANGED (-1002): updated, but the versions did not change",
                "  before: Active FW Version: v1; Active Boot Version: b1",
                "  after:  Active FW Version: v1; Active Boot Version: b1"), "versions update versions"),
        new Row("changed, not to the version expected", V1, V2, List.of(), 0,
            List.of("--verify", "--expect-version", "v3"), ExitStatus.WRONG_VERSION,
            List.of("failed: WRONG_VERSION (-1003): updated, but no version holds v3", "  after:  Active FW Version: v2"),
            "versions update versions"),
        new Row("not read back", V1, V2, List.of(0, -14), 0, List.of("--verify"), ExitStatus.NOT_VERIFIED,
            List.of("failed: NOT_VERIFIED (-1004): updated, but the versions could not be read back: IO_UPDATE_ERR:"
                + " text of IO_UPDATE_ERR (the listing failed)", "  after:  not read"), "versions update versions"),
        new Row("a console that answers late is tried again", V1, V2, List.of(0, -11, -12, -13, 0), 0,
            List.of("--verify", "--expect-version", "v2"), 0, List.of("verified"),
            "versions update versions versions versions versions"),
        new Row("a refused login after the update is not tried again", V1, V2, List.of(0, -19), 0,
            List.of("--verify"), ExitStatus.NOT_VERIFIED, List.of("IO_BAD_SWITCH_LOGIN"), "versions update versions"),
        new Row("current: nothing but the listing", V2, null, List.of(), 0,
            List.of("--verify", "--expect-version", "v2", "--skip-current"), 0,
            List.of("modburn: Brocade switch 10.0.0.1 is current (already holds v2); nothing was updated",
                "  before: Active FW Version: v2; Active Boot Version: b1"), "versions"),
        new Row("not current: updated", V1, V2, List.of(), 0,
            List.of("--verify", "--expect-version", "v2", "--skip-current"), 0, List.of("verified"),
            "versions update versions"),
        new Row("the listing before fails: not updated", V1, V2, List.of(-19), 0, List.of("--verify"),
            ExitStatus.SWITCH_LOGIN, List.of("failed: IO_BAD_SWITCH_LOGIN (-19)", "  before: not read; nothing was updated"), "versions"),
        new Row("the update fails: nothing read after it", V1, V2, List.of(), -15, List.of("--verify"),
            ExitStatus.IMAGE, List.of("failed: IO_FILE_NOT_FOUND (-15)", "  after:  not read"), "versions update"),
        new Row("no verification: no listing", V1, V2, List.of(), 0, List.of(), 0,
            List.of("updated from ftp://fw@10.0.0.5/fw/v2.bin"), "update"),
        new Row("passwords and control characters in a listing", List.of("Active FW Version: v1 " + PW + "\u001b[0m"),
            V2, List.of(), 0, List.of("--verify"), 0, List.of("  before: Active FW Version: v1 **********\\x1b[0m"),
            "versions update versions"),
    };

    @Test
    public void everyOutcomeOfAVerifiedUpdate() throws Exception {
        for (Row row : ROWS) {
            FakeBackend backend = new FakeBackend();
            backend.pauseMillis = 1;
            String ip = "10.0.0.1";
            backend.versions.put(ip, row.before());
            if (row.installs() != null) {
                backend.installs.put(ip, row.installs());
            }
            backend.listingCodes.put(ip, row.listings());
            backend.codes.put(ip, row.updateCode());
            ToolRun tool = tool(backend);
            List<String> args = new ArrayList<>(List.of("update", "brocade", ip, "admin", "ftp://fw@10.0.0.5/fw/v2.bin",
                "--password-file", "pw", "--progress", "plain", "--wait-back-poll-ms", "5", "--log", "u.log"));
            args.addAll(row.options());
            int rc = tool.run(args.toArray(String[]::new));
            String out = tool.out();
            assertEquals(row.what() + "\n" + out + tool.err(), row.status(), rc);
            for (String said : row.said()) {
                assertTrue(row.what() + ": " + said + "\n" + out, out.contains(said));
            }
            assertEquals(row.what(), row.done(), done(backend, ip));
            assertFalse(row.what(), out.contains(PW));
        }
    }

    /** What the switch saw, in order: "versions" for a listing, "update" for the update. */
    private static String done(FakeBackend backend, String ip) {
        List<String> done = new ArrayList<>();
        for (String e : backend.events) {
            if (e.equals("versions " + ip)) {
                done.add("versions");
            } else if (e.equals("start " + ip)) {
                done.add("update");
            }
        }
        return String.join(" ", done);
    }

    private ToolRun tool(FakeBackend backend) throws Exception {
        Files.writeString(tmp.getRoot().toPath().resolve("pw"), PW + "\n");
        return new ToolRun(tmp.getRoot().toPath(), () -> backend);
    }

    @Test
    public void optionsThatCannotProveAnythingAreRefused() throws Exception {
        String[][] rows = {
            {"--verify", "--expect-version", ""},
            {"--verify", "--expect-version", "   "},
            {"--verify", "--expect-version", "v2\u001b"},
            {"--expect-version", "v2"},
            {"--skip-current", "--expect-version", "v2"},
            {"--verify", "--skip-current"},
        };
        for (String[] options : rows) {
            FakeBackend backend = new FakeBackend();
            ToolRun tool = tool(backend);
            List<String> args = new ArrayList<>(List.of("update", "brocade", "10.0.0.1", "admin",
                "ftp://fw@10.0.0.5/fw/v2.bin", "--password-file", "pw"));
            args.addAll(List.of(options));
            assertEquals(String.join(" ", options) + ": " + tool.err(), ExitStatus.USAGE,
                tool.run(args.toArray(String[]::new)));
            assertTrue(backend.events.isEmpty());
        }
    }

    @Test
    public void aFleetCarriesEveryOutcomeInItsSummaryAndReport() throws Exception {
        FakeBackend backend = new FakeBackend();
        backend.pauseMillis = 1;
        // verified, unchanged, current, changed to another, and one whose row names no version
        String[][] switches = {
            {"10.0.1.1", "ok-sw", "v1", "v2", "v2"},
            {"10.0.1.2", "same-sw", "v1", "", "v2"},
            {"10.0.1.3", "cur-sw", "v2", "", "v2"},
            {"10.0.1.4", "wrong-sw", "v1", "v3", "v2"},
            {"10.0.1.5", "any-sw", "v1", "v9", ""},
        };
        StringBuilder csv = new StringBuilder("family,address,user,password,url,name,expect_version\n");
        for (String[] s : switches) {
            backend.versions.put(s[0], List.of("Active FW Version: " + s[2]));
            if (!s[3].isEmpty()) {
                backend.installs.put(s[0], List.of("Active FW Version: " + s[3]));
            }
            csv.append("brocade,").append(s[0]).append(",admin,file:pw,ftp://fw@10.0.0.5/fw/v2.bin,").append(s[1])
                .append(',').append(s[4]).append('\n');
        }
        Files.writeString(tmp.getRoot().toPath().resolve("fleet.csv"), csv);
        ToolRun tool = tool(backend);
        // --expect-version serves the row that names none.
        int rc = tool.run("fleet", "fleet.csv", "--verify", "--skip-current", "--expect-version", "v9", "--log-dir",
            "logs", "--report", "report.json", "--progress", "plain", "--wait-back-poll-ms", "5");
        String out = tool.out();
        assertEquals(out + tool.err(), ExitStatus.SOME_FAILED, rc);
        String[][] summary = {
            {"ok-sw ", "verified"}, {"same-sw ", "UNCHANGED", "updated, but the versions did not change"},
            {"cur-sw ", "current", "already holds v2"}, {"wrong-sw ", "WRONG_VERSION", "no version holds v2"},
            {"any-sw ", "verified"},
        };
        for (String[] row : summary) {
            String line = out.lines().filter(l -> l.startsWith(row[0]) && l.contains("/logs/")).findFirst().orElse("");
            for (int i = 1; i < row.length; i++) {
                assertTrue(row[0] + ": " + line + "\n" + out, line.contains(row[i]));
            }
        }
        assertTrue(out, out.contains("3 succeeded, 2 failed, 0 not started; 2 verified, 1 current, 1 unchanged,"
            + " 1 wrong version"));
        assertTrue(out, out.contains("same-sw (unchanged)\n  before: Active FW Version: v1\n"
            + "  after:  Active FW Version: v1\n"));
        assertTrue(out, out.contains("cur-sw (current)\n  before: Active FW Version: v2\n"));
        assertEquals("a current switch is only listed", 0, backend.started.stream()
            .filter(j -> j.address().equals("10.0.1.3")).count());

        JsonTree.JsonObject report = (JsonTree.JsonObject) JsonTree.parse(
            Files.readString(tmp.getRoot().toPath().resolve("report.json")));
        JsonTree.JsonObject counts = (JsonTree.JsonObject) report.get("counts");
        for (Map.Entry<String, Integer> c : Map.of("verified", 2, "unchanged", 1, "current", 1, "wrong_version", 1,
                "not_verified", 0, "ok", 3, "failed", 2).entrySet()) {
            assertEquals(c.getKey(), c.getValue().intValue(), ((BigDecimal) counts.get(c.getKey())).intValue());
        }
        String[][] records = {
            {"ok-sw", "ok", "verified", "v2", "Active FW Version: v1", "Active FW Version: v2"},
            {"same-sw", "UNCHANGED", "unchanged", "v2", "Active FW Version: v1", "Active FW Version: v1"},
            {"cur-sw", "ok", "current", "v2", "Active FW Version: v2", "Active FW Version: v2"},
            {"wrong-sw", "WRONG_VERSION", "wrong_version", "v2", "Active FW Version: v1", "Active FW Version: v3"},
            {"any-sw", "ok", "verified", "v9", "Active FW Version: v1", "Active FW Version: v9"},
        };
        List<?> listed = (List<?>) report.get("switches");
        for (int i = 0; i < records.length; i++) {
            JsonTree.JsonObject s = (JsonTree.JsonObject) listed.get(i);
            String[] r = records[i];
            assertEquals(r[0], s.get("name"));
            assertEquals(r[0], r[1], s.get("result"));
            assertEquals(r[0], r[2], s.get("verification"));
            assertEquals(r[0], r[3], s.get("expect_version"));
            assertEquals(r[0], List.of(r[4]), s.get("versions_before"));
            assertEquals(r[0], List.of(r[5]), s.get("versions_after"));
        }
    }

    @Test
    public void skipCurrentNeedsAnExpectedVersionOnEveryRow() throws Exception {
        FakeBackend backend = new FakeBackend();
        Path dir = tmp.getRoot().toPath();
        Files.writeString(dir.resolve("fleet.csv"), "family,address,user,password,url,expect_version\n"
            + "brocade,10.0.2.1,admin,file:pw,ftp://fw@10.0.0.5/f.bin,v2\n"
            + "brocade,10.0.2.2,admin,file:pw,ftp://fw@10.0.0.5/f.bin,\n");
        ToolRun tool = tool(backend);
        assertEquals(ExitStatus.USAGE, tool.run("fleet", "fleet.csv", "--verify", "--skip-current", "--log-dir", "l"));
        assertTrue(tool.err(), tool.err().contains("line 3 of fleet.csv names none"));
        assertTrue(backend.events.isEmpty());
        assertFalse(Files.exists(dir.resolve("l")));
    }
}
