package com.corvane.qel.deployer.modburn.tool.fleet;

import static com.corvane.qel.deployer.modburn.Switch.ProgressListener.BYTES;
import static com.corvane.qel.deployer.modburn.Switch.ProgressListener.LINE;
import static com.corvane.qel.deployer.modburn.Switch.ProgressListener.MARKS;
import static com.corvane.qel.deployer.modburn.Switch.ProgressListener.OUTCOME;
import static com.corvane.qel.deployer.modburn.Switch.ProgressListener.PERCENT;
import static com.corvane.qel.deployer.modburn.Switch.ProgressListener.STAGE;
import static org.junit.Assert.assertEquals;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.tool.bridge.Result;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;
import java.util.List;
import org.junit.Test;

public class ProgressTest {
    @Test
    public void followsStageProgressAndConsoleFromTheLibrarysEvents() {
        // event (stage, kind, value, text), stage shown after it, last console line after it
        Object[][] script = {
            {"connect", STAGE, -1L, "", "connect", ""},
            {"connect", LINE, -1L, "Fabric OS v7.4", "connect", "Fabric OS v7.4"},
            {"logConfigInfo", STAGE, -1L, "", "logConfigInfo", "Fabric OS v7.4"},
            // The console's last line stays until it says more.
            {"update", STAGE, -1L, "", "update", "Fabric OS v7.4"},
            {"update", LINE, -1L, "Downloading", "update", "Downloading"},
            {"update", PERCENT, 40L, "Downloading 40%", "update 40%", "Downloading 40%"},
            {"update", BYTES, 5_120_000L, "Image download complete (5120000 bytes)", "update 5120 kB",
                "Image download complete (5120000 bytes)"},
            {"update", MARKS, 20L, "!!!!!!!!!!!!!!!!!!!!", "update 20 marks", "!!!!!!!!!!!!!!!!!!!!"},
            // A second attempt enters the stage again: its progress starts afresh.
            {"update", STAGE, -1L, "", "update", "!!!!!!!!!!!!!!!!!!!!"},
            {"update", PERCENT, 57L, "Writing 57%", "update 57%", "Writing 57%"},
            {"reboot", STAGE, -1L, "", "reboot", "Writing 57%"},
            {"disconnect", STAGE, -1L, "", "disconnect", "Writing 57%"},
            {"reboot", OUTCOME, 0L, "Success (IO_SUCCESS)", "disconnect", "Writing 57%"},
        };
        Progress p = new Progress();
        p.start(0);
        assertEquals("start", p.stage());
        Switch.ProgressListener events = p.listener(Masker.NONE);
        for (Object[] e : script) {
            events.onProgress((String) e[0], (String) e[1], (Long) e[2], (String) e[3]);
            String what = e[0] + " " + e[1] + " " + e[3];
            assertEquals(what, e[4], p.shownStage());
            assertEquals(what, e[5], p.lastLine());
        }
        assertEquals("disconnect", p.stage());
        // Every stage entered is kept, so that a display that looks now and then misses none.
        assertEquals(List.of("connect", "logConfigInfo", "update", "reboot", "disconnect"), p.stagesFrom(0));
        assertEquals(List.of("reboot", "disconnect"), p.stagesFrom(3));
        assertEquals(List.of(), p.stagesFrom(5));
        // Where the update ended: its last stage but the close, with the progress shown there.
        assertEquals("reboot", p.worked());
        assertEquals("", p.workedMeasure());

        Progress failed = new Progress();
        Switch.ProgressListener told = failed.listener(Masker.of("Sw1tch-Pw"));
        told.onProgress("update", STAGE, -1, "");
        told.onProgress("update", PERCENT, 57, "Writing 57% for Sw1tch-Pw\u001b[0m");
        // The console's text is masked and escaped before anything shows it.
        assertEquals("Writing 57% for *********\\x1b[0m", failed.lastLine());
        told.onProgress("disconnect", STAGE, -1, "");
        told.onProgress("update", OUTCOME, -13, "Telnet timeout (IO_TIMEOUT)");
        assertEquals("update", failed.worked());
        assertEquals("57%", failed.workedMeasure());
        assertEquals("512 bytes", Progress.bytes(512));
        assertEquals("10 kB", Progress.bytes(10_000));
        assertEquals("12.3 MB", Progress.bytes(12_345_678));
    }

    @Test
    public void movesThroughItsStatesAndTimesThem() {
        Progress p = new Progress();
        assertEquals(Progress.State.WAITING, p.state());
        assertEquals(0, p.elapsedSeconds(99_000_000_000L));
        p.start(1_000_000_000L);
        assertEquals(Progress.State.RUNNING, p.state());
        assertEquals(4, p.elapsedSeconds(5_500_000_000L));
        p.finish(new Result(-13, "Error: Brocade switch=h: Telnet timeout (IO_TIMEOUT)"), 8_000_000_000L);
        assertEquals(Progress.State.FAILED, p.state());
        assertEquals(7, p.elapsedSeconds(60_000_000_000L));
        Progress ok = new Progress();
        ok.start(0);
        ok.finish(new Result(1, ""), 0);
        assertEquals(Progress.State.SUCCEEDED, ok.state());
        assertEquals("done", ok.stage());
        Progress never = new Progress();
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
