package com.corvane.qel.deployer.modburn.tool.text;

import static org.junit.Assert.assertEquals;

import org.junit.Test;

public class EscapeTest {
    @Test
    public void writesEveryControlCharacterAsAnEscape() {
        // text, as one line, as lines, holds a control character
        String[][] rows = {
            {"Login incorrect", "Login incorrect", "Login incorrect", "false"},
            {"a\r\nb\tc", "a\\r\\nb\\tc", "a\\r\nb\\tc", "true"},
            {"\u001b[31mred\u001b[0m\u0007", "\\x1b[31mred\\x1b[0m\\x07", "\\x1b[31mred\\x1b[0m\\x07", "true"},
            {"\u0000\u007f\u0080\u0085\u009b\u009f", "\\x00\\x7f\\x80\\x85\\x9b\\x9f", "\\x00\\x7f\\x80\\x85\\x9b\\x9f",
                "true"},
            // Letters beyond Latin-1's controls are text.
            {"Größe \u00a0\u00e9\u2028", "Größe \u00a0\u00e9\u2028", "Größe \u00a0\u00e9\u2028", "false"},
        };
        for (String[] r : rows) {
            assertEquals(r[0], r[1], Escape.line(r[0]));
            assertEquals(r[0], r[2], Escape.lines(r[0]));
            assertEquals(r[0], Boolean.parseBoolean(r[3]), Escape.hasControl(r[0]));
        }
    }
}
