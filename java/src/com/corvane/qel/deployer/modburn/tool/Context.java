package com.corvane.qel.deployer.modburn.tool;

import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.LibraryBackend;
import com.corvane.qel.deployer.modburn.tool.cli.ExitStatus;
import com.corvane.qel.deployer.modburn.tool.fleet.DescriptorBudget;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordReader;
import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.io.BufferedReader;
import java.io.Console;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.lang.reflect.Proxy;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.function.Supplier;

/**
 * Everything the commands take from the process: standard streams, the environment, the
 * terminal, the current folder, the library and the Ctrl-C hook. Tests build one with fakes.
 */
public final class Context {
    /** Registers what Ctrl-C does; the tool's fleet uses it to stop starting updates. */
    public interface Interrupts {
        void onInterrupt(Runnable action);
    }

    public final BufferedReader stdin;
    public final PrintStream out;
    public final PrintStream err;
    public final Map<String, String> env;
    /** Null when there is no terminal to prompt on. */
    public final PasswordReader.Prompter prompter;
    public final boolean outTerminal;
    public final boolean errTerminal;
    public final Path cwd;
    public final Supplier<Backend> backend;
    public final Interrupts interrupts;
    /** The tool's arguments as given, for the records a command writes (a fleet report). */
    public volatile List<String> arguments = List.of();
    /** The descriptor limit that bounds how many updates run at once; tests give their own. */
    public volatile Supplier<DescriptorBudget> descriptors = DescriptorBudget::current;

    public Context(BufferedReader stdin, PrintStream out, PrintStream err, Map<String, String> env,
            PasswordReader.Prompter prompter, boolean outTerminal, boolean errTerminal, Path cwd,
            Supplier<Backend> backend, Interrupts interrupts) {
        this.stdin = stdin;
        this.out = out;
        this.err = err;
        this.env = env;
        this.prompter = prompter;
        this.outTerminal = outTerminal;
        this.errTerminal = errTerminal;
        this.cwd = cwd;
        this.backend = backend;
        this.interrupts = interrupts;
    }

    /** The context of the running process. */
    public static Context system() {
        Console console = System.console();
        PasswordReader.Prompter prompter = console == null ? null : console::readPassword;
        boolean dumb = "dumb".equals(System.getenv("TERM")) || System.getenv("TERM") == null;
        return new Context(
            new BufferedReader(new InputStreamReader(System.in, Charset.defaultCharset())),
            System.out, System.err, System.getenv(), prompter,
            !dumb && isTerminal(1), !dumb && isTerminal(2),
            Path.of("").toAbsolutePath(), LibraryBackend::new, Context::onSigint);
    }

    /** Whether a standard descriptor is a terminal, as Linux shows it under /proc. */
    private static boolean isTerminal(int fd) {
        try {
            String target = Files.readSymbolicLink(Path.of("/proc/self/fd/" + fd)).toString();
            return target.startsWith("/dev/pts/") || target.startsWith("/dev/tty");
        } catch (Exception e) {
            return false;
        }
    }

    /**
     * Ctrl-C runs the action instead of ending the process; a second Ctrl-C ends it. The JDK's
     * signal interface is reached by reflection, as it is not part of the platform's API; where
     * it is missing a shutdown hook runs the action instead.
     */
    private static void onSigint(Runnable action) {
        AtomicBoolean once = new AtomicBoolean();
        try {
            Class<?> signal = Class.forName("sun.misc.Signal");
            Class<?> handlerType = Class.forName("sun.misc.SignalHandler");
            Object handler = Proxy.newProxyInstance(handlerType.getClassLoader(), new Class<?>[] {handlerType},
                (proxy, method, args) -> {
                    switch (method.getName()) {
                        case "handle" -> {
                            if (once.getAndSet(true)) {
                                Runtime.getRuntime().halt(ExitStatus.INTERRUPTED);
                            }
                            action.run();
                            return null;
                        }
                        case "hashCode" -> {
                            return System.identityHashCode(proxy);
                        }
                        case "equals" -> {
                            return proxy == args[0];
                        }
                        default -> {
                            return "modburn Ctrl-C handler";
                        }
                    }
                });
            Object sigint = signal.getConstructor(String.class).newInstance("INT");
            signal.getMethod("handle", signal, handlerType).invoke(null, sigint, handler);
        } catch (ReflectiveOperationException | RuntimeException | LinkageError e) {
            Runtime.getRuntime().addShutdownHook(new Thread(action));
        }
    }

    /** Says a line of the tool's on standard output, led by "modburn: "; control characters escaped. */
    public void tell(String message) {
        out.println("modburn: " + Escape.line(message));
    }

    /** Says a line of the tool's on the error output, led by "modburn: "; control characters escaped. */
    public void warn(String message) {
        err.println("modburn: " + Escape.line(message));
    }

    /** The terminal width for tables, from COLUMNS, else 120. */
    public int width() {
        return positive(env.get("COLUMNS"), 120);
    }

    /** The terminal height for tables, from LINES, else 40. */
    public int height() {
        return positive(env.get("LINES"), 40);
    }

    private static int positive(String text, int fallback) {
        try {
            int v = Integer.parseInt(text == null ? "" : text.strip());
            return v > 0 ? v : fallback;
        } catch (NumberFormatException e) {
            return fallback;
        }
    }
}
