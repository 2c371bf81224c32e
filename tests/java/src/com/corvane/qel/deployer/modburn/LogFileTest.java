package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.nio.file.Path;
import java.util.List;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class LogFileTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private Path file(String name) {
        return tmp.getRoot().toPath().resolve(name);
    }

    @Test
    public void switchingFilesClosesTheFirstAndOpensTheSecond() throws Exception {
        Switch.platform_init();
        Switch.setLogFile(file("a.log").toString());
        Native.expect99(new Switch(0, "10.0.0.1", "admin", "pw", 0));
        Switch.setLogFile(file("b.log").toString());
        Native.expect99(new Switch(0, "10.0.0.1", "admin", "pw", 0));
        Switch.platform_init();

        List<String> a = Native.lines(file("a.log"));
        assertEquals(3, a.size());
        assertTrue(a.get(0), Native.OPENED.matcher(a.get(0)).matches());
        assertTrue(a.get(1), Native.isEntry(a.get(1) + "\n", Native.FAILED_99));
        assertTrue(a.get(2), Native.CLOSED.matcher(a.get(2)).matches());
        List<String> b = Native.lines(file("b.log"));
        assertEquals(3, b.size());
        assertTrue(b.get(0), Native.OPENED.matcher(b.get(0)).matches());
        assertTrue(b.get(1), Native.isEntry(b.get(1) + "\n", Native.FAILED_99));
        assertTrue(b.get(2), Native.CLOSED.matcher(b.get(2)).matches());
    }

    @Test
    public void withoutLogFileEachLineBecomesTheProblemLine() throws Exception {
        Native.Run run = Native.runChild(tmp.getRoot().toPath(), "init-only");
        assertEquals("PROBLEM: modburnlog called prior to modburn_open (%s)\n", run.stdout);
    }

    @Test
    public void aNullNameLogsToStandardErrorUntilAFileIsSet() throws Exception {
        Path after = file("after.log");
        Native.Run run = Native.runChild(tmp.getRoot().toPath(), "stderr-then-file", after.toString());
        List<String> err = run.stderrLines();
        assertEquals(run.stderr, 3, err.size());
        assertTrue(err.get(0), Native.OPENED.matcher(err.get(0)).matches());
        assertTrue(err.get(1), Native.isEntry(err.get(1) + "\n", Native.FAILED_99));
        assertTrue(err.get(2), Native.CLOSED.matcher(err.get(2)).matches());
        // Closing standard error cleared it, so the named file took over.
        List<String> lines = Native.lines(after);
        assertEquals(2, lines.size());
        assertTrue(Native.OPENED.matcher(lines.get(0)).matches());
        assertTrue(Native.isEntry(lines.get(1) + "\n", Native.FAILED_99));
    }

    @Test
    public void anEmptyNameLogsToStandardError() throws Exception {
        Native.Run run = Native.runChild(tmp.getRoot().toPath(), "empty-name");
        List<String> err = run.stderrLines();
        assertEquals(run.stderr, 2, err.size());
        assertTrue(err.get(0), Native.OPENED.matcher(err.get(0)).matches());
        assertTrue(err.get(1), Native.isEntry(err.get(1) + "\n", Native.FAILED_99));
    }

    @Test
    public void anUnopenableFileFallsBackToStandardError() throws Exception {
        String bad = file("missing/dir/x.log").toString();
        Native.Run run = Native.runChild(tmp.getRoot().toPath(), "unopenable", bad);
        List<String> err = run.stderrLines();
        assertEquals(run.stderr, 3, err.size());
        assertEquals("modburnlog_open: fopen(" + bad + ") error, errno=2", err.get(0));
        assertTrue(err.get(1), Native.OPENED.matcher(err.get(1)).matches());
        assertTrue(err.get(2), Native.isEntry(err.get(2) + "\n", Native.FAILED_99));
    }
}
