package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.bridge.Versions;
import com.corvane.qel.deployer.modburn.tool.fleet.FleetRunner;
import com.corvane.qel.deployer.modburn.tool.fleet.PrivateFiles;
import com.corvane.qel.deployer.modburn.tool.fleet.Slot;
import com.corvane.qel.deployer.modburn.tool.fleet.SwitchLog;
import com.corvane.qel.deployer.modburn.tool.fleet.UpdateView;
import com.corvane.qel.deployer.modburn.tool.fleet.VerifiedUpdate;
import com.corvane.qel.deployer.modburn.tool.fleet.WaitBack;
import com.corvane.qel.deployer.modburn.tool.inventory.Inventory;
import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordException;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordReader;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordSource;
import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.io.IOException;
import java.io.Writer;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/** modburn update: one switch, with progress on the terminal and one line with the outcome. */
@Command(name = "update", mixinStandardHelpOptions = true,
    description = {"Updates the firmware of one switch.",
        "The switch password comes from --password-file, --password-stdin, --password-env or, by default,"
            + " an interactive prompt; never from the command line."},
    exitCodeListHeading = "%nExit status:%n",
    exitCodeList = {
        " 0:success", " 2:bad option or argument", " 3:password, log or library not usable",
        "10:request refused (bad parameters)", "11:switch unreachable, or not back after --wait-back", "12:session lost, time-out or"
            + " unexpected output", "13:switch login refused", "14:file server or image problem",
        "15:switch busy or hardware missing", "16:family not served by the library", "17:other result code",
        "18:--verify: the versions did not change", "19:--verify: the versions changed, but not to --expect-version",
        "20:--verify: the versions could not be read back", "70:internal error"})
final class UpdateCommand implements Callable<Integer> {
    private final Context ctx;

    @Parameters(index = "0", paramLabel = "FAMILY", description = "switch family, by name or code (see 'modburn families')")
    String family;

    @Parameters(index = "1", paramLabel = "ADDRESS", description = "switch management address (host, IPv4, [IPv6])")
    String address;

    @Parameters(index = "2", paramLabel = "USER", description = "switch user name")
    String user;

    @Parameters(index = "3", paramLabel = "URL", description = "firmware file URL (scheme://login@server/dir/image)")
    String url;

    @Option(names = "--reboot", description = "reboot the switch after the update")
    boolean reboot;

    @Option(names = "--modifier", paramLabel = "N", description = "family modifier (SAS: 1 main, 2 SM1, 3 SM2)")
    int modifier;

    @Mixin
    RunOptions run;

    @Mixin
    WaitBackOptions waitBack;

    @Mixin
    VerifyOptions verify;

    @Mixin
    HostKeyOptions hostKeys;

    @Option(names = "--log", paramLabel = "FILE", description = "append the log to FILE (default: standard error)")
    Path log;

    @Mixin
    SecretOptions.Given passwords;

    UpdateCommand(Context ctx) {
        this.ctx = ctx;
    }

    @Override
    public Integer call() {
        passwords.refuseCommandLine();
        Family f = Family.lookup(family);
        if (f == null) {
            return usage("unknown family \"" + family + "\" (families: " + Family.choices() + ")");
        }
        if (Escape.hasControl(user)) {
            return usage("the user name " + Inventory.CONTROL_IN_USER);
        }
        boolean live = run.check(ctx.errTerminal);
        String expected = verify.expected();
        if (verify.skipCurrent && expected == null) {
            return usage("--skip-current leaves a switch alone that runs the expected version: it needs --expect-version");
        }
        WaitBack wait = waitBack.build();
        if (wait != null && !reboot) {
            return usage("--wait-back waits for a rebooted switch: it needs --reboot");
        }
        if (verify.verify) {
            wait = waitBack.buildForVerify();
        }
        if (FileUrl.hasPassword(url)) {
            return usage(SecretOptions.URL_CARRIES_PASSWORD);
        }
        String problem = f.problemWith(url, reboot, modifier);
        if (problem != null) {
            ctx.warn(problem);
            return ExitStatus.REFUSED;
        }

        PasswordReader reader = new PasswordReader(ctx.stdin, ctx.prompter, ctx.env);
        String pw;
        String fullUrl = url;
        try {
            pw = reader.read(passwords.switchSource(ctx.cwd), "switch password");
            PasswordSource urlSource = passwords.urlSource(ctx.cwd);
            if (urlSource != null) {
                fullUrl = FileUrl.withPassword(url, reader.read(urlSource, "URL password"));
            }
        } catch (PasswordException | IllegalArgumentException e) {
            ctx.warn(e.getMessage());
            return ExitStatus.SETUP;
        }
        Job job = new Job(address, 0, f, address, user, pw, fullUrl, reboot, modifier, run.debug);
        return update(job, expected, live, wait);
    }

