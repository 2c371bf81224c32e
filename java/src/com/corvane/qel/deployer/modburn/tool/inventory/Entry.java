package com.corvane.qel.deployer.modburn.tool.inventory;

import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordSource;

/**
 * One switch of the inventory, checked but with its passwords not yet read. chassis names the
 * blade chassis the module sits in and group its redundancy set there ("" when the inventory
 * names none: the whole chassis is one set). expectVersion is the version a verified update
 * must leave in the switch's versions ("" when the row names none).
 */
public record Entry(int line, String name, Family family, String address, String user,
                    PasswordSource password, String url, PasswordSource urlPassword,
                    boolean reboot, int modifier, boolean canary, String chassis, String group,
                    String expectVersion) {

    /** The update of this switch with its passwords read: url already holds any URL password. */
    public Job job(String switchPassword, String url, int debugLevel) {
        return new Job(name, line, family, address, user, switchPassword, url, reboot, modifier, debugLevel);
    }

    /**
     * The redundancy set the module belongs to (its chassis and group) as a key, or null when the
     * inventory names no chassis: the modules of one set keep the blades' paths only while one of
     * them is up.
     */
    public String redundancySet() {
        return chassis.isEmpty() ? null : chassis + "\u0000" + group;
    }

    /** Where the module sits, as shown: "c07", or "c07/left" for a group of its own ("" for none). */
    public String place() {
        return group.isEmpty() ? chassis : chassis + "/" + group;
    }
}
