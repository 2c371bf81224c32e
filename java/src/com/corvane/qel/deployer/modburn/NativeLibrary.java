package com.corvane.qel.deployer.modburn;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.function.Consumer;
import java.util.function.Function;

/**
 * Finds and loads {@code libmodburn.so} for {@link Switch}, once per class loader.
 *
 * <p>A library on {@code java.library.path} comes first, so that a developer's build wins.
 * Otherwise the jar's own copy for this platform ({@code native/<os>-<arch>/} beside this
 * class) is written into a new folder that only the current user may read, loaded, and removed
 * again at once (the process keeps its mapping). The VM binds a native library to one class
 * loader per file: a second class loader of the same process that finds the library on
 * {@code java.library.path} taken by the first loads a private copy of that same file instead.
 */
final class NativeLibrary {
    static final String NAME = "modburn";
    /** The folder in which the jar's library is unpacked instead of java.io.tmpdir. */
    static final String DIR_PROPERTY = "modburn.library.dir";

    private final String platform;
    private final List<Path> libraryPath;
    private final Path unpackDir;
    private final Function<String, URL> resources;
    private final Consumer<String> systemLoad;

    NativeLibrary(String platform, List<Path> libraryPath, Path unpackDir, Function<String, URL> resources,
            Consumer<String> systemLoad) {
        this.platform = platform;
        this.libraryPath = libraryPath;
        this.unpackDir = unpackDir;
        this.resources = resources;
        this.systemLoad = systemLoad;
    }

    /** Loads the library for this process's platform; returns where it came from. */
    static String load() {
        String dir = System.getProperty(DIR_PROPERTY);
        return new NativeLibrary(platform(System.getProperty("os.name"), System.getProperty("os.arch")),
                searchPath(System.getProperty("java.library.path", "")),
                Path.of(dir != null && !dir.isEmpty() ? dir : System.getProperty("java.io.tmpdir")),
                NativeLibrary.class::getResource, System::load).loadLibrary();
    }

    /** The platform's name in the jar: "linux-x86_64", "linux-aarch64", "macos-aarch64", ... */
    static String platform(String osName, String osArch) {
        String os = osName.toLowerCase(Locale.ROOT);
        if (os.startsWith("mac") || os.startsWith("darwin")) {
            os = "macos";
        } else if (os.startsWith("windows")) {
            os = "windows";
        } else {
            os = os.replace(" ", "");
        }
        String arch = osArch.toLowerCase(Locale.ROOT);
        switch (arch) {
            case "amd64":
            case "x86_64":
                arch = "x86_64";
                break;
            case "arm64":
            case "aarch64":
                arch = "aarch64";
                break;
            case "x86":
            case "i386":
            case "i486":
            case "i586":
            case "i686":
                arch = "x86";
                break;
            default:
                break;
        }
        return os + "-" + arch;
    }

    /** The jar entry of the platform's library, relative to this class's package. */
    static String resource(String platform) {
        return "native/" + platform + "/" + System.mapLibraryName(NAME);
    }

    /** The jar entry of the platform's library: the build puts the library there. */
    static String jarEntry(String platform) {
        return NativeLibrary.class.getPackageName().replace('.', '/') + "/" + resource(platform);
    }

    /** The folders of a java.library.path value, in order. */
    static List<Path> searchPath(String value) {
        List<Path> dirs = new ArrayList<>();
        for (String dir : value.split(File.pathSeparator)) {
            if (!dir.isEmpty()) {
                dirs.add(Path.of(dir));
            }
        }
        return dirs;
    }

    String loadLibrary() {
        String file = System.mapLibraryName(NAME);
        for (Path dir : libraryPath) {
            Path candidate = dir.resolve(file);
            if (Files.isRegularFile(candidate)) {
                return loadFromPath(candidate.toAbsolutePath());
            }
        }
        URL url = resources.apply(resource(platform));
        if (url == null) {
            throw new UnsatisfiedLinkError("modburn: no native library for the platform " + platform
                    + ": none on java.library.path " + libraryPath + " and the jar has no " + jarEntry(platform)
                    + "; build libmodburn.so for " + platform + " and put its folder on java.library.path");
        }
        return url + " (unpacked to " + unpack(url::openStream) + ")";
    }

    /** Loads a file found on java.library.path, or a private copy of it when that cannot be loaded. */
    private String loadFromPath(Path file) {
        try {
            systemLoad.accept(file.toString());
            return file.toString();
        } catch (UnsatisfiedLinkError taken) {
            // Most likely another class loader of this process holds the file; a copy of our own
            // is a new file to the VM. If the copy fails too, the file itself is at fault.
            try {
                return file + " (copied to " + unpack(() -> Files.newInputStream(file)) + ")";
            } catch (UnsatisfiedLinkError copyFailed) {
                UnsatisfiedLinkError e = new UnsatisfiedLinkError("modburn: cannot load " + file
                        + " from java.library.path (" + taken.getMessage() + ")");
                e.initCause(taken);
                e.addSuppressed(copyFailed);
                throw e;
            }
        }
    }

    private interface Source {
        InputStream open() throws IOException;
    }

    /**
     * Writes the library into a new folder of its own under unpackDir that only this user may
     * read, loads it and removes file and folder again; returns the path it was loaded from.
     */
    private String unpack(Source source) {
        Path dir;
        Path file;
        try {
            dir = Files.createTempDirectory(unpackDir, "modburn-",
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
        } catch (IOException | UnsupportedOperationException e) {
            throw linkError("cannot make a folder for the native library in " + unpackDir + " (" + e + ")", e);
        }
        try {
            file = dir.resolve(System.mapLibraryName(NAME));
            try (InputStream in = source.open()) {
                Files.copy(in, file);
            }
            Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("r-x------"));
        } catch (IOException e) {
            removeQuietly(dir);
            throw linkError("cannot write the native library into " + dir + " (" + e + ")", e);
        }
        try {
            systemLoad.accept(file.toString());
        } catch (UnsatisfiedLinkError e) {
            throw linkError("cannot load " + file + " (" + e.getMessage() + ")", e);
        } finally {
            removeQuietly(dir);
        }
        return file.toString();
    }

    /** A failure to unpack or load: a folder that allows no programs (noexec) is the likely cause. */
    private static UnsatisfiedLinkError linkError(String what, Throwable cause) {
        UnsatisfiedLinkError e = new UnsatisfiedLinkError("modburn: " + what + "; choose a folder where this"
                + " user may write and run programs with -D" + DIR_PROPERTY + "=DIR");
        e.initCause(cause);
        return e;
    }

    /** Removes the unpacked library and its folder; the loaded library stays mapped. */
    private static void removeQuietly(Path dir) {
        try (var files = Files.list(dir)) {
            for (Path f : (Iterable<Path>) files::iterator) {
                Files.deleteIfExists(f);
            }
            Files.deleteIfExists(dir);
        } catch (IOException | UncheckedIOException e) {
            // A left-over folder is only the user's own; nothing else depends on its removal.
        }
    }

    /** Prints the jar entry of this platform's library, for the build that puts it there. */
    public static void main(String[] args) {
        System.out.println(jarEntry(platform(System.getProperty("os.name"), System.getProperty("os.arch"))));
    }
}
