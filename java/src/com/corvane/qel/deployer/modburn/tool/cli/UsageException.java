package com.corvane.qel.deployer.modburn.tool.cli;

/**
 * A value that picocli accepted but the command refuses (out of range, not allowed with
 * another option). Main reports it like a parse error: one line, a pointer to --help, exit 2.
 */
final class UsageException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    UsageException(String message) {
        super(message);
    }
}
