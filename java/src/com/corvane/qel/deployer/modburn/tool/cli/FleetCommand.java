package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.fleet.FleetReport;
import com.corvane.qel.deployer.modburn.tool.fleet.FleetRun;
import com.corvane.qel.deployer.modburn.tool.fleet.Retry;
import com.corvane.qel.deployer.modburn.tool.fleet.Rollout;
import com.corvane.qel.deployer.modburn.tool.fleet.WaitBack;
import com.corvane.qel.deployer.modburn.tool.inventory.Entry;
import com.corvane.qel.deployer.modburn.tool.inventory.Inventory;
import com.corvane.qel.deployer.modburn.tool.inventory.InventoryException;
import com.corvane.qel.deployer.modburn.tool.preflight.Preflight;
import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordException;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordReader;
import java.nio.file.Path;
import java.time.Duration;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/**
 * modburn fleet: the switches of an inventory, updated in parallel, one log file each. This class
 * turns the command line into the switches to run (the inventory, a retry's choice, the passwords,
 * an optional check first) and the exit status; FleetRun runs them.
 */
@Command(name = "fleet", mixinStandardHelpOptions = true,
    description = {"Updates the switches of an inventory (CSV with a header, or JSON) in parallel.",
        "Columns: family, address, user, password, url, and optionally url_password, reboot, modifier, name, canary,"
            + " chassis, group.",
        "Passwords are references: file:PATH (relative to the inventory), env:NAME or prompt[:LABEL].",
        "A rollout can start with canaries (--canary, or the canary column): the rest start only when every "
            + "canary succeeded. It can run in waves (--wave-size, --wave-pause) and within a failure budget "
            + "(--max-failures): once that many updates have failed, no new one starts and the running ones finish.",
        "With a chassis column (and optionally group, the redundancy set inside the chassis; default: the whole "
            + "chassis), at most --per-chassis modules of a set update, reboot or wait to be back at once, one module "
            + "of every set first across the fleet, then the others; a failed module holds the rest of its set.",
        "--report writes a JSON record of the run; --retry-from runs again what such a record shows as failed "
            + "or not started.",
        "--verify reads every switch's versions before its update and after it (after the wait for a rebooted "
            + "switch); a row's expect_version (else --expect-version) is the version they must hold then.",
        "Ctrl-C starts no more updates and waits for the running ones; a second Ctrl-C quits at once."},
    exitCodeListHeading = "%nExit status:%n",
    exitCodeList = {"  0:every switch updated", "  1:at least one switch failed", "  2:bad option or argument",
        "  3:inventory, password, log folder, report or library not usable (nothing started)",
        "  4:the failure budget was spent: switches were left not started",
        "  5:a canary failed: the rest were not started",
        "130:stopped by Ctrl-C before every switch ran (none failed)"})
final class FleetCommand implements Callable<Integer> {
    private final Context ctx;

    @Parameters(index = "0", paramLabel = "INVENTORY", description = "the inventory file (.csv or .json)")
    Path inventory;

    @Option(names = "--parallel", paramLabel = "N", defaultValue = "8",
        description = "updates at once (default ${DEFAULT-VALUE}; fewer, said so, when the descriptor limit allows fewer)")
    int parallel;

    @Option(names = "--log-dir", paramLabel = "DIR",
        description = "folder for the per-switch logs (default modburn-logs/fleet-<date>-<time>)")
    Path logDir;

    @Option(names = "--canary", paramLabel = "N",
        description = "run the first N switches first, on their own; the rest only if all of them succeed "
            + "(an inventory's canary column marks them instead)")
    Integer canary;

    @Option(names = "--max-failures", paramLabel = "N|P%",
        description = "failure budget: once N updates (or P%% of the switches, rounded up) have failed, start no more "
            + "(default: no limit)")
    String maxFailures;

    @Option(names = "--wave-size", paramLabel = "N",
        description = "run the switches (after the canaries) in waves of N, each once the one before has ended")
    Integer waveSize;

    @Option(names = "--wave-pause", paramLabel = "DURATION", converter = DurationConverter.class,
        description = "pause between waves (and after the canaries), up to 24h: " + DurationConverter.FORMS
            + " (default none)")
    Duration wavePause;

