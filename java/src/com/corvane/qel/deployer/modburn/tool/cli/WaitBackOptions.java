package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.fleet.WaitBack;
import java.time.Duration;
import picocli.CommandLine.Option;

/** The option that makes update and fleet wait for a rebooted switch to come back. */
final class WaitBackOptions {
    @Option(names = "--wait-back", paramLabel = "DURATION", converter = DurationConverter.class,
        description = "after an update with reboot, wait up to DURATION (1s to 24h: " + DurationConverter.FORMS
            + ") for the switch's console port to stop answering and answer again; a switch not back fails")
    Duration waitBack;

    /** Time between polls of the console port; the tests shorten it. */
    @Option(names = "--wait-back-poll-ms", hidden = true, defaultValue = "" + WaitBack.DEFAULT_POLL_MILLIS)
    long pollMillis;

    /** The wait the options ask for, or null for none; throws UsageException for a bad value. */
    WaitBack build() {
        return waitBack == null ? null : build(waitBack);
    }

    /**
     * The wait a verification runs: the one asked for, else the default one (a verified update
     * with a reboot waits for the switch, and reads the versions of one that has come back).
     */
    WaitBack buildForVerify() {
        return build(waitBack == null ? WaitBack.DEFAULT_LIMIT : waitBack);
    }

    private WaitBack build(Duration limit) {
        if (pollMillis < 1 || pollMillis > 60_000) {
            throw new UsageException("--wait-back-poll-ms takes 1 to 60000");
        }
        return WaitBack.of(DurationConverter.within(limit, "--wait-back", Duration.ofSeconds(1), Duration.ofDays(1)),
            pollMillis);
    }
}
