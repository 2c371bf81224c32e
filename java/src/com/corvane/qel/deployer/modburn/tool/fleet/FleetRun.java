package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.inventory.Entry;
import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import java.io.IOException;
import java.io.Writer;
import java.nio.file.Path;
import java.time.Instant;
import java.time.LocalTime;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

/**
 * One run of a fleet whose switches are known and whose passwords are read: its log folder
 * (a log file per switch, and fleet.log for the entries of no update), the rollout's plan, the
 * runner, the live table or plain lines, the report and the closing summary.
 */
public final class FleetRun {
    /**
     * How to run: the log folder, updates at once, the display, the library's telnet debug
     * level, the wait for rebooted switches (null: none), the rollout (canaries, waves, budget,
     * pause), the modules of a chassis's redundancy set and the updates per firmware server at
     * once (0: no limit), the report (null: none) with what it records of the command, and the
     * verification: whether the versions are read and judged, whether a switch that holds its
     * expected version is left alone, and the expected version of the rows that name none (null:
     * none).
     */
    public record Settings(Path logDir, int parallel, boolean live, int telnetDebug, WaitBack waitBack,
                           int canaryCount, int waveSize, Rollout.Budget budget, long pauseMillis,
                           int perChassis, int perServer,
                           Path report, List<String> command, String inventory, List<FleetReport.Known> carried,
                           boolean verify, boolean skipCurrent, String expectVersion) {
    }

    /** How the run ended: not started (a setup failure), or the rollout's stop and its outcomes. */
    public record Outcome(boolean setupFailed, Stop stop, boolean anyFailed, boolean anySkipped) {
        static Outcome notStarted() {
            return new Outcome(true, Stop.NONE, false, false);
        }
    }

    /** The log of entries written outside any update (the library's start-up line), in the log folder. */
    static final String FLEET_LOG = "fleet.log";

    private final Context ctx;
    private final Settings settings;

    public FleetRun(Context ctx, Settings settings) {
        this.ctx = ctx;
        this.settings = settings;
    }

    /**
     * Runs the jobs of the entries (in inventory order; each entry marks its canary and names its
     * chassis) and returns how the run ended. What keeps it from starting is said on the error
     * output.
     */
    public Outcome run(List<Job> jobs, List<Entry> entries) throws InterruptedException {
        Path dir = settings.logDir();
        List<Path> files = logFiles(jobs, dir);
        try {
            PrivateFiles.folder(dir);
            for (Path f : files) {
                PrivateFiles.refuseLink(f);
            }
            PrivateFiles.refuseLink(dir.resolve(FLEET_LOG));
        } catch (IOException e) {
            ctx.warn("cannot write the logs in " + dir + ": " + e.getMessage());
            ctx.warn("nothing started");
            return Outcome.notStarted();
        }
        List<Slot> slots = new ArrayList<>();
        for (int i = 0; i < jobs.size(); i++) {
            Slot slot = new Slot(jobs.get(i), files.get(i));
            Entry e = entries.get(i);
            slot.canary = e.canary();
            slot.chassis = e.chassis();
            slot.group = e.group();
            slot.set = e.redundancySet();
            if (settings.verify()) {
                slot.expect = !e.expectVersion().isEmpty() ? e.expectVersion() : settings.expectVersion();
            }
            slots.add(slot);
        }
        warnWholeSets(slots);
        Rollout plan = Rollout.plan(slots, settings.canaryCount(), settings.waveSize(), settings.budget(),
            settings.pauseMillis());
        FleetReport record = null;
        if (settings.report() != null) {
            record = new FleetReport(settings.report(), settings.command(), settings.inventory(), Instant.now(),
                everySecret(jobs), settings.carried());
            try {
                record.write(record.render(slots, System.nanoTime(), plan,
                    new FleetReport.Ending(null, Stop.NONE, "")));
            } catch (IOException e) {
                ctx.warn("cannot write the report " + record.file() + ": " + e.getMessage());
                ctx.warn("nothing started");
                return Outcome.notStarted();
            }
        }
        return run(slots, plan, jobs, dir, record);
    }

    /**
     * Says when --per-chassis lets every module of a redundancy set update at once: the rule
     * then keeps no path of its blades up.
     */
    private void warnWholeSets(List<Slot> slots) {
        Map<String, List<Slot>> sets = new LinkedHashMap<>();
        for (Slot s : slots) {
            if (s.set != null) {
                sets.computeIfAbsent(s.set, k -> new ArrayList<>()).add(s);
            }
        }
        List<String> whole = new ArrayList<>();
        for (List<Slot> set : sets.values()) {
            if (set.size() > 1 && set.size() <= settings.perChassis()) {
                whole.add(set.get(0).place());
            }
        }
        if (!whole.isEmpty()) {
            ctx.warn("warning: --per-chassis " + settings.perChassis() + " lets every module of " + whole.size()
                + (whole.size() == 1 ? " redundancy set (" : " redundancy sets (")
                + String.join(", ", whole.subList(0, Math.min(5, whole.size()))) + (whole.size() > 5 ? ", ..." : "")
                + ") update at once: their blades lose their paths meanwhile");
        }
    }

