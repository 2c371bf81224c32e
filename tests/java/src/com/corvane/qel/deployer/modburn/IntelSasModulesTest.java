package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.fail;

import org.junit.Before;
import org.junit.Test;

/** Intel and SAS updates from Java through the library, against simulated consoles. */
public class IntelSasModulesTest {
    private static final String URL = "tftp://10.0.0.9/fw/image.bin";
    private static final String PASSWORD = "Sw1tch-Pw";

    private final CollectingLogger logger = new CollectingLogger();

    @Before
    public void startLibrary() {
        Switch.platform_init();
        Switch.setAppLogger(logger);
    }

    private void succeeds(int type, String address, String scenario, String url, int modifier) throws Exception {
        ModuleRuns.succeeds(logger, type, address, scenario, url, true, modifier);
    }

    private SwitchException fails(int type, String address, String scenario, int modifier) throws Exception {
        try (SimulatedSwitch sim = new SimulatedSwitch(address, scenario)) {
            try {
                new Switch(type, address, "admin", PASSWORD, 0).update(URL, false, modifier);
            } catch (SwitchException e) {
                sim.waitFor();
                assertFalse(e.getMessage().contains(PASSWORD));
                return e;
            }
        }
        fail("the update of " + address + " did not throw");
        return null;
    }

    @Test
    public void intelUpdateWithResetSucceeds() throws Exception {
        succeeds(Switch.INTEL, "127.203.8.1", "intel/success-reboot.scn", URL, 0);
    }

    @Test
    public void intelMicrocontrollerCodeReturnsNormally() throws Exception {
        succeeds(Switch.INTEL, "127.203.8.2", "intel/mcu.scn", "tftp://10.0.0.9/fw/mcu.hex", 0);
        assertEquals(1, logger.count("intelflash:127.203.8.2: update success: STOP: switch powered down"
                + " - needs manual restart\n"));
    }

    @Test
    public void intelCrcFailureThrowsWithTheSwitchText() throws Exception {
        SwitchException e = fails(Switch.INTEL, "127.203.8.3", "intel/crc-failed.scn", 0);
        assertEquals(-17, e.getCode());
        assertEquals("Error: Intel switch=127.203.8.3: Bad file format/contents (IO_BAD_FILE) \nSWITCH TEXT=\n\""
                + "(Intel) transfer download>\n".repeat(5) + "Are you sure you want to start\n"
                + "TFTP code transfer starting\nFile failed CRC check\n\"", e.getMessage());
    }

    @Test
    public void sasStorageModuleUpdateSucceeds() throws Exception {
        succeeds(Switch.SAS, "127.203.11.1", "sas/sm1.scn", URL, 2);
    }

    @Test
    public void sasMissingStorageModuleThrows() throws Exception {
        SwitchException e = fails(Switch.SAS, "127.203.11.2", "sas/sm2-not-installed.scn", 3);
        assertEquals(-21, e.getCode());
        assertEquals("Error: SASSwitch switch=127.203.11.2: Hardware is not installed (IO_NO_HARDWARE) \n"
                + "SWITCH TEXT=\n\"SM2 is not installed.\n\"", e.getMessage());
    }
}
