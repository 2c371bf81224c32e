package com.corvane.qel.deployer.modburn.tool.testing;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.net.DatagramSocket;
import java.net.InetAddress;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.concurrent.TimeUnit;

/**
 * Real file servers on loopback for the tests: an FTP server (pyftpdlib, one user) and a TFTP
 * server (tftpd-hpa), both serving one folder. Both programs come from Debian packages that
 * scripts/setup.sh installs.
 */
public final class FileServers implements AutoCloseable {
    public static final String FTP_USER = "fw";
    public static final String FTP_PASSWORD = "ftp-Secret2";

    // A server that answers a refused login at once (its default waits seconds first).
    private static final String FTP_SERVER = String.join("\n",
        "import sys",
        "from pyftpdlib.authorizers import DummyAuthorizer",
        "from pyftpdlib.handlers import FTPHandler",
        "from pyftpdlib.servers import FTPServer",
        "a = DummyAuthorizer()",
        "a.add_user(sys.argv[2], sys.argv[3], sys.argv[1], perm='elr')",
        "FTPHandler.authorizer = a",
        "FTPHandler.auth_failed_timeout = 0",
        "s = FTPServer(('127.0.0.1', 0), FTPHandler)",
        "print(s.socket.getsockname()[1], flush=True)",
        "s.serve_forever()",
        "");

    public final Path root;
    public final int ftpPort;
    public final int tftpPort;
    private final Process ftp;
    private final Process tftp;

    /** Serves root, which gets fw/image.bin (2000 bytes) and sas/fw.bin. */
    public FileServers(Path root) throws IOException, InterruptedException {
        this.root = root;
        Files.createDirectories(root.resolve("fw"));
        Files.write(root.resolve("fw/image.bin"), new byte[2000]);
        Files.createDirectories(root.resolve("sas"));
        Files.write(root.resolve("sas/fw.bin"), new byte[700]);
        // tftpd-hpa drops its privileges: the folder must be readable by anyone.
        for (Path p : new Path[] {root, root.resolve("fw"), root.resolve("sas")}) {
            Files.setPosixFilePermissions(p, PosixFilePermissions.fromString("rwxr-xr-x"));
        }
        for (Path p : new Path[] {root.resolve("fw/image.bin"), root.resolve("sas/fw.bin")}) {
            Files.setPosixFilePermissions(p, PosixFilePermissions.fromString("rw-r--r--"));
        }
        Path script = Files.createTempFile("modburn-ftpd", ".py");
        Files.writeString(script, FTP_SERVER);
        ftp = new ProcessBuilder("/usr/bin/python3", script.toString(), root.toString(), FTP_USER, FTP_PASSWORD)
            .redirectError(ProcessBuilder.Redirect.DISCARD).start();
        BufferedReader out = new BufferedReader(new InputStreamReader(ftp.getInputStream(), StandardCharsets.UTF_8));
        String port = out.readLine();
        Files.deleteIfExists(script);
        if (port == null) {
            ftp.destroyForcibly();
            throw new IOException("the FTP server (python3-pyftpdlib) did not start");
        }
        ftpPort = Integer.parseInt(port.strip());

        tftpPort = freeUdpPort();
        tftp = new ProcessBuilder("/usr/sbin/in.tftpd", "--foreground", "--address", "127.0.0.1:" + tftpPort,
            "--secure", root.toString()).redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD)
            .start();
        // The daemon binds at once; a moment for it to do so.
        if (tftp.waitFor(300, TimeUnit.MILLISECONDS)) {
            ftp.destroyForcibly();
            throw new IOException("the TFTP server (tftpd-hpa) ended at once with status " + tftp.exitValue());
        }
    }

    public static int freeUdpPort() throws IOException {
        try (DatagramSocket s = new DatagramSocket(0, InetAddress.getLoopbackAddress())) {
            return s.getLocalPort();
        }
    }

    /** A TCP port where nothing listens (bound and released). */
    public static int freeTcpPort() throws IOException {
        try (java.net.ServerSocket s = new java.net.ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
            return s.getLocalPort();
        }
    }

    public String ftpUrl(String path) {
        return "ftp://" + FTP_USER + "@127.0.0.1:" + ftpPort + "/" + path;
    }

    public String tftpUrl(String path) {
        return "tftp://127.0.0.1:" + tftpPort + "/" + path;
    }

    @Override
    public void close() {
        ftp.destroyForcibly();
        tftp.destroyForcibly();
    }
}
