package com.corvane.qel.deployer.modburn.tool.fleet;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import org.junit.rules.ExternalResource;

/**
 * The simulator serving a console per loopback address for a fleet test, stopped when the test
 * ends. The build passes the program and the scenario folder as system properties.
 */
final class SimulatorConsoles extends ExternalResource {
    private Process sim;
    /** What the simulator said after all its consoles listened (one line per session). */
    private final List<String> said = Collections.synchronizedList(new ArrayList<>());

    static String property(String name) {
        String v = System.getProperty(name);
        assertNotNull("the test needs -D" + name, v);
        return v;
    }

    /**
     * Starts a console per address (playing the scenario given, relative to the scenario folder)
     * with the program's further arguments, and waits until all listen.
     */
    void start(Path dir, Map<String, String> consoles, List<String> arguments) throws Exception {
        Path scenarios = Path.of(property("modburn.scenarios"));
        StringBuilder conf = new StringBuilder();
        for (Map.Entry<String, String> c : consoles.entrySet()) {
            conf.append(c.getKey()).append(":23 ").append(scenarios.resolve(c.getValue())).append('\n');
        }
        Path confFile = dir.resolve("switches.conf");
        Files.writeString(confFile, conf);
        List<String> command = new ArrayList<>(List.of(property("modburn.switchsim"), "--config", confFile.toString()));
        command.addAll(arguments);
        sim = new ProcessBuilder(command).redirectErrorStream(true).start();
        BufferedReader r = new BufferedReader(new InputStreamReader(sim.getInputStream(), StandardCharsets.UTF_8));
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
        int listening = 0;
        StringBuilder opening = new StringBuilder();
        while (listening < consoles.size() && System.nanoTime() < deadline) {
            String line = r.readLine();
            if (line == null) {
                break;
            }
            opening.append(line).append('\n');
            if (line.startsWith("switchsim: listening on ")) {
                listening++;
            }
        }
        assertEquals("the simulator said:\n" + opening, consoles.size(), listening);
        // Keep draining its output so that it never blocks on a full pipe.
        Thread drain = new Thread(() -> {
            try {
                for (String line = r.readLine(); line != null; line = r.readLine()) {
                    said.add(line);
                }
            } catch (Exception e) {
                // the process ended
            }
        });
        drain.setDaemon(true);
        drain.start();
    }

    Process process() {
        return sim;
    }

    /** Stops the simulator and returns what it said after its consoles listened. */
    List<String> stop() throws InterruptedException {
        after();
        synchronized (said) {
            return new ArrayList<>(said);
        }
    }

    @Override
    protected void after() {
        if (sim != null && sim.isAlive()) {
            sim.destroy();
            try {
                sim.waitFor(10, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }
}
