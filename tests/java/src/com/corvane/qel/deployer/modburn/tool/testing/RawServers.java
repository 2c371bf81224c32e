package com.corvane.qel.deployer.modburn.tool.testing;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.net.DatagramPacket;
import java.net.DatagramSocket;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;

/**
 * File servers on loopback that answer with whatever bytes a test gives them: an FTP server that
 * greets and refuses every login with its texts, and a TFTP server that answers every read with
 * an error packet of its text. Their texts may hold control bytes, as a hostile server's would.
 */
public final class RawServers implements AutoCloseable {
    private final ServerSocket ftp;
    private final DatagramSocket tftp;
    private final Thread ftpThread;
    private final Thread tftpThread;

    /** greeting and refusal are whole reply lines without their line end ("220 ...", "530 ..."). */
    public RawServers(String greeting, String refusal, String tftpError) throws IOException {
        InetAddress loopback = InetAddress.getByName("127.0.0.1");
        ftp = new ServerSocket(0, 5, loopback);
        tftp = new DatagramSocket(0, loopback);
        ftpThread = new Thread(() -> serveFtp(greeting, refusal), "raw-ftp");
        tftpThread = new Thread(() -> serveTftp(tftpError), "raw-tftp");
        ftpThread.setDaemon(true);
        tftpThread.setDaemon(true);
        ftpThread.start();
        tftpThread.start();
    }

    public int ftpPort() {
        return ftp.getLocalPort();
    }

    public int tftpPort() {
        return tftp.getLocalPort();
    }

    private void serveFtp(String greeting, String refusal) {
        while (!ftp.isClosed()) {
            try (Socket s = ftp.accept()) {
                // The bytes as given: ISO-8859-1 carries every char up to U+00FF as one byte.
                OutputStream out = s.getOutputStream();
                BufferedReader in = new BufferedReader(new InputStreamReader(s.getInputStream(),
                    StandardCharsets.ISO_8859_1));
                out.write((greeting + "\r\n").getBytes(StandardCharsets.ISO_8859_1));
                for (String line = in.readLine(); line != null; line = in.readLine()) {
                    String reply = line.startsWith("USER") ? "331 Password required"
                        : line.startsWith("PASS") ? refusal : line.startsWith("QUIT") ? "221 Bye" : "500 No";
                    out.write((reply + "\r\n").getBytes(StandardCharsets.ISO_8859_1));
                    if (line.startsWith("QUIT")) {
                        break;
                    }
                }
            } catch (IOException e) {
                // closed, or the client went
            }
        }
    }

    private void serveTftp(String error) {
        byte[] buf = new byte[600];
        while (!tftp.isClosed()) {
            try {
                DatagramPacket request = new DatagramPacket(buf, buf.length);
                tftp.receive(request);
                byte[] text = error.getBytes(StandardCharsets.ISO_8859_1);
                byte[] answer = new byte[4 + text.length + 1];
                answer[1] = 5;  // ERROR
                answer[3] = 1;  // file not found
                System.arraycopy(text, 0, answer, 4, text.length);
                tftp.send(new DatagramPacket(answer, answer.length, request.getAddress(), request.getPort()));
            } catch (IOException e) {
                // closed
            }
        }
    }

    @Override
    public void close() throws IOException {
        ftp.close();
        tftp.close();
    }
}
