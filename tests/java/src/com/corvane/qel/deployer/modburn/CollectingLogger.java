package com.corvane.qel.deployer.modburn;

import java.util.ArrayList;
import java.util.List;

/** A Java application logger for the tests: keeps every line it is handed. */
class CollectingLogger implements Switch.AppLogger {
    private final List<String> lines = new ArrayList<>();

    @Override
    public synchronized void log(String line) {
        lines.add(line);
    }

    synchronized List<String> lines() {
        return new ArrayList<>(lines);
    }

    synchronized int count(String line) {
        int n = 0;
        for (String l : lines) {
            if (l.equals(line)) {
                n++;
            }
        }
        return n;
    }
}
