package com.corvane.qel.deployer.modburn.tool.testing;

import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * Times the events of the simulator's transcripts (one file per console, one line per event,
 * written as it happens), which carry no times of their own: a thread reads every file of the
 * folder over and over, and each new line gets the two times between which it was surely
 * written: after the read of its file that did not see it began, and before the read that saw
 * it ended. Two spans surely overlap when each surely began before the other surely ended.
 */
public final class Transcripts implements AutoCloseable {
    /** A line of a console's transcript, and when it was surely written: after `after`, by `by` (nanoTime). */
    public record Line(String console, String text, long after, long by) {
    }

    /** From one line to another of one console: when it surely began and surely ended. */
    public record Span(String console, Line from, Line to) {
        /** Whether the two spans were surely under way at one moment. */
        public boolean surelyOverlaps(Span o) {
            return from.by < o.to.after && o.from.by < to.after;
        }
    }

    private final Path folder;
    private final Thread reader;
    private final List<Line> lines = new ArrayList<>();
    private final Map<Path, Long> read = new HashMap<>();
    private final Map<Path, Long> lastReadBegan = new HashMap<>();
    private volatile boolean closed;
    private final long began = System.nanoTime();

    public Transcripts(Path folder) {
        this.folder = folder;
        reader = new Thread(this::readAll, "transcripts");
        reader.setDaemon(true);
        reader.start();
    }

    private void readAll() {
        while (!closed) {
            try (DirectoryStream<Path> files = Files.newDirectoryStream(folder, "*.transcript")) {
                for (Path f : files) {
                    readNew(f);
                }
                Thread.sleep(1);
            } catch (IOException | InterruptedException e) {
                return;
            }
        }
    }

    /** Takes the whole lines added to f since its last read. */
    private void readNew(Path f) throws IOException {
        long start = System.nanoTime();
        long from = read.getOrDefault(f, 0L);
        byte[] added;
        try (RandomAccessFile in = new RandomAccessFile(f.toFile(), "r")) {
            long length = in.length();
            if (length <= from) {
                lastReadBegan.put(f, start);
                return;
            }
            added = new byte[(int) (length - from)];
            in.seek(from);
            in.readFully(added);
        }
        long end = System.nanoTime();
        int whole = 0;
        for (int i = 0; i < added.length; i++) {
            if (added[i] == '\n') {
                whole = i + 1;
            }
        }
        String text = new String(added, 0, whole, StandardCharsets.UTF_8);
        long after = lastReadBegan.getOrDefault(f, began);
        String console = f.getFileName().toString().replace(".transcript", "");
        synchronized (lines) {
            for (String line : text.split("\n")) {
                if (!line.isEmpty()) {
                    lines.add(new Line(console, line, after, end));
                }
            }
        }
        read.put(f, from + whole);
        lastReadBegan.put(f, start);
    }

    /** Every line seen so far, in the order read. */
    public List<Line> lines() {
        synchronized (lines) {
            return List.copyOf(lines);
        }
    }

    /**
     * The spans of each console from a line starting with one of from to the next starting with
     * one of to (a session: "= session" to "= end").
     */
    public List<Span> spans(List<String> from, List<String> to) {
        List<Span> spans = new ArrayList<>();
        Map<String, Line> open = new HashMap<>();
        for (Line l : lines()) {
            if (from.stream().anyMatch(l.text()::startsWith)) {
                open.put(l.console(), l);
            } else if (to.stream().anyMatch(l.text()::startsWith) && open.containsKey(l.console())) {
                spans.add(new Span(l.console(), open.remove(l.console()), l));
            }
        }
        return spans;
    }

    /** The most spans surely under way at one moment. */
    public static int mostAtOnce(List<Span> spans) {
        int most = 0;
        for (Span s : spans) {
            // At the moment s surely began, count the spans surely begun and not yet surely ended.
            long t = s.from().by();
            int n = 0;
            for (Span o : spans) {
                if (o.from().by() <= t && t < o.to().after()) {
                    n++;
                }
            }
            most = Math.max(most, n);
        }
        return most;
    }

    @Override
    public void close() {
        closed = true;
        try {
            reader.join(2000);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
