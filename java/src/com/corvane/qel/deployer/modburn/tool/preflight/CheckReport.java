package com.corvane.qel.deployer.modburn.tool.preflight;

import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.inventory.Inventory;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;

/** What the pre-flight check prints: a block of verdicts per switch, then the summary table. */
public final class CheckReport {
    private CheckReport() {
    }

    public static final String FROM_HERE = "The firmware files were checked from this machine, which may reach the"
        + " file server differently than the switch does.";

    /** What is printed of one switch: its heading, its verdicts in step order, and its row of the summary. */
    private record Block(int line, String heading, List<Verdict> steps, String[] row, Masker masker) {
        boolean ok() {
            return steps.stream().noneMatch(Verdict::failed);
        }
    }

    /**
     * Prints the verdicts of the switches checked and of the rows the tool refused (a failed check
     * each, named by name and line), in inventory order, then the summary; returns whether every
     * check passed.
     */
    public static boolean print(PrintStream out, List<Preflight.Checked> results, List<Inventory.Rejected> rejected) {
        List<Block> blocks = new ArrayList<>();
        boolean fetched = false;
        for (Preflight.Checked c : results) {
            Job j = c.job();
            blocks.add(new Block(j.line(), j.name() + " (" + j.family().displayName + " " + j.address() + ", "
                + j.shownUrl() + ")", c.steps(), new String[] {j.name(), j.family().displayName}, j.masker()));
            fetched |= c.firmware().state() != Verdict.State.SKIPPED;
        }
        for (Inventory.Rejected r : rejected) {
            Verdict unchecked = Verdict.skipped("the row is refused");
            Family f = Family.lookup(r.family());
            blocks.add(new Block(r.line(), r.name() + " (line " + r.line() + ")", List.of(
                Verdict.failed("refused", String.join("; ", r.problems())), unchecked, unchecked, unchecked),
                new String[] {r.name(), f == null ? r.family() : f.displayName}, Masker.NONE));
        }
        blocks.sort(Comparator.comparingInt(Block::line));
        Table t = new Table("switch", "family", "parameters", "passwords", "console", "firmware");
        int ok = 0;
        for (Block b : blocks) {
            out.println();
            out.println(b.masker().line(b.heading()));
            String[] row = Arrays.copyOf(b.row(), 2 + b.steps().size());
            for (int i = 0; i < b.steps().size(); i++) {
                out.println(b.masker().line(String.format("  %-11s %s", Preflight.STEPS.get(i), b.steps().get(i).line())));
                row[2 + i] = b.masker().line(b.steps().get(i).word());
            }
            t.row(row);
            ok += b.ok() ? 1 : 0;
        }
        out.println();
        for (String line : t.lines(0)) {
            out.println(line);
        }
        if (fetched) {
            out.println(FROM_HERE);
        }
        int failed = blocks.size() - ok;
        out.println(ok + " ok, " + failed + " with problems");
        out.flush();
        return failed == 0;
    }
}
