package com.corvane.qel.deployer.modburn.tool.testing;

import com.corvane.qel.deployer.modburn.tool.Context;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.cli.Cli;
import com.corvane.qel.deployer.modburn.tool.fleet.DescriptorBudget;
import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.io.StringReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.function.Supplier;

/**
 * The tool run in the test's own process, as the commands' tests drive it: in a folder, with a
 * library (scripted or real), a given environment, standard input and terminal, and its output
 * and error output kept (they grow from run to run until reset).
 */
public final class ToolRun {
    public final ByteArrayOutputStream out = new ByteArrayOutputStream();
    public final ByteArrayOutputStream err = new ByteArrayOutputStream();
    /** What the runs registered for Ctrl-C, in order; a test runs one to press Ctrl-C. */
    public final List<Runnable> interrupts = new ArrayList<>();
    private final Path cwd;
    private final Supplier<Backend> backend;
    public Map<String, String> env = Map.of();
    public String stdin = "";
    public boolean terminal;
    /** The descriptor limit the tool sees; null: this process's own. */
    public DescriptorBudget descriptors;

    public ToolRun(Path cwd, Supplier<Backend> backend) {
        this.cwd = cwd;
        this.backend = backend;
    }

    /** Runs the tool with these arguments; returns its exit status. */
    public int run(String... args) {
        Context ctx = new Context(new BufferedReader(new StringReader(stdin)),
            new PrintStream(out, true, StandardCharsets.UTF_8), new PrintStream(err, true, StandardCharsets.UTF_8),
            env, null, terminal, terminal, cwd, backend, interrupts::add);
        DescriptorBudget given = descriptors;
        if (given != null) {
            ctx.descriptors = () -> given;
        }
        return Cli.run(args, ctx);
    }

    public String out() {
        return out.toString(StandardCharsets.UTF_8);
    }

    public String err() {
        return err.toString(StandardCharsets.UTF_8);
    }

    /** Forgets what the runs so far printed. */
    public void reset() {
        out.reset();
        err.reset();
    }
}
