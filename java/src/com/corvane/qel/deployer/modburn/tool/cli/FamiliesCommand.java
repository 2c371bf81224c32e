package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Option;

/** modburn families: the families with their codes, accepted URL schemes and reboot stage. */
@Command(name = "families", mixinStandardHelpOptions = true,
    description = "Lists the switch families with their codes, the URL schemes each accepts and whether it reboots.")
final class FamiliesCommand implements Callable<Integer> {
    private final Context ctx;

    @Option(names = "--no-probe", description = "do not ask the library which families it serves")
    boolean noProbe;

    FamiliesCommand(Context ctx) {
        this.ctx = ctx;
    }

    @Override
    public Integer call() {
        Backend backend = null;
        String note = null;
        if (!noProbe) {
            try {
                backend = ctx.backend.get();
                backend.open(new LogRouter(null), 0);
            } catch (SetupException | RuntimeException | LinkageError e) {
                backend = null;
                note = "served: ? (" + e.getMessage() + ")";
            }
        }
        Table t = new Table("code", "family", "module", "schemes", "reboot", "modifier", "address", "served");
        for (Family f : Family.values()) {
            String served = backend == null ? "?" : backend.serves(f) ? "yes" : "not yet";
            t.row(Integer.toString(f.code), f.displayName, f.module, String.join(",", f.schemes),
                f.reboots ? "yes" : "no", f.modifierText(), f.address.text, served);
        }
        for (String line : t.lines(0)) {
            ctx.out.println(line);
        }
        if (note != null) {
            ctx.out.println(note);
        }
        return ExitStatus.OK;
    }
}
