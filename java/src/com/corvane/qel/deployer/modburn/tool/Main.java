package com.corvane.qel.deployer.modburn.tool;

import java.io.PrintWriter;
import java.util.List;
import picocli.CommandLine;
import picocli.CommandLine.Command;

/** The modburn command: updates switch firmware through the library, one switch or a fleet. */
@Command(name = "modburn", mixinStandardHelpOptions = true, version = "modburn 1.0",
    description = "Updates the firmware of blade-chassis switch modules over their TELNET console.",
    subcommands = {CommandLine.HelpCommand.class})
public final class Main implements Runnable {
    private final Context ctx;

    Main(Context ctx) {
        this.ctx = ctx;
    }

    @Override
    public void run() {
        // No subcommand: show what there is.
        new CommandLine(this).usage(ctx.err);
    }

    public static void main(String[] args) {
        System.exit(run(args, Context.system()));
    }

    /** Runs the tool with the given arguments and context; returns the exit status. */
    static int run(String[] args, Context ctx) {
        CommandLine cl = commandLine(ctx);
        ctx.arguments = List.of(args);
        return cl.execute(args);
    }

    static CommandLine commandLine(Context ctx) {
        CommandLine cl = new CommandLine(new Main(ctx));
        cl.addSubcommand("update", new UpdateCommand(ctx));
        cl.addSubcommand("families", new FamiliesCommand(ctx));
        cl.addSubcommand("fleet", new FleetCommand(ctx));
        cl.addSubcommand("check", new CheckCommand(ctx));
        cl.setOut(new PrintWriter(ctx.out, true));
        cl.setErr(new PrintWriter(ctx.err, true));
        // A short message and a pointer to the help, rather than the whole usage text.
        cl.setParameterExceptionHandler((e, args) -> usageError(e.getCommandLine(), e.getMessage()));
        cl.setExecutionExceptionHandler((e, line, parsed) -> {
            if (e instanceof UsageException) {
                return usageError(line, e.getMessage());
            }
            ctx.err.println("modburn: internal error: " + e);
            return Status.EXIT_INTERNAL;
        });
        return cl;
    }

    /** Reports a refused command line: one line and a pointer to the help; the usage status. */
    private static int usageError(CommandLine c, String message) {
        c.getErr().println("modburn: " + message);
        c.getErr().println("Try '" + c.getCommandSpec().qualifiedName() + " --help' for more.");
        return Status.EXIT_USAGE;
    }
}
