package com.corvane.qel.deployer.modburn.tool.testing;

import java.io.IOException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;

/**
 * A switch console port on loopback that reboots: it answers (accepting and closing each
 * connection), stops answering downAfterMillis after the start, and answers again
 * backAfterMillis after the start (-1: never goes down / never comes back). The start is its
 * creation, or for one made by {@link #onReboot} the call of {@link #reboot}, so that a test's
 * timing does not depend on how long the tool takes to reach its wait.
 */
public final class RebootingSwitch implements AutoCloseable {
    public final int port;
    private final InetAddress host;
    private final Thread thread;
    private volatile boolean closed;
    private volatile ServerSocket socket;
    /** When the reboot's timeline started (System.nanoTime), or -1 while it waits for reboot(). */
    private volatile long start = -1;
    /** When it answered again after going down (System.nanoTime), or -1. */
    private volatile long back = -1;

    public RebootingSwitch(long downAfterMillis, long backAfterMillis) throws IOException {
        this("127.0.0.1", downAfterMillis, backAfterMillis);
    }

    /** The same on another loopback address (127.x.y.z). */
    public RebootingSwitch(String loopback, long downAfterMillis, long backAfterMillis) throws IOException {
        this(loopback, downAfterMillis, backAfterMillis, true);
    }

    private RebootingSwitch(String loopback, long downAfterMillis, long backAfterMillis, boolean now)
            throws IOException {
        host = InetAddress.getByName(loopback);
        socket = open(0);
        port = socket.getLocalPort();
        if (now) {
            reboot();
        }
        thread = new Thread(() -> run(downAfterMillis, backAfterMillis), "rebooting-switch");
        thread.setDaemon(true);
        thread.start();
    }

    /** A switch on 127.0.0.1 that answers until reboot() starts its timeline. */
    public static RebootingSwitch onReboot(long downAfterMillis, long backAfterMillis) throws IOException {
        return new RebootingSwitch("127.0.0.1", downAfterMillis, backAfterMillis, false);
    }

    /** When it answered again after its reboot (System.nanoTime), or -1 while it has not. */
    public long backAt() {
        return back;
    }

    /** Starts the timeline (once). */
    public void reboot() {
        if (start < 0) {
            start = System.nanoTime();
        }
    }

    private ServerSocket open(int port) throws IOException {
        ServerSocket s = new ServerSocket();
        s.setReuseAddress(true);
        s.bind(new InetSocketAddress(host, port));
        s.setSoTimeout(20);
        return s;
    }

    public String address() {
        return host.getHostAddress() + ":" + port;
    }

    private void run(long downAfter, long backAfter) {
        boolean wentDown = false;
        while (!closed) {
            long began = start;
            long ms = began < 0 ? -1 : (System.nanoTime() - began) / 1_000_000;
            try {
                if (!wentDown && downAfter >= 0 && ms >= 0 && ms >= downAfter) {
                    socket.close();
                    socket = null;
                    wentDown = true;
                } else if (wentDown && socket == null && backAfter >= 0 && ms >= backAfter) {
                    socket = open(port);
                    back = System.nanoTime();
                }
                ServerSocket s = socket;
                if (s == null) {
                    Thread.sleep(10);
                    continue;
                }
                try {
                    // answered: the connection is closed at once
                    s.accept().close();
                } catch (java.net.SocketTimeoutException e) {
                    // no caller in this round
                }
            } catch (IOException | InterruptedException e) {
                if (closed) {
                    return;
                }
            }
        }
    }

    @Override
    public void close() throws IOException {
        closed = true;
        ServerSocket s = socket;
        if (s != null) {
            s.close();
        }
        try {
            thread.join(2000);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
