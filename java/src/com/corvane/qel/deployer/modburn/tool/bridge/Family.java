package com.corvane.qel.deployer.modburn.tool.bridge;

import com.corvane.qel.deployer.modburn.tool.secrets.FileUrl;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * The switch families the library serves: the code the library selects a module by, the names an
 * operator may type, the URL schemes the family's parameter check accepts and whether it has a
 * reboot stage. The tool checks a request against this table before anything is sent, so that an
 * obvious mistake is named in the operator's words rather than as a library status.
 */
public enum Family {
    CISCO_IOS(1, "Cisco IOS", "ciscoflash", true, Address.ANY, "ftp", "tftp", "rcp"),
    VELTRA(2, "Veltra", "veltraflash", false, Address.IP_ONLY, "tftp"),
    NORTEL(3, "Nortel", "nortelflash", true, Address.PORT_ALLOWED, "ftp", "tftp"),
    QLOGIC(4, "QLogic", "qlogicflash", true, Address.ANY, "ftp", "tftp"),
    MCDATA(5, "McData", "mcdataflash", true, Address.ANY, "ftp"),
    BROCADE(6, "Brocade", "brocadeflash", true, Address.ANY, "ftp"),
    TOPSPIN(7, "Topspin", "topspinflash", true, Address.ANY, "ftp", "tftp"),
    INTEL(8, "Intel", "intelflash", true, Address.IP_ONLY, "tftp"),
    CISCO_FC(9, "Cisco FC", "ciscofcflash", true, Address.ANY, "ftp", "tftp"),
    IB_BRIDGE(10, "IB bridge", "ibbridgeflash", true, Address.ANY, "ftp"),
    SAS(11, "SAS", "sasflash", false, Address.IP_ONLY, "tftp");

    /** What a family's parameter check accepts as the switch address. */
    public enum Address {
        ANY("name or IP"),
        IP_ONLY("IP only"),
        PORT_ALLOWED("name or IP, :port allowed");

        public final String text;

        Address(String text) {
            this.text = text;
        }
    }

    public final int code;
    public final String displayName;
    public final String module;
    public final boolean reboots;
    public final Address address;
    public final List<String> schemes;

    Family(int code, String displayName, String module, boolean reboots, Address address, String... schemes) {
        this.code = code;
        this.displayName = displayName;
        this.module = module;
        this.reboots = reboots;
        this.address = address;
        this.schemes = List.of(schemes);
    }

    /** The modifier values the family accepts, as text for the operator; only SAS uses one. */
    public String modifierText() {
        return this == SAS ? "1 main, 2 SM1, 3 SM2" : "-";
    }

    /** Whether the family's parameter check accepts this modifier. */
    public boolean acceptsModifier(int modifier) {
        return this != SAS || (modifier >= 1 && modifier <= 3);
    }

    /**
     * What is wrong with a request for this family that the tool can tell before anything is
     * sent, as a message for the operator, or null when nothing is.
     */
    public String problemWith(String url, boolean reboot, int modifier) {
        String refused = FileUrl.problem(url);
        if (refused != null) {
            return refused;
        }
        String scheme = schemeOf(url);
        if (scheme == null) {
            return "the URL \"" + FileUrl.masked(url) + "\" has no scheme (ftp://, tftp://...)";
        }
        if (!acceptsScheme(scheme)) {
            return displayName + " takes " + schemesText() + " URLs, not " + scheme;
        }
        if (reboot && !reboots) {
            return displayName + " has no reboot stage; leave the reboot out";
        }
        if (!acceptsModifier(modifier)) {
            return displayName + " needs a modifier: " + modifierText();
        }
        return null;
    }

    /** The accepted schemes for a sentence: "ftp", "ftp or tftp", "ftp, tftp or rcp". */
    public String schemesText() {
        int n = schemes.size();
        return n == 1 ? schemes.get(0) : String.join(", ", schemes.subList(0, n - 1)) + " or " + schemes.get(n - 1);
    }

    /** The scheme of a URL as typed (text before "://"), or null when it has none. */
    public static String schemeOf(String url) {
        int at = url.indexOf("://");
        return at <= 0 ? null : url.substring(0, at);
    }

    /**
     * Whether this family takes a URL of the given scheme. Schemes are compared as typed: several
     * families refuse a scheme written in capitals, and the tool does not second-guess that.
     */
    public boolean acceptsScheme(String scheme) {
        return scheme != null && schemes.contains(scheme);
    }

    /**
     * Finds a family by its code ("6"), its display name ("Brocade", "Cisco FC"), its module
     * name ("brocadeflash") or a short form; case, blanks, '-' and '_' do not matter.
     * Returns null when nothing matches.
     */
    public static Family lookup(String text) {
        if (text == null) {
            return null;
        }
        String trimmed = text.strip();
        if (trimmed.matches("[-+]?[0-9]+")) {
            for (Family f : values()) {
                if (trimmed.equals(Integer.toString(f.code))) {
                    return f;
                }
            }
            return null;
        }
        String key = normalise(text);
        if (key.isEmpty()) {
            return null;
        }
        for (Family f : values()) {
            if (f.aliases().contains(key)) {
                return f;
            }
        }
        return null;
    }

    /** The names that select this family, normalised. */
    public List<String> aliases() {
        List<String> names = new ArrayList<>();
        names.add(normalise(displayName));
        names.add(normalise(module));
        names.add(normalise(module.substring(0, module.length() - "flash".length())));
        switch (this) {
            case CISCO_IOS -> names.add("ios");
            case IB_BRIDGE -> names.add("ib");
            case SAS -> names.add("sasswitch");
            default -> { }
        }
        return names;
    }

    private static String normalise(String s) {
        StringBuilder b = new StringBuilder();
        for (char c : s.trim().toLowerCase(Locale.ROOT).toCharArray()) {
            if (c != ' ' && c != '-' && c != '_') {
                b.append(c);
            }
        }
        return b.toString();
    }

    /** The families as a list for the error message of an unknown name. */
    public static String choices() {
        StringBuilder b = new StringBuilder();
        for (Family f : values()) {
            if (b.length() > 0) {
                b.append(", ");
            }
            b.append(f.code).append(' ').append(f.displayName);
        }
        return b.toString();
    }
}
