package com.corvane.qel.deployer.modburn.tool.preflight;

import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.io.PrintStream;
import java.util.List;

/** What the pre-flight check prints: a block of verdicts per switch, then the summary table. */
public final class CheckReport {
    private CheckReport() {
    }

    public static final String FROM_HERE = "The firmware files were checked from this machine, which may reach the"
        + " file server differently than the switch does.";

    /** Prints the verdicts and the summary; returns whether every check passed. */
    public static boolean print(PrintStream out, List<Preflight.Checked> results) {
        Table t = new Table("switch", "family", "parameters", "passwords", "console", "firmware");
        int ok = 0;
        boolean fetched = false;
        for (Preflight.Checked c : results) {
            Masker m = c.job().masker();
            out.println();
            out.println(m.line(c.job().name() + " (" + c.job().family().displayName + " " + c.job().address() + ", "
                + c.job().shownUrl() + ")"));
            List<Verdict> steps = c.steps();
            String[] row = new String[2 + steps.size()];
            row[0] = c.job().name();
            row[1] = c.job().family().displayName;
            for (int i = 0; i < steps.size(); i++) {
                out.println(m.line(String.format("  %-11s %s", Preflight.STEPS.get(i), steps.get(i).line())));
                row[2 + i] = m.line(steps.get(i).word());
            }
            fetched |= c.firmware().state() != Verdict.State.SKIPPED;
            t.row(row);
            if (c.ok()) {
                ok++;
            }
        }
        out.println();
        for (String line : t.lines(0)) {
            out.println(line);
        }
        if (fetched) {
            out.println(FROM_HERE);
        }
        int failed = results.size() - ok;
        out.println(ok + " ok, " + failed + " with problems");
        out.flush();
        return failed == 0;
    }
}
