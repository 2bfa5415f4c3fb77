package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;
import java.util.concurrent.CountDownLatch;

/**
 * Runs until stopped. Its states are reported from a worker thread of its own; every control is
 * recorded; stop reports stop-pending at once and stopped (with the exit code in
 * brontel.test.stopCode) once the worker has ended, brontel.test.stopDelayMs after the stop.
 */
public final class StoppableService {
    private static final CountDownLatch stop = new CountDownLatch(1);

    private StoppableService() {}

    public static void serviceMain(String[] args) throws InterruptedException {
        Thread worker = new Thread(() -> {
            BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING,
                    BrontelManager.SERVICE_ACCEPT_STOP | BrontelManager.SERVICE_ACCEPT_SHUTDOWN, 0, 0, 0);
            TestRecord.line("running");
            try {
                stop.await();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            try {
                Thread.sleep(Long.getLong("brontel.test.stopDelayMs", 0));
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            // With brontel.test.silentStop the final report is left to brontel.
            if (!Boolean.getBoolean("brontel.test.silentStop")) {
                BrontelManager.setServiceState(BrontelManager.SERVICE_STOPPED, 0,
                        Integer.getInteger("brontel.test.stopCode", 0), 0, 0);
            }
            TestRecord.line("stopped");
        }, "service-worker");
        worker.start();
        worker.join();
    }

    public static void serviceControl(int control) {
        TestRecord.line("control " + control);
        if (control == BrontelManager.SERVICE_CONTROL_STOP
                || control == BrontelManager.SERVICE_CONTROL_SHUTDOWN) {
            BrontelManager.setServiceState(BrontelManager.SERVICE_STOP_PENDING, 0, 0, 1, 3000);
            stop.countDown();
        }
    }

    public static boolean consoleSignal(int event) {
        TestRecord.line("console " + event);
        return Boolean.getBoolean("brontel.test.handleConsole");
    }
}
