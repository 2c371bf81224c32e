package com.corvane.qel.deployer.modburn;

/**
 * One switch module of a blade chassis whose firmware the native library
 * updates over the switch's TELNET console.
 *
 * <p>The library reads the public fields when {@link #update} or {@link #readVersions}
 * runs. The static methods set up the library for the whole process: call
 * {@link #platform_init} first, then {@link #setLogFile} and/or {@link #setAppLogger}. Several threads
 * may run updates at once, each on its own {@code Switch}.
 *
 * <p>The class loads {@code libmodburn.so} itself: from {@code java.library.path} when it is
 * there, else the copy that {@code modburn.jar} carries for this platform (see
 * {@link #nativeLibrary}).
 */
public class Switch {
    private static final String LIBRARY = NativeLibrary.load();

    /** Family codes for {@link #switchType}. */
    public static final int CISCO = 1;
    public static final int VELTRA = 2;
    public static final int NORTEL = 3;
    public static final int QLOGIC = 4;
    public static final int MCDATA = 5;
    public static final int BROCADE = 6;
    public static final int TOPSPIN = 7;
    public static final int INTEL = 8;
    public static final int CISCO_FC = 9;
    public static final int IB_BRIDGE = 10;
    public static final int SAS = 11;

    /** The switch family, one of the codes above. */
    public int switchType;
    /** Management address: IPv4, bracketed IPv6 or host name, with an optional ":port". */
    public String targetip;
    /** Switch login. */
    public String user;
    /** Switch password; never logged in clear. */
    public String password;
    /** Library log detail: 0 failures and outcomes, 1 progress, 2 every exchange. */
    public int debugLevel;

    /** Told how each update of this switch goes; null: nobody. */
    private volatile ProgressListener progressListener;

    /** A receiver to be filled in field by field. */
    public Switch() {
    }

    public Switch(int switchType, String targetip, String user, String password, int debugLevel) {
        this.switchType = switchType;
        this.targetip = targetip;
        this.user = user;
        this.password = password;
        this.debugLevel = debugLevel;
    }

    /** A destination for the library's log lines; any object with this method will do. */
    public interface AppLogger {
        void log(String line);
    }

    /**
     * A destination for the library's log lines that is told where each line comes from: the
     * library calls {@link #log(int, String)} on it instead of {@link #log(String)}.
     */
    public interface SourceLogger extends AppLogger {
        /** A line of the library: set-up, progress, the switch dialogue, an update's success. */
        int LIBRARY = 0;
        /** The line that reports a failed update: "update failed: error code=... (errmsg=...)". */
        int UPDATE_FAILED = 1;
        /** A line of the TELNET layer's own trace (see {@link #setTelnetDebugLevel}). */
        int TELNET = 2;

        /** One line (with its line end) from source, one of the constants above. */
        void log(int source, String line);

        @Override
        default void log(String line) {
            log(LIBRARY, line);
        }
    }

    /**
     * Told how an update goes, as it goes: the stages it enters, the progress the switch's
     * console prints, and the outcome. The library calls {@link #onProgress} on the thread that
     * runs {@link #update}, in order, while the update waits for it; the outcome is always the
     * last call. An exception the listener throws is logged and ignored: the update goes on as if
     * the call had returned. A listener that takes long holds up the update (and the switch's
     * console) for as long.
     */
    @FunctionalInterface
    public interface ProgressListener {
        /** The update entered stage: connect, logConfigInfo, update, reboot or disconnect; value -1, text "". */
        String STAGE = "stage";
        /** The console printed a line that shows the update going on: text; value -1. */
        String LINE = "line";
        /** The console printed a percentage: value as printed, text its line. */
        String PERCENT = "percent";
        /** The console printed a byte count: value, text its line. */
        String BYTES = "bytes";
        /** The console printed progress marks ("!", "*", "#"): value how many so far in this step, text its line. */
        String MARKS = "marks";
        /**
         * The update ended, the last call: value its result code (0 success, else the code of the
         * SwitchException it throws), text the code's text; stage the last stage it worked in
         * (disconnect aside), "" when the request was refused before connecting.
         */
        String OUTCOME = "outcome";

        /**
         * One event of kind (one of the constants above) in stage (the stage the update is in). A
         * console's text comes escaped (control characters as {@code \x1b}, {@code \r}), with
         * the switch password and the URL password masked, at most 199 characters.
         */
        void onProgress(String stage, String kind, long value, String text);
    }

    /**
     * Sets the listener told how each later {@link #update} of this object goes (null: none). An
     * update reads it as it starts: a change made while one runs applies to the next.
     */
    public void setProgressListener(ProgressListener listener) {
        this.progressListener = listener;
    }

    /** The listener of this object's updates, or null. */
    public ProgressListener getProgressListener() {
        return progressListener;
    }

