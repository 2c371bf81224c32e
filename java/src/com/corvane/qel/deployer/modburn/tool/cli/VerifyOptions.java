package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.text.Escape;
import picocli.CommandLine.Option;

/** The options that make update and fleet prove their outcome with the switch's versions. */
final class VerifyOptions {
    @Option(names = "--verify",
        description = "read the switch's versions before the update and again after it (after the wait for a rebooted"
            + " switch, which --reboot then implies: --wait-back, by default 10m); verified when they changed,"
            + " UNCHANGED, WRONG_VERSION or NOT_VERIFIED otherwise")
    boolean verify;

    @Option(names = "--expect-version", paramLabel = "TEXT",
        description = "with --verify: a version after the update must hold TEXT (else WRONG_VERSION)")
    String expectVersion;

    @Option(names = "--skip-current",
        description = "with --verify and an expected version: a switch whose versions already hold it is reported"
            + " current, and nothing but its version listing is typed on it")
    boolean skipCurrent;

    /**
     * Checks the options and returns the expected version (null: none). Throws UsageException for
     * an expected version without a visible character (every version would hold it) or holding a
     * control character, and for the options that need --verify without it.
     */
    String expected() {
        if (expectVersion != null) {
            if (expectVersion.isBlank()) {
                throw new UsageException("--expect-version needs a version: an empty text is held by every version");
            }
            if (Escape.hasControl(expectVersion)) {
                throw new UsageException("--expect-version holds a control character, which no listed version holds");
            }
        }
        if (!verify && (expectVersion != null || skipCurrent)) {
            throw new UsageException((skipCurrent ? "--skip-current" : "--expect-version")
                + " judges the switch's versions: it needs --verify");
        }
        return expectVersion;
    }
}
