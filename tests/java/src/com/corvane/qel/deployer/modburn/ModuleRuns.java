package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.fail;

/** Updates through the library against a simulated console, shared by the module tests. */
final class ModuleRuns {
    static final String PASSWORD = "Sw1tch-Pw";

    private ModuleRuns() {
    }

    /** An update that must succeed: the console played its whole scenario and the success line was logged once. */
    static void succeeds(CollectingLogger logger, int type, String address, String scenario, String url,
            boolean reboot, int modifier) throws Exception {
        try (SimulatedSwitch sim = new SimulatedSwitch(address, scenario)) {
            new Switch(type, address, "admin", PASSWORD, 0).update(url, reboot, modifier);
            assertEquals(sim.output(), 0, sim.waitFor());
        }
        assertEquals(1, logger.count("update succeeded: switchType=" + type + "\n"));
    }

    /** The exception of an update that must fail. */
    static SwitchException updateFails(Switch sw, String url) {
        try {
            sw.update(url, false, 0);
        } catch (SwitchException e) {
            return e;
        }
        fail("the update of " + sw.targetip + " did not throw");
        return null;
    }
}
