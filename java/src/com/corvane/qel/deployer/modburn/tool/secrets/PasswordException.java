package com.corvane.qel.deployer.modburn.tool.secrets;

/** A password could not be read; the message names the source, never a password. */
public final class PasswordException extends Exception {
    private static final long serialVersionUID = 1L;

    public PasswordException(String message) {
        super(message);
    }
}
