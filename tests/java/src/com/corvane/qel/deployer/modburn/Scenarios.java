package com.corvane.qel.deployer.modburn;

/** Scenarios that run in a child VM of a test (see Native.runChild). */
public final class Scenarios {
    private Scenarios() {
    }

    private static void failingUpdate() {
        try {
            new Switch(0, "10.0.0.1", "admin", "pw", 0).update("ftp://srv/fw.bin", false, 0);
        } catch (SwitchException e) {
            if (e.getCode() != -99) {
                throw new AssertionError("code " + e.getCode());
            }
            return;
        }
        throw new AssertionError("update did not throw");
    }

    public static void main(String[] args) {
        switch (args[0]) {
            case "init-only":
                // No log file: every entry becomes the PROBLEM line on standard output.
                Switch.platform_init();
                failingUpdate();
                break;
            case "stderr-then-file":
                Switch.platform_init();
                Switch.setLogFile(null);
                failingUpdate();
                Switch.setLogFile(args[1]);
                failingUpdate();
                break;
            case "empty-name":
                Switch.platform_init();
                Switch.setLogFile("");
                failingUpdate();
                break;
            case "unopenable":
                Switch.platform_init();
                Switch.setLogFile(args[1]);
                failingUpdate();
                break;
            case "throwing-logger":
                Switch.platform_init();
                Switch.setAppLogger((Switch.AppLogger) line -> {
                    throw new IllegalStateException("logger refuses: " + line.trim());
                });
                failingUpdate();
                break;
            default:
                throw new IllegalArgumentException(args[0]);
        }
    }
}
