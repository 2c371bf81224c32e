package com.corvane.qel.deployer.modburn.tool.bridge;

import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.SwitchException;
import java.util.List;

/** The library itself, through the Switch host class. */
public final class LibraryBackend implements Backend {
    private static final Object INIT = new Object();
    private static boolean initialised;

    @Override
    public void open(LogRouter router, int telnetDebugLevel) throws SetupException {
        try {
            synchronized (INIT) {
                if (!initialised) {
                    Switch.platform_init();
                    initialised = true;
                }
                Switch.setAppLogger(router);
                Switch.setTelnetDebugLevel(telnetDebugLevel);
            }
        } catch (LinkageError e) {
            throw new SetupException("the library cannot be loaded (" + e.getMessage()
                + "); run the tool through scripts/modburn after scripts/build.sh", e);
        }
    }

    @Override
    public Result update(Job job, Switch.ProgressListener events) {
        Switch s = new Switch(job.family().code, job.address(), job.user(), job.password(), job.debugLevel());
        s.setProgressListener(events);
        try {
            s.update(job.url(), job.reboot(), job.modifier());
            return Result.OK;
        } catch (SwitchException e) {
            return new Result(e.getCode(), e.getMessage() == null ? "" : e.getMessage());
        }
    }

    /** The listing of the switch itself, or of the target a modifier names (SAS: 2 SM1, 3 SM2). */
    @Override
    public Versions versions(Job job) {
        Switch s = new Switch(job.family().code, job.address(), job.user(), job.password(), job.debugLevel());
        try {
            return Versions.of(List.of(job.modifier() == 0 ? s.readVersions() : s.readVersions(job.modifier())));
        } catch (SwitchException e) {
            return Versions.failed(new Result(e.getCode(), e.getMessage() == null ? "" : e.getMessage()));
        }
    }

    @Override
    public int check(Job job) {
        Switch s = new Switch(job.family().code, job.address(), job.user(), job.password(), job.debugLevel());
        return s.checkRequest(job.url(), job.reboot(), job.modifier());
    }

    @Override
    public void hostKeys(String knownHostsFile, boolean acceptNew) {
        try {
            Switch.setKnownHostsFile(knownHostsFile);
            Switch.setHostKeyPolicy(acceptNew ? Switch.HOST_KEY_ACCEPT_NEW : Switch.HOST_KEY_STRICT);
        } catch (LinkageError e) {
            // open() says that the library cannot be loaded.
        }
    }

    @Override
    public HostKey hostKey(String address, int timeoutMillis) {
        String[] found = Switch.checkHostKey(address, timeoutMillis);
        return new HostKey(found[0], found[1], found[2]);
    }

    @Override
    public String text(int code) {
        return Switch.err2String(code);
    }

    /**
     * Asks the library whether it has a module for the family: a request without an address is
     * refused by a module's parameter check before any connection, while a family without a
     * module is answered with NOT_SERVED.
     */
    @Override
    public boolean serves(Family family) {
        Switch s = new Switch();
        s.switchType = family.code;
        s.debugLevel = 0;
        try {
            s.update(null, false, 0);
            return true;
        } catch (SwitchException e) {
            return e.getCode() != Codes.NOT_SERVED;
        }
    }
}
