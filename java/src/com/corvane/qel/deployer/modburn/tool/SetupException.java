package com.corvane.qel.deployer.modburn.tool;

/** The tool cannot start: a password, a log file, an inventory or the library is not usable. */
final class SetupException extends Exception {
    private static final long serialVersionUID = 1L;

    SetupException(String message) {
        super(message);
    }

    SetupException(String message, Throwable cause) {
        super(message, cause);
    }
}
