package com.corvane.qel.deployer.modburn.tool;

import java.io.IOException;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.time.LocalDateTime;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/** modburn fleet: the switches of an inventory, updated in parallel, one log file each. */
@Command(name = "fleet", mixinStandardHelpOptions = true,
    description = {"Updates the switches of an inventory (CSV with a header, or JSON) in parallel.",
        "Columns: family, address, user, password, url, and optionally url_password, reboot, modifier, name.",
        "Passwords are references: file:PATH (relative to the inventory), env:NAME or prompt[:LABEL].",
        "Ctrl-C starts no more updates and waits for the running ones; a second Ctrl-C quits at once."},
    exitCodeListHeading = "%nExit status:%n",
    exitCodeList = {"  0:every switch updated", "  1:at least one switch failed", "  2:bad option or argument",
        "  3:inventory, password, log folder or library not usable (nothing started)",
        "130:stopped by Ctrl-C before every switch ran (none failed)"})
final class FleetCommand implements Callable<Integer> {
    private final Context ctx;

    @Parameters(index = "0", paramLabel = "INVENTORY", description = "the inventory file (.csv or .json)")
    Path inventory;

    @Option(names = "--parallel", paramLabel = "N", defaultValue = "8",
        description = "updates at once (default ${DEFAULT-VALUE})")
    int parallel;

    @Option(names = "--log-dir", paramLabel = "DIR",
        description = "folder for the per-switch logs (default modburn-logs/fleet-<date>-<time>)")
    Path logDir;

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

    static final int MAX_PARALLEL = 256;

    @Override
    public Integer call() {
        if (parallel < 1 || parallel > MAX_PARALLEL) {
            throw new UsageException("--parallel takes 1 to " + MAX_PARALLEL);
        }
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
        return runFleet(jobs, dir, live, wait);
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

    private int runFleet(List<Job> jobs, Path dir, boolean live, WaitBack wait) {
        List<Path> files = logFiles(jobs, dir);
        List<FleetRunner.Slot> slots = new ArrayList<>();
        for (int i = 0; i < jobs.size(); i++) {
            slots.add(new FleetRunner.Slot(jobs.get(i), files.get(i)));
        }
        Path fleetLog = dir.resolve("fleet.log");
        FleetView view = live ? new FleetView.Live(ctx.out, ctx.width(), ctx.height())
            : new FleetView.Plain(ctx.out, LocalTime::now);
        try (Writer shared = Files.newBufferedWriter(fleetLog, StandardCharsets.UTF_8, StandardOpenOption.CREATE,
                StandardOpenOption.APPEND)) {
            // Entries written outside any update (the library's start-up line) go to fleet.log.
            LogRouter router = new LogRouter(new SwitchLog(shared, false, everySecret(jobs), new Progress("")));
            Backend backend = ctx.backend.get();
            backend.open(router, run.telnetDebug);
            FleetRunner runner = new FleetRunner(backend, router, parallel, System::nanoTime);
            runner.waitBack(wait);
            ctx.interrupts.onInterrupt(runner::requestStop);
            ctx.out.println("modburn: " + jobs.size() + " switches, " + Math.min(parallel, jobs.size())
                + " at a time; logs in " + dir);
            runner.run(slots, view, live ? 250 : 500);
            view.summary(slots, System.nanoTime());
        } catch (SetupException e) {
            ctx.err.println("modburn: " + e.getMessage());
            return Status.EXIT_SETUP;
        } catch (IOException e) {
            ctx.err.println("modburn: the fleet log " + fleetLog + ": " + e.getMessage());
            return Status.EXIT_SETUP;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return Status.EXIT_INTERRUPTED;
        }
        boolean failed = false;
        boolean skipped = false;
        for (FleetRunner.Slot s : slots) {
            failed |= s.progress.state() == Progress.State.FAILED;
            skipped |= s.progress.state() == Progress.State.SKIPPED;
        }
        return failed ? Status.EXIT_SOME_FAILED : skipped ? Status.EXIT_INTERRUPTED : Status.EXIT_OK;
    }
}
