package com.corvane.qel.deployer.modburn.tool.bridge;

/** The tool cannot start: a password, a log file, an inventory or the library is not usable. */
public final class SetupException extends Exception {
    private static final long serialVersionUID = 1L;

    public SetupException(String message) {
        super(message);
    }

    public SetupException(String message, Throwable cause) {
        super(message, cause);
    }
}
