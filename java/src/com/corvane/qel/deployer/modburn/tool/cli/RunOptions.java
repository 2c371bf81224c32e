package com.corvane.qel.deployer.modburn.tool.cli;

import picocli.CommandLine.Option;

/** The options that update and fleet share: debug levels and the progress display. */
final class RunOptions {
    @Option(names = "--debug", paramLabel = "0..2", defaultValue = "1",
        description = "library debug level: 0 outcome, 1 progress, 2 every exchange (default ${DEFAULT-VALUE})")
    int debug;

    @Option(names = "--telnet-debug", paramLabel = "0..2", defaultValue = "0",
        description = "TELNET layer debug level (default ${DEFAULT-VALUE})")
    int telnetDebug;

    @Option(names = "--progress", paramLabel = "MODE", defaultValue = "auto",
        description = "auto, live (redrawn in place on a terminal) or plain (a line per change)")
    String progress;

    /**
     * Checks the values and returns whether the display is live (true) or plain lines (false);
     * auto means live on a terminal. Throws UsageException for a value out of range.
     */
    boolean check(boolean terminal) {
        if (debug < 0 || debug > 2) {
            throw new UsageException("--debug takes 0, 1 or 2");
        }
        if (telnetDebug < 0 || telnetDebug > 2) {
            throw new UsageException("--telnet-debug takes 0, 1 or 2");
        }
        return switch (progress) {
            case "auto" -> terminal;
            case "live" -> true;
            case "plain" -> false;
            default -> throw new UsageException("--progress takes auto, live or plain");
        };
    }
}
