package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.bridge.Versions;
import com.corvane.qel.deployer.modburn.tool.fleet.DescriptorBudget;
import com.corvane.qel.deployer.modburn.tool.fleet.Parallel;
import com.corvane.qel.deployer.modburn.tool.inventory.Entry;
import com.corvane.qel.deployer.modburn.tool.inventory.Inventory;
import com.corvane.qel.deployer.modburn.tool.inventory.InventoryException;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordException;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordReader;
import com.corvane.qel.deployer.modburn.tool.text.Escape;
import com.corvane.qel.deployer.modburn.tool.text.JsonText;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/**
 * modburn versions: the firmware versions of one switch or of every switch of an inventory, as
 * their own listings give them. Nothing but the login and the version listing is typed on a
 * switch, and nothing but the listings is printed.
 */
@Command(name = "versions", mixinStandardHelpOptions = true,
    description = {"Lists the firmware versions of one switch (FAMILY ADDRESS USER) or of every switch of an"
        + " inventory, as each family's own version listing shows them: a table of switch, family and versions, or"
        + " with --json a list.",
        "Nothing is typed on a switch but its login and its version listing."},
    exitCodeListHeading = "%nExit status:%n",
    exitCodeList = {" 0:every listing was read", " 1:an inventory's listing failed", " 2:bad option or argument",
        " 3:a password, the inventory or the library is not usable; nothing was typed",
        "10-17:one switch: its listing failed, as for 'modburn update'"})
final class VersionsCommand implements Callable<Integer> {
    private final Context ctx;

    @Parameters(arity = "1..3", paramLabel = "FAMILY ADDRESS USER | INVENTORY",
        description = "one switch as for 'modburn update' (no URL), or an inventory file as for 'modburn fleet'")
    List<String> args;

    @Option(names = "--modifier", paramLabel = "N",
        description = "one switch: the target whose versions are listed (SAS: 1 the switch, the default; 2 SM1, 3 SM2)")
    int modifier;

    @Option(names = "--parallel", paramLabel = "N", defaultValue = "8",
        description = "switches listed at once (default ${DEFAULT-VALUE})")
    int parallel;

    @Option(names = "--json", description = "print a JSON list of the switches and their versions instead of the table")
    boolean json;

    @Mixin
    SecretOptions.SwitchPassword passwords;

    @Mixin
    HostKeyOptions hostKeys;

    VersionsCommand(Context ctx) {
        this.ctx = ctx;
    }

    /** One switch's listing: the job it ran for and what came of it. */
    record Listed(Job job, Versions versions) {
        String result() {
            return versions.read() ? "ok" : Codes.name(versions.failure().code());
        }

        /** Why the listing failed: the code's name, its text and the switch's most telling line. */
        String why() {
            Result f = versions.failure();
            String line = f.tellingLine();
            return Codes.name(f.code()) + ": " + f.statusText() + (line.isEmpty() ? "" : " (" + line + ")");
        }
    }

    @Override
    public Integer call() {
        passwords.refuseCommandLine();
        if (parallel < 1 || parallel > FleetCommand.MAX_PARALLEL) {
            throw new UsageException("--parallel takes 1 to " + FleetCommand.MAX_PARALLEL);
        }
        List<Job> jobs;
        try {
            jobs = args.size() == 3 ? List.of(single()) : inventory();
        } catch (SetupFailed e) {
            return ExitStatus.SETUP;
        }
        return ExitStatus.of(ctx, () -> {
            int atOnce = DescriptorBudget.atOnce(ctx, Math.max(1, Math.min(parallel, jobs.size())), Job.anySsh(jobs));
            hostKeys.apply(ctx);
            Backend backend = ctx.backend.get();
            // The listings' log is not kept: the table says what each listing gave or why it failed.
            backend.open(new LogRouter(null), 0);
            List<Listed> listed = Parallel.map(jobs, atOnce, "modburn-versions",
                job -> new Listed(job, backend.versions(job)));
            Masker masker = Masker.of(jobs.stream().map(Job::password).toList());
            ctx.out.print(json ? json(listed, masker) : table(listed, masker));
            ctx.out.flush();
            long failed = listed.stream().filter(l -> !l.versions().read()).count();
            if (args.size() == 3) {
                return failed == 0 ? ExitStatus.OK : ExitStatus.forCode(listed.get(0).versions().failure().code());
            }
            return failed == 0 ? ExitStatus.OK : ExitStatus.SOME_FAILED;
        });
    }

