package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;

/** Reports start-pending from its static initializer, before serviceMain runs. */
public final class StaticReportService {
    static {
        BrontelManager.setServiceState(BrontelManager.SERVICE_START_PENDING, 0, 0, 1, 5000);
        TestRecord.line("initialized");
    }

    private StaticReportService() {}

    public static void serviceMain(String[] args) {
        TestRecord.line("serviceMain");
    }

    public static void serviceControl(int control) {}
}
