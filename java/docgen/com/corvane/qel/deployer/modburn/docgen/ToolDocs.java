package com.corvane.qel.deployer.modburn.docgen;

import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;
import java.util.Map;
import picocli.AutoComplete;
import picocli.CommandLine;
import picocli.CommandLine.Help.Ansi;

/**
 * Writes the installed tool's bash completion (picocli's AutoComplete) and its man page, made
 * from the help texts of the command and of each subcommand, at build time.
 *
 * <pre>ToolDocs MAIN-CLASS COMPLETION-FILE MAN-FILE</pre>
 *
 * The tool adds its subcommands in code, so the whole command line is taken from the main
 * class's {@code commandLine(Context)} with the process's own context, as the tool itself runs.
 */
public final class ToolDocs {
    private static final int MAN_WIDTH = 72;

    private ToolDocs() {
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 3) {
            throw new IllegalArgumentException("usage: ToolDocs MAIN-CLASS COMPLETION-FILE MAN-FILE");
        }
        CommandLine tool = commandLine(args[0]);
        String name = tool.getCommandName();
        Files.writeString(Path.of(args[1]), AutoComplete.bash(name, tool), StandardCharsets.UTF_8);
        // A man page's text stands indented on an 80-column terminal: the help is laid out narrower.
        tool.setUsageHelpWidth(MAN_WIDTH);
        Files.writeString(Path.of(args[2]), manPage(tool), StandardCharsets.UTF_8);
    }

    private static CommandLine commandLine(String mainClass) throws ReflectiveOperationException {
        Class<?> main = Class.forName(mainClass);
        Class<?> context = Class.forName(main.getPackageName() + ".Context");
        Method system = context.getDeclaredMethod("system");
        Method commandLine = main.getDeclaredMethod("commandLine", context);
        system.setAccessible(true);
        commandLine.setAccessible(true);
        return (CommandLine) commandLine.invoke(null, system.invoke(null));
    }

    /** The man page: name and synopsis, then the tool's and each subcommand's help as it prints it. */
    static String manPage(CommandLine tool) {
        CommandLine.Model.CommandSpec model = tool.getCommandSpec();
        String name = tool.getCommandName();
        String[] version = model.version();
        StringBuilder page = new StringBuilder();
        page.append(".TH ").append(name.toUpperCase(Locale.ROOT)).append(" 1 \"\" \"")
                .append(version.length > 0 ? version[0] : name).append("\" \"User Commands\"\n");
        page.append(".SH NAME\n").append(name).append(" \\- ").append(escape(summary(model))).append('\n');
        page.append(".SH SYNOPSIS\n.B ").append(name).append("\n.I COMMAND\n[\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]\n");
        page.append(".SH DESCRIPTION\n").append(verbatim(tool.getUsageMessage(Ansi.OFF)));
        page.append(".SH COMMANDS\nEach command with its options, as \\fB").append(name)
                .append(" \\fICOMMAND\\fB \\-\\-help\\fR prints them.\n");
        for (Map.Entry<String, CommandLine> sub : tool.getSubcommands().entrySet()) {
            if (sub.getValue().getCommandSpec().usageMessage().hidden() || sub.getKey().equals("help")) {
                continue;
            }
            page.append(".SS ").append(name).append(' ').append(sub.getKey()).append('\n');
            page.append(verbatim(sub.getValue().getUsageMessage(Ansi.OFF)));
        }
        return page.toString();
    }

    /** The first line of the command's description as a man page's NAME has it: lower case first, no stop. */
    static String summary(CommandLine.Model.CommandSpec model) {
        String[] description = model.usageMessage().description();
        String first = description.length > 0 ? description[0].strip() : "";
        if (first.endsWith(".")) {
            first = first.substring(0, first.length() - 1);
        }
        return first.isEmpty() ? first : Character.toLowerCase(first.charAt(0)) + first.substring(1);
    }

    /** Help text kept as printed: unfilled, every troff control character escaped. */
    static String verbatim(String text) {
        StringBuilder out = new StringBuilder(".nf\n");
        for (String line : text.stripTrailing().split("\n")) {
            out.append(line.isEmpty() ? "" : "\\&" + escape(line)).append('\n');
        }
        return out.append(".fi\n").toString();
    }

    /** A text for troff: backslashes and minus signs literal. */
    static String escape(String text) {
        return text.replace("\\", "\\e").replace("-", "\\-");
    }
}
