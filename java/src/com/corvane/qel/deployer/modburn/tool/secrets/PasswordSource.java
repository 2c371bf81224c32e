package com.corvane.qel.deployer.modburn.tool.secrets;

import java.nio.file.Path;
import java.util.Locale;
import java.util.Objects;

/**
 * Where a password comes from. Never the command line, where other users could read it in the
 * process list: a file (its first line), an environment variable, standard input (one line), or
 * an interactive prompt that does not echo. An inventory names a source with a reference:
 * "file:PATH", "env:NAME" or "prompt" / "prompt:LABEL" (switches with the same label share one
 * answer).
 */
public final class PasswordSource {
    public enum Kind { FILE, ENV, STDIN, PROMPT }

    public final Kind kind;
    /** The file path, variable name or prompt label. */
    public final String arg;

    private PasswordSource(Kind kind, String arg) {
        this.kind = kind;
        this.arg = arg;
    }

    public static PasswordSource file(Path path) {
        return new PasswordSource(Kind.FILE, path.toString());
    }

    public static PasswordSource env(String name) {
        return new PasswordSource(Kind.ENV, name);
    }

    public static PasswordSource stdin(String label) {
        return new PasswordSource(Kind.STDIN, label);
    }

    public static PasswordSource prompt(String label) {
        return new PasswordSource(Kind.PROMPT, label);
    }

    /** The text that documents the reference forms, for error messages. */
    public static final String FORMS = "file:PATH, env:NAME or prompt[:LABEL]";

    /**
     * Parses an inventory reference; a relative file path is taken from baseDir. Throws
     * IllegalArgumentException with a message that never repeats the reference itself, since an
     * operator may have written a password where the reference belongs.
     */
    public static PasswordSource parse(String ref, Path baseDir) {
        String text = ref == null ? "" : ref.trim();
        int colon = text.indexOf(':');
        String head = (colon < 0 ? text : text.substring(0, colon)).toLowerCase(Locale.ROOT);
        String rest = colon < 0 ? "" : text.substring(colon + 1);
        switch (head) {
            case "file":
                if (rest.isEmpty()) {
                    throw new IllegalArgumentException("file: needs a path");
                }
                return file(baseDir.resolve(rest));
            case "env":
                if (!rest.matches("[A-Za-z_][A-Za-z0-9_]*")) {
                    throw new IllegalArgumentException("env: needs a variable name");
                }
                return env(rest);
            case "prompt":
                return prompt(rest);
            default:
                throw new IllegalArgumentException(
                    "expected a password reference (" + FORMS + "), not a password or anything else");
        }
    }

    /** What the operator is asked for, or how the source is named in a message. */
    public String describe(String what) {
        return switch (kind) {
            case FILE -> what + " file " + arg;
            case ENV -> what + " variable " + arg;
            case STDIN -> what + " from standard input";
            case PROMPT -> arg.isEmpty() ? what : what + " (" + arg + ")";
        };
    }

    @Override
    public boolean equals(Object o) {
        return o instanceof PasswordSource p && p.kind == kind && p.arg.equals(arg);
    }

    @Override
    public int hashCode() {
        return Objects.hash(kind, arg);
    }
}
