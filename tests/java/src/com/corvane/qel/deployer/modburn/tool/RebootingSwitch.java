package com.corvane.qel.deployer.modburn.tool;

import java.io.IOException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;

/**
 * A switch console port on loopback that reboots: it answers (accepting and closing each
 * connection), stops answering downAfterMillis after the start, and answers again
 * backAfterMillis after the start (-1: never goes down / never comes back).
 */
final class RebootingSwitch implements AutoCloseable {
    final int port;
    private final InetAddress host;
    private final Thread thread;
    private volatile boolean closed;
    private volatile ServerSocket socket;

    RebootingSwitch(long downAfterMillis, long backAfterMillis) throws IOException {
        this("127.0.0.1", downAfterMillis, backAfterMillis);
    }

    /** The same on another loopback address (127.x.y.z). */
    RebootingSwitch(String loopback, long downAfterMillis, long backAfterMillis) throws IOException {
        host = InetAddress.getByName(loopback);
        socket = open(0);
        port = socket.getLocalPort();
        long start = System.nanoTime();
        thread = new Thread(() -> run(start, downAfterMillis, backAfterMillis), "rebooting-switch");
        thread.setDaemon(true);
        thread.start();
    }

    private ServerSocket open(int port) throws IOException {
        ServerSocket s = new ServerSocket();
        s.setReuseAddress(true);
        s.bind(new InetSocketAddress(host, port));
        s.setSoTimeout(20);
        return s;
    }

    String address() {
        return host.getHostAddress() + ":" + port;
    }

    private void run(long start, long downAfter, long backAfter) {
        boolean wentDown = false;
        while (!closed) {
            long ms = (System.nanoTime() - start) / 1_000_000;
            try {
                if (!wentDown && downAfter >= 0 && ms >= downAfter) {
                    socket.close();
                    socket = null;
                    wentDown = true;
                } else if (wentDown && socket == null && backAfter >= 0 && ms >= backAfter) {
                    socket = open(port);
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
