package com.corvane.qel.deployer.modburn.tool.fleet;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.bridge.LibraryBackend;
import com.corvane.qel.deployer.modburn.tool.cli.ExitStatus;
import com.corvane.qel.deployer.modburn.tool.inventory.JsonTree;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.math.BigDecimal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/**
 * A fleet with --verify through the library, on simulated Brocade switches that go away for a
 * second when they reboot: one takes its new image (verified), one comes back with the old one
 * (UNCHANGED), one runs the expected version already (current, left alone); the summary and the
 * report say so, with the versions before and after of each.
 */
public class VerifiedFleetTest {
    static final String SWITCH_PW = "Sw1tch-Secret";
    static final String FTP_PW = "Ftp-Secret9";

    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    @Rule
    public SimulatorConsoles sim = new SimulatorConsoles();

    @Test
    public void theSummaryAndTheReportShowVerifiedUnchangedAndCurrentSwitches() throws Exception {
        Path dir = tmp.getRoot().toPath();
        String[][] switches = {
            // address, scenario, name, expected version
            {"127.0.92.1", "brocade/success-reboot.scn", "new-image", "v9.9.10"},
            {"127.0.92.2", "brocade/image-not-taken.scn", "old-image", "v9.9.10"},
            {"127.0.92.3", "brocade/success-reboot.scn", "current", "v9.9.9-sim"},
        };
        Map<String, String> consoles = new LinkedHashMap<>();
        StringBuilder inv = new StringBuilder("family,address,user,password,url,url_password,reboot,name,expect_version\n");
        for (String[] s : switches) {
            consoles.put(s[0], s[1]);
            inv.append("brocade,").append(s[0]).append(",admin,file:sw.pw,ftp://fw@127.0.0.1/fos/v9.9.10.bin,file:ftp.pw,yes,")
                .append(s[2]).append(',').append(s[3]).append('\n');
        }
        Files.writeString(dir.resolve("fleet.csv"), inv);
        Files.writeString(dir.resolve("sw.pw"), SWITCH_PW + "\n");
        Files.writeString(dir.resolve("ftp.pw"), FTP_PW + "\n");
        Path transcripts = Files.createDirectory(dir.resolve("transcripts"));
        sim.start(dir, consoles, List.of("--option", "reboot-down-ms 1000", "--transcript-dir", transcripts.toString()));

        ToolRun tool = new ToolRun(dir, LibraryBackend::new);
        int rc = tool.run("fleet", "fleet.csv", "--verify", "--skip-current", "--log-dir=logs", "--progress=plain",
            "--report=report.json", "--wait-back=30s", "--wait-back-poll-ms=100");
        String out = tool.out();
        assertEquals(out + tool.err(), ExitStatus.SOME_FAILED, rc);
        String[][] summary = {
            {"new-image ", "verified (back after 0:0"},
            {"old-image ", "UNCHANGED", "updated, but the versions did not change"},
            {"current ", "current", "already holds v9.9.9-sim"},
        };
        for (String[] row : summary) {
            String line = out.lines().filter(l -> l.startsWith(row[0]) && l.contains("/logs/")).findFirst().orElse("");
            for (int i = 1; i < row.length; i++) {
                assertTrue(row[0] + ": " + line + "\n" + out, line.contains(row[i]));
            }
        }
        assertTrue(out, out.contains("2 succeeded, 1 failed, 0 not started; 1 verified, 1 current, 1 unchanged"));
        String v9 = "Active FW Version: Fabric OS:  v9.9.9-sim; Active Boot Version: BootProm:   9.9.9-sim; Flash Partition"
            + " Version: Primary partition:   v9.9.9-sim; Flash Partition Version: Secondary partition: v9.9.8-sim";
        String v10 = v9.replace("v9.9.9-sim; Active Boot", "v9.9.10; Active Boot")
            .replace("partition:   v9.9.9-sim", "partition:   v9.9.10");
        assertTrue(out, out.contains("new-image (verified)\n  before: " + v9 + "\n  after:  " + v10 + "\n"));
        assertTrue(out, out.contains("old-image (unchanged)\n  before: " + v9 + "\n  after:  " + v9 + "\n"));
        assertTrue(out, out.contains("current (current)\n  before: " + v9 + "\n  after:  " + v9 + "\n"));

        String report = Files.readString(dir.resolve("report.json"));
        JsonTree.JsonObject doc = (JsonTree.JsonObject) JsonTree.parse(report);
        JsonTree.JsonObject counts = (JsonTree.JsonObject) doc.get("counts");
        for (Map.Entry<String, Integer> c : Map.of("verified", 1, "unchanged", 1, "current", 1).entrySet()) {
            assertEquals(c.getKey(), c.getValue().intValue(), ((BigDecimal) counts.get(c.getKey())).intValue());
        }
        String[][] records = {{"new-image", "ok", "verified", v10}, {"old-image", "UNCHANGED", "unchanged", v9},
            {"current", "ok", "current", v9}};
        List<?> listed = (List<?>) doc.get("switches");
        for (int i = 0; i < records.length; i++) {
            JsonTree.JsonObject s = (JsonTree.JsonObject) listed.get(i);
            assertEquals(records[i][0], s.get("name"));
            assertEquals(records[i][0], records[i][1], s.get("result"));
            assertEquals(records[i][0], records[i][2], s.get("verification"));
            assertEquals(records[i][0], List.of(v9.split("; ")), s.get("versions_before"));
            assertEquals(records[i][0], List.of(records[i][3].split("; ")), s.get("versions_after"));
        }
        for (String text : new String[] {out, tool.err(), report, Files.readString(dir.resolve("logs/new-image.log"))}) {
            assertFalse(text, text.contains(SWITCH_PW) || text.contains(FTP_PW));
        }
        // The current switch saw its login and its listing, nothing else.
        List<String> typed = Files.readAllLines(transcripts.resolve("127.0.92.3_23.transcript")).stream()
            .filter(l -> l.startsWith("< ")).toList();
        assertEquals(List.of("< admin\\r\\n", "< " + SWITCH_PW + "\\r\\n", "< version\\r", "< firmwareshow\\r"), typed);
    }
}
