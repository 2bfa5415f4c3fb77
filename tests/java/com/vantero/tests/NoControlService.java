package com.vantero.tests;

/** Lacks serviceControl. */
public final class NoControlService {
    private NoControlService() {}

    public static void serviceMain(String[] args) {
        TestRecord.line("serviceMain ran");
    }
}
