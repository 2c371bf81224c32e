package com.corvane.qel.deployer.modburn;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * A simulated switch console for the Java tests: the switchsim program playing
 * one scenario to one client on port 23 of a loopback address. The build
 * passes the program and the scenario folder as system properties.
 */
final class SimulatedSwitch implements AutoCloseable {
    private final Process process;
    private final StringBuilder output = new StringBuilder();

    SimulatedSwitch(String address, String scenario) throws IOException {
        this(address, scenario, List.of("--once"));
    }

    /**
     * The same with the program's further arguments in place of "--once": "--count N", "--option
     * TEXT", "--transcript FILE"; without a count it serves until closed, or until no client
     * came for 30 seconds.
     */
    SimulatedSwitch(String address, String scenario, List<String> arguments) throws IOException {
        String program = System.getProperty("modburn.switchsim");
        Path scenarios = Path.of(System.getProperty("modburn.scenarios"));
        List<String> command = new ArrayList<>(List.of(program, "--listen", address + ":23", "--scenario",
                scenarios.resolve(scenario).toString(), "--accept-timeout-ms", "30000"));
        command.addAll(arguments);
        process = new ProcessBuilder(command).redirectErrorStream(true).start();
        BufferedReader out = new BufferedReader(new InputStreamReader(process.getInputStream(),
                StandardCharsets.UTF_8));
        // The program names the address once it is bound: from then on a client may connect.
        for (String line; (line = out.readLine()) != null; ) {
            output.append(line).append('\n');
            if (line.startsWith("switchsim: listening on")) {
                Thread drain = new Thread(() -> drain(out));
                drain.setDaemon(true);
                drain.start();
                return;
            }
        }
        throw new IOException("switchsim did not start: " + output);
    }

    private void drain(BufferedReader out) {
        try {
            for (String line; (line = out.readLine()) != null; ) {
                synchronized (output) {
                    output.append(line).append('\n');
                }
            }
        } catch (IOException e) {
            // the program has ended
        }
    }

    /** Exit status once the session is over: 0 when the switch's whole scenario ran. */
    int waitFor() throws InterruptedException {
        if (!process.waitFor(60, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            return -1;
        }
        return process.exitValue();
    }

    String output() {
        synchronized (output) {
            return output.toString();
        }
    }

    @Override
    public void close() {
        process.destroyForcibly();
    }
}
