package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;

/** The tool's exit statuses, and the status of each class of failure of one update. */
public final class ExitStatus {
    private ExitStatus() {
    }

    // The README's table lists the same values.
    public static final int OK = 0;
    public static final int SOME_FAILED = 1;     // fleet: at least one switch failed
    public static final int USAGE = 2;           // bad option or argument
    public static final int SETUP = 3;           // password, log, inventory or library not usable
    public static final int BUDGET = 4;          // fleet: the failure budget left switches not started
    public static final int CANARY = 5;          // fleet: a canary failed, the rest not started
    public static final int REFUSED = 10;        // request refused by the parameter check
    public static final int UNREACHABLE = 11;    // no TELNET session could be opened
    public static final int DIALOGUE = 12;       // session lost, time-out, unexpected switch output
    public static final int SWITCH_LOGIN = 13;   // the switch refused the login
    public static final int IMAGE = 14;          // file server or image problem reported by the switch
    public static final int HARDWARE = 15;       // switch busy or hardware missing
    public static final int NOT_SERVED = 16;     // the library has no module for the family
    public static final int OTHER = 17;          // a code outside the known set
    public static final int UNCHANGED = 18;      // --verify: updated, but the versions did not change
    public static final int WRONG_VERSION = 19;  // --verify: the versions changed, but not to the one expected
    public static final int NOT_VERIFIED = 20;   // --verify: updated, but the versions could not be read back
    public static final int INTERNAL = 70;       // a fault of the tool itself
    public static final int INTERRUPTED = 130;   // fleet stopped by Ctrl-C before every switch ran

    /** The part of a command that runs once its arguments are taken: it may find the set-up unusable. */
    interface Work {
        int run() throws SetupException, InterruptedException;
    }

    /**
     * The status of the work, or SETUP for a set-up it found unusable (said on the error output),
     * or INTERRUPTED when its thread was interrupted.
     */
    static int of(Context ctx, Work work) {
        try {
            return work.run();
        } catch (SetupException e) {
            ctx.warn(e.getMessage());
            return SETUP;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return INTERRUPTED;
        }
    }

    /** The exit status for the outcome of one update with this result code. */
    public static int forCode(int code) {
        if (code <= -2 && code >= -10) {
            return REFUSED;
        }
        return switch (code) {
            case 0, 1 -> OK;
            case Codes.NOT_SERVED -> NOT_SERVED;
            case Codes.TOOL_ERROR -> SETUP;
            case Codes.NOT_BACK, -11, -22 -> UNREACHABLE;
            case Codes.UNCHANGED -> UNCHANGED;
            case Codes.WRONG_VERSION -> WRONG_VERSION;
            case Codes.NOT_VERIFIED -> NOT_VERIFIED;
            case -12, -13, -14 -> DIALOGUE;
            case -19 -> SWITCH_LOGIN;
            case -15, -16, -17, -18 -> IMAGE;
            case -20, -21 -> HARDWARE;
            default -> OTHER;
        };
    }
}
