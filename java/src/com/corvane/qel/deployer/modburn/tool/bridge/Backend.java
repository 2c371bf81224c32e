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
}
