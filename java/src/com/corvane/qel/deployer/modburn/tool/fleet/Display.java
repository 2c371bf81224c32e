package com.corvane.qel.deployer.modburn.tool.fleet;

import java.util.List;

/** What a fleet runner shows while it runs. */
public interface Display {
    /** Called on the runner's thread at every refresh and once after the last update. */
    void refresh(List<Slot> slots, long nowNanos);

    /**
     * Called once when a stop has been requested, on the requesting thread, with the count of
     * running updates.
     */
    void stopping(int running);

    /** Called on the runner's thread as a phase of the rollout begins or a pause starts. */
    default void phase(String text) {
    }

    /**
     * Called once when the rollout stops itself (a canary failed, the failure budget is spent),
     * on the thread that saw it, with why and the count of running updates.
     */
    default void halted(String why, int running) {
    }

    /** Called on the update's thread as soon as its outcome is known. */
    default void ended(Slot slot) {
    }
}