    /** A masker for every password of the fleet. */
    static Masker everySecret(List<Job> jobs) {
        List<String> secrets = new ArrayList<>();
        for (Job j : jobs) {
            secrets.add(j.password());
            secrets.add(FileUrl.hidden(j.url()));
        }
        return Masker.of(secrets);
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

    private Outcome run(List<Slot> slots, Rollout plan, List<Job> jobs, Path dir, FleetReport record)
            throws InterruptedException {
        Path fleetLog = dir.resolve(FLEET_LOG);
        FleetView view = settings.live() ? new FleetView.Live(ctx.out, ctx.width(), ctx.height())
            : new FleetView.Plain(ctx.out, LocalTime::now);
        FleetRunner runner;
        try (Writer shared = PrivateFiles.open(fleetLog, true)) {
            // Entries written outside any update (the library's start-up line) go to fleet.log.
            SwitchLog fallback = new SwitchLog(shared, false, everySecret(jobs));
            LogRouter router = new LogRouter(fallback::entry);
            int atOnce = DescriptorBudget.atOnce(ctx, Math.max(1, Math.min(settings.parallel(), jobs.size())),
                Job.anySsh(jobs));
            Backend backend = ctx.backend.get();
            backend.open(router, settings.telnetDebug());
            runner = new FleetRunner(backend, router, atOnce, System::nanoTime);
            view.following(runner);
            runner.waitBack(settings.waitBack());
            runner.verification(settings.verify(), settings.skipCurrent());
            runner.limits(settings.perChassis(), settings.perServer());
            ctx.interrupts.onInterrupt(runner::requestStop);
            ctx.tell(jobs.size() + " switches, " + atOnce + " at a time" + limits() + "; logs in " + dir
                + (record == null ? "" : "; report in " + record.file()));
            FleetRunner r = runner;
            Display shown = record == null ? view : new Recording(view, record.file(), () -> record.write(
                record.render(slots, System.nanoTime(), plan, new FleetReport.Ending(null, r.stopReason(), r.stopWhy()))));
            runner.run(plan, slots, shown, settings.live() ? 250 : 500);
            view.summary(slots, System.nanoTime(), runner.stopReason() == Stop.INTERRUPTED ? "" : runner.stopWhy());
        } catch (SetupException e) {
            ctx.warn(e.getMessage());
            finalReport(record, slots, plan, e.getMessage());
            return Outcome.notStarted();
        } catch (IOException e) {
            ctx.warn("the fleet log " + fleetLog + ": " + e.getMessage());
            finalReport(record, slots, plan, "the fleet log: " + e.getMessage());
            return Outcome.notStarted();
        }
        if (record != null) {
            try {
                record.write(record.render(slots, System.nanoTime(), plan,
                    new FleetReport.Ending(Instant.now(), runner.stopReason(), runner.stopWhy())));
                ctx.tell("report written to " + record.file());
            } catch (IOException e) {
                ctx.warn("cannot write the report " + record.file() + ": " + e.getMessage());
            }
        }
        boolean failed = false;
        boolean skipped = false;
        for (Slot s : slots) {
            failed |= s.progress.state() == Progress.State.FAILED;
            skipped |= s.progress.state() == Progress.State.SKIPPED;
        }
        return new Outcome(false, runner.stopReason(), failed, skipped);
    }

    /** The limits besides --parallel, as the opening line says them: "", or ", 1 per chassis, 3 per server". */
    private String limits() {
        return (settings.perChassis() > 0 ? ", " + settings.perChassis() + " per redundancy set of a chassis" : "")
            + (settings.perServer() > 0 ? ", " + settings.perServer() + " per firmware server" : "");
    }

    /** The report of a rollout that could not start: every switch not started, and why. */
    private void finalReport(FleetReport record, List<Slot> slots, Rollout plan, String why) {
        if (record == null) {
            return;
        }
        for (Slot s : slots) {
            if (s.progress.state() == Progress.State.WAITING) {
                s.progress.skip(why);
            }
        }
        try {
            record.write(record.render(slots, System.nanoTime(), plan,
                new FleetReport.Ending(Instant.now(), Stop.NONE, why)));
        } catch (IOException e) {
            ctx.warn("cannot write the report " + record.file() + ": " + e.getMessage());
        }
    }
}