    @Option(names = "--per-chassis", paramLabel = "N",
        description = "with a chassis column: at most N modules of one redundancy set (a chassis, or a group in it) in"
            + " their update, reboot or wait to be back at once (default 1)")
    Integer perChassis;

    @Option(names = "--per-server", paramLabel = "N",
        description = "at most N updates at once fetch from one firmware server (the URL's host); the others wait"
            + " their turn (default: no limit)")
    Integer perServer;

    @Option(names = "--report", paramLabel = "FILE",
        description = "write a JSON report of the run to FILE (rewritten whole as switches end, also on Ctrl-C)")
    Path report;

    @Option(names = "--retry-from", paramLabel = "REPORT",
        description = "run only the switches that REPORT shows as failed or not started")
    Path retryFrom;

    @Mixin
    RunOptions run;

    @Mixin
    WaitBackOptions waitBack;

    @Mixin
    VerifyOptions verify;

    @Mixin
    HostKeyOptions hostKeys;

    @Option(names = "--check-first",
        description = "run 'modburn check' over the inventory first and start nothing if a check fails")
    boolean checkFirst;

    @Option(names = "--check-timeout", paramLabel = "SECONDS", defaultValue = "5",
        description = "with --check-first: how long to wait for each connection and answer (default ${DEFAULT-VALUE})")
    int checkTimeout;

    FleetCommand(Context ctx) {
        this.ctx = ctx;
    }

    static final int MAX_PARALLEL = 10000;

    @Override
    public Integer call() {
        if (parallel < 1 || parallel > MAX_PARALLEL) {
            throw new UsageException("--parallel takes 1 to " + MAX_PARALLEL);
        }
        if (canary != null && canary < 1) {
            throw new UsageException("--canary takes 1 or more");
        }
        if (waveSize != null && waveSize < 1) {
            throw new UsageException("--wave-size takes 1 or more");
        }
        if (perChassis != null && perChassis < 1) {
            throw new UsageException("--per-chassis takes 1 or more: a redundancy set whose modules may never update"
                + " would never be updated");
        }
        if (perChassis != null && perChassis > parallel) {
            throw new UsageException("--per-chassis " + perChassis + " is more than --parallel " + parallel
                + " updates at once in all");
        }
        if (perServer != null && perServer < 1) {
            throw new UsageException("--per-server takes 1 or more");
        }
        Rollout.Budget budget = maxFailures == null ? null : budget(maxFailures);
        long pauseMillis = wavePause == null ? 0
            : DurationConverter.within(wavePause, "--wave-pause", Duration.ZERO, Duration.ofDays(1)).toMillis();
        boolean live = run.check(ctx.outTerminal);
        String expected = verify.expected();
        WaitBack wait = verify.verify ? waitBack.buildForVerify() : waitBack.build();
        if (checkTimeout < 1 || checkTimeout > 600) {
            throw new UsageException("--check-timeout takes 1 to 600 seconds");
        }
        List<Entry> entries;
        try {
            entries = Inventory.read(ctx.cwd.resolve(inventory));
        } catch (InventoryException e) {
            for (String p : e.problems) {
                ctx.warn(p);
            }
            return nothingStarted();
        }
        if (canary != null && entries.stream().anyMatch(Entry::canary)) {
            throw new UsageException("--canary is for an inventory without a canary column: " + inventory
                + " marks its canaries itself");
        }
        if (verify.skipCurrent && expected == null) {
            List<String> without = entries.stream().filter(e -> e.expectVersion().isEmpty())
                .map(e -> String.valueOf(e.line())).toList();
            if (!without.isEmpty()) {
                String lines = String.join(", ", without.subList(0, Math.min(10, without.size())))
                    + (without.size() > 10 ? ", ..." : "");
                throw new UsageException("--skip-current leaves alone a switch that runs its expected version, but "
                    + (without.size() == 1 ? "line " + lines + " of " + inventory + " names none"
                        : "lines " + lines + " of " + inventory + " name none")
                    + ": give expect_version there, or --expect-version");
            }
        }
        boolean chassis = entries.stream().anyMatch(e -> !e.chassis().isEmpty());
        if (perChassis != null && !chassis) {
            throw new UsageException("--per-chassis is for an inventory with a chassis column: " + inventory
                + " names no chassis");
        }
        List<FleetReport.Known> carried = List.of();
        List<Job> jobs;
        try {
            if (retryFrom != null) {
                Retry retry = Retry.select(entries, FleetReport.read(ctx.cwd.resolve(retryFrom)), retryFrom, inventory);
                if (retry.again().isEmpty()) {
                    ctx.tell("every switch of " + retryFrom + " succeeded; nothing to retry");
                    return ExitStatus.OK;
                }
                ctx.tell("retrying " + retry.again().size() + " of " + entries.size() + " switches ("
                    + retry.carried().size() + " succeeded in " + retryFrom + ")");
                entries = retry.again();
                carried = retry.carried();
            }
            jobs = resolve(entries);
        } catch (SetupException e) {
            ctx.warn(e.getMessage());
            return nothingStarted();
        }
        hostKeys.apply(ctx);
        if (checkFirst) {
            Integer refused = checkFirst(jobs);
            if (refused != null) {
                return refused;
            }
        }
        Path dir = ctx.cwd.resolve(logDir != null ? logDir
            : Path.of("modburn-logs", "fleet-" + DateTimeFormatter.ofPattern("yyyyMMdd-HHmmss").format(LocalDateTime.now())));
        List<String> command = new ArrayList<>(List.of("modburn"));
        command.addAll(ctx.arguments);
        FleetRun.Settings settings = new FleetRun.Settings(dir, parallel, live, run.telnetDebug, wait,
            canary == null ? 0 : canary, waveSize == null ? 0 : waveSize, budget, pauseMillis,
            !chassis ? 0 : perChassis == null ? 1 : perChassis, perServer == null ? 0 : perServer,
            report == null ? null : ctx.cwd.resolve(report), command, ctx.cwd.resolve(inventory).toString(), carried,
            verify.verify, verify.skipCurrent, expected);
        try {
            return status(new FleetRun(ctx, settings).run(jobs, entries));
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return ExitStatus.INTERRUPTED;
        }
    }

