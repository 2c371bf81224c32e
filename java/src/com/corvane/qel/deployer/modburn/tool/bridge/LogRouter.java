package com.corvane.qel.deployer.modburn.tool.bridge;

import java.util.function.Consumer;

/**
 * The Java logger the tool hands to the library. The library's log destination is one for the
 * whole process, but it writes every entry of an update on the thread that runs that update;
 * so the router sends each entry to the log that the calling thread attached, and entries of
 * any other thread (the start-up line) to the fallback log.
 */
public final class LogRouter {
    private final ThreadLocal<Consumer<String>> current = new ThreadLocal<>();
    private final Consumer<String> fallback;

    /** fallback may be null: entries of unattached threads are then dropped. */
    public LogRouter(Consumer<String> fallback) {
        this.fallback = fallback;
    }

    /** Called by the library, once per entry, on the thread that wrote it. */
    public void log(String entry) {
        if (entry == null) {
            return;
        }
        Consumer<String> log = current.get();
        if (log == null) {
            log = fallback;
        }
        if (log != null) {
            log.accept(entry);
        }
    }

    /** Sends the calling thread's entries to log until detach(). */
    public void attach(Consumer<String> log) {
        current.set(log);
    }

    public void detach() {
        current.remove();
    }
}
