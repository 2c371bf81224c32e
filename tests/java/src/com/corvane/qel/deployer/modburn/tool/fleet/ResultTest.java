package com.corvane.qel.deployer.modburn.tool.fleet;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import org.junit.Test;

public class ResultTest {
    private static Result failure(String switchText) {
        return new Result(-15, "Error: Brocade switch=10.0.0.1: File not found (IO_FILE_NOT_FOUND)"
            + (switchText == null ? "" : " \nSWITCH TEXT=\n\"" + switchText + "\""));
    }

    @Test
    public void picksTheMostTellingLineOfTheSwitchText() {
        // switch text (null: none quoted), the telling line
        String[][] cases = {
            {null, ""},
            {"Checking system settings for firmwaredownload...\r\n"
                + "Cannot download the firmware: the file was not found on the server.\r\nsim:admin> ",
                "Cannot download the firmware: the file was not found on the server."},
            {"archive download-sw /overwrite ftp://fw:****@s/x.tar\r\n"
                + "%Error opening ftp://s/x.tar (No such file or directory)\r\nsim#",
                "%Error opening ftp://s/x.tar (No such file or directory)"},
            // Of several complaints, the last one.
            {"Error: retrying\r\nTransfer failed: server refused the login\r\nPlease check\r\n",
                "Transfer failed: server refused the login"},
            // No complaint: the last line that is not a bare prompt.
            {"Loading image...\r\nWriting 40%\r\nswitch:admin> ", "Writing 40%"},
            {"login: admin\r\nPassword: ", "login: admin"},
            {"sim# \r\n\r\n", ""},
            {"  Unable to reach 10.0.0.5\tnow  ", "Unable to reach 10.0.0.5 now"},
            {"Error " + "x".repeat(300), "Error " + "x".repeat(Result.TELLING_MAX - 9) + "..."},
        };
        for (String[] c : cases) {
            assertEquals(String.valueOf(c[0]), c[1], failure(c[0]).tellingLine());
        }
        assertTrue(failure("x".repeat(500)).tellingLine().length() <= Result.TELLING_MAX);
    }

    @Test
    public void theSummaryDetailPrefersTheSwitchWordsAndMasksThem() throws Exception {
        Job job = new Job("a", 1, Family.BROCADE, "10.0.0.1", "admin", "Pw-1", "ftp://fw:Ftp-2@s/f", false, 0, 1);
        // outcome, detail
        Object[][] cases = {
            {failure(null), "File not found (IO_FILE_NOT_FOUND)"},
            {failure("sim:admin> "), "File not found (IO_FILE_NOT_FOUND)"},
            {failure("bad login fw:Ftp-2 / Pw-1\r\nsim:admin> "), "bad login fw:***** / ****"},
            {Result.OK, ""},
            {new Result(0, "log incomplete: disk full"), "log incomplete: disk full"},
        };
        for (Object[] c : cases) {
            Slot s = new Slot(job, java.nio.file.Path.of("a.log"));
            s.progress.start(0);
            s.progress.finish((Result) c[0], 1);
            assertEquals(String.valueOf(c[0]), c[1], FleetView.detail(s));
        }
        Slot skipped = new Slot(job, java.nio.file.Path.of("a.log"));
        skipped.progress.skip("the canary x failed");
        assertEquals("the canary x failed", FleetView.detail(skipped));
    }
}
