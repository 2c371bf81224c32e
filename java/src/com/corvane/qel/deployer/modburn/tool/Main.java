package com.corvane.qel.deployer.modburn.tool;

import com.corvane.qel.deployer.modburn.tool.cli.Cli;
import picocli.CommandLine;

/** Starts the modburn command-line tool in this process; the commands are in the cli package. */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) {
        System.exit(Cli.run(args, Context.system()));
    }

    /** The tool's command line with every subcommand: what the build writes the completion and man page from. */
    public static CommandLine commandLine(Context ctx) {
        return Cli.commandLine(ctx);
    }
}
