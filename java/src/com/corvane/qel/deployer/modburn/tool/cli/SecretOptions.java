package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.secrets.PasswordSource;
import java.nio.file.Path;
import picocli.CommandLine.ArgGroup;
import picocli.CommandLine.Option;

/** The options that say where the switch password and the URL password come from. */
final class SecretOptions {
    private SecretOptions() {
    }

    static final String REFUSED = "passwords are not taken on the command line, where other users can read them"
        + " in the process list; use --password-file, --password-stdin, --password-env or the prompt"
        + " (--url-password-... likewise for the URL)";

    static final String URL_CARRIES_PASSWORD = "the URL carries a password, where the process list shows it; give it"
        + " with --url-password-file, --url-password-stdin, --url-password-env or --url-password-prompt";

    /** The switch password options of a command that takes one switch and no URL (a mixin), and the refusal. */
    static class SwitchPassword {
        @ArgGroup(exclusive = true, multiplicity = "0..1")
        Switch password;

        // Set when a password was typed on the command line; the value itself is never kept.
        boolean onCommandLine;

        @Option(names = "--password", hidden = true, paramLabel = "TEXT")
        void refuse(String ignored) {
            onCommandLine = true;
        }

        /** Throws the usage error of a password typed on the command line. */
        void refuseCommandLine() {
            if (onCommandLine) {
                throw new UsageException(REFUSED);
            }
        }

        /** The switch password's source: the options' choice, else the prompt. */
        PasswordSource switchSource(Path cwd) {
            return source(password, cwd);
        }
    }

    /** The password options of a command that takes one switch and a URL (a mixin): the two sources, and the refusal. */
    static final class Given extends SwitchPassword {
        @ArgGroup(exclusive = true, multiplicity = "0..1")
        Url urlPassword;

        @Option(names = "--url-password", hidden = true, paramLabel = "TEXT")
        void refuseUrl(String ignored) {
            onCommandLine = true;
        }

        /** Whether either password's source was given. */
        boolean any() {
            return password != null || urlPassword != null;
        }

        /** The URL password's source, or null when the URL is used as given. */
        PasswordSource urlSource(Path cwd) {
            return source(urlPassword, cwd);
        }
    }

    /** Where the switch password comes from; with none of these the tool prompts. */
    static final class Switch implements Sources {
        @Option(names = "--password-file", paramLabel = "FILE", description = "read the switch password from FILE's first line")
        Path file;

        @Option(names = "--password-stdin", description = "read the switch password from a line of standard input")
        boolean stdin;

        @Option(names = "--password-env", paramLabel = "NAME", description = "take the switch password from variable NAME")
        String env;

        @Override
        public PasswordSource source(Path cwd) {
            return Sources.pick(file, stdin, env, cwd);
        }
    }

    /** Where the URL's password comes from; with none of these the URL is used as given. */
    static final class Url implements Sources {
        @Option(names = "--url-password-file", paramLabel = "FILE", description = "read the URL password from FILE's first line")
        Path file;

        @Option(names = "--url-password-stdin", description = "read the URL password from a line of standard input"
            + " (after the switch password, if that comes from standard input too)")
        boolean stdin;

        @Option(names = "--url-password-env", paramLabel = "NAME", description = "take the URL password from variable NAME")
        String env;

        @Option(names = "--url-password-prompt", description = "ask for the URL password")
        boolean prompt;

        @Override
        public PasswordSource source(Path cwd) {
            return prompt ? PasswordSource.prompt("") : Sources.pick(file, stdin, env, cwd);
        }
    }

    interface Sources {
        /** The source the options chose, or null when they chose none. */
        PasswordSource source(Path cwd);

        static PasswordSource pick(Path file, boolean stdin, String env, Path cwd) {
            if (file != null) {
                return PasswordSource.file(cwd.resolve(file));
            }
            if (stdin) {
                return PasswordSource.stdin("");
            }
            if (env != null) {
                return PasswordSource.env(env);
            }
            return null;
        }
    }

    /** The switch password's source: the options' choice, else the prompt. */
    static PasswordSource source(Switch opts, Path cwd) {
        PasswordSource s = opts == null ? null : opts.source(cwd);
        return s != null ? s : PasswordSource.prompt("");
    }

    /** The URL password's source, or null when the URL is used as given. */
    static PasswordSource source(Url opts, Path cwd) {
        return opts == null ? null : opts.source(cwd);
    }
}
