package com.corvane.qel.deployer.modburn.tool.fleet;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.function.Function;

/** Work on many switches, some at once, its results in the order of the switches. */
public final class Parallel {
    private Parallel() {
    }

    /**
     * Applies work to every item, at most parallel at once on daemon threads named name; returns
     * the results in the order of the items. Work that throws is a fault of the tool: it ends
     * the whole in an IllegalStateException.
     */
    public static <T, R> List<R> map(List<T> items, int parallel, String name, Function<T, R> work)
            throws InterruptedException {
        ExecutorService pool = Executors.newFixedThreadPool(Math.max(1, Math.min(parallel, items.size())), r -> {
            Thread t = new Thread(r, name);
            t.setDaemon(true);
            return t;
        });
        try {
            List<Future<R>> futures = new ArrayList<>();
            for (T item : items) {
                futures.add(pool.submit(() -> work.apply(item)));
            }
            List<R> out = new ArrayList<>();
            for (Future<R> f : futures) {
                try {
                    out.add(f.get());
                } catch (ExecutionException e) {
                    throw new IllegalStateException(name + " ended in " + e.getCause(), e.getCause());
                }
            }
            return out;
        } finally {
            pool.shutdownNow();
        }
    }
}
