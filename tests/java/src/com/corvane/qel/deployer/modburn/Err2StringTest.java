package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.Test;

public class Err2StringTest {
    // Every code's text is checked in the library's own tests; through JNI a
    // few rows show that the texts arrive whole: the first, an ordinary one
    // and the last listed code.
    private static final Object[][] TABLE = {
        {1, "Success/STOP (IO_SUCCESS_STOP)"},
        {0, "Success (IO_SUCCESS)"},
        {-7, "Invalid URL server login/password (IO_INV_URL_LOGIN)"},
        {-22, "IP (v4/v6) protocol stack not installed (IO_NO_IPSTACK)"},
    };

    @Test
    public void everyListedCodeHasItsText() {
        for (Object[] row : TABLE) {
            assertEquals("code " + row[0], row[1], Switch.err2String((Integer) row[0]));
        }
    }

    @Test
    public void unlistedCodesAreFormatted() {
        int[] codes = {-1, 2, -23, -99, 1000, Integer.MIN_VALUE, Integer.MAX_VALUE};
        for (int code : codes) {
            assertEquals("Unknown error=" + code, Switch.err2String(code));
        }
    }

    @Test
    public void threadsEachGetTheTextOfTheirOwnCode() throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(8);
        try {
            List<Future<Integer>> results = new ArrayList<>();
            for (int t = 0; t < 8; t++) {
                final int base = -1000 * (t + 1);
                results.add(pool.submit(() -> {
                    int wrong = 0;
                    for (int i = 0; i < 5000; i++) {
                        int code = base - (i % 100);
                        if (!Switch.err2String(code).equals("Unknown error=" + code)) {
                            wrong++;
                        }
                    }
                    return wrong;
                }));
            }
            for (Future<Integer> r : results) {
                assertEquals("texts that belonged to another thread's code", 0, (int) r.get());
            }
        } finally {
            pool.shutdownNow();
        }
    }
}
