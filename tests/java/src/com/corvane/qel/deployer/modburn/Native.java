package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;

/** Shared helpers of the Java tests: expected texts, log files, child VMs. */
final class Native {
    private Native() {
    }

    static final String NOT_IMPLEMENTED = "SWITCH XXXFLASH NOT YET IMPLEMENTED";
    static final String STARTED = "++++ Switch/MODBURN log AppLogger started\n";
    static final String FAILED_99 = "update failed: error code=-99 (errmsg=" + NOT_IMPLEMENTED + ")\n";

    private static final String CTIME = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}";
    static final Pattern OPENED = Pattern.compile("===== Switch/MODBURN Log opened " + CTIME);
    static final Pattern CLOSED = Pattern.compile("~~~~~ Switch/MODBURN Log closed " + CTIME);
    private static final String STAMP = "\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d ";

    /** True when line is one timestamped log-file entry whose text is body. */
    static boolean isEntry(String line, String body) {
        return Pattern.matches(STAMP + Pattern.quote(body), line);
    }

    static List<String> lines(Path file) throws IOException {
        return Files.readAllLines(file, StandardCharsets.ISO_8859_1);
    }

    /** Runs an update that must fail with -99; returns the exception. */
    static SwitchException expect99(Switch sw) {
        try {
            sw.update("ftp://srv/fw.bin", false, 0);
        } catch (SwitchException e) {
            assertEquals(-99, e.getCode());
            assertEquals(NOT_IMPLEMENTED, e.getMessage());
            return e;
        }
        fail("update of switchType " + sw.switchType + " did not throw");
        return null;
    }

    /** Output of a child VM that ran one scenario of {@link Scenarios}. */
    static final class Run {
        final String stdout;
        final String stderr;

        Run(String stdout, String stderr) {
            this.stdout = stdout;
            this.stderr = stderr;
        }

        List<String> stderrLines() {
            return Arrays.asList(stderr.split("\n"));
        }
    }

    /** Runs a scenario in a fresh VM, so that it sees the library's start state and its native output. */
    static Run runChild(Path dir, String... scenario) throws Exception {
        List<String> cmd = new ArrayList<>();
        cmd.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        cmd.add("-Xcheck:jni");
        cmd.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        cmd.add("-cp");
        cmd.add(System.getProperty("java.class.path"));
        cmd.add(Scenarios.class.getName());
        cmd.addAll(Arrays.asList(scenario));
        File out = dir.resolve("child.out").toFile();
        File err = dir.resolve("child.err").toFile();
        Process p = new ProcessBuilder(cmd).redirectOutput(out).redirectError(err).start();
        assertTrue("child VM did not finish", p.waitFor(60, TimeUnit.SECONDS));
        String stdout = Files.readString(out.toPath(), StandardCharsets.ISO_8859_1);
        String stderr = Files.readString(err.toPath(), StandardCharsets.ISO_8859_1);
        assertEquals("child exit; stderr: " + stderr, 0, p.exitValue());
        assertTrue(stderr, !stderr.contains("WARNING in native method"));
        return new Run(stdout, stderr);
    }
}
