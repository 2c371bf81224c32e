package com.corvane.qel.deployer.modburn.tool;

/**
 * The library's result codes as the tool reports them, and the exit status of each class of
 * failure. The library's own text for a code comes from the library; the tool keeps only the
 * names, so that it can print them even when the library is not loaded.
 */
final class Status {
    private Status() {
    }

    // Exit statuses of the tool. The README's table lists the same values.
    static final int EXIT_OK = 0;
    static final int EXIT_SOME_FAILED = 1;       // fleet: at least one switch failed
    static final int EXIT_USAGE = 2;             // bad option or argument
    static final int EXIT_SETUP = 3;             // password, log, inventory or library not usable
    static final int EXIT_BUDGET = 4;            // fleet: the failure budget left switches not started
    static final int EXIT_CANARY = 5;            // fleet: a canary failed, the rest not started
    static final int EXIT_REFUSED = 10;          // request refused by the parameter check
    static final int EXIT_UNREACHABLE = 11;      // no TELNET session could be opened
    static final int EXIT_DIALOGUE = 12;         // session lost, time-out, unexpected switch output
    static final int EXIT_SWITCH_LOGIN = 13;     // the switch refused the login
    static final int EXIT_IMAGE = 14;            // file server or image problem reported by the switch
    static final int EXIT_HARDWARE = 15;         // switch busy or hardware missing
    static final int EXIT_NOT_SERVED = 16;       // the library has no module for the family
    static final int EXIT_OTHER = 17;            // a code outside the known set
    static final int EXIT_INTERNAL = 70;         // a fault of the tool itself
    static final int EXIT_INTERRUPTED = 130;     // fleet stopped by Ctrl-C before every switch ran

    static final int NOT_SERVED = -99;
    /** Not a library code: the tool itself could not run the update (its log, a fault). */
    static final int TOOL_ERROR = -1000;

    private static final String[] NAMES = {
        "IO_SUCCESS", null, "IO_BAD_PARAMS", "IO_INV_LOGIN", "IO_INV_IP", "IO_MISSING_URL",
        "IO_INV_URL_SYNTAX", "IO_INV_URL_LOGIN", "IO_INV_URL_SCHEME", "IO_INV_URL_HOST", "IO_INV_MOD",
        "IO_CONN_ERR", "IO_CONN_LOST", "IO_TIMEOUT", "IO_UPDATE_ERR", "IO_FILE_NOT_FOUND",
        "IO_SERVER_NOT_FOUND", "IO_BAD_FILE", "IO_BAD_SERV_LOGIN", "IO_BAD_SWITCH_LOGIN",
        "IO_BUSY_HARDWARE", "IO_NO_HARDWARE", "IO_NO_IPSTACK",
    };

    /** The symbolic name of a result code, "NOT_SERVED" for -99, or "CODE_n" for anything else. */
    static String name(int code) {
        if (code == 1) {
            return "IO_SUCCESS_STOP";
        }
        if (code == NOT_SERVED) {
            return "NOT_SERVED";
        }
        if (code == TOOL_ERROR) {
            return "TOOL_ERROR";
        }
        if (code <= 0 && code > -NAMES.length && NAMES[-code] != null) {
            return NAMES[-code];
        }
        return "CODE_" + code;
    }

    /** The exit status for the outcome of one update with this result code. */
    static int exitFor(int code) {
        if (code == 0 || code == 1) {
            return EXIT_OK;
        }
        if (code == NOT_SERVED) {
            return EXIT_NOT_SERVED;
        }
        if (code == TOOL_ERROR) {
            return EXIT_SETUP;
        }
        if (code <= -2 && code >= -10) {
            return EXIT_REFUSED;
        }
        return switch (code) {
            case -11, -22 -> EXIT_UNREACHABLE;
            case -12, -13, -14 -> EXIT_DIALOGUE;
            case -19 -> EXIT_SWITCH_LOGIN;
            case -15, -16, -17, -18 -> EXIT_IMAGE;
            case -20, -21 -> EXIT_HARDWARE;
            default -> EXIT_OTHER;
        };
    }
}
