package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.fleet.DescriptorBudget;
import com.corvane.qel.deployer.modburn.tool.inventory.Entry;
import com.corvane.qel.deployer.modburn.tool.inventory.Inventory;
import com.corvane.qel.deployer.modburn.tool.preflight.CheckReport;
import com.corvane.qel.deployer.modburn.tool.preflight.Preflight;
import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordReader;
import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/**
 * modburn check: what an update would find wrong, found before any update starts and without
 * typing anything on a switch console.
 */
@Command(name = "check", mixinStandardHelpOptions = true,
    description = {"Checks one switch (FAMILY ADDRESS USER URL) or every switch of an inventory before an update,"
        + " typing nothing on any switch console:",
        "  parameters  the request as the library's parameter check for the family sees it",
        "  passwords   the passwords can be read (files, variables, prompts)",
        "  console     the console port accepts a TCP connection (closed at once, no login); for an ssh://"
            + " switch, its host key against the known_hosts file (no login)",
        "  firmware    the file can be fetched: FTP login and size query, or the first TFTP block;"
            + " checked from this machine, which may reach the server differently than the switch does"},
    exitCodeListHeading = "%nExit status:%n",
    exitCodeList = {"0:every check passed", "1:a check failed (or the inventory has defects)",
        "2:bad option or argument", "3:the library is not usable"})
final class CheckCommand implements Callable<Integer> {
    private final Context ctx;

    @Parameters(arity = "1..4", paramLabel = "FAMILY ADDRESS USER URL | INVENTORY",
        description = "one switch as for 'modburn update', or an inventory file as for 'modburn fleet'")
    List<String> args;

    @Option(names = "--reboot", description = "check the request with a reboot, as the update would run it")
    boolean reboot;

    @Option(names = "--modifier", paramLabel = "N", description = "family modifier (SAS: 1 main, 2 SM1, 3 SM2)")
    int modifier;

    @Option(names = "--parallel", paramLabel = "N", defaultValue = "8",
        description = "switches checked at once (default ${DEFAULT-VALUE})")
    int parallel;

    @Option(names = "--timeout", paramLabel = "SECONDS", defaultValue = "5",
        description = "how long to wait for each connection and answer (default ${DEFAULT-VALUE})")
    int timeout;

    @Mixin
    SecretOptions.Given passwords;

    @Mixin
    HostKeyOptions hostKeys;

    CheckCommand(Context ctx) {
        this.ctx = ctx;
    }

    @Override
    public Integer call() {
        passwords.refuseCommandLine();
        if (parallel < 1 || parallel > FleetCommand.MAX_PARALLEL) {
            throw new UsageException("--parallel takes 1 to " + FleetCommand.MAX_PARALLEL);
        }
        if (timeout < 1 || timeout > 600) {
            throw new UsageException("--timeout takes 1 to 600 seconds");
        }
        List<Entry> entries;
        List<Inventory.Rejected> rejected = List.of();
        if (args.size() == 4) {
            entries = List.of(single());
        } else if (args.size() == 1) {
            if (passwords.any() || reboot || modifier != 0) {
                throw new UsageException("an inventory names its own passwords, reboots and modifiers");
            }
            // Every row is checked in one pass; a row the tool refuses is a failed check of that switch.
            Inventory.Examined examined = Inventory.examine(ctx.cwd.resolve(args.get(0)));
            if (!examined.unusable().isEmpty()) {
                examined.defects().forEach(ctx::tell);
                ctx.tell("the inventory has defects; nothing checked");
                return ExitStatus.SOME_FAILED;
            }
            examined.warnings().forEach(w -> ctx.tell("warning: " + w));
            entries = examined.entries();
            rejected = examined.rejected();
        } else {
            throw new UsageException("check takes FAMILY ADDRESS USER URL, or an INVENTORY");
        }
        PasswordReader reader = new PasswordReader(ctx.stdin, ctx.prompter, ctx.env);
        List<Preflight.Pending> pending = new ArrayList<>();
        for (Entry e : entries) {
            pending.add(Preflight.read(e, reader, 0));
        }
        List<Inventory.Rejected> refused = rejected;
        hostKeys.apply(ctx);
        return ExitStatus.of(ctx, () -> run(ctx, pending, refused, parallel, timeout * 1000, hostKeys.acceptNew)
            ? ExitStatus.OK
            : ExitStatus.SOME_FAILED);
    }

    /** The single-switch form as an inventory entry; its problems are usage errors, as for update. */
    private Entry single() {
        Family f = Family.lookup(args.get(0));
        if (f == null) {
            throw new UsageException("unknown family \"" + args.get(0) + "\" (families: " + Family.choices() + ")");
        }
        String url = args.get(3);
        if (FileUrl.hasPassword(url)) {
            throw new UsageException(SecretOptions.URL_CARRIES_PASSWORD);
        }
        if (Escape.hasControl(args.get(2))) {
            throw new UsageException("the user name " + Inventory.CONTROL_IN_USER);
        }
        String address = args.get(1);
        return new Entry(0, address, f, address, args.get(2), passwords.switchSource(ctx.cwd), url,
            passwords.urlSource(ctx.cwd), reboot, modifier, false, "", "", "");
    }

    /**
     * Checks the switches and prints a block of verdicts for each (and for each row the tool
     * refused) and the summary table; returns whether every check passed. The library's log of
     * the checks is dropped: at debug level 0 its parameter check writes nothing a check needs.
     */
    static boolean run(Context ctx, List<Preflight.Pending> pending, List<Inventory.Rejected> rejected, int parallel,
            int timeoutMillis, boolean acceptNewKeys) throws SetupException, InterruptedException {
        boolean ssh = Job.anySsh(pending.stream().map(Preflight.Pending::job).toList());
        int atOnce = DescriptorBudget.atOnce(ctx, Math.max(1, Math.min(parallel, pending.size())), ssh);
        Backend backend = ctx.backend.get();
        backend.open(new LogRouter(null), 0);
        int n = pending.size() + rejected.size();
        ctx.tell("checking " + n + (n == 1 ? " switch" : " switches") + "; nothing is typed on any switch console");
        List<Preflight.Checked> results = new Preflight(backend, timeoutMillis, acceptNewKeys).checkAll(pending, atOnce);
        return CheckReport.print(ctx.out, results, rejected);
    }
}
