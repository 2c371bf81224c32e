package com.corvane.qel.deployer.modburn.tool.bridge;

import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import com.corvane.qel.deployer.modburn.tool.preflight.ConsoleAddress;
import com.corvane.qel.deployer.modburn.tool.secrets.Masker;

/**
 * One update ready to run: the family, the switch, its credentials and the firmware URL with
 * any URL password already in it. name labels the switch in tables and names its log file;
 * line is the inventory line it came from (0 for a single update).
 */
public record Job(String name, int line, Family family, String address, String user, String password,
                  String url, boolean reboot, int modifier, int debugLevel) {

    /** A masker for this job's switch password and URL password (or what stands where one would). */
    public Masker masker() {
        return Masker.of(password, FileUrl.hidden(url));
    }

    /** The URL as the tool shows it. */
    public String shownUrl() {
        return FileUrl.masked(url);
    }

    @Override
    public String toString() {
        // Never the password, whatever prints a job.
        return "Job[" + name + " " + family.displayName + " " + address + " " + shownUrl() + "]";
    }

    /** Whether any of the jobs reaches its switch over SSH. */
    public static boolean anySsh(java.util.List<Job> jobs) {
        return jobs.stream().anyMatch(j -> ConsoleAddress.isSsh(j.address()));
    }
}
