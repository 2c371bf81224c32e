package com.corvane.qel.deployer.modburn;

import java.lang.reflect.InvocationTargetException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CyclicBarrier;

/**
 * Loads Switch from one jar in several class loaders at once, many threads each, and asks the
 * library of each for a text. Run as a program in a child VM, it prints one line per loader:
 * "origin: " and where its library came from, or "error: " and why the class could not start.
 *
 * <pre>LoaderRace JAR LOADERS THREADS</pre>
 */
public final class LoaderRace {
    static final String IPSTACK = "IP (v4/v6) protocol stack not installed (IO_NO_IPSTACK)";
    // By name: the child VM runs this class without Switch on its own class path.
    private static final String SWITCH = "com.corvane.qel.deployer.modburn.Switch";

    private LoaderRace() {
    }

    /**
     * What one thread saw: "origin: " and its loader's library, or "error: " and what failed;
     * "init: " and the reason for the thread that ran the class's failed start.
     */
    private static String probe(ClassLoader loader) {
        try {
            Class<?> sw = Class.forName(SWITCH, true, loader);
            String text = (String) sw.getMethod("err2String", int.class).invoke(null, -22);
            if (!IPSTACK.equals(text)) {
                return "error: err2String(-22) gave " + text;
            }
            return "origin: " + sw.getMethod("nativeLibrary").invoke(null);
        } catch (UnsatisfiedLinkError e) {
            // An Error from the class's start reaches the thread that ran it as it is.
            return "init: " + e.getMessage();
        } catch (NoClassDefFoundError e) {
            // The class failed to start in another thread of this loader first.
            return "error: " + e.getMessage();
        } catch (InvocationTargetException e) {
            return "error: " + e.getCause();
        } catch (ReflectiveOperationException e) {
            return "error: " + e;
        }
    }

    /**
     * One line per loader: the origin all its threads saw, or "error: " and why its class could
     * not start; threads of one loader that saw different things make an error line too.
     */
    static List<String> run(Path jar, int loaders, int threads) throws Exception {
        URL[] urls = {jar.toUri().toURL()};
        List<URLClassLoader> cls = new ArrayList<>();
        for (int i = 0; i < loaders; i++) {
            cls.add(new URLClassLoader(urls, ClassLoader.getPlatformClassLoader()));
        }
        CyclicBarrier start = new CyclicBarrier(loaders * threads);
        String[][] seen = new String[loaders][threads];
        List<Thread> all = new ArrayList<>();
        for (int l = 0; l < loaders; l++) {
            for (int t = 0; t < threads; t++) {
                int li = l;
                int ti = t;
                Thread thread = new Thread(() -> {
                    try {
                        start.await();
                        seen[li][ti] = probe(cls.get(li));
                    } catch (Exception e) {
                        seen[li][ti] = "error: " + e;
                    }
                });
                all.add(thread);
                thread.start();
            }
        }
        for (Thread t : all) {
            t.join();
        }
        List<String> lines = new ArrayList<>();
        for (String[] loader : seen) {
            lines.add(verdict(List.of(loader)));
        }
        return lines;
    }

    private static String verdict(List<String> seen) {
        if (seen.stream().allMatch(seen.get(0)::equals) && seen.get(0).startsWith("origin: ")) {
            return seen.get(0);
        }
        List<String> starts = seen.stream().filter(s -> s.startsWith("init: ")).toList();
        if (starts.size() == 1 && seen.stream().noneMatch(s -> s.startsWith("origin: "))) {
            return "error: " + starts.get(0).substring("init: ".length());
        }
        return "error: the threads of one loader saw " + seen;
    }

    public static void main(String[] args) throws Exception {
        for (String line : run(Path.of(args[0]), Integer.parseInt(args[1]), Integer.parseInt(args[2]))) {
            System.out.println(line);
        }
    }
}
