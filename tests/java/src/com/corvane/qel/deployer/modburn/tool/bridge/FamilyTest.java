package com.corvane.qel.deployer.modburn.tool.bridge;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import org.junit.Test;

public class FamilyTest {
    @Test
    public void looksUpByCodeNameModuleAndShortForm() {
        Object[][] cases = {
            {"6", Family.BROCADE}, {"Brocade", Family.BROCADE}, {"brocadeflash", Family.BROCADE},
            {" BROCADE ", Family.BROCADE}, {"1", Family.CISCO_IOS}, {"cisco", Family.CISCO_IOS},
            {"Cisco IOS", Family.CISCO_IOS}, {"cisco-ios", Family.CISCO_IOS}, {"9", Family.CISCO_FC},
            {"cisco_fc", Family.CISCO_FC}, {"ciscofcflash", Family.CISCO_FC}, {"IB bridge", Family.IB_BRIDGE},
            {"ibbridge", Family.IB_BRIDGE}, {"10", Family.IB_BRIDGE}, {"11", Family.SAS},
            {"SASSwitch", Family.SAS}, {"mcdata", Family.MCDATA}, {"4", Family.QLOGIC},
            {"veltraflash", Family.VELTRA}, {"8", Family.INTEL}, {"topspin", Family.TOPSPIN},
            {"nortel", Family.NORTEL},
            // Not families.
            {"0", null}, {"12", null}, {"-6", null}, {"", null}, {"  ", null}, {null, null}, {"flash", null},
            {"broc", null}, {"06x", null},
        };
        for (Object[] c : cases) {
            assertEquals("lookup of " + c[0], c[1], Family.lookup((String) c[0]));
        }
    }

    @Test
    public void everyCodeFromOneToElevenIsOneFamily() {
        for (int code = 1; code <= 11; code++) {
            Family f = Family.lookup(Integer.toString(code));
            assertEquals(code, f.code);
            assertEquals(f, Family.lookup(f.displayName));
            assertEquals(f, Family.lookup(f.module));
        }
        assertEquals(11, Family.values().length);
    }

    @Test
    public void refusesWhatTheFamilyCannotDo() {
        // family, url, reboot, modifier, expected problem (a part of it) or null
        Object[][] cases = {
            {Family.BROCADE, "ftp://u@h/f", true, 0, null},
            {Family.BROCADE, "tftp://h/f", false, 0, "Brocade takes ftp URLs, not tftp"},
            {Family.BROCADE, "FTP://u@h/f", false, 0, "not FTP"},
            {Family.BROCADE, "h/f", false, 0, "has no scheme"},
            {Family.CISCO_IOS, "rcp://u@h/f", true, 0, null},
            {Family.CISCO_IOS, "http://h/f", false, 0, "ftp, tftp or rcp"},
            {Family.MCDATA, "tftp://h/f", false, 0, "McData takes ftp URLs"},
            {Family.QLOGIC, "tftp://h/f", false, 0, null},
            {Family.VELTRA, "tftp://h/f", true, 0, "no reboot stage"},
            {Family.VELTRA, "tftp://h/f", false, 0, null},
            {Family.SAS, "tftp://h/f", false, 0, "needs a modifier"},
            {Family.SAS, "tftp://h/f", false, 4, "needs a modifier"},
            {Family.SAS, "tftp://h/f", false, 3, null},
            {Family.INTEL, "tftp://h/f", true, 0, null},
        };
        for (Object[] c : cases) {
            String p = ((Family) c[0]).problemWith((String) c[1], (Boolean) c[2], (Integer) c[3]);
            if (c[4] == null) {
                assertNull(c[0] + " " + c[1], p);
            } else {
                assertTrue(c[0] + " " + c[1] + ": " + p, p != null && p.contains((String) c[4]));
            }
        }
    }
}
