package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.inventory.JsonTree;
import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/**
 * Rollouts that know the chassis, with the scripted library: at most --per-chassis modules of a
 * redundancy set at once, one module of every set first, a failed module holding the rest of its
 * set, at most --per-server updates per firmware server, and what the tool refuses.
 */
public class ChassisTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    /**
     * A row: a fleet of chassis of modules each (groups: modules of a chassis split into that many
     * groups; 0: no chassis column), the firmware servers the modules use in turn, the switches that
     * fail, the options, and what must come of it: the exit status, the outcome of each switch in
     * inventory order (o ok, x failed, h held, - not started), and the most modules of one set and
     * updates of one server seen at once.
     */
    record Row(String what, int chassis, int modules, int groups, int servers, Set<String> failing, String options,
               int status, String outcome, int mostPerSet, int mostPerServer) {
    }

    private static final Row[] ROWS = {
        new Row("one side of every chassis, then the other", 6, 2, 1, 12, Set.of(), "--parallel=12",
            ExitStatus.OK, "oooooooooooo", 1, 1),
        new Row("groups inside a chassis are sets of their own", 2, 4, 2, 8, Set.of(), "--parallel=8",
            ExitStatus.OK, "oooooooo", 1, 1),
        new Row("--per-chassis 2 in sets of three", 2, 3, 1, 6, Set.of(), "--parallel=6 --per-chassis=2",
            ExitStatus.OK, "oooooo", 2, 1),
        new Row("a failed module holds its partner", 3, 2, 1, 6, Set.of("c2a"), "--parallel=6",
            ExitStatus.SOME_FAILED, "ooxhoo", 1, 1),
        new Row("a failed module holds the rest of its set, not other sets", 2, 3, 1, 6, Set.of("c1a"),
            "--parallel=2", ExitStatus.SOME_FAILED, "xhhooo", 1, 1),
        new Row("--parallel bounds it all", 4, 2, 1, 8, Set.of(), "--parallel=2", ExitStatus.OK, "oooooooo", 1, 1),
        new Row("--per-server 2: the others wait their turn", 4, 2, 1, 2, Set.of(), "--parallel=8 --per-server=2",
            ExitStatus.OK, "oooooooo", 1, 2),
        new Row("waves and a canary keep the rule", 3, 2, 1, 6, Set.of(), "--parallel=6 --canary=1 --wave-size=2",
            ExitStatus.OK, "oooooo", 1, 1),
        new Row("a failed canary holds its partner, the rest not started", 3, 2, 1, 6, Set.of("c1a"),
            "--parallel=6 --canary=1", ExitStatus.CANARY, "xh----", 1, 1),
        new Row("no chassis column: --per-server alone", 6, 1, 0, 1, Set.of(), "--parallel=6 --per-server=3",
            ExitStatus.OK, "oooooo", 1, 3),
    };

    private static String name(int c, int m) {
        return "c" + c + (char) ('a' + m);
    }

    private static String ip(int c, int m) {
        return "127.0.7." + (c * 10 + m);
    }

    /** The inventory of a row, each module's firmware on server (module number mod servers). */
    private static String inventory(Row r) {
        StringBuilder b = new StringBuilder("family,address,user,password,url,name" + (r.groups() > 0
            ? ",chassis,group" : "") + "\n");
        int n = 0;
        for (int c = 1; c <= r.chassis(); c++) {
            for (int m = 0; m < r.modules(); m++, n++) {
                b.append("brocade,").append(ip(c, m)).append(",admin,file:pw,ftp://fw@10.9.").append(n % r.servers())
                    .append(".1/f.bin,").append(name(c, m));
                if (r.groups() > 0) {
                    b.append(",chassis ").append(c).append(',').append(r.groups() > 1 ? "g" + m % r.groups() : "");
                }
                b.append('\n');
            }
        }
        return b.toString();
    }

    @Test
    public void rollsOutOneSideOfEveryChassisAtATime() throws Exception {
        for (Row r : ROWS) {
            Path dir = tmp.newFolder().toPath();
            Files.writeString(dir.resolve("pw"), "sw-Secret1\n");
            Files.writeString(dir.resolve("inv.csv"), inventory(r));
            FakeBackend backend = new FakeBackend();
            backend.pauseMillis = 60;  // long enough that what may overlap does
            Map<String, String> setOf = new HashMap<>();
            Map<String, String> serverOf = new HashMap<>();
            List<String> order = new ArrayList<>();
            int n = 0;
            for (int c = 1; c <= r.chassis(); c++) {
                for (int m = 0; m < r.modules(); m++, n++) {
                    setOf.put(ip(c, m), r.groups() == 0 ? ip(c, m) : c + "/" + m % Math.max(1, r.groups()));
                    serverOf.put(ip(c, m), "10.9." + n % r.servers());
                    order.add(name(c, m));
                    if (r.failing().contains(name(c, m))) {
                        backend.codes.put(ip(c, m), -15);
                    }
                }
            }
            ToolRun tool = new ToolRun(dir, () -> backend);
            List<String> args = new ArrayList<>(List.of("fleet", "inv.csv", "--log-dir=logs", "--progress=plain",
                "--report=report.json"));
            args.addAll(List.of(r.options().split(" ")));
            int rc = tool.run(args.toArray(new String[0]));
            String what = r.what() + ":\n" + tool.out() + tool.err();
            assertEquals(what, r.status(), rc);

            // Outcomes, from the report; a held module names the partner that failed.
            JsonTree.JsonObject report = (JsonTree.JsonObject) JsonTree.parse(Files.readString(dir.resolve("report.json")));
            Map<String, JsonTree.JsonObject> byName = new LinkedHashMap<>();
            for (Object o : (List<?>) report.get("switches")) {
                JsonTree.JsonObject s = (JsonTree.JsonObject) o;
                byName.put((String) s.get("name"), s);
            }
            StringBuilder outcome = new StringBuilder();
            for (String sw : order) {
                JsonTree.JsonObject s = byName.get(sw);
                String result = (String) s.get("result");
                outcome.append(switch (result) {
                    case "ok" -> 'o';
                    case "held" -> 'h';
                    case "not started" -> '-';
                    default -> 'x';
                });
                if (result.equals("held")) {
                    String partner = r.failing().stream().filter(f -> f.charAt(1) == sw.charAt(1)).findFirst()
                        .orElse("?");
                    assertEquals(what, "its partner " + partner + " failed (IO_FILE_NOT_FOUND)", s.get("hold_reason"));
                    assertTrue(what, tool.out().lines().anyMatch(l -> l.startsWith(sw + " ") && l.contains(" held ")));
                } else {
                    assertNull(what, s.get("hold_reason"));
                }
                assertEquals(what, r.groups() == 0 ? null : "chassis " + sw.charAt(1), s.get("chassis"));
            }
            assertEquals(what, r.outcome(), outcome.toString());
            if (r.groups() > 0) {
                assertTrue(what, tool.out().lines().anyMatch(l -> l.matches("switch\\s+family\\s+chassis\\s+result.*")));
            }

            // From the order the updates started and ended: the most of a set and of a server at once.
            Map<String, Integer> inSet = new HashMap<>();
            Map<String, Integer> atServer = new HashMap<>();
            int mostPerSet = 0;
            int mostPerServer = 0;
            List<String> firstStarts = new ArrayList<>();
            for (String event : new ArrayList<>(backend.events)) {
                String address = event.substring(event.indexOf(' ') + 1);
                int by = event.startsWith("start ") ? 1 : -1;
                mostPerSet = Math.max(mostPerSet, inSet.merge(setOf.get(address), by, Integer::sum));
                mostPerServer = Math.max(mostPerServer, atServer.merge(serverOf.get(address), by, Integer::sum));
                if (by == 1) {
                    firstStarts.add(setOf.get(address));
                }
            }
            assertEquals(what + backend.events, r.mostPerSet(), mostPerSet);
            assertEquals(what + backend.events, r.mostPerServer(), mostPerServer);
            // One module of every set starts before any second module of a set (unless a canary goes first
            // or a first module waits for its server). With more than one module of a set at once, the
            // updates handed out together start in any order: the start order proves nothing then.
            if (!r.options().contains("--canary") && !r.options().contains("--per-server") && r.groups() > 0
                    && r.mostPerSet() == 1) {
                int sets = new HashSet<>(setOf.values()).size();
                List<String> first = firstStarts.subList(0, Math.min(sets, firstStarts.size()));
                assertEquals(what + firstStarts, first.size(), new HashSet<>(first).size());
            }
        }
    }

    @Test
    public void refusesWhatCannotBeRolledOutSafelyBeforeAnythingStarts() throws Exception {
        String head = "family,address,user,password,url,name,chassis,group\n";
        String pair = "brocade,127.0.7.11,admin,file:pw,ftp://fw@10.9.0.1/f.bin,c1a,c1,\n"
            + "brocade,127.0.7.12,admin,file:pw,ftp://fw@10.9.0.1/f.bin,c1b,c1,\n";
        // inventory, options, exit status, a piece of what is said
        String[][] rows = {
            {head + pair + "brocade,127.0.7.13,admin,file:pw,ftp://fw@10.9.0.1/f.bin,x,,\n", "",
                "3", "line 4: chassis is missing"},
            {head + "brocade,127.0.7.13,admin,file:pw,ftp://fw@10.9.0.1/f.bin,x,,left\n", "",
                "3", "line 2: a group belongs to a chassis"},
            {head + pair, "--per-chassis=0", "2", "--per-chassis takes 1 or more"},
            {head + pair, "--per-chassis=3 --parallel=2", "2", "--per-chassis 3 is more than --parallel 2"},
            {"family,address,user,password,url\nbrocade,127.0.7.11,admin,file:pw,ftp://fw@10.9.0.1/f.bin\n",
                "--per-chassis=1", "2", "--per-chassis is for an inventory with a chassis column"},
            {head + pair, "--per-server=0", "2", "--per-server takes 1 or more"},
        };
        for (String[] r : rows) {
            Path dir = tmp.newFolder().toPath();
            Files.writeString(dir.resolve("pw"), "sw-Secret1\n");
            Files.writeString(dir.resolve("inv.csv"), r[0]);
            FakeBackend backend = new FakeBackend();
            ToolRun tool = new ToolRun(dir, () -> backend);
            List<String> args = new ArrayList<>(List.of("fleet", "inv.csv", "--log-dir=logs"));
            if (!r[1].isEmpty()) {
                args.addAll(List.of(r[1].split(" ")));
            }
            int rc = tool.run(args.toArray(new String[0]));
            String what = String.join(" ", args) + ":\n" + tool.out() + tool.err();
            assertEquals(what, Integer.parseInt(r[2]), rc);
            assertTrue(what, tool.err().contains(r[3]));
            assertTrue(what, backend.started.isEmpty());
            assertTrue(what, !Files.exists(dir.resolve("logs")));
        }
        // Sets whose every module may update at once are said before the start; the live table
        // shows each module's chassis.
        Path dir = tmp.newFolder().toPath();
        Files.writeString(dir.resolve("pw"), "sw-Secret1\n");
        Files.writeString(dir.resolve("inv.csv"), head + pair);
        ToolRun tool = new ToolRun(dir, FakeBackend::new);
        tool.terminal = true;
        assertEquals(ExitStatus.OK, tool.run("fleet", "inv.csv", "--log-dir=logs", "--per-chassis=2", "--progress=live"));
        assertTrue(tool.err(), tool.err().contains("warning: --per-chassis 2 lets every module of 1 redundancy set (c1)"
            + " update at once"));
        assertTrue(tool.out(), tool.out().contains("\033[2Kswitch  family   chassis  stage"));
        assertTrue(tool.out(), tool.out().lines().anyMatch(l -> l.matches(".*c1b\\s+Brocade\\s+c1\\s+.*")));
    }
}
