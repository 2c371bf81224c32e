package com.corvane.qel.deployer.modburn.tool.preflight;

import java.io.IOException;
import java.net.InetAddress;
import java.net.SocketTimeoutException;
import java.net.UnknownHostException;
import java.time.Duration;
import java.util.Locale;
import org.apache.commons.net.ftp.FTP;
import org.apache.commons.net.ftp.FTPClient;
import org.apache.commons.net.ftp.FTPFile;
import org.apache.commons.net.ftp.FTPReply;
import org.apache.commons.net.tftp.TFTP;
import org.apache.commons.net.tftp.TFTPClient;
import org.apache.commons.net.tftp.TFTPDataPacket;
import org.apache.commons.net.tftp.TFTPErrorPacket;
import org.apache.commons.net.tftp.TFTPPacket;
import org.apache.commons.net.tftp.TFTPPacketException;
import org.apache.commons.net.tftp.TFTPReadRequestPacket;

/**
 * Whether the firmware file of a URL can be fetched, asked from this machine: for FTP a login
 * with the URL's login and password and a size query (nothing is downloaded); for TFTP a read
 * request that is stopped after the first data block. The switch may reach the server
 * differently, so a pass here is good evidence, not proof.
 */
final class FirmwareProbe {
    /** The parts of a firmware URL the probe needs; the path as the switch is given it. */
    record Target(String scheme, String login, String password, String host, int port, String path) {
        /** server:port for messages, IPv6 in brackets. */
        String server() {
            return (host.indexOf(':') >= 0 ? "[" + host + "]" : host) + ":" + port;
        }
    }

    private final int timeoutMillis;
    private final int tftpTries;

    /**
     * timeoutMillis bounds every connect and every answer; a TFTP read request is sent tftpTries
     * times, each waiting its share of timeoutMillis, as a lost datagram is not an answer.
     */
    FirmwareProbe(int timeoutMillis, int tftpTries) {
        this.timeoutMillis = timeoutMillis;
        this.tftpTries = tftpTries;
    }

    /** The URL's parts, or null when it has none the probe can use. */
    static Target target(String url) {
        int s = url == null ? -1 : url.indexOf("://");
        if (s <= 0) {
            return null;
        }
        String scheme = url.substring(0, s).toLowerCase(Locale.ROOT);
        int start = s + 3;
        int slash = url.indexOf('/', start);
        String authority = url.substring(start, slash < 0 ? url.length() : slash);
        String path = slash < 0 ? "" : url.substring(slash + 1);
        String login = null;
        String password = null;
        int at = authority.lastIndexOf('@');
        if (at >= 0) {
            String info = authority.substring(0, at);
            authority = authority.substring(at + 1);
            int colon = info.indexOf(':');
            login = colon < 0 ? info : info.substring(0, colon);
            password = colon < 0 ? null : info.substring(colon + 1);
        }
        int defaultPort = scheme.equals("tftp") ? TFTP.DEFAULT_PORT : FTP.DEFAULT_PORT;
        ConsoleAddress server = ConsoleAddress.parse(authority, defaultPort);
        int port = server.port();
        if (server.host().isEmpty() || path.isEmpty()) {
            return null;
        }
        return new Target(scheme, login, password, server.host(), port, path);
    }

    /** The verdict on the URL's file; texts are masked by the caller. */
    Verdict check(String url) {
        Target t = target(url);
        if (t == null) {
            return Verdict.failed("bad URL", "the URL names no server and file");
        }
        if (t.port() < 0) {
            return Verdict.failed("bad URL", "the URL names no valid server port");
        }
        return switch (t.scheme()) {
            case "ftp" -> ftp(t);
            case "tftp" -> tftp(t);
            default -> Verdict.skipped(t.scheme() + " URLs are not checked from here");
        };
    }

    private static String reply(FTPClient ftp) {
        String r = ftp.getReplyString();
        return r == null ? "" : r.strip().replaceAll("\\s*\r?\n\\s*", " / ");
    }

