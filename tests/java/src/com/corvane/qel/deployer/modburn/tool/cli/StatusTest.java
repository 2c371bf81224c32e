package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;

import com.corvane.qel.deployer.modburn.tool.bridge.Codes;
import java.util.HashSet;
import java.util.Set;
import org.junit.Test;

public class StatusTest {
    @Test
    public void namesEveryCode() {
        Object[][] cases = {
            {0, "IO_SUCCESS"}, {1, "IO_SUCCESS_STOP"}, {-2, "IO_BAD_PARAMS"}, {-10, "IO_INV_MOD"},
            {-13, "IO_TIMEOUT"}, {-19, "IO_BAD_SWITCH_LOGIN"}, {-22, "IO_NO_IPSTACK"}, {-99, "NOT_SERVED"},
            {-1, "CODE_-1"}, {-23, "CODE_-23"}, {2, "CODE_2"}, {Integer.MIN_VALUE, "CODE_" + Integer.MIN_VALUE},
        };
        for (Object[] c : cases) {
            assertEquals(c[1], Codes.name((Integer) c[0]));
        }
    }

    @Test
    public void mapsEachClassOfFailureToItsOwnExitStatus() {
        int[][] cases = {
            {0, 0}, {1, 0},
            {-2, 10}, {-3, 10}, {-4, 10}, {-5, 10}, {-6, 10}, {-7, 10}, {-8, 10}, {-9, 10}, {-10, 10},
            {-11, 11}, {-22, 11}, {-12, 12}, {-13, 12}, {-14, 12}, {-19, 13},
            {-15, 14}, {-16, 14}, {-17, 14}, {-18, 14}, {-20, 15}, {-21, 15},
            {-99, 16}, {-1, 17}, {-23, 17}, {5, 17}, {Codes.TOOL_ERROR, 3},
        };
        Set<Integer> classes = new HashSet<>();
        for (int[] c : cases) {
            assertEquals("code " + c[0], c[1], ExitStatus.forCode(c[0]));
            classes.add(c[1]);
        }
        // Every class is distinct from the usage and fleet statuses.
        assertEquals(false, classes.contains(ExitStatus.USAGE));
        assertEquals(false, classes.contains(ExitStatus.SOME_FAILED));
    }
}
