package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.bridge.Versions;
import java.util.List;
import java.util.Set;

/**
 * One switch's update with its proof, as the tool runs it and as an application can run it
 * without the command line: the versions read before the update, the update, the wait for a
 * rebooted switch to come back, and the versions read again, retrying the login while the console
 * does not answer yet. The outcome says what the versions show: changed (to the version expected,
 * when one is given), the same as before, changed to something else, or not readable. A switch
 * whose versions already hold the expected one is left alone when asked (skipCurrent): nothing
 * but its listing is typed on it.
 *
 * <pre>{@code
 * Backend library = new LibraryBackend();
 * library.open(new LogRouter(System.out::print), 0);
 * VerifiedUpdate.Proof proof = new VerifiedUpdate(library, WaitBack.of(WaitBack.DEFAULT_LIMIT, 2000), true, false)
 *     .run(job, "v9.2.1", new VerifiedUpdate.Steps() { });
 * if (proof.outcome() != VerifiedUpdate.Outcome.VERIFIED) { ... proof.result().message() ... }
 * }</pre>
 */
public final class VerifiedUpdate {
    /** What an update came to. */
    public enum Outcome {
        /** Updated; no verification was asked for. */
        UPDATED("ok"),
        /** The versions changed (and one holds the version expected, when one is given). */
        VERIFIED("verified"),
        /** A version already held the one expected: nothing was updated. */
        CURRENT("current"),
        /** Updated, but the versions are the same as before. */
        UNCHANGED("unchanged"),
        /** The versions changed, but none holds the version expected. */
        WRONG_VERSION("wrong_version"),
        /** Updated, but the versions could not be read back. */
        NOT_VERIFIED("not_verified"),
        /** The versions could not be read before, the update failed, or the switch did not come back. */
        FAILED("failed");

        /** The outcome as reports and tables name it. */
        public final String word;

        Outcome(String word) {
            this.word = word;
        }
    }

    /**
     * The proof of one switch: the outcome, the result as the tool reports it (the library's for
     * a failed update; the tool's own codes UNCHANGED, WRONG_VERSION and NOT_VERIFIED), and the
     * versions before and after the update (empty when they were not read).
     */
    public record Proof(Outcome outcome, Result result, List<String> before, List<String> after) {
        public Proof {
            before = List.copyOf(before);
            after = List.copyOf(after);
        }

        /** Whether versions were read for it at all. */
        public boolean hasVersions() {
            return !before.isEmpty() || !after.isEmpty();
        }
    }

    /** What the run tells its caller as it goes; every method may be left as it is. */
    public interface Steps {
        /** A step of the tool's own begins (versions, wait-back, verify) with a line to show. */
        default void stage(String stage, String line) {
        }

        /** The listener of the update's progress events (null: none). */
        default Switch.ProgressListener events() {
            return null;
        }

        /** A line for the switch's log, with its line end. */
        default void log(String entry) {
        }

        /** The switch is done with its firmware server (the update ended, or none ran). */
        default void fetched() {
        }

        /** Whether a stop was asked for: a wait ends at its next poll. */
        default boolean stopped() {
            return false;
        }
    }

    /** Results of a listing that mean the console does not answer logins (yet). */
    private static final Set<Integer> NOT_ANSWERING = Set.of(-11, -12, -13);

    private final Backend backend;
    private final WaitBack waitBack;
    private final boolean verify;
    private final boolean skipCurrent;

    /**
     * An update through backend; waitBack (null: none) waits for a rebooted switch and bounds
     * the retries of the versions read after it; verify reads the versions before and after;
     * skipCurrent leaves a switch alone whose versions hold the expected one.
     */
    public VerifiedUpdate(Backend backend, WaitBack waitBack, boolean verify, boolean skipCurrent) {
        this.backend = backend;
        this.waitBack = waitBack;
        this.verify = verify;
        this.skipCurrent = skipCurrent;
    }

