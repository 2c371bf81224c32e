package com.corvane.qel.deployer.modburn.tool.bridge;

/**
 * The library's result codes as the tool names them, and the two codes of the tool's own. The
 * library's text for a code comes from the library; the tool keeps only the names, so that it
 * can print them even when the library is not loaded.
 */
public final class Codes {
    private Codes() {
    }

    public static final int NOT_SERVED = -99;
    /** Not a library code: the tool itself could not run the update (its log, a fault). */
    public static final int TOOL_ERROR = -1000;
    /** Not a library code: the update succeeded, but the rebooted switch did not come back in time. */
    public static final int NOT_BACK = -1001;

    private static final String[] NAMES = {
        "IO_SUCCESS", null, "IO_BAD_PARAMS", "IO_INV_LOGIN", "IO_INV_IP", "IO_MISSING_URL",
        "IO_INV_URL_SYNTAX", "IO_INV_URL_LOGIN", "IO_INV_URL_SCHEME", "IO_INV_URL_HOST", "IO_INV_MOD",
        "IO_CONN_ERR", "IO_CONN_LOST", "IO_TIMEOUT", "IO_UPDATE_ERR", "IO_FILE_NOT_FOUND",
        "IO_SERVER_NOT_FOUND", "IO_BAD_FILE", "IO_BAD_SERV_LOGIN", "IO_BAD_SWITCH_LOGIN",
        "IO_BUSY_HARDWARE", "IO_NO_HARDWARE", "IO_NO_IPSTACK",
    };

    /** The symbolic name of a result code, "NOT_SERVED" for -99, or "CODE_n" for anything else. */
    public static String name(int code) {
        if (code == 1) {
            return "IO_SUCCESS_STOP";
        }
        if (code == NOT_SERVED) {
            return "NOT_SERVED";
        }
        if (code == TOOL_ERROR) {
            return "TOOL_ERROR";
        }
        if (code == NOT_BACK) {
            return "NOT_BACK";
        }
        if (code <= 0 && code > -NAMES.length && NAMES[-code] != null) {
            return NAMES[-code];
        }
        return "CODE_" + code;
    }
}
