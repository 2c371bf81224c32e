package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.nio.file.Path;
import java.time.Duration;
import org.junit.Test;

/** One reading of durations for --wave-pause and --wait-back, each option with its own range. */
public class DurationConverterTest {
    /** A row: the text, the milliseconds it writes (-1: not a duration), and which options take it. */
    record Row(String text, long millis, boolean wavePause, boolean waitBack) {
    }

    private static final Row[] ROWS = {
        // Units run together, in any order.
        new Row("30s", 30_000, true, true),
        new Row("5m", 300_000, true, true),
        new Row("1m30s", 90_000, true, true),
        new Row("1h", 3_600_000, true, true),
        new Row("1h30m", 5_400_000, true, true),
        new Row("2m30s", 150_000, true, true),
        new Row("30s5m", 330_000, true, true),
        new Row("90s", 90_000, true, true),
        new Row("10m", 600_000, true, true),
        new Row("1500ms", 1_500, true, true),
        // Plain seconds, and seconds without their "s" after h and m.
        new Row("90", 90_000, true, true),
        new Row("600", 600_000, true, true),
        new Row("2m30", 150_000, true, true),
        // Clocks: m:ss and h:mm:ss.
        new Row("3:12", 192_000, true, true),
        new Row("1:00:00", 3_600_000, true, true),
        // Case and surrounding blanks do not matter.
        new Row(" 5M ", 300_000, true, true),
        // The ranges: a pause may be none, a wait at least a second; neither more than a day.
        new Row("0", 0, true, false),
        new Row("0s", 0, true, false),
        new Row("250ms", 250, true, false),
        new Row("24h", 86_400_000, true, true),
        new Row("25h", 90_000_000, false, false),
        // Not durations.
        new Row("", -1, false, false),
        new Row("5y", -1, false, false),
        new Row("1m 30s", -1, false, false),
        new Row("5 m", -1, false, false),
        new Row("s", -1, false, false),
        new Row("m", -1, false, false),
        new Row("-5s", -1, false, false),
        new Row("-3", -1, false, false),
        new Row("ten", -1, false, false),
        new Row("1:5", -1, false, false),
        new Row("3:12:1x", -1, false, false),
    };

    private final ToolRun tool = new ToolRun(Path.of("/nonexistent"), FakeBackend::new);

    /** The tool run with these arguments (against no inventory: a value taken ends in status 3). */
    private int run(String... args) {
        tool.reset();
        return tool.run(args);
    }

    @Test
    public void readsTheSameFormsForEveryOptionEachInItsRange() {
        for (Row r : ROWS) {
            Duration d = DurationConverter.parse(r.text());
            assertEquals("\"" + r.text() + "\"", r.millis(), d == null ? -1 : d.toMillis());
            String[][] options = {{"--wave-pause", String.valueOf(r.wavePause())},
                {"--wait-back", String.valueOf(r.waitBack())}};
            for (String[] o : options) {
                int rc = run("fleet", "absent.csv", o[0], r.text());
                String what = o[0] + " \"" + r.text() + "\": " + tool.err();
                if (Boolean.parseBoolean(o[1])) {
                    assertEquals(what, ExitStatus.SETUP, rc);
                } else {
                    assertEquals(what, ExitStatus.USAGE, rc);
                    assertTrue(what, tool.err()
                        .startsWith("modburn: " + o[0] + " takes a duration "));
                }
            }
        }
    }

    @Test
    public void theHelpOfEveryOptionNamesTheForms() {
        String[][] help = {{"fleet", "--wave-pause=DURATION"}, {"fleet", "--wait-back=DURATION"},
            {"update", "--wait-back=DURATION"}};
        for (String[] h : help) {
            assertEquals(0, run(h[0], "--help"));
            String text = tool.out().replaceAll("\\s+", " ");
            int at = text.lastIndexOf(h[1]);
            assertTrue(h[0] + " " + h[1] + ":\n" + text, at >= 0);
            int next = text.indexOf(" --", at + h[1].length());
            // The help wraps its lines wherever it may, a clock's colon included.
            String description = text.substring(at, next < 0 ? text.length() : next);
            assertTrue(description, description.replace(" ", "").contains(DurationConverter.FORMS.replace(" ", "")));
        }
    }
}
