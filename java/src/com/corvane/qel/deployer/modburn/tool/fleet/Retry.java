package com.corvane.qel.deployer.modburn.tool.fleet;

import com.corvane.qel.deployer.modburn.tool.bridge.SetupException;
import com.corvane.qel.deployer.modburn.tool.inventory.Entry;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * What a run again from an earlier report does: the switches of the inventory that the report
 * shows as failed or not started run again, and its successes are carried into the new report.
 */
public record Retry(List<Entry> again, List<FleetReport.Known> carried) {
    /**
     * Picks the entries to run again by the report's switches (by name, with the same address).
     * Throws SetupException naming every switch of the inventory that the report does not know;
     * report and inventory name the files in that message.
     */
    public static Retry select(List<Entry> entries, Map<String, FleetReport.Known> known, Path report,
            Path inventory) throws SetupException {
        List<String> unknown = new ArrayList<>();
        List<Entry> again = new ArrayList<>();
        List<FleetReport.Known> carried = new ArrayList<>();
        for (Entry e : entries) {
            FleetReport.Known k = known.get(e.name());
            if (k == null || !k.address().equalsIgnoreCase(e.address())) {
                unknown.add(e.name() + " (line " + e.line() + (k == null ? "" : ", the report has it at " + k.address())
                    + ")");
            } else if (k.succeeded()) {
                carried.add(k);
            } else {
                again.add(e);
            }
        }
        if (!unknown.isEmpty()) {
            throw new SetupException(report + " does not know " + (unknown.size() == 1 ? "this switch" : "these "
                + unknown.size() + " switches") + " of " + inventory + ": " + String.join(", ", unknown));
        }
        return new Retry(List.copyOf(again), List.copyOf(carried));
    }
}
