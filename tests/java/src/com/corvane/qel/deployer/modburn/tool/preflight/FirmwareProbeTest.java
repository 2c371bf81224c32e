package com.corvane.qel.deployer.modburn.tool.preflight;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.testing.FileServers;
import org.junit.AfterClass;
import org.junit.BeforeClass;
import org.junit.ClassRule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/** The firmware step of the check against real FTP and TFTP servers on loopback. */
public class FirmwareProbeTest {
    @ClassRule
    public static TemporaryFolder tmp = new TemporaryFolder();

    private static FileServers servers;

    @BeforeClass
    public static void startServers() throws Exception {
        servers = new FileServers(tmp.newFolder("srv").toPath());
    }

    @AfterClass
    public static void stopServers() {
        if (servers != null) {
            servers.close();
        }
    }

    private static String withPassword(String url, String pw) {
        return FileUrl.withPassword(url, pw);
    }

    @Test
    public void verdictsAgainstRealServers() throws Exception {
        int down = FileServers.freeTcpPort();
        int udpDown = FileServers.freeUdpPort();
        String pw = FileServers.FTP_PASSWORD;
        // URL, state, short word, a piece of the sentence
        Object[][] rows = {
            {withPassword(servers.ftpUrl("fw/image.bin"), pw), Verdict.State.OK, "ok", "fw/image.bin on 127.0.0.1:"
                + servers.ftpPort + ", 2000 bytes"},
            {withPassword(servers.ftpUrl("fw/missing.bin"), pw), Verdict.State.FAILED, "file missing",
                "has no file fw/missing.bin: 550"},
            {withPassword(servers.ftpUrl("fw/image.bin"), "wrong-pw"), Verdict.State.FAILED, "login refused",
                "refused the login fw: 530"},
            {"ftp://nobody@127.0.0.1:" + servers.ftpPort + "/fw/image.bin", Verdict.State.FAILED, "login refused",
                "refused the login nobody"},
            {"ftp://fw:x@127.0.0.1:" + down + "/fw/image.bin", Verdict.State.FAILED, "server down",
                "the FTP server 127.0.0.1:" + down + " does not answer"},
            {servers.tftpUrl("fw/image.bin"), Verdict.State.OK, "ok", "first block of 512 bytes read"},
            {servers.tftpUrl("sas/fw.bin"), Verdict.State.OK, "ok", "first block of 512 bytes read"},
            {servers.tftpUrl("fw/missing.bin"), Verdict.State.FAILED, "file missing", "answered error 1"},
            {"tftp://127.0.0.1:" + udpDown + "/fw/image.bin", Verdict.State.FAILED, "server down",
                "did not answer within 1000 ms"},
            {"rcp://u@127.0.0.1/fw/image.bin", Verdict.State.SKIPPED, "not checked", "rcp URLs are not checked"},
            {"ftp://fw@127.0.0.1", Verdict.State.FAILED, "bad URL", "names no server and file"},
        };
        FirmwareProbe probe = new FirmwareProbe(1000, 2);
        for (Object[] r : rows) {
            String url = (String) r[0];
            Verdict v = probe.check(url);
            String what = FileUrl.masked(url) + ": " + v.line();
            assertEquals(what, r[1], v.state());
            assertEquals(what, r[2], v.word());
            assertTrue(what, v.text().contains((String) r[3]));
            assertTrue(what, !v.text().contains(pw));
        }
    }

    @Test
    public void aStoppedTftpReadLeavesTheServerServing() throws Exception {
        FirmwareProbe probe = new FirmwareProbe(500, 1);
        for (int i = 0; i < 3; i++) {
            assertEquals(Verdict.State.OK, probe.check(servers.tftpUrl("fw/image.bin")).state());
        }
    }

    @Test
    public void urlPartsAsTheSwitchIsGivenThem() {
        Object[][] rows = {
            {"ftp://fw:pw@10.0.0.5/fos/v9.bin", "ftp", "fw", "pw", "10.0.0.5", 21, "fos/v9.bin"},
            {"ftp://fw@[::1]:2121/a/b.bin", "ftp", "fw", null, "::1", 2121, "a/b.bin"},
            {"tftp://10.0.0.5/sas/fw.bin", "tftp", null, null, "10.0.0.5", 69, "sas/fw.bin"},
            {"tftp://server.lab:6969/x", "tftp", null, null, "server.lab", 6969, "x"},
        };
        for (Object[] r : rows) {
            FirmwareProbe.Target t = FirmwareProbe.target((String) r[0]);
            assertEquals((String) r[0], new FirmwareProbe.Target((String) r[1], (String) r[2], (String) r[3],
                (String) r[4], (Integer) r[5], (String) r[6]), t);
        }
    }
}
