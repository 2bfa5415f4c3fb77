package com.vantero.tests;

/** Its serviceMain ends with an exception. */
public final class ThrowingService {
    private ThrowingService() {}

    public static void serviceMain(String[] args) {
        throw new IllegalStateException("the service gave up");
    }

    public static void serviceControl(int control) {}
}
