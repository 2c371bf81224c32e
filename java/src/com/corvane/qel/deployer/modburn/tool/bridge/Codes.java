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
    /** Not a library code: the update succeeded, but the switch's versions are the same as before it. */
    public static final int UNCHANGED = -1002;
    /** Not a library code: the versions changed, but none holds the version expected. */
    public static final int WRONG_VERSION = -1003;
    /** Not a library code: the update succeeded, but the versions could not be read back. */
    public static final int NOT_VERIFIED = -1004;

    private static final String[] NAMES = {
        "IO_SUCCESS", null, "IO_BAD_PARAMS", "IO_INV_LOGIN", "IO_INV_IP", "IO_MISSING_URL",
        "IO_INV_URL_SYNTAX", "IO_INV_URL_LOGIN", "IO_INV_URL_SCHEME", "IO_INV_URL_HOST", "IO_INV_MOD",
        "IO_CONN_ERR", "IO_CONN_LOST", "IO_TIMEOUT", "IO_UPDATE_ERR", "IO_FILE_NOT_FOUND",
        "IO_SERVER_NOT_FOUND", "IO_BAD_FILE", "IO_BAD_SERV_LOGIN", "IO_BAD_SWITCH_LOGIN",
        "IO_BUSY_HARDWARE", "IO_NO_HARDWARE", "IO_NO_IPSTACK",
    };

    /** The symbolic name of a result code, the tool's own by their names, or "CODE_n" for anything else. */
    public static String name(int code) {
        return switch (code) {
            case 1 -> "IO_SUCCESS_STOP";
            case NOT_SERVED -> "NOT_SERVED";
            case TOOL_ERROR -> "TOOL_ERROR";
            case NOT_BACK -> "NOT_BACK";
            case UNCHANGED -> "UNCHANGED";
            case WRONG_VERSION -> "WRONG_VERSION";
            case NOT_VERIFIED -> "NOT_VERIFIED";
            default -> code <= 0 && code > -NAMES.length && NAMES[-code] != null ? NAMES[-code] : "CODE_" + code;
        };
    }
}
