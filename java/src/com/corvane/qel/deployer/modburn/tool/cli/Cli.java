package com.corvane.qel.deployer.modburn.tool.cli;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.io.PrintWriter;
import java.util.List;
import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Model.OptionSpec;
import picocli.CommandLine.ParameterException;
import picocli.CommandLine.TypeConversionException;

/** The modburn command: updates switch firmware through the library, one switch or a fleet. */
@Command(name = "modburn", mixinStandardHelpOptions = true, version = "modburn 1.0",
    description = "Updates the firmware of blade-chassis switch modules over their TELNET console.",
    subcommands = {CommandLine.HelpCommand.class})
public final class Cli implements Runnable {
    private final Context ctx;

    Cli(Context ctx) {
        this.ctx = ctx;
    }

    @Override
    public void run() {
        // No subcommand: show what there is.
        new CommandLine(this).usage(ctx.err);
    }

    /** Runs the tool with the given arguments and context; returns the exit status. */
    public static int run(String[] args, Context ctx) {
        CommandLine cl = commandLine(ctx);
        ctx.arguments = List.of(args);
        return cl.execute(args);
    }

    public static CommandLine commandLine(Context ctx) {
        CommandLine cl = new CommandLine(new Cli(ctx));
        cl.addSubcommand("update", new UpdateCommand(ctx));
        cl.addSubcommand("families", new FamiliesCommand(ctx));
        cl.addSubcommand("fleet", new FleetCommand(ctx));
        cl.addSubcommand("check", new CheckCommand(ctx));
        cl.addSubcommand("versions", new VersionsCommand(ctx));
        cl.setOut(new PrintWriter(ctx.out, true));
        cl.setErr(new PrintWriter(ctx.err, true));
        // A short message and a pointer to the help, rather than the whole usage text.
        cl.setParameterExceptionHandler((e, args) -> usageError(e.getCommandLine(), refusal(e)));
        cl.setExecutionExceptionHandler((e, line, parsed) -> {
            if (e instanceof UsageException) {
                return usageError(line, e.getMessage());
            }
            ctx.warn("internal error: " + e);
            return ExitStatus.INTERNAL;
        });
        return cl;
    }

    /**
     * What a refused command line is told. A value that one of the tool's converters refused is
     * said in the tool's words, led by the option's name, as the commands' own refusals are.
     */
    private static String refusal(ParameterException e) {
        if (e.getCause() instanceof TypeConversionException t && e.getArgSpec() instanceof OptionSpec o) {
            return o.longestName() + " " + t.getMessage();
        }
        return e.getMessage();
    }

    /** Reports a refused command line: one line and a pointer to the help; the usage status. */
    private static int usageError(CommandLine c, String message) {
        c.getErr().println("modburn: " + Escape.line(message));
        c.getErr().println("Try '" + c.getCommandSpec().qualifiedName() + " --help' for more.");
        return ExitStatus.USAGE;
    }
}
