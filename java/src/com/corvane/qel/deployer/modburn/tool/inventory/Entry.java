package com.corvane.qel.deployer.modburn.tool.inventory;

import com.corvane.qel.deployer.modburn.tool.bridge.Family;
import com.corvane.qel.deployer.modburn.tool.bridge.Job;
import com.corvane.qel.deployer.modburn.tool.secrets.PasswordSource;

/** One switch of the inventory, checked but with its passwords not yet read. */
public record Entry(int line, String name, Family family, String address, String user,
                    PasswordSource password, String url, PasswordSource urlPassword,
                    boolean reboot, int modifier, boolean canary) {

    /** The update of this switch with its passwords read: url already holds any URL password. */
    public Job job(String switchPassword, String url, int debugLevel) {
        return new Job(name, line, family, address, user, switchPassword, url, reboot, modifier, debugLevel);
    }
}
