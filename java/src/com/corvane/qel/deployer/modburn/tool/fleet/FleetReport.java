package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.inventory.JsonTree;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import com.corvane.qel.deployer.modburn.tool.text.JsonText;
import com.fasterxml.jackson.core.JsonGenerator;
import java.io.IOException;
import java.io.Writer;
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.time.Instant;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The machine-readable record of a fleet run, a JSON document: the command line, start and end,
 * how the run ended, and per switch its outcome. It is rewritten whole each time a switch ends
 * (so a run that is quit at once still leaves the record of every switch finished by then), each
 * time to a temporary file in the same folder that is then renamed over the report, so a reader
 * sees the previous document or the next, never part of one. Every text in it is masked and
 * holds no control character (each is escaped), so that no reader's terminal acts on one.
 */
public final class FleetReport {
    /** Result of a switch that was not started. */
    static final String NOT_STARTED = "not started";
    static final String OK = "ok";
    /** Result of a switch held back for good because a module of its redundancy set failed. */
    static final String HELD = "held";

    /** One switch of an earlier report, as read back: what retrying needs. */
    public record Known(String name, String address, String result, JsonTree.JsonObject entry) {
        boolean succeeded() {
            return OK.equals(result);
        }
    }

    /** The outcomes of a verified update that the report counts. */
    private static final List<VerifiedUpdate.Outcome> VERIFICATIONS = List.of(VerifiedUpdate.Outcome.VERIFIED,
        VerifiedUpdate.Outcome.UNCHANGED, VerifiedUpdate.Outcome.CURRENT, VerifiedUpdate.Outcome.WRONG_VERSION,
        VerifiedUpdate.Outcome.NOT_VERIFIED);

    private final Path file;
    private final List<String> command;
    private final String inventory;
    private final Instant started;
    private final Masker masker;
    /** Switches of an earlier report that succeeded there and are not run again. */
    private final List<Known> carried;

    FleetReport(Path file, List<String> command, String inventory, Instant started, Masker masker, List<Known> carried) {
        this.file = file;
        this.command = List.copyOf(command);
        this.inventory = inventory;
        this.started = started;
        this.masker = masker;
        this.carried = List.copyOf(carried);
    }

    Path file() {
        return file;
    }

    /** How the run stands for the report: ended (null while it runs), stop reason and why. */
    record Ending(Instant ended, Stop stop, String why) {
    }

    /** The document for the slots as they stand now. */
    String render(List<Slot> slots, long nowNanos, Rollout rollout, Ending ending) {
        return JsonText.document(g -> {
            g.writeStartObject();
            g.writeStringField("tool", "modburn fleet");
            g.writeArrayFieldStart("command");
            for (String arg : command) {
                g.writeString(masker.line(arg));
            }
            g.writeEndArray();
            g.writeStringField("inventory", masker.line(inventory));
            g.writeStringField("started", started.toString());
            if (ending.ended() == null) {
                g.writeNullField("ended");
            } else {
                g.writeStringField("ended", ending.ended().toString());
            }
            g.writeBooleanField("finished", ending.ended() != null);
            g.writeStringField("stopped", switch (ending.stop()) {
                case NONE -> "no";
                case INTERRUPTED -> "interrupted";
                case CANARY -> "canary";
                case BUDGET -> "budget";
            });
            g.writeStringField("why", masker.line(ending.why()));
            if (rollout.failureLimit > 0) {
                g.writeStringField("failure_budget", rollout.budgetText);
                g.writeNumberField("failure_limit", rollout.failureLimit);
            } else {
                g.writeNullField("failure_budget");
                g.writeNullField("failure_limit");
            }
            Map<String, Integer> counts = new LinkedHashMap<>();
            for (String k : new String[] {OK, "failed", "not_started", HELD, "running", "carried_over"}) {
                counts.put(k, 0);
            }
            for (VerifiedUpdate.Outcome o : VERIFICATIONS) {
                counts.put(o.word, 0);
            }
            for (Slot s : slots) {
                counts.merge(countKey(s.progress.state()), 1, Integer::sum);
                VerifiedUpdate.Proof proof = s.proof;
                if (proof != null && VERIFICATIONS.contains(proof.outcome())) {
                    counts.merge(proof.outcome().word, 1, Integer::sum);
                }
            }
            counts.put("carried_over", carried.size());
            g.writeObjectFieldStart("counts");
            for (Map.Entry<String, Integer> c : counts.entrySet()) {
                g.writeNumberField(c.getKey(), c.getValue());
            }
            g.writeEndObject();
            g.writeArrayFieldStart("switches");
            for (Slot s : slots) {
                writeSwitch(g, s, nowNanos);
            }
            for (Known k : carried) {
                g.writeStartObject();
                for (Map.Entry<String, Object> m : k.entry().entrySet()) {
                    if (!m.getKey().equals("carried_over")) {
                        g.writeFieldName(m.getKey());
                        writeValue(g, m.getValue());
                    }
                }
                g.writeBooleanField("carried_over", true);
                g.writeEndObject();
            }
            g.writeEndArray();
            g.writeEndObject();
        });
    }

    private static String countKey(Progress.State state) {
        return switch (state) {
            case SUCCEEDED -> OK;
            case FAILED -> "failed";
            case RUNNING -> "running";
            case WAITING, SKIPPED -> "not_started";
            case HELD -> "held";
        };
    }

    /** The result word of a switch: ok, the code's name, not started, or (mid-run) waiting or running. */
    static String result(Progress p) {
        return switch (p.state()) {
            case SUCCEEDED -> OK;
            case FAILED -> Codes.name(p.result().code());
            case SKIPPED -> NOT_STARTED;
            case HELD -> HELD;
            case WAITING -> "waiting";
            case RUNNING -> "running";
        };
    }

