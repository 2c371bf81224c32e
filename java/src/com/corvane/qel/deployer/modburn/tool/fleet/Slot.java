package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import java.io.Writer;
import java.nio.file.Path;

/** One switch of a fleet: its job, its log file and where it stands. */
public final class Slot {
    public final Job job;
    /** The update's own log file, or null when it writes to the shared writer. */
    public final Path log;
    final Writer shared;
    public final Progress progress;
    /** Hides the job's passwords in whatever is shown of the switch. */
    final Masker masker;
    /** Set by the rollout's plan: whether the switch is a canary, and its wave (0: canaries). */
    public volatile boolean canary;
    public volatile int wave = 1;
    /**
     * The blade chassis the module sits in and its redundancy set there ("" when not known), and
     * the set as a key (null: none known).
     */
    public volatile String chassis = "";
    public volatile String group = "";
    public volatile String set;
    /** The firmware server the update fetches from (null: none known). */
    final String server;
    /** The version the switch's versions must hold after its update (null: any change will do). */
    public volatile String expect;
    /** The versions before and after and what they show, once a verified update ended (null: none). */
    public volatile VerifiedUpdate.Proof proof;

    /** A slot whose log is a file of its own, created afresh. */
    public Slot(Job job, Path log) {
        this(job, log, null);
    }

    /** A slot whose log goes to a writer that outlives it (the terminal, an appended file). */
    public Slot(Job job, Writer shared) {
        this(job, null, shared);
    }

    /** Where the module sits, as shown: "c07", or "c07/left" in a group of its own; "" when not known. */
    String place() {
        return group.isEmpty() ? chassis : chassis + "/" + group;
    }

    private Slot(Job job, Path log, Writer shared) {
        this.job = job;
        this.log = log;
        this.shared = shared;
        this.progress = new Progress();
        this.masker = job.masker();
        this.server = FileUrl.server(job.url());
    }
}
