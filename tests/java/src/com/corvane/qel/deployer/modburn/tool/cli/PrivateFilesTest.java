package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.Shown;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.List;
import java.util.stream.Stream;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/**
 * The files the tool writes are the operator's alone (files 0600, the log folder 0700), and none
 * is written through a link planted where it goes: the tool says which path and starts nothing.
 */
public class PrivateFilesTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static final String INVENTORY = "family,address,user,password,url,name\n"
        + "brocade,127.0.2.1,admin,file:pw,ftp://fw@10.9.9.9/f.bin,sw1\n"
        + "brocade,127.0.2.2,admin,file:pw,ftp://fw@10.9.9.9/f.bin,sw2\n";

    private static String mode(Path p) throws Exception {
        return PosixFilePermissions.toString(Files.getPosixFilePermissions(p, LinkOption.NOFOLLOW_LINKS));
    }

    private Path work() throws Exception {
        Path dir = tmp.newFolder().toPath();
        Files.writeString(dir.resolve("pw"), "sw-Secret1\n");
        Files.writeString(dir.resolve("inv.csv"), INVENTORY);
        return dir;
    }

    @Test
    public void logsAndReportsAreTheOperatorsAlone() throws Exception {
        Path dir = work();
        FakeBackend backend = new FakeBackend();
        ToolRun tool = new ToolRun(dir, () -> backend);
        assertEquals(tool.err(), 0, tool.run("fleet", "inv.csv", "--log-dir=logs/run1", "--progress=plain",
            "--report=report.json"));
        assertEquals(tool.err(), 0, tool.run("update", "brocade", "127.0.2.3", "admin", "ftp://fw@10.9.9.9/f.bin",
            "--password-file=pw", "--log=update.log"));
        assertEquals("rwx------", mode(dir.resolve("logs")));
        assertEquals("rwx------", mode(dir.resolve("logs/run1")));
        List<Path> written;
        try (Stream<Path> files = Files.list(dir.resolve("logs/run1"))) {
            written = new java.util.ArrayList<>(files.toList());
        }
        assertEquals(written.toString(), 3, written.size());
        written.add(dir.resolve("report.json"));
        written.add(dir.resolve("update.log"));
        for (Path p : written) {
            assertEquals(p.toString(), "rw-------", mode(p));
        }
    }

    /** A row: what is planted, where (relative to the work folder), and the command that would write there. */
    record Plant(String what, String link, boolean folder, String[] args) {
    }

    @Test
    public void neverWritesThroughAPlantedLink() throws Exception {
        String[] fleet = {"fleet", "inv.csv", "--log-dir=logs", "--progress=plain", "--report=report.json"};
        Plant[] rows = {
            new Plant("a switch's log", "logs/sw1.log", false, fleet),
            new Plant("the fleet log", "logs/fleet.log", false, fleet),
            new Plant("the report", "report.json", false, fleet),
            new Plant("the log folder", "logs", true, fleet),
            new Plant("update's --log", "update.log", false, new String[] {"update", "brocade", "127.0.2.3", "admin",
                "ftp://fw@10.9.9.9/f.bin", "--password-file=pw", "--log=update.log"}),
        };
        for (Plant r : rows) {
            Path dir = work();
            Path victim = dir.resolve(r.folder() ? "elsewhere" : "victim.txt");
            if (r.folder()) {
                Files.createDirectory(victim);
            } else {
                Files.writeString(victim, "keep me\n");
            }
            Path link = dir.resolve(r.link());
            Files.createDirectories(link.getParent());
            Files.createSymbolicLink(link, victim);
            FakeBackend backend = new FakeBackend();
            ToolRun tool = new ToolRun(dir, () -> backend);
            int rc = tool.run(r.args());
            String said = tool.out() + tool.err();
            assertEquals(r.what() + ":\n" + said, ExitStatus.SETUP, rc);
            assertTrue(r.what() + ":\n" + said, tool.err().contains(link.toString()));
            assertTrue(r.what() + ":\n" + said, backend.started.isEmpty());
            if (r.folder()) {
                try (Stream<Path> inside = Files.list(victim)) {
                    assertEquals(r.what(), List.of(), inside.toList());
                }
            } else {
                assertEquals(r.what(), "keep me\n", Files.readString(victim));
            }
            assertTrue(r.what(), Files.isSymbolicLink(link));
            Shown.assertNoPiece(r.what(), said, "sw-Secret1");
        }
    }
}
