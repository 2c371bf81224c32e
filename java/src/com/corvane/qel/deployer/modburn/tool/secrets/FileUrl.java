package com.corvane.qel.deployer.modburn.tool.secrets;

import com.corvane.qel.deployer.modburn.tool.text.Escape;
import java.util.Locale;

/**
 * The few operations the tool needs on a firmware file URL: finding its login and password,
 * inserting a password given apart from the URL, masking it for display, and refusing a URL the
 * tool could not show safely. The library takes URLs apart without percent-decoding, so a
 * password that holds a character the URL grammar uses as a separator cannot be carried and is
 * refused here.
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

    /**
     * The file server the URL names, in lower case and without its port ("10.0.0.5", "::1",
     * "fw.lab"), or null when it names none.
     */
    public static String server(String url) {
        int[] auth = url == null ? null : authority(url);
        if (auth == null) {
            return null;
        }
        int at = userInfoEnd(url, auth);
        String host = url.substring(at < 0 ? auth[0] : at + 1, auth[1]);
        int close = host.indexOf(']');
        if (host.startsWith("[") && close > 0) {
            host = host.substring(1, close);
        } else if (host.indexOf(':') >= 0 && host.indexOf(':') == host.lastIndexOf(':')) {
            host = host.substring(0, host.indexOf(':'));
        }
        return host.isEmpty() ? null : host.toLowerCase(Locale.ROOT);
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

    /**
     * The part of the URL a password may stand in, as the tool hides it: the password of a
     * well-formed URL, and for one that is not (no "://", a "/" in the password) whatever stands
     * between the first ":" of its user information and the "@" that ends it. null when there is
     * none. The "@" is the last one before the first "/" after the first "@", so that neither a
     * "/" nor an "@" in a password hides the rest of it.
     */
    public static String hidden(String url) {
        int[] span = hiddenSpan(url);
        return span == null ? null : url.substring(span[0], span[1]);
    }

    /** Start and end of what hidden() returns, or null. */
    private static int[] hiddenSpan(String url) {
        if (url == null) {
            return null;
        }
        int sep = url.indexOf("://");
        int start = sep < 0 ? 0 : sep + 3;
        int firstAt = url.indexOf('@', start);
        if (firstAt < 0) {
            return null;
        }
        int slash = url.indexOf('/', firstAt);
        int at = url.lastIndexOf('@', (slash < 0 ? url.length() : slash) - 1);
        int colon = url.indexOf(':', start);
        if (colon < 0 || colon >= at) {
            return null;
        }
        return new int[] {colon + 1, at};
    }

    /** The URL with its password, if any, shown as one "*" per character; see hidden(). */
    public static String masked(String url) {
        int[] span = hiddenSpan(url);
        if (span == null) {
            return url;
        }
        return url.substring(0, span[0]) + "*".repeat(span[1] - span[0]) + url.substring(span[1]);
    }

    /**
     * What makes the URL unusable whatever the family, as a message for the operator that holds
     * nothing of the URL, or null. A control character would be typed on the switch as a key of
     * its own. An "@" after the first "/" of a URL whose server part holds a ":" means a password
     * holding a "/" (the library would take the text before that "/" for the server), or a path
     * holding an "@" after a ":" that no reader can tell from one: either is refused.
     */
    public static String problem(String url) {
        if (url == null) {
            return null;
        }
        if (Escape.hasControl(url)) {
            return "the URL holds a control character";
        }
        int[] auth = authority(url);
        if (auth == null || userInfoEnd(url, auth) >= 0) {
            return null;
        }
        int at = url.indexOf('@', auth[1]);
        int colon = url.indexOf(':', auth[0]);
        if (at >= 0 && colon >= 0 && colon < at) {
            return "the URL's password holds a \"/\" (or its path an \"@\" after a \":\"): write it percent-encoded,"
                + " \"/\" as %2F and \"@\" as %40";
        }
        return null;
    }
}
