package com.corvane.qel.deployer.modburn.tool.fleet;

import java.io.IOException;
import java.nio.file.Path;
import java.util.List;

/**
 * The view, and the report rewritten each time a switch ends (on that update's thread, one
 * write at a time), so that the report holds every finished switch even if the tool is quit
 * at once (a second Ctrl-C). A report that cannot be written is said once; the rollout goes on.
 */
final class Recording implements Display {
    /** Writes the report as the rollout stands now. */
    interface Rewrite {
        void write() throws IOException;
    }

    private final FleetView view;
    private final Path report;
    private final Rewrite rewrite;
    private boolean warned;

    Recording(FleetView view, Path report, Rewrite rewrite) {
        this.view = view;
        this.report = report;
        this.rewrite = rewrite;
    }

    @Override
    public void refresh(List<Slot> slots, long nowNanos) {
        view.refresh(slots, nowNanos);
    }

    @Override
    public synchronized void ended(Slot slot) {
        try {
            rewrite.write();
        } catch (IOException | RuntimeException e) {
            if (!warned) {
                warned = true;
                view.say("modburn: cannot write the report " + report + ": " + e.getMessage());
            }
        }
    }

    @Override
    public void stopping(int running) {
        view.stopping(running);
    }

    @Override
    public void phase(String text) {
        view.phase(text);
    }

    @Override
    public void halted(String why, int running) {
        view.halted(why, running);
    }
}
