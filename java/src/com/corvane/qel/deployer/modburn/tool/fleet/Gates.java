package com.corvane.qel.deployer.modburn.tool.fleet;

import java.util.HashMap;
import java.util.Map;

/**
 * Which waiting update may start now, besides the fleet's own limit. A blade chassis keeps its
 * blades' paths while one module of a redundant set is down, and loses them when all are: so at
 * most perSet modules of one set are in their update, reboot or wait for the switch at once. A
 * firmware server serves a limited number of transfers at once: so at most perServer updates
 * fetch from one server at once. Used under the runner's lock.
 */
final class Gates {
    private final int perSet;
    private final int perServer;
    private final Map<String, Integer> sets = new HashMap<>();
    private final Map<String, Integer> servers = new HashMap<>();

    /** perSet, perServer: at most that many at once (0: no limit). */
    Gates(int perSet, int perServer) {
        this.perSet = perSet;
        this.perServer = perServer;
    }

    /** Whether the slot's set and server have room for it now. */
    boolean open(Slot s) {
        return within(sets, s.set, perSet) && within(servers, s.server, perServer);
    }

    private static boolean within(Map<String, Integer> counts, String key, int limit) {
        return limit == 0 || key == null || counts.getOrDefault(key, 0) < limit;
    }

    /** The slot starts: it takes its place in its set and at its server. */
    void enter(Slot s) {
        count(sets, s.set, 1);
        count(servers, s.server, 1);
    }

    /** The slot's transfer is over: its server may serve another. */
    void leaveServer(Slot s) {
        count(servers, s.server, -1);
    }

    /** The slot ended (its switch back, when waited for): another module of its set may start. */
    void leaveSet(Slot s) {
        count(sets, s.set, -1);
    }

    private static void count(Map<String, Integer> counts, String key, int by) {
        if (key != null) {
            counts.merge(key, by, Integer::sum);
        }
    }
}
