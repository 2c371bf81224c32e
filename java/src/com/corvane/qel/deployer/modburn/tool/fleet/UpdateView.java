package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.text.Escape;
import com.corvane.qel.deployer.modburn.tool.text.Table;
import java.io.PrintStream;
import java.io.Writer;
import java.util.List;

/**
 * The display of a single update on standard error. On a terminal one status line (stage and the
 * progress its console shows, elapsed time, last console line) stays at the bottom and is rewritten in place, while log
 * lines, when they go to the terminal too, scroll by above it; otherwise a plain line for each
 * new stage.
 */
public final class UpdateView implements Display {
    private final PrintStream err;
    private final boolean live;
    private final int width;
    private String status = "";
    private int stagesShown;

    public UpdateView(PrintStream err, boolean live, int width) {
        this.err = err;
        this.live = live;
        this.width = width;
    }

    @Override
    public synchronized void refresh(List<Slot> slots, long nowNanos) {
        Progress p = slots.get(0).progress;
        if (!live) {
            for (String stage : p.stagesFrom(stagesShown)) {
                err.println("modburn: stage " + stage);
                stagesShown++;
            }
            err.flush();
            return;
        }
        if (p.state() != Progress.State.RUNNING) {
            clear();
            return;
        }
        String line = Escape.line("[" + p.shownStage() + " " + Table.duration(p.elapsedSeconds(nowNanos)) + "] " + p.lastLine());
        status = line.length() > width - 1 ? line.substring(0, width - 1) : line;
        err.print("\r\033[2K" + status);
        err.flush();
    }

    @Override
    public void stopping(int running) {
        // A single update is not stopped early; Ctrl-C ends the process.
    }

    /** Removes the status line, leaving the cursor at the start of an empty line. */
    public synchronized void clear() {
        if (live && !status.isEmpty()) {
            err.print("\r\033[2K");
            err.flush();
            status = "";
        }
    }

    /** A writer for log lines that go to the same terminal: they appear above the status line. */
    public Writer logWriter() {
        return new Writer() {
            @Override
            public void write(char[] buf, int off, int len) {
                synchronized (UpdateView.this) {
                    if (live && !status.isEmpty()) {
                        err.print("\r\033[2K");
                    }
                    err.print(new String(buf, off, len));
                    if (live && !status.isEmpty()) {
                        err.print(status);
                    }
                }
            }

            @Override
            public void flush() {
                err.flush();
            }

            @Override
            public void close() {
                err.flush();
            }
        };
    }
}
