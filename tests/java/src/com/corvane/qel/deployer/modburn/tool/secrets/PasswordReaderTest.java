package com.corvane.qel.deployer.modburn.tool.secrets;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.BufferedReader;
import java.io.StringReader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class PasswordReaderTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private final List<String> prompts = new ArrayList<>();

    private PasswordReader reader(String stdin, String... answers) {
        List<String> left = new ArrayList<>(List.of(answers));
        PasswordReader.Prompter p = answers.length == 0 ? null : prompt -> {
            prompts.add(prompt);
            return left.isEmpty() ? null : left.remove(0).toCharArray();
        };
        return new PasswordReader(new BufferedReader(new StringReader(stdin)), p, Map.of("SW_PW", "fromenv", "EMPTY", "",
            "NL_PW", "topsecret\nreboot", "TAB_PW", "top\tsecret"));
    }

    @Test
    public void readsTheFirstLineOfAFile() throws Exception {
        String[][] cases = {
            {"hunter2\n", "hunter2"}, {"hunter2", "hunter2"}, {"hunter2\r\nsecond\n", "hunter2"},
            {" spaced pw \n", " spaced pw "},
        };
        for (String[] c : cases) {
            Path f = tmp.newFile().toPath();
            Files.writeString(f, c[0]);
            assertEquals(c[1], reader("").read(PasswordSource.file(f), "switch password"));
        }
    }

    @Test
    public void namesTheSourceButNeverThePasswordWhenItFails() throws Exception {
        Path empty = tmp.newFile("empty").toPath();
        Path big = tmp.newFile("big").toPath();
        Files.writeString(big, "topsecret" + "x".repeat(5000));
        Path blankLine = tmp.newFile("blank").toPath();
        Files.writeString(blankLine, "\ntopsecret\n");
        Path control = tmp.newFile("control").toPath();
        Files.writeString(control, "top\u001bsecret\n");
        Path c1 = tmp.newFile("c1").toPath();
        Files.writeString(c1, "top\u009bsecret\n");
        Object[][] cases = {
            {PasswordSource.file(empty), "switch password file " + empty + " is empty"},
            // Devices that say they are empty: read up to the cap, then refused.
            {PasswordSource.file(Path.of("/dev/zero")), "larger than 4096 bytes"},
            {PasswordSource.file(Path.of("/dev/urandom")), "larger than 4096 bytes"},
            // A control character would be typed on the switch: a line end types a command of its own.
            {PasswordSource.env("NL_PW"), "switch password variable NL_PW holds a control character"},
            {PasswordSource.env("TAB_PW"), "holds a control character"},
            {PasswordSource.file(control), "switch password file " + control + " holds a control character"},
            {PasswordSource.file(c1), "holds a control character"},
            {PasswordSource.file(blankLine), "is empty"},
            {PasswordSource.file(big), "larger than 4096 bytes"},
            {PasswordSource.file(tmp.getRoot().toPath().resolve("missing")), "does not exist"},
            {PasswordSource.env("NOPE"), "variable NOPE is not set"},
            {PasswordSource.env("EMPTY"), "variable EMPTY is empty"},
            {PasswordSource.stdin(""), "standard input ended"},
        };
        for (Object[] c : cases) {
            try {
                within(() -> reader("").read((PasswordSource) c[0], "switch password"));
                fail("no failure for " + c[1]);
            } catch (PasswordException e) {
                assertTrue(e.getMessage(), e.getMessage().contains((String) c[1]));
                assertFalse(e.getMessage(), e.getMessage().contains("topsecret"));
                assertFalse(e.getMessage(), e.getMessage().contains("reboot"));
            }
        }
    }

    /** A read that must end within seconds, whatever its source. */
    interface Read {
        String run() throws PasswordException;
    }

    private static String within(Read read) throws PasswordException, InterruptedException {
        java.util.concurrent.FutureTask<String> task = new java.util.concurrent.FutureTask<>(read::run);
        Thread t = new Thread(task, "password-read");
        t.setDaemon(true);
        t.start();
        try {
            return task.get(10, java.util.concurrent.TimeUnit.SECONDS);
        } catch (java.util.concurrent.TimeoutException e) {
            throw new AssertionError("the read did not end within 10 s");
        } catch (java.util.concurrent.ExecutionException e) {
            if (e.getCause() instanceof PasswordException p) {
                throw p;
            }
            throw new AssertionError("the read ended in " + e.getCause(), e.getCause());
        }
    }

    @Test
    public void refusesControlCharactersFromStandardInputAndPrompts() throws Exception {
        // what standard input holds, the prompt's answers, the source
        Object[][] rows = {
            {"top\u0003secret\n", new String[0], PasswordSource.stdin("")},
            {"", new String[] {"top\nsecret"}, PasswordSource.prompt("")},
            {"", new String[] {"top\u0085secret"}, PasswordSource.prompt("lab")},
        };
        for (Object[] r : rows) {
            try {
                reader((String) r[0], (String[]) r[1]).read((PasswordSource) r[2], "switch password");
                fail("accepted " + r[2]);
            } catch (PasswordException e) {
                assertTrue(e.getMessage(), e.getMessage().contains("holds a control character"));
                assertFalse(e.getMessage(), e.getMessage().contains("secret"));
            }
        }
    }

    @Test
    public void readsStandardInputLineByLineInOrder() throws Exception {
        PasswordReader r = reader("first\r\nsecond\n");
        assertEquals("first", r.read(PasswordSource.stdin(""), "switch password"));
        assertEquals("second", r.read(PasswordSource.stdin(""), "URL password"));
        // The same question again is answered from what was read.
        assertEquals("first", r.read(PasswordSource.stdin(""), "switch password"));
    }

    @Test
    public void promptsOncePerQuestionAndLabel() throws Exception {
        PasswordReader r = reader("", "a1", "b2", "c3");
        assertEquals("a1", r.read(PasswordSource.prompt(""), "switch password"));
        assertEquals("a1", r.read(PasswordSource.prompt(""), "switch password"));
        assertEquals("b2", r.read(PasswordSource.prompt("lab"), "switch password"));
        assertEquals("c3", r.read(PasswordSource.prompt(""), "URL password"));
        assertEquals(List.of("Switch password: ", "Switch password (lab): ", "URL password: "), prompts);
        try {
            r.read(PasswordSource.prompt("more"), "switch password");
            fail("an unanswered prompt gave a password");
        } catch (PasswordException e) {
            assertTrue(e.getMessage().contains("no answer"));
        }
    }

    @Test
    public void promptWithoutATerminalReadsStandardInput() throws Exception {
        assertEquals("piped", reader("piped\n").read(PasswordSource.prompt(""), "switch password"));
    }

    @Test
    public void readsAFileOnceForEverySwitchThatSharesIt() throws Exception {
        Path f = tmp.newFile().toPath();
        Files.writeString(f, "shared\n");
        PasswordReader r = reader("");
        assertEquals("shared", r.read(PasswordSource.file(f), "switch password"));
        Files.delete(f);
        assertEquals("shared", r.read(PasswordSource.file(f), "URL password"));
        assertEquals("fromenv", r.read(PasswordSource.env("SW_PW"), "switch password"));
    }

    @Test
    public void parsesReferencesAndRefusesAnythingElse() {
        Path base = Path.of("/inv");
        Object[][] good = {
            {"file:pw.txt", PasswordSource.file(Path.of("/inv/pw.txt"))},
            {"file:/etc/pw", PasswordSource.file(Path.of("/etc/pw"))},
            {"FILE:x", PasswordSource.file(Path.of("/inv/x"))},
            {"env:SW_PW", PasswordSource.env("SW_PW")},
            {"prompt", PasswordSource.prompt("")},
            {"prompt:lab", PasswordSource.prompt("lab")},
            {" prompt ", PasswordSource.prompt("")},
        };
        for (Object[] c : good) {
            assertEquals((String) c[0], c[1], PasswordSource.parse((String) c[0], base));
        }
        String[][] bad = {
            {"hunter2", "expected a password reference"}, {"file:", "needs a path"}, {"env:", "variable name"},
            {"env:1X", "variable name"}, {"", "expected a password reference"}, {"pw:hunter2", "expected a password"},
        };
        for (String[] c : bad) {
            try {
                PasswordSource.parse(c[0], base);
                fail(c[0]);
            } catch (IllegalArgumentException e) {
                assertTrue(e.getMessage(), e.getMessage().contains(c[1]));
                assertFalse(e.getMessage(), e.getMessage().contains("hunter2"));
            }
        }
    }
}
