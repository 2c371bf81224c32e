package com.corvane.qel.deployer.modburn.tool.testing;

import static org.junit.Assert.fail;

/** Checks of what the tool shows a person: no piece of a secret, no control byte from outside. */
public final class Shown {
    private Shown() {
    }

    /** The length of the pieces of a secret that must never show: 5, or the whole of a shorter one. */
    public static final int PIECE = 5;

    /** Fails when text holds any piece of PIECE characters (or all of a shorter secret) of a secret. */
    public static void assertNoPiece(String what, String text, String... secrets) {
        for (String secret : secrets) {
            int n = Math.min(PIECE, secret.length());
            for (int i = 0; i + n <= secret.length(); i++) {
                String piece = secret.substring(i, i + n);
                int at = text.indexOf(piece);
                if (at >= 0) {
                    fail(what + ": \"" + printable(piece) + "\" of a secret shows at " + at + " in:\n" + printable(text));
                }
            }
        }
    }

    /** Fails when text holds a C0 or C1 control character (or DEL) other than the line end. */
    public static void assertNoControl(String what, String text) {
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c != '\n' && (c < 0x20 || (c >= 0x7f && c <= 0x9f))) {
                fail(what + ": a raw control character U+" + String.format("%04X", (int) c) + " at " + i + " in:\n"
                    + printable(text));
            }
        }
    }

    /** The live table's text without the cursor movements and line clearing it draws itself with. */
    public static String withoutCursorControl(String live) {
        return live.replaceAll("\033\\[(?:\\d+A|2K|J)", "").replace("\r", "");
    }

    /** The text with control characters written as \\uXXXX, for a failure message. */
    public static String printable(String text) {
        StringBuilder b = new StringBuilder();
        for (char c : text.toCharArray()) {
            if (c != '\n' && (c < 0x20 || (c >= 0x7f && c <= 0x9f))) {
                b.append(String.format("\\u%04X", (int) c));
            } else {
                b.append(c);
            }
        }
        return b.toString();
    }
}
