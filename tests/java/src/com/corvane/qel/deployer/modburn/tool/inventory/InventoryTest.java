package com.corvane.qel.deployer.modburn.tool.inventory;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordSource;
import com.corvane.qel.deployer.modburn.tool.testing.Shown;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class InventoryTest {
    @Rule
    public TemporaryFolder tmp = new TemporaryFolder();

    private static final Path BASE = Path.of("/inv");

    private static List<Entry> csv(String text) throws InventoryException {
        return Inventory.parse(text, false, BASE, "fleet.csv");
    }

    private static List<Entry> json(String text) throws InventoryException {
        return Inventory.parse(text, true, BASE, "fleet.json");
    }

    @Test
    public void readsCsvWithQuotesCommentsAndDefaults() throws Exception {
        String text = "# lab fleet\n"
            + "Family,Address,User,Password,URL,Reboot,Modifier,name\n"
            + "\n"
            + "brocade,10.0.0.1,admin,file:pw.txt,ftp://fw@srv/v7.bin,yes,,core-1\r\n"
            + "  # a comment between rows\n"
            + "1,\"10.0.0.2\",\"ad\"\"min\",env:SW_PW,\"tftp://srv/ios,v2.bin\",no,0,\n"
            + "sas,10.0.0.3,USERID,prompt:lab,tftp://srv/sas.bin,,2,\n";
        List<Entry> e = csv(text);
        assertEquals(3, e.size());
        Entry a = e.get(0);
        assertEquals(4, a.line());
        assertEquals("core-1", a.name());
        assertEquals(Family.BROCADE, a.family());
        assertEquals("10.0.0.1", a.address());
        assertEquals(PasswordSource.file(Path.of("/inv/pw.txt")), a.password());
        assertTrue(a.reboot());
        assertEquals(0, a.modifier());
        assertNull(a.urlPassword());
        Entry b = e.get(1);
        assertEquals(6, b.line());
        assertEquals("10.0.0.2", b.name());
        assertEquals("ad\"min", b.user());
        assertEquals("tftp://srv/ios,v2.bin", b.url());
        assertEquals(Family.CISCO_IOS, b.family());
        assertFalse(b.reboot());
        assertEquals(2, e.get(2).modifier());
        assertEquals(PasswordSource.prompt("lab"), e.get(2).password());
        assertFalse(a.canary());
    }

    @Test
    public void readsTheCanaryColumnAndRecordLinesAcrossQuotedLineEnds() throws Exception {
        // A line end in a quoted field: in a name (a URL or a user name holding one is refused).
        String text = "family,address,user,password,url,canary,name\n"
            + "brocade,10.0.0.1,admin,file:pw,ftp://fw@srv/a.bin,yes,\"core\na\"\n"
            + "\n"
            + "# a comment\n"
            + "brocade,10.0.0.2,admin,file:pw,ftp://fw@srv/v.bin,,\n"
            + "brocade,10.0.0.3,admin,file:pw,ftp://fw@srv/v.bin,no,";
        List<Entry> e = csv(text);
        // line, canary
        Object[][] rows = {{2, true}, {6, false}, {7, false}};
        for (int i = 0; i < rows.length; i++) {
            assertEquals(e.get(i).address(), rows[i][0], e.get(i).line());
            assertEquals(e.get(i).address(), rows[i][1], e.get(i).canary());
        }
        List<Entry> j = json("{\"switches\": [{\"family\": \"brocade\", \"address\": \"h\", \"user\": \"u\",\n"
            + " \"password\": \"file:p\", \"url\": \"ftp://u@s/f\", \"canary\": true}]}");
        assertTrue(j.get(0).canary());
    }

    @Test
    public void readsTheChassisAndTheGroupOfEachModule() throws Exception {
        String csv = "family,address,user,password,url,name,chassis,group\n"
            + "brocade,10.0.0.1,admin,file:pw,ftp://fw@srv/v.bin,a1,bay 7,left\n"
            + "brocade,10.0.0.2,admin,file:pw,ftp://fw@srv/v.bin,a2,bay 7,left\n"
            + "brocade,10.0.0.3,admin,file:pw,ftp://fw@srv/v.bin,a3,bay 7,\n"
            + "brocade,10.0.0.4,admin,file:pw,ftp://fw@srv/v.bin,b1,bay 8,\n";
        List<Entry> e = csv(csv);
        // chassis, group, where it is shown to sit
        String[][] rows = {{"bay 7", "left", "bay 7/left"}, {"bay 7", "left", "bay 7/left"}, {"bay 7", "", "bay 7"},
            {"bay 8", "", "bay 8"}};
        for (int i = 0; i < rows.length; i++) {
            assertEquals(List.of(rows[i]), List.of(e.get(i).chassis(), e.get(i).group(), e.get(i).place()));
        }
        // One redundancy set per chassis and group: a group is a set of its own, apart from the rest.
        assertEquals(e.get(0).redundancySet(), e.get(1).redundancySet());
        assertFalse(e.get(0).redundancySet().equals(e.get(2).redundancySet()));
        assertFalse(e.get(2).redundancySet().equals(e.get(3).redundancySet()));
        List<Entry> none = csv("family,address,user,password,url\nbrocade,h,u,file:pw,ftp://u@s/f\n");
        assertNull(none.get(0).redundancySet());
        List<Entry> j = json("[{\"family\": \"brocade\", \"address\": \"h\", \"user\": \"u\", \"password\": \"file:p\","
            + " \"url\": \"ftp://u@s/f\", \"chassis\": \"c1\", \"group\": \"B\"}]");
        assertEquals("c1/B", j.get(0).place());
    }

    @Test
    public void readsJsonArraysAndSwitchesObjects() throws Exception {
        String array = "[\n"
            + " {\"family\": \"brocade\", \"address\": \"10.0.0.1\", \"user\": \"admin\",\n"
            + "  \"password\": \"file:pw\", \"url\": \"ftp://fw@srv/v.bin\", \"url_password\": \"env:FTP_PW\",\n"
            + "  \"reboot\": true, \"modifier\": 0},\n"
            + " {\"family\": 11, \"address\": \"10.0.0.3\", \"user\": \"u\", \"password\": \"prompt\",\n"
            + "  \"url\": \"tftp://srv/s.bin\", \"modifier\": 3, \"reboot\": null}\n"
            + "]\n";
        List<Entry> e = json(array);
        assertEquals(2, e.size());
        assertEquals(2, e.get(0).line());
        assertTrue(e.get(0).reboot());
        assertEquals(PasswordSource.env("FTP_PW"), e.get(0).urlPassword());
        assertEquals(Family.SAS, e.get(1).family());
        assertEquals(5, e.get(1).line());
        assertEquals(3, e.get(1).modifier());
        assertFalse(e.get(1).reboot());
        List<Entry> wrapped = json("{\"switches\": " + array + "}");
        assertEquals(e, wrapped);
    }

    @Test
    public void namesTheLineOfEveryDefect() {
        String head = "family,address,user,password,url,reboot,modifier\n";
        // inventory text (CSV unless it starts with [ or {), expected message parts
        String[][] cases = {
            {head + "brokade,10.0.0.1,admin,file:pw,ftp://u@s/f,no,0\n", "fleet.csv: line 2: unknown family \"brokade\""},
            {head + "brocade,,admin,file:pw,ftp://u@s/f,no,0\n", "line 2: address is missing"},
            {head + "brocade,10.0.0.1,,file:pw,ftp://u@s/f,no,0\n", "line 2: user is missing"},
            {head + "brocade,10.0.0.1,admin,,ftp://u@s/f,no,0\n", "line 2: password is missing"},
            {head + "brocade,10.0.0.1,admin,hunter2,ftp://u@s/f,no,0\n", "line 2: password: expected a password reference"},
            {head + "brocade,10.0.0.1,admin,file:pw,,no,0\n", "line 2: url is missing"},
            {head + "brocade,10.0.0.1,admin,file:pw,tftp://s/f,no,0\n", "line 2: Brocade takes ftp URLs, not tftp"},
            {head + "brocade,10.0.0.1,admin,file:pw,ftp://u@s/f,maybe,0\n", "line 2: reboot must be yes or no"},
            {head + "brocade,10.0.0.1,admin,file:pw,ftp://u@s/f,no,x\n", "line 2: modifier must be a whole number"},
            {head + "sas,10.0.0.1,admin,file:pw,tftp://s/f,no,0\n", "line 2: SAS needs a modifier"},
            {head + "veltra,10.0.0.1,admin,file:pw,tftp://s/f,yes,0\n", "line 2: Veltra has no reboot stage"},
            {head + "brocade,10.0.0.1,admin,file:pw,ftp://u@s/f,no\n", "line 2: 6 fields, but the header on line 1 names 7"},
            {head + "brocade,10.0.0.1 x,admin,file:pw,ftp://u@s/f,no,0\n", "line 2: the address holds a blank"},
            {head + "brocade,10.0.0.1,admin,file:pw,\"ftp://u@s/f,no,0\n", "line 2: a quoted field is never closed"},
            {head + "brocade,10.0.0.1,admin,file:pw,\"ftp://u@s/f\"x,no,0\n", "line 2: text after a closing quote"},
            {head + "brocade,10.0.0.1,admin,file:pw,ftp://u@s/f,no,0\n"
                + "brocade,10.0.0.1,admin,file:pw,ftp://u@s/f,no,0\n", "line 3: the switch 10.0.0.1 is already listed on line 2"},
            {"family,address,user,password\n", "line 1: the header lacks the column url"},
            {"family,address,user,password,url,colour\n", "line 1: unknown column \"colour\""},
            {"family,address,user,password,url,url\n", "line 1: column url appears twice"},
            {"# only a comment\n", "has no header line"},
            {head, "lists no switches"},
            {"family,address,user,password,url,url_password\nbrocade,h,u,file:pw,ftp://s/f,env:X\n",
                "line 2: url_password: the URL names no login"},
            {"[\n {\"family\": \"brocade\",\n  \"adress\": \"h\"}\n]", "fleet.json: line 3: unknown member \"adress\""},
            {"[\n {\"family\": \"brocade\", \"address\": \"h\", \"user\": \"u\",\n"
                + "  \"password\": \"file:p\", \"url\": \"ftp://u@s/f\", \"modifier\": [1]}\n]",
                "line 3: modifier must be a string, number or boolean"},
            {"[\n {\"family\": \"brocade\", \"address\": \"h\", \"user\": \"u\",\n"
                + "  \"password\": \"file:p\", \"url\": \"ftp://u@s/f\", \"modifier\": 1.5}\n]",
                "line 3: modifier must be a whole number"},
            {"[\n {\"family\": \"brocade\", \"user\": \"u\",\n  \"password\": \"p\", \"url\": \"ftp://u@s/f\"}\n]",
                "line 2: address is missing"},
            {"{\"routers\": []}", "line 1: expected an array of switches"},
            {"[\n 1\n]", "expected every switch to be an object"},
            {"[\n {\"family\": \"brocade\",}\n]", "line 2, column 24: Unexpected character ('}'"},
            {"[\n {\"family\": \"brocade\",\n  \"family\": \"cisco\"}\n]", "line 3, column 11: Duplicate field 'family'"},
            {"[{}] {}", "line 1, column 6: unexpected text after the end"},
            {"[" + "[".repeat(150), "nested deeper than 100 levels"},
            {head.replace("modifier", "modifier,canary") + "brocade,10.0.0.1,admin,file:pw,ftp://u@s/f,no,0,perhaps\n",
                "line 2: canary must be yes or no, not \"perhaps\""},
            {head + "\n# note\n\"brocade\",10.0.0.1,admin,file:pw,\"ftp://u@s/f\nx,no,0\n", "line 4: a quoted field is never closed"},
            // A control character in a user name would be typed on the switch as a key of its own.
            {head + "brocade,10.0.0.1,\"ad\nmin\",file:pw,ftp://u@s/f,no,0\n", "line 2: user: holds a control character"},
            {head + "brocade,10.0.0.1,adm\u001bin,file:pw,ftp://u@s/f,no,0\n", "line 2: user: holds a control character"},
            {head + "brocade,10.0.0.1\u0007,admin,file:pw,ftp://u@s/f,no,0\n",
                "line 2: the address holds a blank or a control character"},
            // A URL is typed on the switch too; so is a password holding a "/" the URL cannot carry.
            {"[\n {\"family\": \"brocade\", \"address\": \"h\", \"user\": \"u\",\n  \"password\": \"file:p\","
                + " \"url\": \"ftp://u@s/a\\u001bb\"}\n]", "line 2: the URL holds a control character"},
            {head + "brocade,10.0.0.1,admin,file:pw,ftp://u:hun/ter2@s/f,no,0\n", "line 2: the URL's password holds a"},
            // A rollout that knows the chassis knows every module's.
            {"family,address,user,password,url,chassis\nbrocade,h1,u,file:pw,ftp://u@s/f,c1\n"
                + "brocade,h2,u,file:pw,ftp://u@s/f,\n", "line 3: chassis is missing"},
            {"family,address,user,password,url,group\nbrocade,h1,u,file:pw,ftp://u@s/f,left\n",
                "line 2: a group belongs to a chassis"},
        };
        for (String[] c : cases) {
            try {
                Inventory.parse(c[0], c[0].startsWith("[") || c[0].startsWith("{"), BASE,
                    c[0].startsWith("[") || c[0].startsWith("{") ? "fleet.json" : "fleet.csv");
                fail("accepted: " + c[0]);
            } catch (InventoryException e) {
                assertTrue(c[0] + "\ngave: " + e.getMessage(), e.getMessage().contains(c[1]));
                assertFalse(e.getMessage(), e.getMessage().contains("hunter2"));
            }
        }
    }

    @Test
    public void aJsonSyntaxErrorNamesItsPlaceButNeverItsText() {
        // A password written without its quotes (or any bare word) must not come back in the message.
        String pw = "Hunter2Secret";
        String head = "[{\"family\": \"brocade\",\n ";
        // JSON text, the place named, what the message says
        String[][] rows = {
            {head + "\"password\": " + pw + "}]", "line 2, column 27", "double quotes"},
            {head + "\"password\": tru" + pw + "}]", "line 2, column 30", "double quotes"},
            {head + "\"password\": nul" + pw + "}]", "line 2, column 30", "double quotes"},
            {head + "\"password\": 9" + pw + "}]", "line 2, column 16", "Unexpected character"},
            {head + "\"password\": -" + pw + "}]", "line 2, column 16", "not a number"},
            {head + "\"password\": 12.5e" + pw + "}]", "line 2, column 17", "not a number"},
            {head + "\"password\": '" + pw + "'}]", "line 2, column 15", "Unexpected character"},
            {head + pw + ": \"file:pw\"}]", "line 2, column 3", "member name"},
            {head + "\"password\": \"file:pw\" " + pw + "}]", "line 2, column 25", "Unexpected character"},
            {head + "\"" + pw + "\": 1, \"" + pw + "\": 2}]", "line 2, column 37", "appears twice"},
            {head + "\"password\": \"a\\q" + pw + "\"}]", "line 2, column 18", "escape"},
            {head + "\"password\": \"" + pw + "\n\"}]", "line 2, column 29", "control character"},
            {head + "\"password\": \"" + pw, "line 2, column 28", "ends"},
            {"[{\"password\": [\"" + pw + "\"", "line 1, column ", "ends"},
            {"[{\"family\": \"brocade\"}] " + pw, "line 1, column 38", "bare word"},
        };
        for (String[] r : rows) {
            try {
                json(r[0]);
                fail("accepted: " + r[0]);
            } catch (InventoryException e) {
                String said = e.getMessage();
                assertTrue(r[0] + "\ngave: " + said, said.startsWith("fleet.json: " + r[1]));
                assertTrue(r[0] + "\ngave: " + said, said.contains(r[2]));
                Shown.assertNoPiece(r[0], said, pw);
            }
        }
    }

    @Test
    public void reportsEveryDefectNotJustTheFirst() {
        String text = "family,address,user,password,url\n"
            + "brokade,10.0.0.1,admin,file:pw,ftp://u@s/f\n"
            + "brocade,10.0.0.2,admin,file:pw,ftp://u@s/f\n"
            + "brocade,10.0.0.3,,file:pw,tftp://s/f\n";
        try {
            csv(text);
            fail();
        } catch (InventoryException e) {
            assertEquals(3, e.problems.size());
            assertTrue(e.problems.get(0).contains("line 2"));
            assertTrue(e.problems.get(1).contains("line 4: user is missing"));
            assertTrue(e.problems.get(2).contains("line 4: Brocade takes ftp"));
        }
    }

    @Test
    public void readsFilesByTheirExtensionOrContent() throws Exception {
        Path dir = tmp.newFolder("inv").toPath();
        Path j = dir.resolve("fleet.json");
        Files.writeString(j, "[{\"family\":\"6\",\"address\":\"h\",\"user\":\"u\",\"password\":\"file:pw\",\"url\":\"ftp://u@s/f\"}]");
        assertEquals(dir.resolve("pw").toAbsolutePath(), Path.of(Inventory.read(j).get(0).password().arg));
        Path noExt = dir.resolve("fleet");
        Files.writeString(noExt, "family,address,user,password,url\n6,h,u,file:pw,ftp://u@s/f\n");
        assertEquals(1, Inventory.read(noExt).size());
        Path empty = dir.resolve("empty.json");
        Files.writeString(empty, "");
        try {
            Inventory.read(empty);
            fail();
        } catch (InventoryException e) {
            assertTrue(e.getMessage(), e.getMessage().contains("empty.json: line 1, column 1: no JSON value"));
        }
        Path bad = dir.resolve("bad.csv");
        Files.write(bad, new byte[] {'f', (byte) 0xff, '\n'});
        try {
            Inventory.read(bad);
            fail();
        } catch (InventoryException e) {
            assertTrue(e.getMessage().contains("not UTF-8"));
        }
        try {
            Inventory.read(dir.resolve("missing.csv"));
            fail();
        } catch (InventoryException e) {
            assertTrue(e.getMessage().contains("cannot be read"));
        }
    }
}
