package com.corvane.qel.deployer.modburn.tool.preflight;

/**
 * The host and TCP port of a switch's console, from the address as the operator wrote it: a host
 * name or IPv4 address with an optional ":port", a bracketed IPv6 address with an optional
 * ":port", or a bare IPv6 address, each with "ssh://" before it for an SSH console. The console is
 * on port 23 (22 over SSH) unless the address names another.
 */
public record ConsoleAddress(String host, int port) {
    public static final int TELNET_PORT = 23;
    public static final int SSH_PORT = 22;
    private static final String SSH_SCHEME = "ssh://";

    /** The console of a switch address: an ssh:// address names an SSH console (port 22 unless given). */
    public static ConsoleAddress parse(String address) {
        return isSsh(address) ? parse(address.strip().substring(SSH_SCHEME.length()), SSH_PORT)
            : parse(address, TELNET_PORT);
    }

    /** Whether the switch address names an SSH console ("ssh://HOST[:PORT]", the scheme in any case). */
    public static boolean isSsh(String address) {
        return address != null && address.strip().regionMatches(true, 0, SSH_SCHEME, 0, SSH_SCHEME.length());
    }

    /** The host and port of an address; defaultPort when it names none. */
    public static ConsoleAddress parse(String address, int defaultPort) {
        String a = address == null ? "" : address.strip();
        if (a.startsWith("[")) {
            int close = a.indexOf(']');
            if (close > 0) {
                String host = a.substring(1, close);
                String rest = a.substring(close + 1);
                return new ConsoleAddress(host, rest.startsWith(":") ? port(rest.substring(1)) : defaultPort);
            }
            return new ConsoleAddress(a, defaultPort);
        }
        int colon = a.indexOf(':');
        if (colon >= 0 && colon == a.lastIndexOf(':')) {
            return new ConsoleAddress(a.substring(0, colon), port(a.substring(colon + 1)));
        }
        return new ConsoleAddress(a, defaultPort);
    }

    /** A port number, or -1 when the text is none (the probe then reports it). */
    private static int port(String text) {
        if (!text.matches("[0-9]{1,5}")) {
            return -1;
        }
        int p = Integer.parseInt(text);
        return p >= 1 && p <= 65535 ? p : -1;
    }

    /** host:port, IPv6 in brackets. */
    @Override
    public String toString() {
        return (host.indexOf(':') >= 0 ? "[" + host + "]" : host) + ":" + port;
    }
}
