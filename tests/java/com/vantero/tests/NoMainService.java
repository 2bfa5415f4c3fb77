package com.vantero.tests;

/** Lacks serviceMain. */
public final class NoMainService {
    private NoMainService() {}

    public static void serviceControl(int control) {}
}
