package com.corvane.qel.deployer.modburn.tool.fleet;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import com.corvane.qel.deployer.modburn.tool.bridge.LogRouter;
import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/** Canaries, waves and the failure budget, run against the scripted library. */
public class RolloutTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    /** A display that keeps what it was told. */
    static final class Told implements Display {
        final List<String> said = new ArrayList<>();

        @Override
        public void refresh(List<Slot> slots, long nowNanos) {
        }

        @Override
        public synchronized void stopping(int running) {
            said.add("stopping " + running);
        }

        @Override
        public synchronized void phase(String text) {
            said.add("phase " + text);
        }

        @Override
        public synchronized void halted(String why, int running) {
            said.add("halted " + why + " (" + running + " running)");
        }
    }

    private static String ip(int i) {
        return "127.0.1." + i;
    }

    /** One row: a rollout of some switches, which fail, and what must come of it. */
    record Case(String what, int switches, int parallel, int canary, Set<Integer> marked, int waveSize,
                String budget, Set<Integer> failing, Set<Integer> slow,
                String outcome, Stop stop, String waves) {
    }

    // Outcome per switch in inventory order: o succeeded, x failed, - not started.
    // Waves per switch: 0 canary, n the wave.
    private static final Case[] CASES = {
        new Case("canaries succeed, then the rest", 6, 4, 2, Set.of(), 0, null, Set.of(), Set.of(),
            "oooooo", Stop.NONE, "001111"),
        new Case("a failed canary stops everything", 6, 4, 2, Set.of(), 0, null, Set.of(2), Set.of(),
            "ox----", Stop.CANARY, "001111"),
        new Case("a failed canary stops its fellow canaries too", 6, 1, 3, Set.of(), 0, null, Set.of(1), Set.of(),
            "x-----", Stop.CANARY, "000111"),
        new Case("the canary column picks the canaries", 5, 4, 0, Set.of(4), 0, null, Set.of(4), Set.of(),
            "---x-", Stop.CANARY, "11101"),
        new Case("a budget of 2 stops the third start", 8, 1, 0, Set.of(), 0, "2", Set.of(2, 3), Set.of(),
            "oxx-----", Stop.BUDGET, "11111111"),
        new Case("a budget of 25% of 8 is 2", 8, 1, 0, Set.of(), 0, "25%", Set.of(2, 3), Set.of(),
            "oxx-----", Stop.BUDGET, "11111111"),
        new Case("a budget of 10% of 15 is 2 (rounded up)", 15, 1, 0, Set.of(), 0, "10%", Set.of(1, 2), Set.of(),
            "xx-------------", Stop.BUDGET, "111111111111111"),
        new Case("the budget is hit while others run: they finish", 8, 4, 0, Set.of(), 0, "1", Set.of(1),
            Set.of(2, 3, 4), "xooo----", Stop.BUDGET, "11111111"),
        new Case("a budget not reached changes nothing", 5, 2, 0, Set.of(), 0, "2", Set.of(3), Set.of(),
            "ooxoo", Stop.NONE, "11111"),
        new Case("a budget spent by the last switch stops nothing", 4, 1, 0, Set.of(), 0, "1", Set.of(4), Set.of(),
            "ooox", Stop.NONE, "1111"),
        new Case("waves of 3 run one after the other", 7, 8, 0, Set.of(), 3, null, Set.of(), Set.of(),
            "ooooooo", Stop.NONE, "1112223"),
        new Case("a failure in wave 1 goes on without a budget", 4, 8, 0, Set.of(), 2, null, Set.of(1), Set.of(),
            "xooo", Stop.NONE, "1122"),
        new Case("the budget stops the next wave", 6, 8, 0, Set.of(), 2, "1", Set.of(2), Set.of(),
            "ox----", Stop.BUDGET, "112233"),
        new Case("a canary, then waves of 2", 5, 8, 1, Set.of(), 2, null, Set.of(), Set.of(),
            "ooooo", Stop.NONE, "01122"),
    };

    @Test
    public void rollsOutInPhasesWithinTheBudget() throws Exception {
        for (Case c : CASES) {
            FakeBackend backend = new FakeBackend();
            backend.pauseMillis = 5;
            // A failure takes a little while, so that the updates started with it are surely
            // running by then, however loaded the machine; the slow ones take longer still.
            for (int i : c.failing()) {
                backend.codes.put(ip(i), -15);
                backend.pauses.put(ip(i), 40L);
            }
            for (int i : c.slow()) {
                backend.pauses.put(ip(i), 200L);
            }
            Path dir = tmp.newFolder().toPath();
            List<Slot> slots = new ArrayList<>();
            for (int i = 1; i <= c.switches(); i++) {
                Slot s = new Slot(FleetRunnerTest.job(i), dir.resolve(i + ".log"));
                s.canary = c.marked().contains(i);
                slots.add(s);
            }
            Rollout plan = Rollout.plan(slots, c.canary(), c.waveSize(),
                c.budget() == null ? null : Rollout.Budget.parse(c.budget()), 0);
            LogRouter router = new LogRouter(null);
            backend.open(router, 0);
            FleetRunner runner = new FleetRunner(backend, router, c.parallel(), System::nanoTime);
            Told told = new Told();
            runner.run(plan, slots, told, 5);

            StringBuilder outcome = new StringBuilder();
            StringBuilder waves = new StringBuilder();
            for (Slot s : slots) {
                outcome.append(switch (s.progress.state()) {
                    case SUCCEEDED -> 'o';
                    case FAILED -> 'x';
                    case SKIPPED -> '-';
                    default -> '?';
                });
                waves.append(s.wave);
            }
            assertEquals(c.what(), c.outcome(), outcome.toString());
            assertEquals(c.what(), c.waves(), waves.toString());
            assertEquals(c.what(), c.stop(), runner.stopReason());
            assertTrue(c.what() + ": " + backend.maxRunning.get(), backend.maxRunning.get() <= c.parallel());
            checkPhaseOrder(c.what(), slots, backend.events);
            for (Slot s : slots) {
                if (s.progress.state() == Progress.State.SKIPPED) {
                    assertEquals(c.what(), runner.stopWhy(), s.progress.notStartedWhy());
                }
            }
            String halted = told.said.stream().filter(t -> t.startsWith("halted")).findFirst().orElse("");
            switch (c.stop()) {
                case CANARY -> assertTrue(c.what() + ": " + told.said, halted.startsWith("halted the canary sw"));
                case BUDGET -> assertTrue(c.what() + ": " + told.said, halted.startsWith("halted the failure budget of "
                    + (c.budget().endsWith("%") ? c.budget() + " (" : c.budget() + " is spent")));
                default -> assertEquals(c.what(), "", halted);
            }
        }
    }

    /** Every update of a phase starts after every update of the phases before it has ended. */
    private static void checkPhaseOrder(String what, List<Slot> slots, List<String> events) {
        List<String> seen = new ArrayList<>(events);
        for (Slot later : slots) {
            int start = seen.indexOf("start " + later.job.address());
            if (start < 0) {
                continue;
            }
            for (Slot earlier : slots) {
                if (earlier.wave < later.wave) {
                    int end = seen.indexOf("end " + earlier.job.address());
                    assertTrue(what + ": " + later.job.name() + " started before " + earlier.job.name() + " ended: "
                        + seen, end >= 0 && end < start);
                }
            }
        }
    }

    @Test
    public void pausesBetweenWavesAndACtrlCEndsThePause() throws Exception {
        FakeBackend backend = new FakeBackend();
        backend.pauseMillis = 0;
        Path dir = tmp.newFolder().toPath();
        List<Slot> slots = new ArrayList<>();
        for (int i = 1; i <= 3; i++) {
            slots.add(new Slot(FleetRunnerTest.job(i), dir.resolve(i + ".log")));
        }
        LogRouter router = new LogRouter(null);
        backend.open(router, 0);
        FleetRunner runner = new FleetRunner(backend, router, 4, System::nanoTime);
        Told told = new Told();
        long t0 = System.nanoTime();
        runner.run(Rollout.plan(slots, 1, 1, null, 300), slots, told, 10);
        long ms = (System.nanoTime() - t0) / 1_000_000;
        assertTrue("three phases, two pauses of 300 ms: " + ms, ms >= 600);
        assertEquals(List.of("phase canary phase: 1 switch (sw1)", "phase pause before wave 1 of 2 (300 ms)",
            "phase wave 1 of 2: 1 switch (sw2)", "phase pause before wave 2 of 2 (300 ms)",
            "phase wave 2 of 2: 1 switch (sw3)"), told.said);

        // Ctrl-C during a long pause ends it at once; the next wave never starts.
        for (Slot s : slots) {
            s.canary = false;
        }
        List<Slot> again = new ArrayList<>();
        for (int i = 1; i <= 2; i++) {
            again.add(new Slot(FleetRunnerTest.job(i), dir.resolve("again" + i + ".log")));
        }
        FakeBackend second = new FakeBackend();
        LogRouter router2 = new LogRouter(null);
        second.open(router2, 0);
        FleetRunner stopped = new FleetRunner(second, router2, 4, System::nanoTime);
        second.onStart = n -> new Thread(() -> {
            sleep(200);
            stopped.requestStop();
        }).start();
        t0 = System.nanoTime();
        stopped.run(Rollout.plan(again, 0, 1, null, 60_000), again, new Told(), 10);
        ms = (System.nanoTime() - t0) / 1_000_000;
        assertTrue("the pause ended at Ctrl-C: " + ms, ms < 5_000);
        assertEquals(1, second.started.size());
        assertEquals(Progress.State.SKIPPED, again.get(1).progress.state());
        assertEquals("stopped by Ctrl-C", again.get(1).progress.notStartedWhy());
        assertEquals(Stop.INTERRUPTED, stopped.stopReason());
    }

    @Test
    public void theLiveTableShowsThePhaseAndTheBudgetLeft() throws Exception {
        FakeBackend backend = new FakeBackend();
        backend.pauseMillis = 0;
        backend.codes.put(ip(2), -15);
        Path dir = tmp.newFolder().toPath();
        List<Slot> slots = new ArrayList<>();
        for (int i = 1; i <= 5; i++) {
            slots.add(new Slot(FleetRunnerTest.job(i), dir.resolve(i + ".log")));
        }
        LogRouter router = new LogRouter(null);
        backend.open(router, 0);
        FleetRunner runner = new FleetRunner(backend, router, 4, System::nanoTime);
        java.io.ByteArrayOutputStream bytes = new java.io.ByteArrayOutputStream();
        FleetView.Live live = new FleetView.Live(new java.io.PrintStream(bytes, true, "UTF-8"), 200, 40);
        live.following(runner);
        List<String> before = live.render(slots, 0);
        assertEquals("0 running, 5 waiting, 0 ok, 0 failed", before.get(before.size() - 1));
        runner.run(Rollout.plan(slots, 1, 2, Rollout.Budget.parse("3"), 0), slots, live, 5);
        List<String> after = live.render(slots, 0);
        assertEquals("0 running, 0 waiting, 4 ok, 1 failed; wave 2 of 2, failure budget: 2 of 3 left",
            after.get(after.size() - 1));
        String shown = bytes.toString("UTF-8");
        assertTrue(shown, shown.contains("modburn: canary phase: 1 switch (sw1); failure budget: 3 of 3 left\n"));
        assertTrue(shown, shown.contains("modburn: wave 2 of 2: 2 switches (sw4, sw5); failure budget: 2 of 3 left\n"));
    }

    private static void sleep(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    @Test
    public void readsBudgets() {
        // budget, switches, limit (0: refused)
        Object[][] budgets = {
            {"1", 10, 1}, {"3", 2, 3}, {"50%", 4, 2}, {"10%", 15, 2}, {"1%", 3, 1}, {"100%", 7, 7},
            {"12.5%", 8, 1}, {" 2 ", 5, 2}, {"0", 5, 0}, {"0%", 5, 0}, {"101%", 5, 0}, {"-1", 5, 0},
            {"x", 5, 0}, {"5%%", 5, 0}, {"", 5, 0},
        };
        for (Object[] b : budgets) {
            try {
                int limit = Rollout.Budget.parse((String) b[0]).limit((Integer) b[1]);
                assertEquals("budget " + b[0], b[2], limit);
            } catch (IllegalArgumentException e) {
                assertEquals("budget " + b[0] + ": " + e.getMessage(), 0, b[2]);
                assertTrue(e.getMessage(), e.getMessage().startsWith("--max-failures takes"));
            }
        }
        try {
            Rollout.Budget.parse("0");
            fail();
        } catch (IllegalArgumentException e) {
            assertTrue(e.getMessage().contains("not \"0\""));
        }
    }
}