    /** Where {@code libmodburn.so} was loaded from: a file, or the jar entry and where it was unpacked. */
    public static String nativeLibrary() {
        return LIBRARY;
    }

    /** Starts the library; log lines go to the log file, which is none until {@link #setLogFile}. */
    public static native void platform_init();

    /** Closes the current log file and appends to the named one (null or empty: standard error); drops the Java logger. */
    public static native void setLogFile(String name);

    /**
     * Sends every log line to logger.log(String); the logger must have that method. A
     * {@link SourceLogger} gets log(int, String) instead. Null drops the logger: lines go to the
     * log file.
     */
    public static native void setAppLogger(Object logger);

    /**
     * Sends every log line to a logger of the platform's logging API, without its line end: the
     * library's lines at INFO, the line of a failed update at WARNING, the TELNET trace at DEBUG
     * (java.util.logging shows DEBUG as FINE). Null drops the logger.
     */
    public static void setAppLogger(System.Logger logger) {
        setAppLogger(logger == null ? null : (Object) new PlatformLogger(logger));
    }

    /** How much the TELNET layer logs: 0 nothing, higher is more. */
    public static native void setTelnetDebugLevel(int level);

    /** Host-key policy: an unknown or changed key refuses the SSH connection (the default). */
    public static final int HOST_KEY_STRICT = 0;
    /** Host-key policy: an unknown key is added to the known_hosts file; a changed key is refused. */
    public static final int HOST_KEY_ACCEPT_NEW = 1;

    /**
     * Sets the OpenSSH known_hosts file that every later SSH session ({@code ssh://HOST[:PORT]}
     * addresses) checks the switch's host key against; null or empty restores the default,
     * ~/.ssh/known_hosts of the process's user.
     */
    public static native void setKnownHostsFile(String path);

    /**
     * Sets the host-key policy of every later SSH session: {@link #HOST_KEY_STRICT} or
     * {@link #HOST_KEY_ACCEPT_NEW}. A host key refused ends the update with IO_CONN_ERR before
     * any password is sent, the key's fingerprint in the error text.
     *
     * @throws IllegalArgumentException for any other value
     */
    public static native void setHostKeyPolicy(int policy);

    /**
     * Checks the host key of the SSH console that an {@code ssh://} address names, without
     * logging in and without adding to the known_hosts file whatever the policy.
     *
     * @return three texts: the state ("known", "unknown", "changed", "unusable" for a
     *         known_hosts file that cannot be read, "unreachable", or "invalid" for an address
     *         that is no ssh:// address), the key's type and SHA256 fingerprint (empty when the
     *         server did not show it), and the reason of any state but "known"
     */
    public static native String[] checkHostKey(String address, int timeoutMillis);

    /** Text of a library result code. */
    public static native String err2String(int code);

    /**
     * Updates the switch's firmware from fileurl and reboots it when asked;
     * blocks for the whole switch dialogue.
     *
     * @param fileurl  the firmware image's URL (FTP or TFTP; RCP for one family)
     * @param reboot   reset the switch afterwards
     * @param modifier family-specific target selector
     * @throws SwitchException with the library's result code and the switch's own text
     */
    public native void update(String fileurl, boolean reboot, int modifier) throws SwitchException;

    /**
     * Reads the switch's firmware versions: logs in as {@link #update} does (the same check of
     * address, user and password; no URL), runs the family's own version listing, logs out and
     * closes. Types nothing else on the switch, at every debug level. SAS lists the switch itself;
     * {@link #readVersions(int)} chooses its storage modules.
     *
     * @return one element per version line the listing found, in the switch's order, each
     *         "LABEL: VALUE" with the label of the library's version log line (for example "Active
     *         FW Version") and the value as the switch printed it, escaped as log lines are
     * @throws SwitchException with the codes and error text of update; a listing without a version
     *         line is IO_UPDATE_ERR quoting the switch, one that did not come through whole (a lost
     *         session, a listing without end) the code of what went wrong
     */
    public native String[] readVersions() throws SwitchException;

    /**
     * As {@link #readVersions()}, for the target the modifier names where the family has several
     * (SAS: 1 the switch, 2 storage module SM1, 3 SM2, as for {@link #update}); the other families
     * do not read it.
     */
    public native String[] readVersions(int modifier) throws SwitchException;

    /**
     * Runs the family module's parameter check for the same request as {@link #update} and
     * nothing else: no connection is opened and nothing is typed on a switch. Returns the
     * verdict {@code update} would give before connecting: 0 when the request passes, a negative
     * result code when it is refused, -99 when the library has no module for the family.
     */
    public native int checkRequest(String fileurl, boolean reboot, int modifier);

    @Override
    public String toString() {
        return "Switch[type=" + switchType + ", targetip=" + targetip + ", user=" + user + ", debugLevel="
                + debugLevel + "]";
    }
}
