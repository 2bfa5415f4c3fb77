package com.vantero.tests;

/** Its static initializer throws, so the class exists but cannot be initialized. */
public final class InitFailingService {
    private static final String SETTING = load();

    private InitFailingService() {}

    private static String load() {
        throw new IllegalStateException("no configuration for the service");
    }

    public static void serviceMain(String[] args) {
        TestRecord.line("serviceMain " + SETTING);
    }

    public static void serviceControl(int control) {}
}
