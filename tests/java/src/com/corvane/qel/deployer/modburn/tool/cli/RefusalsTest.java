package com.corvane.qel.deployer.modburn.tool.cli;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import com.corvane.qel.deployer.modburn.tool.testing.FakeBackend;
import com.corvane.qel.deployer.modburn.tool.testing.FileServers;
import com.corvane.qel.deployer.modburn.tool.testing.Shown;
import com.corvane.qel.deployer.modburn.tool.testing.ToolRun;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

/**
 * What the tool refuses before anything starts, for update, check and fleet alike: URLs whose
 * password it cannot show hidden or carry, and user names or passwords holding a control
 * character. Nothing is updated, and nothing of a secret shows.
 */
public class RefusalsTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static final String NO_SCHEME = "fw:Url-Secret5@10.0.0.5/fos/v9.bin";
    private static final String SLASHED = "ftp://fw:Url/Secret6@10.0.0.5/fos/v9.bin";
    private static final String LINE_END_PW = "Nl-Secret4\nreboot";
    private static final String[] SECRETS = {"Url-Secret5", "Url/Secret6", LINE_END_PW, "sw-Secret1"};

    /** A row: what it shows, the arguments, an inventory (null: none), the status and a piece of what is said. */
    record Row(String what, String[] args, String inventory, int status, String says) {
    }

    private static String[] args(String... a) {
        return a;
    }

    private static final String HEAD = "family,address,user,password,url,name\n";

    @Test
    public void refusesBeforeAnythingStartsAndShowsNoSecret() throws Exception {
        String down = "127.0.0.1:" + FileServers.freeTcpPort();
        Row[] rows = {
            new Row("a URL without :// is shown with its password hidden",
                args("update", "brocade", "10.0.0.1", "admin", NO_SCHEME, "--password-file", "pw"), null,
                ExitStatus.REFUSED, "has no scheme"),
            new Row("the same, checked", args("check", "brocade", down, "admin", NO_SCHEME, "--password-file", "pw"),
                null, ExitStatus.SOME_FAILED, "has no scheme"),
            new Row("the same, in an inventory", args("fleet", "inv.csv", "--log-dir=logs"),
                HEAD + "brocade,10.0.0.1,admin,file:pw," + NO_SCHEME + ",a\n", ExitStatus.SETUP, "has no scheme"),
            new Row("a URL password holding / is refused: percent-encode it",
                args("update", "brocade", "10.0.0.1", "admin", SLASHED, "--password-file", "pw"), null,
                ExitStatus.REFUSED, "percent-encode"),
            new Row("the same, checked", args("check", "brocade", down, "admin", SLASHED, "--password-file", "pw"),
                null, ExitStatus.SOME_FAILED, "percent-encode"),
            new Row("the same, in an inventory", args("fleet", "inv.csv", "--log-dir=logs"),
                HEAD + "brocade,10.0.0.1,admin,file:pw," + SLASHED + ",a\n", ExitStatus.SETUP, "percent-encode"),
            new Row("a password with a line end would type a command of its own",
                args("update", "brocade", "10.0.0.1", "admin", "ftp://fw@10.0.0.5/f", "--password-env", "NL_PW"),
                null, ExitStatus.SETUP, "holds a control character"),
            new Row("the same, in an inventory", args("fleet", "inv.csv", "--log-dir=logs"),
                HEAD + "brocade,10.0.0.1,admin,env:NL_PW,ftp://fw@10.0.0.5/f,a\n", ExitStatus.SETUP,
                "holds a control character"),
            new Row("the same, checked", args("check", "inv.csv"),
                HEAD + "brocade," + down + ",admin,env:NL_PW,ftp://fw@" + down + "/f,a\n", ExitStatus.SOME_FAILED,
                "holds a control character"),
            new Row("a user name with a control character",
                args("update", "brocade", "10.0.0.1", "adm\u001bin", "ftp://fw@10.0.0.5/f", "--password-file", "pw"),
                null, ExitStatus.USAGE, "control character"),
            new Row("the same, checked",
                args("check", "brocade", down, "ad\rmin", "ftp://fw@10.0.0.5/f", "--password-file", "pw"),
                null, ExitStatus.USAGE, "control character"),
            new Row("the same, in an inventory (a quoted field)", args("fleet", "inv.csv", "--log-dir=logs"),
                HEAD + "brocade,10.0.0.1,\"ad\nmin\",file:pw,ftp://fw@10.0.0.5/f,a\n", ExitStatus.SETUP,
                "user: holds a control character"),
        };
        for (Row r : rows) {
            Path dir = tmp.newFolder().toPath();
            Files.writeString(dir.resolve("pw"), "sw-Secret1\n");
            if (r.inventory() != null) {
                Files.writeString(dir.resolve("inv.csv"), r.inventory());
            }
            FakeBackend backend = new FakeBackend();
            ToolRun tool = new ToolRun(dir, () -> backend);
            tool.env = Map.of("NL_PW", LINE_END_PW);
            int rc = tool.run(r.args());
            String said = tool.out() + tool.err();
            String what = r.what() + ":\n" + Shown.printable(said);
            assertEquals(what, r.status(), rc);
            assertTrue(what, said.contains(r.says()));
            assertTrue(what, backend.started.isEmpty());
            assertTrue(what, !Files.exists(dir.resolve("logs")));
            Shown.assertNoPiece(r.what(), said, SECRETS);
            Shown.assertNoControl(r.what(), said);
        }
    }
}
