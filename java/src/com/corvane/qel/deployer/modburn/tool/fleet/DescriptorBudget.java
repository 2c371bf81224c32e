package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import java.lang.management.ManagementFactory;
import java.lang.management.OperatingSystemMXBean;

/**
 * How many updates at once the process's descriptor limit allows. Each running update holds its
 * switch's TELNET session (an SSH session holds two descriptors) and its log file, and may open
 * one more connection (the reboot wait's probe, the pre-flight check's FTP data connection); the
 * tool itself keeps some (its jars, the
 * fleet log, the report, the standard streams). The JVM raises its soft limit to the hard limit
 * when it starts (and scripts/modburn does so before), so the limit read here is the most this
 * process can get; a --parallel beyond it is lowered, with a message, instead of failing updates
 * with "too many open files".
 */
public final class DescriptorBudget {
    static final int PER_UPDATE = 3;
    /** An SSH session holds its socket and the SSH layer's own copy of it. */
    static final int PER_SSH_UPDATE = PER_UPDATE + 1;
    static final int RESERVE = 64;

    final long limit;
    final long open;

    public DescriptorBudget(long limit, long open) {
        this.limit = limit;
        this.open = open;
    }

    /** This process's limit and the descriptors it has open now; no limit known: unlimited. */
    public static DescriptorBudget current() {
        OperatingSystemMXBean os = ManagementFactory.getOperatingSystemMXBean();
        if (os instanceof com.sun.management.UnixOperatingSystemMXBean unix) {
            return new DescriptorBudget(unix.getMaxFileDescriptorCount(), unix.getOpenFileDescriptorCount());
        }
        return new DescriptorBudget(Long.MAX_VALUE, 0);
    }

    /** The updates at once the limit allows, at most wanted; 0 when not even one fits. */
    int allows(int wanted) {
        return allows(wanted, false);
    }

    /** The same for updates of which some (ssh) run over SSH, each counted as one over SSH. */
    int allows(int wanted, boolean ssh) {
        long free = limit - open - RESERVE;
        return (int) Math.max(0, Math.min(wanted, free / perUpdate(ssh)));
    }

    static int perUpdate(boolean ssh) {
        return ssh ? PER_SSH_UPDATE : PER_UPDATE;
    }

    /**
     * The updates to run at once for wanted (already no more than the switches to run): wanted,
     * or fewer when the limit allows fewer, which is said on the error output.
     */
    public static int atOnce(Context ctx, int wanted) throws SetupException {
        return atOnce(ctx, wanted, false);
    }

    /** The same for switches of which some (ssh) are reached over SSH. */
    public static int atOnce(Context ctx, int wanted, boolean ssh) throws SetupException {
        DescriptorBudget budget = ctx.descriptors.get();
        int allowed = budget.allows(wanted, ssh);
        if (allowed < wanted) {
            String why = budget.lowered("--parallel", wanted, allowed, ssh);
            if (allowed == 0) {
                throw new SetupException(why);
            }
            ctx.warn(why);
        }
        return allowed;
    }

    /** The message for a parallelism lowered from wanted to allowed (allowed 0: refused). */
    String lowered(String option, int wanted, int allowed) {
        return lowered(option, wanted, allowed, false);
    }

    String lowered(String option, int wanted, int allowed, boolean ssh) {
        String need = option + " " + wanted + " needs about " + ((long) wanted * perUpdate(ssh) + RESERVE)
            + " descriptors (a session" + (ssh ? " (two over SSH)" : "")
            + ", a log file and one connection more per update), but this process may"
            + " open " + limit + " and has " + open + " open (ulimit -n; raise the hard limit, ulimit -Hn or"
            + " LimitNOFILE, for more)";
        return allowed == 0 ? need + ": not even one update fits" : need + ": running " + allowed + " at a time";
    }
}