    Verdict ftp(Target t) {
        FTPClient ftp = new FTPClient();
        ftp.setConnectTimeout(timeoutMillis);
        ftp.setDefaultTimeout(timeoutMillis);
        ftp.setDataTimeout(Duration.ofMillis(timeoutMillis));
        String where = "the FTP server " + t.server();
        try {
            try {
                ftp.connect(t.host(), t.port());
            } catch (UnknownHostException e) {
                return Verdict.failed("server unknown", "the server name " + t.host() + " does not resolve");
            } catch (IOException e) {
                return Verdict.failed("server down", where + " does not answer (" + why(e) + ")");
            }
            if (!FTPReply.isPositiveCompletion(ftp.getReplyCode())) {
                return Verdict.failed("server refuses", where + " refuses sessions: " + reply(ftp));
            }
            String login = t.login() == null || t.login().isEmpty() ? "anonymous" : t.login();
            String password = t.password() != null ? t.password() : login.equals("anonymous") ? "modburn@" : "";
            if (!ftp.login(login, password)) {
                return Verdict.failed("login refused", where + " refused the login " + login + ": " + reply(ftp));
            }
            ftp.setFileType(FTP.BINARY_FILE_TYPE);
            String size = ftp.getSize(t.path());
            if (size != null) {
                return Verdict.ok(t.path() + " on " + t.server() + ", " + size.strip() + " bytes");
            }
            int code = ftp.getReplyCode();
            if (code == 550 || code == 450) {
                return Verdict.failed("file missing", where + " has no file " + t.path() + ": " + reply(ftp));
            }
            // A server without SIZE: a listing of the file answers the same question.
            String noSize = reply(ftp);
            ftp.enterLocalPassiveMode();
            FTPFile[] files = ftp.listFiles(t.path());
            if (files != null && files.length > 0) {
                return Verdict.ok(t.path() + " on " + t.server() + " (listed; the server answers no SIZE)");
            }
            return Verdict.failed("file missing", where + " lists no file " + t.path() + " (SIZE: " + noSize + ")");
        } catch (SocketTimeoutException e) {
            return Verdict.failed("no answer", where + " stopped answering (" + why(e) + ")");
        } catch (IOException e) {
            return Verdict.failed("session lost", where + ": " + why(e));
        } finally {
            close(ftp);
        }
    }

    private static void close(FTPClient ftp) {
        if (!ftp.isConnected()) {
            return;
        }
        try {
            ftp.logout();
        } catch (IOException e) {
            // the session is being dropped anyway
        }
        try {
            ftp.disconnect();
        } catch (IOException e) {
            // nothing more to release
        }
    }

    Verdict tftp(Target t) {
        InetAddress server;
        try {
            server = InetAddress.getByName(t.host());
        } catch (UnknownHostException e) {
            return Verdict.failed("server unknown", "the server name " + t.host() + " does not resolve");
        }
        String where = "the TFTP server " + t.server();
        TFTPClient tftp = new TFTPClient();
        int perTry = Math.max(50, timeoutMillis / Math.max(1, tftpTries));
        tftp.setDefaultTimeout(perTry);
        try {
            tftp.open();
            TFTPReadRequestPacket request = new TFTPReadRequestPacket(server, t.port(), t.path(), TFTP.BINARY_MODE);
            for (int attempt = 0; attempt < tftpTries; attempt++) {
                tftp.send(request);
                TFTPPacket answer;
                try {
                    answer = tftp.receive();
                } catch (SocketTimeoutException e) {
                    continue;
                }
                if (answer instanceof TFTPDataPacket data) {
                    // One block is proof enough; an error packet ends the transfer at the server.
                    tftp.send(new TFTPErrorPacket(data.getAddress(), data.getPort(), TFTPErrorPacket.UNDEFINED,
                        "transfer stopped: only checking"));
                    return Verdict.ok(t.path() + " on " + t.server() + " (first block of " + data.getDataLength()
                        + " bytes read, transfer stopped)");
                }
                if (answer instanceof TFTPErrorPacket error) {
                    String word = error.getError() == TFTPErrorPacket.FILE_NOT_FOUND ? "file missing"
                        : error.getError() == TFTPErrorPacket.ACCESS_VIOLATION ? "access denied" : "server refuses";
                    return Verdict.failed(word, where + " answered error " + error.getError() + ": "
                        + error.getMessage() + " (" + t.path() + ")");
                }
                return Verdict.failed("protocol error", where + " answered a packet of type " + answer.getType());
            }
            return Verdict.failed("server down", where + " did not answer within "
                + tftpTries * perTry + " ms");
        } catch (TFTPPacketException e) {
            return Verdict.failed("protocol error", where + " answered a malformed packet: " + why(e));
        } catch (IOException e) {
            return Verdict.failed("server down", where + ": " + why(e));
        } finally {
            tftp.close();
        }
    }

    private static String why(Exception e) {
        return e.getMessage() == null ? e.getClass().getSimpleName() : e.getMessage();
    }
}
