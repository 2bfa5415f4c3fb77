package com.vantero.tests;

import java.io.IOException;

/** SignalService without a consoleSignal method: console events are never handled in Java. */
public final class SignalPlainService {
    private SignalPlainService() {}

    public static void serviceMain(String[] args) throws InterruptedException, IOException {
        SignalService.run();
    }

    public static void serviceControl(int control) {
        SignalService.control(control);
    }
}
