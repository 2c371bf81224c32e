package com.corvane.qel.deployer.modburn.tool.secrets;

import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.HashMap;
import java.util.Map;

/**
 * Reads passwords from their sources, each source once: a fleet whose switches share a password
 * file or a prompt label reads or asks only once. Messages name the source, never the password.
 */
public final class PasswordReader {
    /** An interactive prompt that does not echo; returns null at end of input. */
    public interface Prompter {
        char[] readPassword(String prompt);
    }

    /** A password file larger than this is surely not a password file. */
    public static final long MAX_FILE = 4096;

    private final BufferedReader stdin;
    private final Prompter prompter;
    private final Map<String, String> env;
    private final Map<String, String> cache = new HashMap<>();

    /** prompter may be null when there is no terminal; prompts then read standard input. */
    public PasswordReader(BufferedReader stdin, Prompter prompter, Map<String, String> env) {
        this.stdin = stdin;
        this.prompter = prompter;
        this.env = env;
    }

    /**
     * The password from the source; what names it for the operator ("switch password",
     * "URL password"). Throws PasswordException when the source gives none.
     */
    public String read(PasswordSource src, String what) throws PasswordException {
        // Files and variables are the same password whatever they are read for; a prompt or a
        // line of standard input answers one question only.
        String key = switch (src.kind) {
            case FILE, ENV -> src.kind + ":" + src.arg;
            case STDIN, PROMPT -> src.kind + ":" + what + ":" + src.arg;
        };
        String known = cache.get(key);
        if (known != null) {
            return known;
        }
        String pw = switch (src.kind) {
            case FILE -> fromFile(Path.of(src.arg), what);
            case ENV -> fromEnv(src.arg, what);
            case STDIN -> fromStdin(src.describe(what));
            case PROMPT -> fromPrompt(src.describe(what));
        };
        if (pw.isEmpty()) {
            throw new PasswordException("the " + src.describe(what) + " is empty");
        }
        if (Escape.hasControl(pw)) {
            // A line end, a tab or an escape would be typed on the switch as keys of their own.
            throw new PasswordException("the " + src.describe(what) + " holds a control character (a line end, a tab,"
                + " an escape), which the switch would take as keys of their own");
        }
        cache.put(key, pw);
        return pw;
    }

    private static String fromFile(Path path, String what) throws PasswordException {
        // Read up to the cap whatever size the file claims: a device (/dev/zero) says 0 and never ends.
        byte[] bytes;
        try (InputStream in = Files.newInputStream(path)) {
            bytes = in.readNBytes((int) MAX_FILE + 1);
        } catch (NoSuchFileException e) {
            throw new PasswordException("the " + what + " file " + path + " does not exist");
        } catch (IOException e) {
            throw new PasswordException("cannot read the " + what + " file " + path + ": " + e.getMessage());
        }
        if (bytes.length > MAX_FILE) {
            throw new PasswordException("the " + what + " file " + path + " is larger than " + MAX_FILE
                + " bytes; it should hold the password on its first line");
        }
        return firstLine(new String(bytes, StandardCharsets.UTF_8));
    }

    private String fromEnv(String name, String what) throws PasswordException {
        String value = env.get(name);
        if (value == null) {
            throw new PasswordException("the " + what + " variable " + name + " is not set");
        }
        return value;
    }

    private String fromStdin(String described) throws PasswordException {
        try {
            String line = stdin.readLine();
            if (line == null) {
                throw new PasswordException("standard input ended before the " + described);
            }
            return firstLine(line);
        } catch (IOException e) {
            throw new PasswordException("cannot read the " + described + ": " + e.getMessage());
        }
    }

    private String fromPrompt(String described) throws PasswordException {
        if (prompter == null) {
            return fromStdin(described);
        }
        char[] answer = prompter.readPassword(capitalised(described) + ": ");
        if (answer == null) {
            throw new PasswordException("no answer for the " + described);
        }
        return new String(answer);
    }

    private static String capitalised(String s) {
        return s.isEmpty() ? s : Character.toUpperCase(s.charAt(0)) + s.substring(1);
    }

    /** The text up to its first line end; a file written by an editor ends in one. */
    public static String firstLine(String text) {
        int end = 0;
        while (end < text.length() && text.charAt(end) != '\n' && text.charAt(end) != '\r') {
            end++;
        }
        return text.substring(0, end);
    }
}
