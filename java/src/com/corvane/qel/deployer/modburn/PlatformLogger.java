package com.corvane.qel.deployer.modburn;

import java.lang.System.Logger.Level;

/** The library's log lines handed to a logger of the platform's logging API, each at its source's level. */
final class PlatformLogger implements Switch.SourceLogger {
    private final System.Logger logger;

    PlatformLogger(System.Logger logger) {
        this.logger = logger;
    }

    static Level level(int source) {
        switch (source) {
            case UPDATE_FAILED:
                return Level.WARNING;
            case TELNET:
                return Level.DEBUG;
            default:
                return Level.INFO;
        }
    }

    @Override
    public void log(int source, String line) {
        Level level = level(source);
        if (!logger.isLoggable(level)) {
            return;
        }
        // A log record is one message; its line end is the handler's to add.
        int end = line.length();
        if (end > 0 && line.charAt(end - 1) == '\n') {
            end--;
        }
        logger.log(level, line.substring(0, end));
    }
}
