package com.corvane.qel.deployer.modburn.tool.fleet;

/** Why a rollout stopped before every switch had started. */
public enum Stop { NONE, INTERRUPTED, CANARY, BUDGET }