    /**
     * Runs the job; expected is the version a value must hold after the update (null: any
     * change will do; a text without a visible character is refused, as every value would hold
     * it). Never throws for what a switch does: every outcome is a proof.
     */
    public Proof run(Job job, String expected, Steps steps) {
        if (expected != null && expected.isBlank()) {
            throw new IllegalArgumentException("an expected version needs a visible character");
        }
        List<String> before = List.of();
        if (verify) {
            steps.stage("versions", "reading the versions before the update");
            Versions listed = listing(job);
            if (!listed.read()) {
                steps.fetched();
                steps.log("modburn: versions before: not read; nothing updated\n");
                return new Proof(Outcome.FAILED, listed.failure(), List.of(), List.of());
            }
            before = listed.values();
            steps.log("modburn: versions before: " + listed.shown() + "\n");
            if (skipCurrent && expected != null && listed.holds(expected)) {
                steps.fetched();
                steps.log("modburn: current: a version holds " + expected + "; nothing updated\n");
                return new Proof(Outcome.CURRENT, new Result(0, "already holds " + expected), before, before);
            }
        }
        Result updated = update(job, steps.events());
        steps.fetched();
        long ended = waitBack == null ? 0 : waitBack.now();
        if (!updated.succeeded()) {
            return new Proof(Outcome.FAILED, updated, before, List.of());
        }
        if (waitBack != null && job.reboot() && job.family().reboots) {
            Result back = awaitReturn(job, steps);
            if (!back.succeeded()) {
                return new Proof(Outcome.FAILED, back, before, List.of());
            }
            updated = updated.message().isEmpty() ? back : new Result(back.code(), updated.message() + "; " + back.message());
        }
        if (!verify) {
            return new Proof(Outcome.UPDATED, updated, List.of(), List.of());
        }
        steps.stage("verify", "reading the versions after the update");
        Versions after = readBack(job, ended, steps);
        return judge(before, after, expected, updated, steps);
    }

    private Result update(Job job, Switch.ProgressListener events) {
        try {
            return backend.update(job, events);
        } catch (RuntimeException | LinkageError e) {
            return new Result(Codes.TOOL_ERROR, "the update ended in " + e);
        }
    }

    private Versions listing(Job job) {
        try {
            return backend.versions(job);
        } catch (RuntimeException | LinkageError e) {
            return Versions.failed(new Result(Codes.TOOL_ERROR, "the version listing ended in " + e));
        }
    }

    /** The versions after the update; while the console does not answer, tried again until the wait is spent. */
    private Versions readBack(Job job, long ended, Steps steps) {
        if (waitBack == null) {
            return listing(job);
        }
        try {
            return waitBack.retry(ended, () -> listing(job),
                v -> !v.read() && NOT_ANSWERING.contains(v.failure().code()), steps::stopped);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return Versions.failed(new Result(Codes.NOT_VERIFIED, "the wait for the switch was interrupted"));
        }
    }

    /** The outcome of the versions after an update that succeeded with result updated. */
    private static Proof judge(List<String> before, Versions after, String expected, Result updated, Steps steps) {
        if (!after.read()) {
            Result f = after.failure();
            String why = Codes.name(f.code()) + ": " + f.statusText()
                + (f.tellingLine().isEmpty() ? "" : " (" + f.tellingLine() + ")");
            steps.log("modburn: versions after: not read: " + why + "\n");
            return new Proof(Outcome.NOT_VERIFIED,
                new Result(Codes.NOT_VERIFIED, "updated, but the versions could not be read back: " + why), before,
                List.of());
        }
        steps.log("modburn: versions after: " + after.shown() + "\n");
        if (after.values().equals(before)) {
            return new Proof(Outcome.UNCHANGED, new Result(Codes.UNCHANGED, "updated, but the versions did not change"),
                before, after.values());
        }
        if (expected != null && !after.holds(expected)) {
            return new Proof(Outcome.WRONG_VERSION,
                new Result(Codes.WRONG_VERSION, "updated, but no version holds " + expected), before, after.values());
        }
        return new Proof(Outcome.VERIFIED, updated, before, after.values());
    }

    /** The wait for a rebooted switch, each change written to its log as it goes. */
    private Result awaitReturn(Job job, Steps steps) {
        steps.stage("wait-back", "");
        Result back;
        try {
            back = waitBack.await(job.address(), line -> {
                steps.stage("wait-back", line);
                steps.log("modburn: wait-back: " + line + "\n");
            }, steps::stopped);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            back = new Result(Codes.NOT_BACK, "updated, but the wait for the switch was interrupted");
        }
        steps.log("modburn: wait-back: " + back.message() + "\n");
        return back;
    }
}