    private void writeSwitch(JsonGenerator g, Slot s, long nowNanos) throws IOException {
        Progress p = s.progress;
        Job j = s.job;
        g.writeStartObject();
        g.writeStringField("name", masker.line(j.name()));
        g.writeNumberField("line", j.line());
        g.writeStringField("family", j.family().displayName);
        g.writeStringField("address", masker.line(j.address()));
        g.writeStringField("chassis", s.chassis.isEmpty() ? null : masker.line(s.chassis));
        g.writeStringField("group", s.group.isEmpty() ? null : masker.line(s.group));
        g.writeBooleanField("canary", s.canary);
        g.writeNumberField("wave", s.wave);
        g.writeStringField("result", result(p));
        // Where the update ended (or stands), as the library told it.
        String worked = p.worked();
        String measure = p.workedMeasure();
        g.writeStringField("stage", worked.isEmpty() ? null : worked);
        g.writeStringField("progress", measure.isEmpty() ? null : masker.line(measure));
        g.writeStringField("hold_reason", p.state() == Progress.State.HELD ? masker.line(p.notStartedWhy()) : null);
        boolean ended = p.state() == Progress.State.SUCCEEDED || p.state() == Progress.State.FAILED;
        if (ended) {
            g.writeNumberField("code", p.result().code());
        } else {
            g.writeNullField("code");
        }
        // A switch never started has no elapsed time and no log file.
        boolean started = ended || p.state() == Progress.State.RUNNING;
        g.writeFieldName("elapsed_seconds");
        if (started) {
            g.writeNumber(BigDecimal.valueOf(p.elapsedMillis(nowNanos), 3));
        } else {
            g.writeNull();
        }
        g.writeStringField("log", started && s.log != null ? masker.line(s.log.toString()) : null);
        g.writeStringField("detail", masker.line(FleetView.detail(s)));
        writeVerification(g, s);
        g.writeEndObject();
    }

    /**
     * What a verified update's versions showed: the outcome, the version expected and the
     * versions before and after (null where none was asked for or read).
     */
    private void writeVerification(JsonGenerator g, Slot s) throws IOException {
        VerifiedUpdate.Proof proof = s.proof;
        g.writeStringField("verification", proof == null ? null : proof.outcome().word);
        g.writeStringField("expect_version", s.expect == null ? null : masker.line(s.expect));
        JsonText.texts(g, "versions_before", proof == null ? List.of() : proof.before(), masker::line);
        JsonText.texts(g, "versions_after", proof == null ? List.of() : proof.after(), masker::line);
    }

    private void writeValue(JsonGenerator g, Object v) throws IOException {
        if (v == null) {
            g.writeNull();
        } else if (v instanceof String str) {
            g.writeString(masker.line(str));
        } else if (v instanceof BigDecimal d) {
            g.writeNumber(d);
        } else if (v instanceof Boolean b) {
            g.writeBoolean(b);
        } else if (v instanceof Map<?, ?> m) {
            g.writeStartObject();
            for (Map.Entry<?, ?> e : m.entrySet()) {
                g.writeFieldName(String.valueOf(e.getKey()));
                writeValue(g, e.getValue());
            }
            g.writeEndObject();
        } else if (v instanceof List<?> list) {
            g.writeStartArray();
            for (Object o : list) {
                writeValue(g, o);
            }
            g.writeEndArray();
        } else {
            g.writeString(String.valueOf(v));
        }
    }

    /** Writes the document whole: to a temporary file beside the report, then renamed over it. */
    void write(String document) throws IOException {
        // The rename would replace a link planted at the report's path; refused all the same.
        PrivateFiles.refuseLink(file);
        Path dir = file.toAbsolutePath().getParent();
        Path tmp = Files.createTempFile(dir, "." + file.getFileName() + ".", ".tmp", PrivateFiles.FILE);
        try {
            try (Writer w = Files.newBufferedWriter(tmp, StandardCharsets.UTF_8)) {
                w.write(document);
            }
            try {
                Files.move(tmp, file, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
            } catch (AtomicMoveNotSupportedException e) {
                Files.move(tmp, file, StandardCopyOption.REPLACE_EXISTING);
            }
        } finally {
            Files.deleteIfExists(tmp);
        }
    }

    /**
     * Reads the switches of an earlier report, by name. Throws SetupException naming the file
     * for a report that cannot be read or is not one.
     */
    public static Map<String, Known> read(Path report) throws SetupException {
        Object doc;
        try {
            doc = JsonTree.parse(Files.readString(report, StandardCharsets.UTF_8));
        } catch (IOException e) {
            throw new SetupException("the report " + report + " cannot be read: " + e.getMessage());
        } catch (JsonTree.JsonException e) {
            throw new SetupException("the report " + report + ": " + e.getMessage());
        }
        if (!(doc instanceof JsonTree.JsonObject obj) || !"modburn fleet".equals(obj.get("tool"))
                || !(obj.get("switches") instanceof List<?> list)) {
            throw new SetupException("the report " + report + " is not a report of modburn fleet");
        }
        Map<String, Known> known = new LinkedHashMap<>();
        for (Object item : list) {
            if (item instanceof JsonTree.JsonObject sw && sw.get("name") instanceof String name
                    && sw.get("address") instanceof String address && sw.get("result") instanceof String result) {
                known.put(name, new Known(name, address, result, sw));
            } else {
                int line = item instanceof JsonTree.JsonObject o ? o.line : 0;
                throw new SetupException("the report " + report + ": line " + line
                    + ": a switch without its name, address and result");
            }
        }
        return known;
    }
}
