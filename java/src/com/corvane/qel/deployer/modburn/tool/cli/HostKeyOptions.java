package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import java.nio.file.Path;
import picocli.CommandLine.Option;

/** How the SSH consoles' host keys are checked: the known_hosts file and the policy for a new key. */
final class HostKeyOptions {
    @Option(names = "--known-hosts", paramLabel = "FILE",
        description = "OpenSSH known_hosts file that the host keys of ssh:// switches are checked against"
            + " (default ~/.ssh/known_hosts)")
    Path knownHosts;

    @Option(names = "--accept-new-host-keys",
        description = "add the host key of an ssh:// switch that the file does not hold yet;"
            + " a changed key is still refused")
    boolean acceptNew;

    /** Sets the file and the policy for every SSH session the command opens. */
    void apply(Context ctx) {
        ctx.backend.get().hostKeys(knownHosts == null ? null : ctx.cwd.resolve(knownHosts).toString(), acceptNew);
    }
}
