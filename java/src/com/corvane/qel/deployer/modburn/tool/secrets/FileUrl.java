package com.corvane.qel.deployer.modburn.tool.secrets;

/**
 * The few operations the tool needs on a firmware file URL: finding its login and password,
 * inserting a password given apart from the URL, and masking it for display. The library takes
 * URLs apart without percent-decoding, so a password that holds a character the URL grammar
 * uses as a separator cannot be carried and is refused here.
 */
public final class FileUrl {
    private FileUrl() {
    }

    /** Characters a password inserted into a URL must not contain. */
    public static final String FORBIDDEN = "@/?#";

    /** Where the authority of a URL starts and ends, or null when there is no "://". */
    private static int[] authority(String url) {
        int start = url.indexOf("://");
        if (start < 0) {
            return null;
        }
        start += 3;
        int end = url.indexOf('/', start);
        return new int[] {start, end < 0 ? url.length() : end};
    }

    /** The end of the user information (the index of its "@") or -1 when the URL has none. */
    private static int userInfoEnd(String url, int[] auth) {
        int at = url.lastIndexOf('@', auth[1] - 1);
        return at >= auth[0] ? at : -1;
    }

    /** Whether the URL carries a password of its own ("login:password@server"). */
    public static boolean hasPassword(String url) {
        int[] auth = authority(url);
        if (auth == null) {
            return false;
        }
        int at = userInfoEnd(url, auth);
        return at >= 0 && url.substring(auth[0], at).indexOf(':') >= 0;
    }

    /** The password the URL carries, or null when it carries none. */
    public static String password(String url) {
        if (!hasPassword(url)) {
            return null;
        }
        int[] auth = authority(url);
        int at = userInfoEnd(url, auth);
        String info = url.substring(auth[0], at);
        return info.substring(info.indexOf(':') + 1);
    }

    /**
     * The URL with the password put after its login. Throws IllegalArgumentException with a
     * message for the operator (never holding the password) when it cannot be done.
     */
    public static String withPassword(String url, String password) {
        int[] auth = authority(url);
        if (auth == null) {
            throw new IllegalArgumentException("the URL has no scheme (\"ftp://...\")");
        }
        int at = userInfoEnd(url, auth);
        if (at < 0) {
            throw new IllegalArgumentException(
                "the URL names no login for its password; write it as scheme://login@server/path");
        }
        if (url.substring(auth[0], at).indexOf(':') >= 0) {
            throw new IllegalArgumentException("the URL already carries a password");
        }
        for (char c : password.toCharArray()) {
            if (FORBIDDEN.indexOf(c) >= 0 || Character.isWhitespace(c) || Character.isISOControl(c)) {
                throw new IllegalArgumentException(
                    "the URL password holds a character a URL cannot carry (one of " + FORBIDDEN
                        + ", a blank or a control character)");
            }
        }
        return url.substring(0, at) + ":" + password + url.substring(at);
    }

    /** The URL with its password, if any, shown as one "*" per character. */
    public static String masked(String url) {
        String pw = password(url);
        if (pw == null) {
            return url;
        }
        int[] auth = authority(url);
        int at = userInfoEnd(url, auth);
        return url.substring(0, at - pw.length()) + "*".repeat(pw.length()) + url.substring(at);
    }
}