    private static Rollout.Budget budget(String text) {
        try {
            return Rollout.Budget.parse(text);
        } catch (IllegalArgumentException e) {
            throw new UsageException(e.getMessage());
        }
    }

    private int nothingStarted() {
        ctx.warn("nothing started");
        return ExitStatus.SETUP;
    }

    /** The exit status of a run: how the rollout stopped, then whether switches failed or were left. */
    private static int status(FleetRun.Outcome o) {
        if (o.setupFailed()) {
            return ExitStatus.SETUP;
        }
        return switch (o.stop()) {
            case CANARY -> ExitStatus.CANARY;
            case BUDGET -> o.anySkipped() ? ExitStatus.BUDGET : ExitStatus.SOME_FAILED;
            default -> o.anyFailed() ? ExitStatus.SOME_FAILED : o.anySkipped() ? ExitStatus.INTERRUPTED : ExitStatus.OK;
        };
    }

    /** The pre-flight check of every job; null when all passed, else the exit status. */
    private Integer checkFirst(List<Job> jobs) {
        List<Preflight.Pending> pending = new ArrayList<>();
        for (Job j : jobs) {
            pending.add(Preflight.ready(j));
        }
        try {
            if (CheckCommand.run(ctx, pending, List.of(), parallel, checkTimeout * 1000, hostKeys.acceptNew)) {
                ctx.out.println();
                return null;
            }
        } catch (SetupException e) {
            ctx.warn(e.getMessage());
            return nothingStarted();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return ExitStatus.INTERRUPTED;
        }
        ctx.warn("the check found problems; nothing started");
        return ExitStatus.SOME_FAILED;
    }

    /** Reads every password the inventory refers to, before anything starts. */
    private List<Job> resolve(List<Entry> entries) throws SetupException {
        PasswordReader reader = new PasswordReader(ctx.stdin, ctx.prompter, ctx.env);
        List<Job> jobs = new ArrayList<>();
        for (Entry e : entries) {
            try {
                String pw = reader.read(e.password(), "switch password");
                String url = e.url();
                if (e.urlPassword() != null) {
                    url = FileUrl.withPassword(url, reader.read(e.urlPassword(), "URL password"));
                }
                jobs.add(e.job(pw, url, run.debug));
            } catch (PasswordException | IllegalArgumentException x) {
                throw new SetupException(inventory + ": line " + e.line() + ": " + x.getMessage());
            }
        }
        return jobs;
    }
}
