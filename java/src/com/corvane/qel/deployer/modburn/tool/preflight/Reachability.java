package com.corvane.qel.deployer.modburn.tool.preflight;

import java.io.IOException;
import java.net.InetSocketAddress;
import java.net.Socket;

/** Whether a TCP port answers: a short connect, then an orderly close; nothing is sent. */
public final class Reachability {
    private Reachability() {
    }

    /** Null when the port accepted a connection, else why not, in the operator's words. */
    public static String problem(ConsoleAddress a, int timeoutMillis) {
        if (a.port() < 0) {
            return "the address names no valid port";
        }
        InetSocketAddress target = new InetSocketAddress(a.host(), a.port());
        if (target.isUnresolved()) {
            return "the host name " + a.host() + " does not resolve";
        }
        try (Socket s = new Socket()) {
            s.connect(target, timeoutMillis);
            return null;
        } catch (java.net.SocketTimeoutException e) {
            return "no answer within " + timeoutMillis + " ms";
        } catch (IOException e) {
            return e.getMessage() == null ? e.getClass().getSimpleName() : e.getMessage();
        }
    }

    public static boolean answers(ConsoleAddress a, int timeoutMillis) {
        return problem(a, timeoutMillis) == null;
    }
}
