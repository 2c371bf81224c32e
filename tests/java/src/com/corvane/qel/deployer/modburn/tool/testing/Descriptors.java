package com.corvane.qel.deployer.modburn.tool.testing;

import static org.junit.Assert.assertNotNull;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/** The open descriptors of this VM that a fleet run could leak. */
public final class Descriptors {
    private Descriptors() {
    }

    /**
     * Sockets and files of the given folder, each as "fd -> target", sorted. The VM opens and
     * closes other descriptors on its own threads at any time (it reads its control group's
     * memory figures, for one), so the whole table is not comparable from one moment to the next.
     */
    public static List<String> leakable(Path dir) {
        List<String> kept = new ArrayList<>();
        String[] fds = new File("/proc/self/fd").list();
        assertNotNull("/proc/self/fd", fds);
        for (String fd : fds) {
            String target;
            try {
                target = Files.readSymbolicLink(Path.of("/proc/self/fd", fd)).toString();
            } catch (IOException e) {
                continue; // closed while the table was read
            }
            if (target.startsWith("socket:") || target.startsWith(dir.toString())) {
                kept.add(fd + " -> " + target);
            }
        }
        Collections.sort(kept);
        return kept;
    }
}
