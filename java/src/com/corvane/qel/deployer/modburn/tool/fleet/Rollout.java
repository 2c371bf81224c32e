package com.corvane.qel.deployer.modburn.tool.fleet;

import java.math.BigDecimal;
import java.math.RoundingMode;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * How a fleet is rolled out: the canaries first, on their own; then the other switches in waves,
 * each wave starting once the one before it has ended (after an optional pause); all within a
 * failure budget, past which no new update starts.
 */
public final class Rollout {
    /** One phase of the rollout: the canaries, or a wave. */
    public record Phase(String label, boolean canaries, List<Slot> slots) {
    }

    public final List<Phase> phases;
    /** Failed updates after which none starts any more; 0: no limit. */
    public final int failureLimit;
    /** The budget as it was given ("3", "10%"), for messages; "" when there is none. */
    public final String budgetText;
    public final long pauseMillis;

    private Rollout(List<Phase> phases, int failureLimit, String budgetText, long pauseMillis) {
        this.phases = List.copyOf(phases);
        this.failureLimit = failureLimit;
        this.budgetText = budgetText;
        this.pauseMillis = pauseMillis;
    }

    /** Every slot in one phase, no budget: the fleet as it ran before rollouts had phases. */
    public static Rollout allAtOnce(List<Slot> slots) {
        return new Rollout(List.of(new Phase("", false, slots)), 0, "", 0);
    }

    /**
     * Plans a rollout: the slots marked as canaries (or else the first canaryCount) form the
     * canary phase; the rest run in waves of waveSize (0: one wave), one module of every
     * redundancy set of a chassis first across the whole fleet, then the next of each (one side
     * of every chassis, then the other). Numbers each slot's wave (0 for a canary) and marks the
     * canaries.
     */
    public static Rollout plan(List<Slot> slots, int canaryCount, int waveSize, Budget budget, long pauseMillis) {
        List<Slot> canaries = new ArrayList<>();
        List<Slot> rest = new ArrayList<>();
        boolean marked = slots.stream().anyMatch(s -> s.canary);
        for (int i = 0; i < slots.size(); i++) {
            Slot s = slots.get(i);
            boolean canary = marked ? s.canary : i < canaryCount;
            s.canary = canary;
            (canary ? canaries : rest).add(s);
        }
        rest = sidesFirst(slots, rest);
        List<Phase> phases = new ArrayList<>();
        if (!canaries.isEmpty()) {
            canaries.forEach(s -> s.wave = 0);
            phases.add(new Phase("canary phase", true, canaries));
        }
        int size = waveSize > 0 ? waveSize : Math.max(rest.size(), 1);
        int waves = (rest.size() + size - 1) / size;
        for (int w = 0; w < waves; w++) {
            List<Slot> wave = rest.subList(w * size, Math.min(rest.size(), (w + 1) * size));
            for (Slot s : wave) {
                s.wave = w + 1;
            }
            String label = waves > 1 ? "wave " + (w + 1) + " of " + waves : canaries.isEmpty() ? "" : "after the canaries";
            phases.add(new Phase(label, false, List.copyOf(wave)));
        }
        int limit = budget == null ? 0 : budget.limit(slots.size());
        return new Rollout(phases, limit, budget == null ? "" : budget.text, pauseMillis);
    }

    /**
     * The slots of part in the order: first module of each set, then the second, and so on; the
     * inventory's order otherwise. A module's place in its set counts every slot before it (a
     * canary's partner comes with the second sides).
     */
    private static List<Slot> sidesFirst(List<Slot> all, List<Slot> part) {
        Map<String, Integer> seen = new HashMap<>();
        Map<Slot, Integer> side = new HashMap<>();
        for (Slot s : all) {
            side.put(s, s.set == null ? 0 : seen.merge(s.set, 1, Integer::sum) - 1);
        }
        List<Slot> ordered = new ArrayList<>(part);
        ordered.sort(Comparator.comparingInt(side::get));
        return ordered;
    }

    /** The failure budget as given: a count, or a percentage of the switches in the run. */
    public record Budget(String text, int count, BigDecimal percent) {
        private static final Pattern PERCENT = Pattern.compile("(\\d{1,3}(?:\\.\\d{1,3})?)\\s*%");

        /** Parses "N" (1 or more) or "P%" (above 0, up to 100); throws IllegalArgumentException otherwise. */
        public static Budget parse(String text) {
            String t = text.strip();
            Matcher m = PERCENT.matcher(t);
            if (m.matches()) {
                BigDecimal p = new BigDecimal(m.group(1));
                if (p.signum() > 0 && p.compareTo(BigDecimal.valueOf(100)) <= 0) {
                    return new Budget(t, 0, p);
                }
            } else if (t.matches("\\d{1,9}") && Integer.parseInt(t) >= 1) {
                return new Budget(t, Integer.parseInt(t), null);
            }
            throw new IllegalArgumentException("--max-failures takes a count (1 or more) or a percentage (such as 10%),"
                + " not \"" + text + "\"");
        }

        /**
         * The number of failed updates that stops the rollout: the count, or the percentage of
         * the switches rounded up, and at least 1 (so 10% of 15 switches stops at the 2nd failure).
         */
        public int limit(int switches) {
            if (percent == null) {
                return count;
            }
            BigDecimal n = percent.multiply(BigDecimal.valueOf(switches)).divide(BigDecimal.valueOf(100), 0,
                RoundingMode.CEILING);
            return Math.max(1, n.intValueExact());
        }
    }
}