    private int usage(String message) {
        throw new UsageException(message);
    }

    private int update(Job job, String expected, boolean live, WaitBack wait) {
        UpdateView view = new UpdateView(ctx.err, live, ctx.width());
        Writer logOut = openLog(view);
        if (logOut == null) {
            return ExitStatus.SETUP;
        }
        try {
            return ExitStatus.of(ctx, () -> {
                Slot slot = new Slot(job, logOut);
                slot.expect = expected;
                // Entries of other threads (the library's start-up line) share the update's log.
                SwitchLog fallback = new SwitchLog(logOut, false, job.masker());
                LogRouter router = new LogRouter(fallback::entry);
                hostKeys.apply(ctx);
                Backend backend = ctx.backend.get();
                backend.open(router, run.telnetDebug);
                FleetRunner runner = new FleetRunner(backend, router, 1, System::nanoTime);
                runner.waitBack(wait);
                runner.verification(verify.verify, verify.skipCurrent);
                runner.run(List.of(slot), view, live ? 200 : 500);
                view.clear();
                return report(job, slot.progress.result(), slot.proof);
            });
        } finally {
            closeLog(logOut);
        }
    }

    /** The writer of the update's log: --log appended, or the terminal; null (said why) when it cannot open. */
    private Writer openLog(UpdateView view) {
        try {
            return log == null ? view.logWriter() : PrivateFiles.open(ctx.cwd.resolve(log), true);
        } catch (IOException e) {
            ctx.warn("cannot open the log file " + log + ": " + e.getMessage());
            return null;
        }
    }

    private void closeLog(Writer logOut) {
        try {
            if (log != null) {
                logOut.close();
            } else {
                logOut.flush();
            }
        } catch (IOException e) {
            ctx.warn("the log file " + log + ": " + e.getMessage());
        }
    }

    /**
     * Prints the outcome line on standard output, and for a verified update the versions before
     * and after it; returns the exit status.
     */
    private int report(Job job, Result r, VerifiedUpdate.Proof proof) {
        String who = job.family().displayName + " switch " + job.address();
        Masker m = job.masker();
        if (proof != null && proof.outcome() == VerifiedUpdate.Outcome.CURRENT) {
            ctx.out.println(m.line("modburn: " + who + " is current (" + r.message() + "); nothing was updated"));
        } else if (r.succeeded()) {
            ctx.out.println(m.line("modburn: " + who + " updated from " + job.shownUrl()
                + (job.reboot() ? ", rebooted" : "") + (r.message().isEmpty() ? "" : " (" + r.message() + ")")
                + (proof != null ? ", " + proof.outcome().word : "")));
        } else {
            StringBuilder b = new StringBuilder("modburn: " + who + " failed: " + Codes.name(r.code()) + " ("
                + r.code() + "): " + r.statusText());
            if (!r.switchText().isEmpty()) {
                b.append("; switch text: \"").append(r.switchTextOneLine()).append('"');
            }
            ctx.out.println(m.line(b.toString()));
        }
        if (proof != null && proof.hasVersions()) {
            ctx.out.println(m.line("  before: " + Versions.shown(proof.before())));
            ctx.out.println(m.line("  after:  " + Versions.shown(proof.after())));
        } else if (proof != null) {
            ctx.out.println("  before: not read; nothing was updated");
        }
        return ExitStatus.forCode(r.code());
    }
}
