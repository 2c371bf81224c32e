package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertEquals;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.Test;

public class Err2StringTest {
    private static final Object[][] TABLE = {
        {1, "Success/STOP (IO_SUCCESS_STOP)"},
        {0, "Success (IO_SUCCESS)"},
        {-2, "Bad parameters passed to function (IO_BAD_PARAMS)"},
        {-3, "Invalid switch login/password (IO_INV_LOGIN)"},
        {-4, "Invalid switch hostname/ip address (IO_INV_IP)"},
        {-5, "One or more required URLs missing (IO_MISSING_URL)"},
        {-6, "Invalid URL syntax (IO_INV_URL_SYNTAX)"},
        {-7, "Invalid URL server login/password (IO_INV_URL_LOGIN)"},
        {-8, "URL scheme/protocol not supported (IO_INV_URL_SCHEME)"},
        {-9, "URL hostname not supported (IO_INV_URL_HOST)"},
        {-10, "Invalid modifier (IO_INV_MOD)"},
        {-11, "Telnet connection error (IO_CONN_ERR)"},
        {-12, "Telnet connection lost (IO_CONN_LOST)"},
        {-13, "Telnet timeout (IO_TIMEOUT)"},
        {-14, "Telnet update error (IO_UPDATE_ERR)"},
        {-15, "File not found (IO_FILE_NOT_FOUND)"},
        {-16, "File Server not found (IO_SERVER_NOT_FOUND)"},
        {-17, "Bad file format/contents (IO_BAD_FILE)"},
        {-18, "Bad (FTP) Server login/password (IO_BAD_SERV_LOGIN)"},
        {-19, "Switch login failed (IO_BAD_SWITCH_LOGIN)"},
        {-20, "Hardware/Firmware is busy (IO_BUSY_HARDWARE)"},
        {-21, "Hardware is not installed (IO_NO_HARDWARE)"},
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
