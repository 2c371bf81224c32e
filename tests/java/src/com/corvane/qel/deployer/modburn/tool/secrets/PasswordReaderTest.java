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
        return new PasswordReader(new BufferedReader(new StringReader(stdin)), p, Map.of("SW_PW", "fromenv", "EMPTY", ""));
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
        Object[][] cases = {
            {PasswordSource.file(empty), "switch password file " + empty + " is empty"},
            {PasswordSource.file(blankLine), "is empty"},
            {PasswordSource.file(big), "larger than 4096 bytes"},
            {PasswordSource.file(tmp.getRoot().toPath().resolve("missing")), "does not exist"},
            {PasswordSource.env("NOPE"), "variable NOPE is not set"},
            {PasswordSource.env("EMPTY"), "variable EMPTY is empty"},
            {PasswordSource.stdin(""), "standard input ended"},
        };
        for (Object[] c : cases) {
            try {
                reader("").read((PasswordSource) c[0], "switch password");
                fail("no failure for " + c[1]);
            } catch (PasswordException e) {
                assertTrue(e.getMessage(), e.getMessage().contains((String) c[1]));
                assertFalse(e.getMessage(), e.getMessage().contains("topsecret"));
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
