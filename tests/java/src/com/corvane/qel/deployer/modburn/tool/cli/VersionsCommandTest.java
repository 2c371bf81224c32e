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
import java.util.Arrays;
import java.util.List;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/** modburn versions on the scripted library: the table, the JSON list, the exit statuses, the refusals. */
public class VersionsCommandTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static final String PW = "sw-Secret1";
    private final FakeBackend backend = new FakeBackend();
    private ToolRun tool;

    @Before
    public void setUp() throws Exception {
        Path dir = tmp.getRoot().toPath();
        Files.writeString(dir.resolve("pw"), PW + "\n");
        Files.writeString(dir.resolve("fleet.csv"), "family,address,user,password,url,name,modifier\n"
            + "brocade,10.0.3.1,admin,file:pw,ftp://fw@10.0.0.5/f.bin,core-a,\n"
            + "sas,10.0.3.2,USERID,file:pw,tftp://10.0.0.5/f.bin,sas-b,2\n"
            + "cisco,10.0.3.3,admin,file:pw,tftp://10.0.0.5/f.bin,edge-c,\n");
        backend.versions.put("10.0.3.1", List.of("Active FW Version: Fabric OS:  v9.9.9", "Active Boot Version: b1"));
        backend.versions.put("10.0.3.2", List.of("Active DSS1 FW Version: Firmware Revision: 5.0.1"));
        backend.listingCodes.put("10.0.3.3", List.of(-19));
        tool = new ToolRun(dir, () -> backend);
    }

    @Test
    public void anInventoryAsATable() {
        assertEquals(tool.err(), ExitStatus.SOME_FAILED, tool.run("versions", "fleet.csv"));
        List<String> expected = List.of(
            "switch  family     versions",
            "core-a  Brocade    Active FW Version: Fabric OS:  v9.9.9",
            "                   Active Boot Version: b1",
            "sas-b   SAS        Active DSS1 FW Version: Firmware Revision: 5.0.1",
            "edge-c  Cisco IOS  FAILED IO_BAD_SWITCH_LOGIN: text of IO_BAD_SWITCH_LOGIN (the listing failed)",
            "2 listed, 1 failed");
        assertEquals(expected, tool.out().lines().toList());
        // Only the listings, each for the target of its row.
        assertTrue(backend.events.stream().allMatch(e -> e.startsWith("versions ")));
        assertEquals(List.of(0, 2, 0), backend.listed.stream().sorted((a, b) -> a.line() - b.line())
            .map(j -> j.modifier()).toList());
    }

    @Test
    public void anInventoryAsJson() throws Exception {
        assertEquals(ExitStatus.SOME_FAILED, tool.run("versions", "fleet.csv", "--json", "--parallel", "1"));
        JsonTree.JsonObject doc = (JsonTree.JsonObject) JsonTree.parse(tool.out());
        assertEquals("modburn versions", doc.get("tool"));
        List<?> switches = (List<?>) doc.get("switches");
        Object[][] rows = {
            {"core-a", "ok", 0, List.of("Active FW Version: Fabric OS:  v9.9.9", "Active Boot Version: b1")},
            {"sas-b", "ok", 0, List.of("Active DSS1 FW Version: Firmware Revision: 5.0.1")},
            {"edge-c", "IO_BAD_SWITCH_LOGIN", -19, null},
        };
        assertEquals(rows.length, switches.size());
        for (int i = 0; i < rows.length; i++) {
            JsonTree.JsonObject s = (JsonTree.JsonObject) switches.get(i);
            assertEquals(rows[i][0], s.get("name"));
            assertEquals(rows[i][1], s.get("result"));
            assertEquals(rows[i][2], ((BigDecimal) s.get("code")).intValue());
            assertEquals(rows[i][3], s.get("versions"));
        }
    }

    @Test
    public void oneSwitchAndItsExitStatus() {
        Object[][] rows = {
            // address, extra options, exit status, a line printed
            {"10.0.3.1", List.of(), ExitStatus.OK, "10.0.3.1  Brocade  Active FW Version: Fabric OS:  v9.9.9"},
            {"10.0.3.3", List.of(), ExitStatus.SWITCH_LOGIN, "FAILED IO_BAD_SWITCH_LOGIN"},
        };
        for (Object[] r : rows) {
            tool.reset();
            String ip = (String) r[0];
            String[] args = {"versions", "brocade", ip, "admin", "--password-file", "pw"};
            assertEquals(tool.err(), (int) (Integer) r[2], tool.run(args));
            assertTrue(tool.out(), tool.out().contains((String) r[3]));
            assertFalse(tool.out().contains(PW));
        }
    }

    @Test
    public void refusals() {
        String[][] rows = {
            {"versions", "brocade", "10.0.3.1", "admin", "--modifier", "2", "--password-file", "pw"},
            {"versions", "sas", "10.0.3.2", "USERID", "--modifier", "4", "--password-file", "pw"},
            {"versions", "brocade", "10.0.3.1", "admin", "--password", "x"},
            {"versions", "fleet.csv", "--password-file", "pw"},
            {"versions", "fleet.csv", "--parallel", "0"},
            {"versions", "nosuch", "10.0.3.1", "admin", "--password-file", "pw"},
            {"versions", "brocade", "10.0.3.1"},
        };
        for (String[] args : rows) {
            assertEquals(Arrays.toString(args) + tool.err(), ExitStatus.USAGE, tool.run(args));
        }
        assertTrue(backend.events.isEmpty());
    }
}
