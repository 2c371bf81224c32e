package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class LoggerTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private Path logFile;

    @Before
    public void startLibrary() {
        Switch.platform_init();
        logFile = tmp.getRoot().toPath().resolve("modburn.log");
        Switch.setLogFile(logFile.toString());
    }

    @Test
    public void loggerHearsItsStartAtOnceAndThenTheResultLines() {
        CollectingLogger logger = new CollectingLogger();
        Switch.setAppLogger(logger);
        assertEquals(Arrays.asList(Native.STARTED), logger.lines());
        Native.expect99(new Switch(0, "10.0.0.1", "admin", "pw", 0));
        assertEquals(Arrays.asList(Native.STARTED, Native.FAILED_99), logger.lines());
    }

    @Test
    public void aNewLoggerReplacesTheOld() {
        CollectingLogger first = new CollectingLogger();
        CollectingLogger second = new CollectingLogger();
        Switch.setAppLogger(first);
        Switch.setAppLogger(second);
        Native.expect99(new Switch(12, "10.0.0.1", "admin", "pw", 0));
        assertEquals(Arrays.asList(Native.STARTED), first.lines());
        assertEquals(Arrays.asList(Native.STARTED, Native.FAILED_99), second.lines());
    }

    @Test
    public void setLogFileDropsTheLoggerAndLinesGoToTheFile() throws Exception {
        CollectingLogger logger = new CollectingLogger();
        Switch.setAppLogger(logger);
        Path second = tmp.getRoot().toPath().resolve("second.log");
        Switch.setLogFile(second.toString());
        Native.expect99(new Switch(0, "10.0.0.1", "admin", "pw", 0));
        assertEquals(Arrays.asList(Native.STARTED), logger.lines());
        List<String> lines = Native.lines(second);
        assertEquals(2, lines.size());
        assertTrue(Native.isEntry(lines.get(1) + "\n", Native.FAILED_99));
    }

    @Test
    public void withoutLoggerLinesGoToTheFile() throws Exception {
        Switch.setAppLogger(null);
        Native.expect99(new Switch(0, "10.0.0.1", "admin", "pw", 0));
        List<String> lines = Native.lines(logFile);
        assertEquals(3, lines.size());
        assertTrue(Native.isEntry(lines.get(1) + "\n", Native.STARTED));
        assertTrue(Native.isEntry(lines.get(2) + "\n", Native.FAILED_99));
    }

    @Test
    public void aLoggerWithoutLogMethodIsReportedAndItsLinesGoToTheFile() throws Exception {
        PrintStream saved = System.err;
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        System.setErr(new PrintStream(err, true, StandardCharsets.UTF_8));
        try {
            Switch.setAppLogger(new Object());
            Native.expect99(new Switch(0, "10.0.0.1", "admin", "pw", 0));
        } finally {
            System.setErr(saved);
        }
        assertTrue(err.toString(StandardCharsets.UTF_8).contains("NoSuchMethodError"));
        List<String> lines = Native.lines(logFile);
        assertTrue(Native.isEntry(lines.get(lines.size() - 2) + "\n", Native.STARTED));
        assertTrue(Native.isEntry(lines.get(lines.size() - 1) + "\n", Native.FAILED_99));
    }

    @Test
    public void aThrowingLoggerNeverDisturbsTheCaller() throws Exception {
        // Runs in its own VM: the VM describes the logger's exception on its
        // own error stream, and the update still ends in its SwitchException.
        Native.Run run = Native.runChild(tmp.getRoot().toPath(), "throwing-logger");
        assertTrue(run.stderr, run.stderr.contains("IllegalStateException: logger refuses: "
                + Native.STARTED.trim()));
        assertTrue(run.stderr, run.stderr.contains("IllegalStateException: logger refuses: "
                + Native.FAILED_99.trim()));
    }
}
