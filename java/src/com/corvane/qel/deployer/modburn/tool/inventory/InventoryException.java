package com.corvane.qel.deployer.modburn.tool.inventory;

import java.util.List;

/** All defects of an inventory, each naming its line. */
public final class InventoryException extends Exception {
    private static final long serialVersionUID = 1L;
    public final List<String> problems;

    InventoryException(List<String> problems) {
        super(String.join("\n", problems));
        this.problems = List.copyOf(problems);
    }
}
