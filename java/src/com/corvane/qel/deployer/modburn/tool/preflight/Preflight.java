package com.corvane.qel.deployer.modburn.tool.preflight;

import com.corvane.qel.deployer.modburn.tool.bridge.Backend;
import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.fleet.Parallel;
import com.corvane.qel.deployer.modburn.tool.inventory.Entry;
import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordException;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordReader;
import java.util.ArrayList;
import java.util.List;

/**
 * The pre-flight check of a switch, with nothing typed on its console: the request as the
 * library's parameter check sees it, the passwords, a TCP connect to the console port (and for
 * an SSH console its host key against the known_hosts file, without logging in), and the
 * firmware file fetched (in part) from this machine.
 */
public final class Preflight {
    /** The step names, in the order they are reported. */
    public static final List<String> STEPS = List.of("parameters", "passwords", "console", "firmware");

    /**
     * Stands in for a password that could not be read, so that the other steps still run. It is
     * masked as a password is, so no piece of it may be a word the check's messages use.
     */
    static final String PLACEHOLDER = "Zq8Xv3Kp7Wd2";

    /** A switch ready to check: its job and the verdict on reading its passwords. */
    public record Pending(Job job, Verdict passwords, boolean urlPasswordRead) {
    }

    /** The verdicts on one switch, in step order. */
    public record Checked(Job job, Verdict parameters, Verdict passwords, Verdict console, Verdict firmware) {
        public List<Verdict> steps() {
            return List.of(parameters, passwords, console, firmware);
        }

        public boolean ok() {
            return steps().stream().noneMatch(Verdict::failed);
        }
    }

    private final Backend backend;
    private final int timeoutMillis;
    private final FirmwareProbe probe;
    private final boolean acceptNew;

    public Preflight(Backend backend, int timeoutMillis) {
        this(backend, timeoutMillis, false);
    }

    /** acceptNew: an unknown SSH host key is one the update will add, not a failed check. */
    public Preflight(Backend backend, int timeoutMillis, boolean acceptNew) {
        this.backend = backend;
        this.timeoutMillis = timeoutMillis;
        this.probe = new FirmwareProbe(timeoutMillis, 2);
        this.acceptNew = acceptNew;
    }

    /**
     * Reads the passwords of an inventory entry as an update would; a password that cannot be
     * read is a failed step, and a placeholder takes its place for the steps that follow.
     */
    public static Pending read(Entry e, PasswordReader reader, int debugLevel) {
        List<String> problems = new ArrayList<>();
        String pw = PLACEHOLDER;
        try {
            pw = reader.read(e.password(), "switch password");
        } catch (PasswordException x) {
            problems.add(x.getMessage());
        }
        String url = e.url();
        boolean urlRead = true;
        if (e.urlPassword() != null) {
            String urlPw = null;
            try {
                urlPw = reader.read(e.urlPassword(), "URL password");
            } catch (PasswordException x) {
                problems.add(x.getMessage());
            }
            try {
                url = FileUrl.withPassword(url, urlPw != null ? urlPw : PLACEHOLDER);
            } catch (IllegalArgumentException x) {
                problems.add(x.getMessage());
                urlPw = null;
            }
            urlRead = urlPw != null;
        }
        Job job = e.job(pw, url, debugLevel);
        Verdict passwords = problems.isEmpty() ? Verdict.ok("") : Verdict.failed("unreadable", String.join("; ", problems));
        return new Pending(job, passwords, urlRead);
    }

    /** A job whose passwords were read already (a fleet about to start). */
    public static Pending ready(Job job) {
        return new Pending(job, Verdict.ok(""), true);
    }

    Checked check(Pending p) {
        Job job = p.job();
        // A URL the tool refuses is not sent to any server.
        Verdict firmware = FileUrl.problem(job.url()) != null ? Verdict.skipped("the URL is refused")
            : p.urlPasswordRead() ? probe.check(job.url()) : Verdict.skipped("the URL password could not be read");
        return new Checked(job, parameters(job), p.passwords(), console(job), firmware);
    }

    /** Every switch checked, parallel at a time; results in the order given. */
    public List<Checked> checkAll(List<Pending> pending, int parallel) throws InterruptedException {
        return Parallel.map(pending, parallel, "modburn-check", this::check);
    }

    /** The tool's own check of the request, then the library's, exactly as an update runs them. */
    Verdict parameters(Job job) {
        String problem = job.family().problemWith(job.url(), job.reboot(), job.modifier());
        if (problem != null) {
            return Verdict.failed("refused", problem);
        }
        int code = backend.check(job);
        if (code == 0) {
            return Verdict.ok("");
        }
        if (code == Codes.NOT_SERVED) {
            return Verdict.failed("not served", "the library has no module for " + job.family().displayName
                + " yet (" + Codes.name(code) + ")");
        }
        return Verdict.failed(Codes.name(code), "the library refuses the request: " + backend.text(code));
    }

    Verdict console(Job job) {
        ConsoleAddress a = ConsoleAddress.parse(job.address());
        String problem = Reachability.problem(a, timeoutMillis);
        if (problem != null) {
            return Verdict.failed("no answer", "the console " + a + " does not answer: " + problem);
        }
        return ConsoleAddress.isSsh(job.address()) ? hostKey(job, a) : Verdict.ok(a + " accepts connections");
    }

    /** The host key of an SSH console against the known_hosts file; no login. */
    Verdict hostKey(Job job, ConsoleAddress a) {
        Backend.HostKey k = backend.hostKey(job.address(), timeoutMillis);
        return switch (k.state()) {
            case "known" -> Verdict.ok(a + " accepts connections; its host key " + k.key() + " is known");
            case "unknown" -> acceptNew
                ? Verdict.ok(a + " accepts connections; its host key " + k.key()
                    + " is not known yet: the update adds it (--accept-new-host-keys)")
                : Verdict.failed("unknown key", k.why() + " (check the fingerprint, add the key, or give"
                    + " --accept-new-host-keys)");
            case "changed" -> Verdict.failed("changed key", k.why());
            case "unusable" -> Verdict.failed("known_hosts", k.why());
            default -> Verdict.failed("no answer", "the SSH console " + a + " does not answer: " + k.why());
        };
    }
}
