package com.corvane.qel.deployer.modburn.tool;

import picocli.CommandLine.Option;

/** The option that makes update and fleet wait for a rebooted switch to come back. */
final class WaitBackOptions {
    @Option(names = "--wait-back", paramLabel = "DURATION",
        description = "after an update with reboot, wait up to DURATION (600, 90s, 10m, 1h30m, 3:12) for the"
            + " switch's console port to stop answering and answer again; a switch not back fails")
    String waitBack;

    /** Time between polls of the console port; the tests shorten it. */
    @Option(names = "--wait-back-poll-ms", hidden = true, defaultValue = "2000")
    long pollMillis;

    boolean given() {
        return waitBack != null;
    }

    /** The wait the options ask for, or null for none; throws UsageException for a bad value. */
    WaitBack build() {
        if (waitBack == null) {
            return null;
        }
        if (pollMillis < 1 || pollMillis > 60_000) {
            throw new UsageException("--wait-back-poll-ms takes 1 to 60000");
        }
        return WaitBack.of(WaitBack.parseDuration(waitBack), pollMillis);
    }
}
