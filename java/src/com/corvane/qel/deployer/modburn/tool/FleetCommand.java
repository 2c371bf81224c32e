package com.corvane.qel.deployer.modburn.tool;

import java.io.IOException;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.time.Instant;
import java.time.LocalDateTime;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/** modburn fleet: the switches of an inventory, updated in parallel, one log file each. */
@Command(name = "fleet", mixinStandardHelpOptions = true,
    description = {"Updates the switches of an inventory (CSV with a header, or JSON) in parallel.",
        "Columns: family, address, user, password, url, and optionally url_password, reboot, modifier, name, canary.",
        "Passwords are references: file:PATH (relative to the inventory), env:NAME or prompt[:LABEL].",
        "A rollout can start with canaries (--canary, or the canary column): the rest start only when every "
            + "canary succeeded. It can run in waves (--wave-size, --wave-pause) and within a failure budget "
            + "(--max-failures): once that many updates have failed, no new one starts and the running ones finish.",
        "--report writes a JSON record of the run; --retry-from runs again what such a record shows as failed "
            + "or not started.",
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

    @Option(names = "--wave-pause", paramLabel = "DURATION",
        description = "pause between waves (and after the canaries): 30s, 5m, 1m30s, 1h (default none)")
    String wavePause;

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
        Rollout.Budget budget = maxFailures == null ? null : Rollout.Budget.parse(maxFailures);
        long pauseMillis = wavePause == null ? 0 : Rollout.duration(wavePause, "--wave-pause");
        boolean live = run.check(ctx.outTerminal);
        WaitBack wait = waitBack.build();
        if (checkTimeout < 1 || checkTimeout > 600) {
            throw new UsageException("--check-timeout takes 1 to 600 seconds");
        }
        List<Inventory.Entry> entries;
        try {
            entries = Inventory.read(ctx.cwd.resolve(inventory));
        } catch (Inventory.InventoryException e) {
            for (String p : e.problems) {
                ctx.err.println("modburn: " + p);
            }
            ctx.err.println("modburn: nothing started");
            return Status.EXIT_SETUP;
        }
        if (canary != null && entries.stream().anyMatch(Inventory.Entry::canary)) {
            throw new UsageException("--canary is for an inventory without a canary column: " + inventory
                + " marks its canaries itself");
        }
        List<FleetReport.Known> carried = new ArrayList<>();
        if (retryFrom != null) {
            try {
                entries = retrySelection(entries, FleetReport.read(ctx.cwd.resolve(retryFrom)), carried);
            } catch (SetupException e) {
                ctx.err.println("modburn: " + e.getMessage());
                ctx.err.println("modburn: nothing started");
                return Status.EXIT_SETUP;
            }
            if (entries.isEmpty()) {
                ctx.out.println("modburn: every switch of " + retryFrom + " succeeded; nothing to retry");
                return Status.EXIT_OK;
            }
        }
        List<Job> jobs;
        try {
            jobs = resolve(entries);
        } catch (SetupException e) {
            ctx.err.println("modburn: " + e.getMessage());
            ctx.err.println("modburn: nothing started");
            return Status.EXIT_SETUP;
        }
        if (checkFirst) {
            Integer refused = checkFirst(jobs);
            if (refused != null) {
                return refused;
            }
        }
        Path dir = ctx.cwd.resolve(logDir != null ? logDir
            : Path.of("modburn-logs", "fleet-" + DateTimeFormatter.ofPattern("yyyyMMdd-HHmmss").format(LocalDateTime.now())));
        try {
            Files.createDirectories(dir);
        } catch (IOException e) {
            ctx.err.println("modburn: cannot create the log folder " + dir + ": " + e.getMessage());
            ctx.err.println("modburn: nothing started");
            return Status.EXIT_SETUP;
        }
        List<Path> files = logFiles(jobs, dir);
        List<FleetRunner.Slot> slots = new ArrayList<>();
        for (int i = 0; i < jobs.size(); i++) {
            FleetRunner.Slot slot = new FleetRunner.Slot(jobs.get(i), files.get(i));
            slot.canary = entries.get(i).canary();
            slots.add(slot);
        }
        Rollout plan = Rollout.plan(slots, canary == null ? 0 : canary, waveSize == null ? 0 : waveSize, budget,
            pauseMillis);
        FleetReport record = null;
        if (report != null) {
            List<String> command = new ArrayList<>(List.of("modburn"));
            command.addAll(ctx.arguments);
            record = new FleetReport(ctx.cwd.resolve(report), command, ctx.cwd.resolve(inventory).toString(),
                Instant.now(), everySecret(jobs), carried);
            try {
                record.write(record.render(slots, System.nanoTime(), plan,
                    new FleetReport.Ending(null, FleetRunner.Stop.NONE, "")));
            } catch (IOException e) {
                ctx.err.println("modburn: cannot write the report " + record.file() + ": " + e.getMessage());
                ctx.err.println("modburn: nothing started");
                return Status.EXIT_SETUP;
            }
        }
        return runFleet(slots, plan, jobs, dir, live, record, wait);
    }

    /**
     * The entries to run again: those the report shows as failed or not started. The report's
     * successes are carried into the new report. Throws SetupException naming every switch of
     * the inventory that the report does not know (by name, with the same address).
     */
    private List<Inventory.Entry> retrySelection(List<Inventory.Entry> entries, Map<String, FleetReport.Known> known,
            List<FleetReport.Known> carried) throws SetupException {
        List<String> unknown = new ArrayList<>();
        List<Inventory.Entry> again = new ArrayList<>();
        for (Inventory.Entry e : entries) {
            FleetReport.Known k = known.get(e.name());
            if (k == null || !k.address().equalsIgnoreCase(e.address())) {
                unknown.add(e.name() + " (line " + e.line() + (k == null ? "" : ", the report has it at " + k.address())
                    + ")");
            } else if (k.succeeded()) {
                carried.add(k);
            } else {
                again.add(e);
            }
        }
        if (!unknown.isEmpty()) {
            throw new SetupException(retryFrom + " does not know " + (unknown.size() == 1 ? "this switch" : "these "
                + unknown.size() + " switches") + " of " + inventory + ": " + String.join(", ", unknown));
        }
        if (!again.isEmpty()) {
            ctx.out.println("modburn: retrying " + again.size() + " of " + entries.size() + " switches ("
                + carried.size() + " succeeded in " + retryFrom + ")");
        }
        return again;
    }

    /** The pre-flight check of every job; null when all passed, else the exit status. */
    private Integer checkFirst(List<Job> jobs) {
        List<Preflight.Pending> pending = new ArrayList<>();
        for (Job j : jobs) {
            pending.add(Preflight.ready(j));
        }
        try {
            if (CheckCommand.run(ctx, pending, parallel, checkTimeout * 1000)) {
                ctx.out.println();
                return null;
            }
        } catch (SetupException e) {
            ctx.err.println("modburn: " + e.getMessage());
            ctx.err.println("modburn: nothing started");
            return Status.EXIT_SETUP;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return Status.EXIT_INTERRUPTED;
        }
        ctx.err.println("modburn: the check found problems; nothing started");
        return Status.EXIT_SOME_FAILED;
    }

    /** Reads every password the inventory refers to, before anything starts. */
    private List<Job> resolve(List<Inventory.Entry> entries) throws SetupException {
        PasswordReader reader = new PasswordReader(ctx.stdin, ctx.prompter, ctx.env);
        List<Job> jobs = new ArrayList<>();
        for (Inventory.Entry e : entries) {
            try {
                String pw = reader.read(e.password(), "switch password");
                String url = e.url();
                if (e.urlPassword() != null) {
                    url = FileUrl.withPassword(url, reader.read(e.urlPassword(), "URL password"));
                }
                jobs.add(new Job(e.name(), e.line(), e.family(), e.address(), e.user(), pw, url, e.reboot(),
                    e.modifier(), run.debug));
            } catch (PasswordException | IllegalArgumentException x) {
                throw new SetupException(inventory + ": line " + e.line() + ": " + x.getMessage());
            }
        }
        return jobs;
    }

    /** A masker for every password of the fleet. */
    private static Masker everySecret(List<Job> jobs) {
        List<String> secrets = new ArrayList<>();
        for (Job j : jobs) {
            secrets.add(j.password());
            secrets.add(FileUrl.password(j.url()));
        }
        return Masker.of(secrets.toArray(new String[0]));
    }

    /** A log file name for each job: its name made safe for a file name, unique in the folder. */
    static List<Path> logFiles(List<Job> jobs, Path dir) {
        Set<String> used = new HashSet<>();
        List<Path> files = new ArrayList<>();
        for (Job j : jobs) {
            String base = j.name().replaceAll("[^A-Za-z0-9._-]", "_");
            if (base.isEmpty() || base.startsWith(".")) {
                base = "switch" + base;
            }
            String name = base;
            for (int n = 2; !used.add(name.toLowerCase(Locale.ROOT)); n++) {
                name = base + "-" + n;
            }
            files.add(dir.resolve(name + ".log"));
        }
        return files;
    }

    private int runFleet(List<FleetRunner.Slot> slots, Rollout plan, List<Job> jobs, Path dir, boolean live,
            FleetReport record, WaitBack wait) {
        Path fleetLog = dir.resolve("fleet.log");
        FleetView view = live ? new FleetView.Live(ctx.out, ctx.width(), ctx.height())
            : new FleetView.Plain(ctx.out, LocalTime::now);
        FleetRunner runner;
        try (Writer shared = Files.newBufferedWriter(fleetLog, StandardCharsets.UTF_8, StandardOpenOption.CREATE,
                StandardOpenOption.APPEND)) {
            // Entries written outside any update (the library's start-up line) go to fleet.log.
            LogRouter router = new LogRouter(new SwitchLog(shared, false, everySecret(jobs), new Progress("")));
            int atOnce = DescriptorBudget.atOnce(ctx, Math.max(1, Math.min(parallel, jobs.size())));
            Backend backend = ctx.backend.get();
            backend.open(router, run.telnetDebug);
            runner = new FleetRunner(backend, router, atOnce, System::nanoTime);
            view.following(runner);
            runner.waitBack(wait);
            ctx.interrupts.onInterrupt(runner::requestStop);
            ctx.out.println("modburn: " + jobs.size() + " switches, " + atOnce
                + " at a time; logs in " + dir + (record == null ? "" : "; report in " + record.file()));
            FleetRunner.Display shown = record == null ? view : new Recording(view, record, plan, runner, slots);
            runner.run(plan, slots, shown, live ? 250 : 500);
            view.summary(slots, System.nanoTime(), runner.stopReason() == FleetRunner.Stop.INTERRUPTED
                ? "" : runner.stopWhy());
        } catch (SetupException e) {
            ctx.err.println("modburn: " + e.getMessage());
            finalReport(record, slots, plan, e.getMessage());
            return Status.EXIT_SETUP;
        } catch (IOException e) {
            ctx.err.println("modburn: the fleet log " + fleetLog + ": " + e.getMessage());
            finalReport(record, slots, plan, "the fleet log: " + e.getMessage());
            return Status.EXIT_SETUP;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return Status.EXIT_INTERRUPTED;
        }
        if (record != null) {
            try {
                record.write(record.render(slots, System.nanoTime(), plan,
                    new FleetReport.Ending(Instant.now(), runner.stopReason(), runner.stopWhy())));
                ctx.out.println("modburn: report written to " + record.file());
            } catch (IOException e) {
                ctx.err.println("modburn: cannot write the report " + record.file() + ": " + e.getMessage());
            }
        }
        boolean failed = false;
        boolean skipped = false;
        for (FleetRunner.Slot s : slots) {
            failed |= s.progress.state() == Progress.State.FAILED;
            skipped |= s.progress.state() == Progress.State.SKIPPED;
        }
        return switch (runner.stopReason()) {
            case CANARY -> Status.EXIT_CANARY;
            case BUDGET -> skipped ? Status.EXIT_BUDGET : Status.EXIT_SOME_FAILED;
            default -> failed ? Status.EXIT_SOME_FAILED : skipped ? Status.EXIT_INTERRUPTED : Status.EXIT_OK;
        };
    }

    /** The report of a rollout that could not start: every switch not started, and why. */
    private void finalReport(FleetReport record, List<FleetRunner.Slot> slots, Rollout plan, String why) {
        if (record == null) {
            return;
        }
        for (FleetRunner.Slot s : slots) {
            if (s.progress.state() == Progress.State.WAITING) {
                s.progress.skip(why);
            }
        }
        try {
            record.write(record.render(slots, System.nanoTime(), plan,
                new FleetReport.Ending(Instant.now(), FleetRunner.Stop.NONE, why)));
        } catch (IOException e) {
            ctx.err.println("modburn: cannot write the report " + record.file() + ": " + e.getMessage());
        }
    }

    /**
     * The view, and the report rewritten each time a switch ends (on that update's thread, one
     * write at a time), so that the report holds every finished switch even if the tool is quit
     * at once (a second Ctrl-C).
     */
    private final class Recording implements FleetRunner.Display {
        private final FleetView view;
        private final FleetReport record;
        private final Rollout plan;
        private final FleetRunner runner;
        private final List<FleetRunner.Slot> slots;
        private boolean warned;

        Recording(FleetView view, FleetReport record, Rollout plan, FleetRunner runner, List<FleetRunner.Slot> slots) {
            this.slots = slots;
            this.view = view;
            this.record = record;
            this.plan = plan;
            this.runner = runner;
        }

        @Override
        public void refresh(List<FleetRunner.Slot> slots, long nowNanos) {
            view.refresh(slots, nowNanos);
        }

        @Override
        public synchronized void ended(FleetRunner.Slot slot) {
            try {
                record.write(record.render(slots, System.nanoTime(), plan,
                    new FleetReport.Ending(null, runner.stopReason(), runner.stopWhy())));
            } catch (IOException | RuntimeException e) {
                if (!warned) {
                    warned = true;
                    view.say("modburn: cannot write the report " + record.file() + ": " + e.getMessage());
                }
            }
        }

        @Override
        public void stopping(int running) {
            view.stopping(running);
        }

        @Override
        public void phase(String text) {
            view.phase(text);
        }

        @Override
        public void halted(String why, int running) {
            view.halted(why, running);
        }
    }
}
