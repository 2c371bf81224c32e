package com.corvane.qel.deployer.modburn;

/** A failed {@link Switch#update}: the library's result code and its error text. */
public class SwitchException extends Exception {
    private static final long serialVersionUID = 1L;

    private final int code;

    public SwitchException(int code, String message) {
        super(message);
        this.code = code;
    }

    /** The library's result code (negative), e.g. -13 for a time-out, -99 for a family without a module. */
    public int getCode() {
        return code;
    }
}
