package com.corvane.qel.deployer.modburn.tool.fleet;

import static org.junit.Assert.assertEquals;

import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import java.util.List;
import org.junit.Test;

public class ProgressTest {
    @Test
    public void followsStageAndConsoleFromTheLogLines() {
        // log entry, stage after it, last console line after it
        String[][] script = {
            {"++++ Switch/MODBURN log AppLogger started\n", "start", ""},
            {"brocadeflash: connecting to Brocade switch ip=sw1\n", "connect", ""},
            {"brocadeflash:connect: ip=sw1 user=admin pw=<NOT SHOWN>\n", "connect", ""},
            {"modburn:io_cmd_resp:5: cmd=\"admin\\r\" timeout=30\n", "connect", ""},
            {"modburn:io_cmd_resp:5: telnet_write: \"admin\\r\"\n", "connect", "> admin"},
            {"                       matched string=\"Fabric OS\\r\\nsw1:admin> \"\n", "connect", "sw1:admin>"},
            {"brocadeflash:logConfigInfo:sw1: Kernel: 2.6\n", "logConfigInfo", "sw1:admin>"},
            {"brocadeflash:update:sw1: expect array=exp_download\n", "update", "sw1:admin>"},
            {"          last response=\"Downloading 40%\\r\\n\\r\\n\"\n", "update", "Downloading 40%"},
            {"                       matched string=\"\\r\\n\"\n", "update", "Downloading 40%"},
            // An entry-function line carries the address where stage lines carry the stage.
            {"brocadeflash:sw1: update error: Error: Brocade switch=sw1: x\n", "update", "Downloading 40%"},
            {"sasflash:10.0.0.1: retrying update", "update", "Downloading 40%"},
            {"telnet_read:5: Server end shut down\n", "update", "Downloading 40%"},
            {"brocadeflash:reboot:sw1: rebooting\nbrocadeflash:disconnect:sw1: closing handle=5\n", "disconnect",
                "Downloading 40%"},
        };
        Progress p = new Progress("sw1");
        p.start(0);
        for (String[] s : script) {
            p.observe(s[0]);
            assertEquals(s[0], s[1], p.stage());
            assertEquals(s[0], s[2], p.lastLine());
        }
        // Every stage entered is kept, so that a display that looks now and then misses none.
        assertEquals(List.of("connect", "logConfigInfo", "update", "reboot", "disconnect"), p.stagesFrom(0));
        assertEquals(List.of("reboot", "disconnect"), p.stagesFrom(3));
        assertEquals(List.of(), p.stagesFrom(5));
    }

    @Test
    public void movesThroughItsStatesAndTimesThem() {
        Progress p = new Progress("h");
        assertEquals(Progress.State.WAITING, p.state());
        assertEquals(0, p.elapsedSeconds(99_000_000_000L));
        p.start(1_000_000_000L);
        assertEquals(Progress.State.RUNNING, p.state());
        assertEquals(4, p.elapsedSeconds(5_500_000_000L));
        p.finish(new Result(-13, "Error: Brocade switch=h: Telnet timeout (IO_TIMEOUT)"), 8_000_000_000L);
        assertEquals(Progress.State.FAILED, p.state());
        assertEquals(7, p.elapsedSeconds(60_000_000_000L));
        Progress ok = new Progress("h");
        ok.start(0);
        ok.finish(new Result(1, ""), 0);
        assertEquals(Progress.State.SUCCEEDED, ok.state());
        assertEquals("done", ok.stage());
        Progress never = new Progress("h");
        never.skip();
        assertEquals(Progress.State.SKIPPED, never.state());
    }

    @Test
    public void takesTheErrorTextApart() {
        Result two = new Result(-13, "Error: Brocade switch=10.0.0.1: Telnet timeout (IO_TIMEOUT) \nSWITCH TEXT=\n\"login: \r\nPassword:\"");
        assertEquals("Telnet timeout (IO_TIMEOUT)", two.statusText());
        assertEquals("login: \r\nPassword:", two.switchText());
        assertEquals("login: \\r\\nPassword:", two.switchTextOneLine());
        Result one = new Result(-8, "Error: Brocade switch=10.0.0.1: URL scheme/protocol not supported (IO_INV_URL_SCHEME)");
        assertEquals("URL scheme/protocol not supported (IO_INV_URL_SCHEME)", one.statusText());
        assertEquals("", one.switchText());
        Result bare = new Result(-99, "SWITCH XXXFLASH NOT YET IMPLEMENTED");
        assertEquals("SWITCH XXXFLASH NOT YET IMPLEMENTED", bare.statusText());
        assertEquals("a\\x07b", new Result(-14, "Error: X switch=h: t \nSWITCH TEXT=\n\"a\u0007b\"").switchTextOneLine());
    }
}
