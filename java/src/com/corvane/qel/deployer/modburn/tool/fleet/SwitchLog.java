package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import java.io.IOException;
import java.io.Writer;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.function.Supplier;

/**
 * The log of one update: every entry the library writes for it is masked and written, with a
 * local-time prefix, to the update's own destination (a file, or the terminal).
 * Entries arrive whole; each is written with one call under this object's lock, so two entries
 * never mix even if a second thread wrote to the same log.
 */
public final class SwitchLog implements AutoCloseable {
    private static final DateTimeFormatter STAMP = DateTimeFormatter.ofPattern("yyyy.MM.dd HH:mm:ss ");

    private final Writer out;
    private final boolean closeOut;
    private final Masker masker;
    private final Supplier<LocalDateTime> clock;
    private IOException failure;

    /** out receives the stamped entries; closeOut says whether close() closes it. */
    SwitchLog(Writer out, boolean closeOut, Masker masker, Supplier<LocalDateTime> clock) {
        this.out = out;
        this.closeOut = closeOut;
        this.masker = masker;
        this.clock = clock;
    }

    public SwitchLog(Writer out, boolean closeOut, Masker masker) {
        this(out, closeOut, masker, LocalDateTime::now);
    }

    /** Takes one entry as the library wrote it. */
    public void entry(String entry) {
        String text = masker.lines(entry);
        // An entry without a line end (a retry notice) gets one, so every entry starts a line.
        String line = STAMP.format(clock.get()) + (text.endsWith("\n") ? text : text + "\n");
        synchronized (this) {
            if (failure != null) {
                return;
            }
            try {
                out.write(line);
                out.flush();
            } catch (IOException e) {
                failure = e;
            }
        }
    }

    /** The first write failure, or null; the update itself goes on when its log fails. */
    public synchronized IOException failure() {
        return failure;
    }

    @Override
    public synchronized void close() throws IOException {
        if (closeOut) {
            out.close();
        } else {
            out.flush();
        }
    }
}
