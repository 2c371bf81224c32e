package com.corvane.qel.deployer.modburn.tool;

/** A password could not be read; the message names the source, never a password. */
final class PasswordException extends Exception {
    private static final long serialVersionUID = 1L;

    PasswordException(String message) {
        super(message);
    }
}
