package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.fail;
import static org.junit.Assert.assertTrue;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class UpdateTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private final CollectingLogger logger = new CollectingLogger();

    @Before
    public void startLibrary() {
        Switch.platform_init();
        Switch.setAppLogger(logger);
    }

    @Test
    public void familiesWithoutModuleThrowMinus99AfterTheFailedLine() {
        int[] types = {0, 12, 13, -1, 99, Integer.MIN_VALUE, Integer.MAX_VALUE};
        for (int type : types) {
            Native.expect99(new Switch(type, "10.0.0.1", "admin", "secret", 2));
        }
        List<String> lines = logger.lines();
        assertEquals(Native.STARTED, lines.get(0));
        assertEquals(1 + types.length, lines.size());
        for (String line : lines.subList(1, lines.size())) {
            assertEquals(Native.FAILED_99, line);
        }
    }

    @Test
    public void nullStringsAreMissingTextsNotCrashes() {
        Switch sw = new Switch();
        sw.switchType = 0;
        try {
            sw.update(null, true, 0);
        } catch (SwitchException e) {
            assertEquals(-99, e.getCode());
        }
        Switch partly = new Switch(12, null, "admin", null, 0);
        Native.expect99(partly);
        assertEquals(2, logger.count(Native.FAILED_99));
    }

    @Test
    public void aPasswordThatIsAlsoLibraryTextLeavesTheMessageWhole() {
        // Only the switch's quoted answers are masked in the error text; the
        // library's own words stay readable whatever the password is.
        Switch sw = new Switch(0, "10.0.0.1", "admin", "IMPLEMENTED", 0);
        try {
            sw.update("ftp://srv/fw.bin", false, 0);
            fail("update should have thrown");
        } catch (SwitchException e) {
            assertEquals(Native.NOT_IMPLEMENTED, e.getMessage());
        }
        assertEquals(1, logger.count(Native.FAILED_99));
    }

    private static List<Integer> runInThreads(int threads, Callable<Integer> work) throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        try {
            List<Future<Integer>> futures = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                futures.add(pool.submit(work));
            }
            List<Integer> results = new ArrayList<>();
            for (Future<Integer> f : futures) {
                results.add(f.get());
            }
            return results;
        } finally {
            pool.shutdownNow();
        }
    }

    private static int hundredUpdates() {
        Switch sw = new Switch(0, "10.0.0.1", "admin", "pw", 0);
        int thrown = 0;
        for (int i = 0; i < 100; i++) {
            sw.switchType = 12 + (i % 5);
            Native.expect99(sw);
            thrown++;
        }
        return thrown;
    }

    @Test
    public void concurrentUpdatesEachThrowAndEachLineArrivesWhole() throws Exception {
        for (int thrown : runInThreads(8, UpdateTest::hundredUpdates)) {
            assertEquals(100, thrown);
        }
        assertEquals(800, logger.count(Native.FAILED_99));
        assertEquals(801, logger.lines().size());
    }

    @Test
    public void concurrentUpdatesWriteWholeEntriesToTheLogFile() throws Exception {
        Path file = tmp.getRoot().toPath().resolve("threads.log");
        Switch.setLogFile(file.toString());
        runInThreads(8, UpdateTest::hundredUpdates);
        Switch.setLogFile(tmp.getRoot().toPath().resolve("other.log").toString());
        List<String> lines = Native.lines(file);
        assertTrue(Native.OPENED.matcher(lines.get(0)).matches());
        assertTrue(Native.CLOSED.matcher(lines.get(lines.size() - 1)).matches());
        assertEquals(802, lines.size());
        for (String line : lines.subList(1, lines.size() - 1)) {
            assertTrue(line, Native.isEntry(line + "\n", Native.FAILED_99));
        }
    }

    @Test
    public void loggerAndFileMaySwitchWhileUpdatesRun() throws Exception {
        Path file = tmp.getRoot().toPath().resolve("switching.log");
        Thread switcher = new Thread(() -> {
            for (int i = 0; i < 200; i++) {
                if (i % 2 == 0) {
                    Switch.setAppLogger(logger);
                } else {
                    Switch.setLogFile(file.toString());
                }
            }
            Switch.setAppLogger(logger);
        });
        switcher.start();
        for (int thrown : runInThreads(4, UpdateTest::hundredUpdates)) {
            assertEquals(100, thrown);
        }
        switcher.join();
        int inFile = 0;
        for (String line : Native.lines(file)) {
            if (Native.isEntry(line + "\n", Native.FAILED_99)) {
                inFile++;
            } else if (!Native.isEntry(line + "\n", Native.STARTED)) {
                assertTrue("broken line: " + line,
                        Native.OPENED.matcher(line).matches() || Native.CLOSED.matcher(line).matches());
            }
        }
        assertEquals("every result line reached the logger or the file", 400,
                inFile + logger.count(Native.FAILED_99));
    }
}
