package com.corvane.qel.deployer.modburn.tool.bridge;

import com.corvane.qel.deployer.modburn.Switch;

/**
 * What the tool needs of the library: set-up, one blocking update or version listing on the
 * calling thread, and the text of a result code. The library itself is behind LibraryBackend; tests put a
 * scripted backend in its place.
 */
public interface Backend {
    /**
     * Starts the library with the router as its log destination and the telnet layer's debug
     * level. Throws SetupException when the library cannot be loaded.
     */
    void open(LogRouter router, int telnetDebugLevel) throws SetupException;

    /**
     * Runs one update on the calling thread and returns its outcome; the library's log
     * entries for it reach the router on this thread, and its progress (stages, what the console
     * prints, the outcome last) reaches events on this thread too.
     */
    Result update(Job job, Switch.ProgressListener events);

    /**
     * Reads the switch's firmware versions on the calling thread: the login, the family's version
     * listing and the logout, nothing else typed. The library's log entries for it reach the
     * router on this thread.
     */
    Versions versions(Job job);

    /**
     * Runs the family module's parameter check for the job and nothing else (no connection):
     * 0 when the request passes, else the result code the update would give before connecting.
     */
    int check(Job job);

    /** The library's text for a result code. */
    String text(int code);

    /** Whether the library has a module for the family (false: it answers NOT_SERVED). */
    boolean serves(Family family);

    /**
     * Sets the known_hosts file (null: the default, ~/.ssh/known_hosts) and whether a new host
     * key is added to it, for every later SSH session of the process.
     */
    default void hostKeys(String knownHostsFile, boolean acceptNew) {
    }

    /**
     * Checks the host key of the SSH console an ssh:// address names, without logging in:
     * the state ("known", "unknown", "changed", "unusable", "unreachable", "invalid"), the key's
     * type and fingerprint, and the reason of any state but "known".
     */
    default HostKey hostKey(String address, int timeoutMillis) {
        return new HostKey("unreachable", "", "no host-key check here");
    }

    /** What a host-key check found. */
    record HostKey(String state, String key, String why) {
    }
}
