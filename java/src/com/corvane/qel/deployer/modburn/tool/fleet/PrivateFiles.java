package com.corvane.qel.deployer.modburn.tool.fleet;

import java.io.BufferedWriter;
import java.io.IOException;
import java.io.Writer;
import java.nio.channels.Channels;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Set;

/**
 * The files the tool writes (logs, reports) hold what switches said and are the operator's alone:
 * created readable and writable by the owner only, in folders the tool creates for the owner only.
 * None is written through a link: a symbolic link (or another name of some other file) planted
 * where one goes is refused with its path, before and as the file is opened.
 */
public final class PrivateFiles {
    private PrivateFiles() {
    }

    static final FileAttribute<Set<PosixFilePermission>> FILE =
        PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------"));
    private static final FileAttribute<Set<PosixFilePermission>> FOLDER =
        PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------"));

    /** Creates the folder and its missing parents for the owner only; refuses a link at its path. */
    public static void folder(Path dir) throws IOException {
        if (Files.isSymbolicLink(dir)) {
            throw new IOException("the folder " + dir + " is a symbolic link: the tool writes nothing through one");
        }
        Files.createDirectories(dir, FOLDER);
    }

    /**
     * Refuses a path the tool is about to write when a symbolic link stands there, or anything
     * but a plain file, or a file with other names (a hard link).
     */
    public static void refuseLink(Path file) throws IOException {
        if (Files.isSymbolicLink(file)) {
            throw new IOException(file + " is a symbolic link: the tool writes nothing through one");
        }
        if (!Files.exists(file, LinkOption.NOFOLLOW_LINKS)) {
            return;
        }
        if (!Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS)) {
            throw new IOException(file + " is not a plain file");
        }
        if (Files.getAttribute(file, "unix:nlink", LinkOption.NOFOLLOW_LINKS) instanceof Integer n && n > 1) {
            throw new IOException(file + " has other names (hard links): the tool writes nothing through one");
        }
    }

    /**
     * A UTF-8 writer to the file, appended to or emptied; created for the owner only. The open
     * itself follows no link, should one be planted after the check.
     */
    public static Writer open(Path file, boolean append) throws IOException {
        refuseLink(file);
        Set<OpenOption> options = Set.of(StandardOpenOption.WRITE, StandardOpenOption.CREATE,
            append ? StandardOpenOption.APPEND : StandardOpenOption.TRUNCATE_EXISTING, LinkOption.NOFOLLOW_LINKS);
        return new BufferedWriter(Channels.newWriter(Files.newByteChannel(file, options, FILE),
            StandardCharsets.UTF_8));
    }
}
