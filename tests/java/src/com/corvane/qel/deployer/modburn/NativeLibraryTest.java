package com.corvane.qel.deployer.modburn;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.File;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/** How Switch finds libmodburn.so: java.library.path first, else the jar's own copy. */
public class NativeLibraryTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static final String SO = System.mapLibraryName("modburn");

    @Test
    public void platformNames() {
        String[][] rows = {
            {"Linux", "amd64", "linux-x86_64"},
            {"Linux", "x86_64", "linux-x86_64"},
            {"Linux", "aarch64", "linux-aarch64"},
            {"Linux", "i686", "linux-x86"},
            {"Mac OS X", "aarch64", "macos-aarch64"},
            {"Mac OS X", "x86_64", "macos-x86_64"},
            {"Windows 11", "amd64", "windows-x86_64"},
            {"FreeBSD", "amd64", "freebsd-x86_64"},
            {"SunOS", "sparcv9", "sunos-sparcv9"},
        };
        for (String[] row : rows) {
            assertEquals(row[0] + "/" + row[1], row[2], NativeLibrary.platform(row[0], row[1]));
        }
        assertEquals(List.of(Path.of("/a"), Path.of("b")), NativeLibrary.searchPath(":/a::b:"));
    }

    /**
     * A loader row: whether java.library.path holds a library, whether the jar has one for the
     * platform, whether the unpack folder exists, and which loads the VM refuses ("path": the
     * file on the path, "copy": any unpacked copy). Expected: the result (a pattern, with {path},
     * {url} and {dir} standing for the file on the path, the jar entry and the unpack folder) and
     * the loads in order (PATH: the file on the path, COPY: a copy), or how the error starts
     * ({path} and {dir} as above).
     */
    record Row(String what, boolean onPath, boolean inJar, boolean dirExists, String refused, String result,
               List<String> loads, String error) {
    }

    static final Row[] ROWS = {
        new Row("a library on java.library.path", true, true, true, "", "{path}", List.of("PATH"), null),
        new Row("on the path but taken by another class loader: a private copy of the same file", true, true,
            true, "path", "{path} \\(copied to {dir}/modburn-\\w+/" + SO + "\\)", List.of("PATH", "COPY"), null),
        new Row("none on the path: the jar's copy", false, true, true, "", "{url} \\(unpacked to {dir}/modburn-\\w+/"
            + SO + "\\)", List.of("COPY"), null),
        new Row("no library for the platform", false, false, true, "", null, List.of(),
            "modburn: no native library for the platform solaris-sparcv9: none on java.library.path [] and the jar"
                + " has no com/corvane/qel/deployer/modburn/native/solaris-sparcv9/" + SO),
        new Row("an unpack folder that does not exist", false, true, false, "", null, List.of(),
            "modburn: cannot make a folder for the native library in {dir}"),
        new Row("an unpack folder whose files cannot run (noexec)", false, true, true, "copy", null,
            List.of("COPY"), "modburn: cannot load {dir}/modburn-"),
        new Row("a broken library on the path", true, true, true, "path copy", null, List.of("PATH", "COPY"),
            "modburn: cannot load {path} from java.library.path (refused {path})"),
    };

    @Test
    public void loaderRows() throws Exception {
        for (Row row : ROWS) {
            Path root = tmp.newFolder().toPath();
            Path onPath = Files.createDirectories(root.resolve("lib"));
            Path lib = onPath.resolve(SO);
            if (row.onPath()) {
                Files.writeString(lib, "the build's library");
            }
            Path entry = Files.writeString(root.resolve("entry.so"), "the jar's library");
            URL url = entry.toUri().toURL();
            Path dir = row.dirExists() ? Files.createDirectories(root.resolve("unpack")) : root.resolve("missing");
            List<String> loads = new ArrayList<>();
            String platform = row.inJar() ? "linux-x86_64" : "solaris-sparcv9";
            NativeLibrary loader = new NativeLibrary(platform, row.onPath() ? List.of(onPath) : List.of(), dir,
                name -> row.inJar() && name.equals(NativeLibrary.resource(platform)) ? url : null,
                file -> {
                    Path f = Path.of(file);
                    boolean copy = !f.equals(lib);
                    loads.add(copy ? "COPY" : "PATH");
                    if (copy) {
                        checkPrivateCopy(row.what(), f, dir, row.onPath() ? lib : entry);
                    }
                    if (row.refused().contains(copy ? "copy" : "path")) {
                        throw new UnsatisfiedLinkError("refused " + file);
                    }
                });
            String what = row.what() + ": ";
            String result = null;
            try {
                result = loader.loadLibrary();
                if (row.error() != null) {
                    fail(what + "loaded " + result);
                }
            } catch (UnsatisfiedLinkError e) {
                if (row.error() == null) {
                    throw e;
                }
                String words = row.error().replace("{dir}", dir.toString()).replace("{path}", lib.toString());
                assertTrue(what + e.getMessage(), e.getMessage().startsWith(words));
                if (row.error().contains("{dir}")) {
                    assertTrue(what + e.getMessage(), e.getMessage().endsWith(
                        "; choose a folder where this user may write and run programs with -Dmodburn.library.dir=DIR"));
                }
                if (row.refused().contains("path")) {
                    assertTrue(what, e.getSuppressed()[0].getMessage().startsWith("modburn: cannot load " + dir));
                }
            }
            if (result != null) {
                String expected = row.result().replace("{path}", Pattern.quote(lib.toString()))
                    .replace("{url}", Pattern.quote(url.toString())).replace("{dir}", Pattern.quote(dir.toString()));
                assertTrue(what + result, result.matches(expected));
            }
            assertEquals(what, row.loads(), loads);
            if (Files.isDirectory(dir)) {
                try (var left = Files.list(dir)) {
                    assertEquals(what + "the unpacked copy is removed", List.of(), left.collect(Collectors.toList()));
                }
            }
        }
    }

    /** A copy lies in a new folder under dir that only this user may enter, and holds the source's bytes. */
    private static void checkPrivateCopy(String what, Path copy, Path dir, Path source) {
        try {
            assertEquals(what, dir, copy.getParent().getParent());
            assertEquals(what, "rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(copy.getParent())));
            assertEquals(what, "r-x------", PosixFilePermissions.toString(Files.getPosixFilePermissions(copy)));
            assertArrayEquals(what, Files.readAllBytes(source), Files.readAllBytes(copy));
        } catch (java.io.IOException e) {
            throw new AssertionError(what + e, e);
        }
    }

    /**
     * A child VM whose class loaders load Switch from modburn.jar at once, eight threads each.
     * path: its java.library.path ("build": the build's library folder, "none": an empty one);
     * dir: the unpack folder ("tmp", or "missing"); expected: one pattern per loader's line,
     * lines sorted, with {lib}, {jar} and {dir} for the build's library, the jar's entry and the folder.
     */
    record Race(String what, String path, String dir, List<String> expected) {
    }

    static final Race[] RACES = {
        new Race("the library on java.library.path, two class loaders", "build", "tmp", List.of(
            "origin: {lib}", "origin: {lib} \\(copied to {dir}/modburn-\\w+/" + SO + "\\)")),
        new Race("the jar alone, two class loaders", "none", "tmp", List.of(
            "origin: {jar} \\(unpacked to {dir}/modburn-\\w+/" + SO + "\\)",
            "origin: {jar} \\(unpacked to {dir}/modburn-\\w+/" + SO + "\\)")),
        new Race("the jar alone, an unpack folder that does not exist", "none", "missing", List.of(
            "error: modburn: cannot make a folder for the native library in {dir} .*-Dmodburn.library.dir=DIR",
            "error: modburn: cannot make a folder for the native library in {dir} .*-Dmodburn.library.dir=DIR")),
    };

    @Test
    public void classLoadersRacingInAChildVm() throws Exception {
        Path built = Path.of(Switch.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        Path buildLib = Path.of(System.getProperty("java.library.path").split(File.pathSeparator)[0], SO);
        String tests = Path.of(LoaderRace.class.getProtectionDomain().getCodeSource().getLocation().toURI())
            .toString();
        for (Race race : RACES) {
            Path root = tmp.newFolder().toPath();
            // The jar on its own, with no build folder beside it.
            Path jar = Files.copy(built, root.resolve("modburn.jar"));
            Path empty = Files.createDirectories(root.resolve("no-library"));
            Path dir = race.dir().equals("tmp") ? Files.createDirectories(root.resolve("unpack"))
                : root.resolve("missing");
            List<String> cmd = List.of(Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                "-Xcheck:jni", "-Djava.library.path=" + (race.path().equals("build") ? buildLib.getParent() : empty),
                "-Dmodburn.library.dir=" + dir, "-cp", tests, LoaderRace.class.getName(), jar.toString(), "2", "8");
            Process p = new ProcessBuilder(cmd).redirectErrorStream(true).start();
            assertTrue(race.what(), p.waitFor(60, TimeUnit.SECONDS));
            String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            assertEquals(race.what() + "\n" + out, 0, p.exitValue());
            List<String> lines = Arrays.stream(out.split("\n")).filter(l -> l.startsWith("origin: ")
                || l.startsWith("error: ")).sorted().collect(Collectors.toList());
            assertEquals(race.what() + "\n" + out, race.expected().size(), lines.size());
            String entry = "jar:" + jar.toUri().toURL() + "!/" + NativeLibrary.jarEntry(
                NativeLibrary.platform(System.getProperty("os.name"), System.getProperty("os.arch")));
            for (int i = 0; i < lines.size(); i++) {
                String expected = race.expected().get(i).replace("{lib}", Pattern.quote(buildLib.toString()))
                    .replace("{jar}", Pattern.quote(entry)).replace("{dir}", Pattern.quote(dir.toString()));
                assertTrue(race.what() + ": " + lines.get(i) + "\n" + out, lines.get(i).matches(expected));
            }
            List<String> origins = lines.stream().filter(l -> l.startsWith("origin: ")).collect(Collectors.toList());
            assertEquals(race.what() + ": each loader its own copy", origins.size(), origins.stream().distinct().count());
            assertTrue(race.what() + "\n" + out, !out.contains("WARNING in native method"));
            if (Files.isDirectory(dir)) {
                try (var left = Files.list(dir)) {
                    assertEquals(race.what(), List.of(), left.collect(Collectors.toList()));
                }
            }
        }
    }
}