    /** The set-up was found unusable (already said on the error output). */
    private static final class SetupFailed extends Exception {
        private static final long serialVersionUID = 1L;
    }

    /** The single-switch form as a job; its problems are usage errors, as for update. */
    private Job single() throws SetupFailed {
        Family f = Family.lookup(args.get(0));
        if (f == null) {
            throw new UsageException("unknown family \"" + args.get(0) + "\" (families: " + Family.choices() + ")");
        }
        if (Escape.hasControl(args.get(2))) {
            throw new UsageException("the user name " + Inventory.CONTROL_IN_USER);
        }
        if (modifier != 0 && f != Family.SAS) {
            throw new UsageException(f.displayName + " lists one target only: leave --modifier out");
        }
        if (modifier != 0 && !f.acceptsModifier(modifier)) {
            throw new UsageException("--modifier for " + f.displayName + ": " + f.modifierText());
        }
        try {
            String pw = new PasswordReader(ctx.stdin, ctx.prompter, ctx.env).read(passwords.switchSource(ctx.cwd),
                "switch password");
            return new Job(args.get(1), 0, f, args.get(1), args.get(2), pw, "", false, modifier, 0);
        } catch (PasswordException e) {
            ctx.warn(e.getMessage());
            throw new SetupFailed();
        }
    }

    /** The switches of an inventory with their passwords read; each lists its own target (a SAS row's modifier). */
    private List<Job> inventory() throws SetupFailed {
        if (args.size() != 1) {
            throw new UsageException("versions takes FAMILY ADDRESS USER, or an INVENTORY");
        }
        if (passwords.password != null || modifier != 0) {
            throw new UsageException("an inventory names its own passwords and modifiers");
        }
        List<Entry> entries;
        try {
            entries = Inventory.read(ctx.cwd.resolve(args.get(0)));
        } catch (InventoryException e) {
            e.problems.forEach(ctx::warn);
            ctx.warn("nothing listed");
            throw new SetupFailed();
        }
        PasswordReader reader = new PasswordReader(ctx.stdin, ctx.prompter, ctx.env);
        List<Job> jobs = new ArrayList<>();
        for (Entry e : entries) {
            try {
                String pw = reader.read(e.password(), "switch password");
                jobs.add(new Job(e.name(), e.line(), e.family(), e.address(), e.user(), pw, "", false, e.modifier(), 0));
            } catch (PasswordException x) {
                ctx.warn(args.get(0) + ": line " + e.line() + ": " + x.getMessage());
                ctx.warn("nothing listed");
                throw new SetupFailed();
            }
        }
        return jobs;
    }

    /** The table: a row per version line (the switch named on its first), a failed listing's why; the counts. */
    static String table(List<Listed> listed, Masker masker) {
        Table t = new Table("switch", "family", "versions");
        int failed = 0;
        for (Listed l : listed) {
            List<String> lines = l.versions().read() ? l.versions().values() : List.of("FAILED " + l.why());
            failed += l.versions().read() ? 0 : 1;
            for (int i = 0; i < lines.size(); i++) {
                t.row(i == 0 ? l.job().name() : "", i == 0 ? l.job().family().displayName : "",
                    masker.line(lines.get(i)));
            }
        }
        StringBuilder b = new StringBuilder();
        for (String line : t.lines(0)) {
            b.append(line).append('\n');
        }
        b.append(listed.size() - failed).append(" listed, ").append(failed).append(" failed\n");
        return b.toString();
    }

    /** The JSON document: per switch its name, family, address, result and versions (null when not read). */
    static String json(List<Listed> listed, Masker masker) {
        return JsonText.document(g -> {
            g.writeStartObject();
            g.writeStringField("tool", "modburn versions");
            g.writeArrayFieldStart("switches");
            for (Listed l : listed) {
                g.writeStartObject();
                g.writeStringField("name", masker.line(l.job().name()));
                g.writeStringField("family", l.job().family().displayName);
                g.writeStringField("address", masker.line(l.job().address()));
                g.writeStringField("result", l.result());
                g.writeNumberField("code", l.versions().read() ? 0 : l.versions().failure().code());
                JsonText.texts(g, "versions", l.versions().values(), masker::line);
                g.writeStringField("detail", l.versions().read() ? "" : masker.line(l.why()));
                g.writeEndObject();
            }
            g.writeEndArray();
            g.writeEndObject();
        });
    }
}
