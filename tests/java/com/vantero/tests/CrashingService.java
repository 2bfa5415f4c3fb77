package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;
import java.util.concurrent.CountDownLatch;

/**
 * For the recovery actions. Records "running PID" once running. Control 200 kills the process
 * (a crash: no report, no exit hook); control 202 halts the VM with 3 (an exit with a non-zero
 * code, reported as a stop); control 201 reports stopped with the service-specific exit code 42;
 * stop reports stopped with 0.
 */
public final class CrashingService {
    private static final CountDownLatch stop = new CountDownLatch(1);

    private CrashingService() {}

    public static void serviceMain(String[] args) throws InterruptedException {
        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING, BrontelManager.SERVICE_ACCEPT_STOP, 0, 0, 0);
        TestRecord.line("running " + SignalService.pid());
        stop.await();
    }

    public static void serviceControl(int control) {
        TestRecord.line("control " + control);
        if (control == 200) {
            try {
                new ProcessBuilder("kill", "-KILL", SignalService.pid()).start().waitFor();
            } catch (java.io.IOException | InterruptedException e) {
                throw new IllegalStateException("cannot crash", e);
            }
        } else if (control == 202) {
            Runtime.getRuntime().halt(3);
        } else if (control == 201 || control == BrontelManager.SERVICE_CONTROL_STOP) {
            BrontelManager.setServiceState(BrontelManager.SERVICE_STOPPED, 0, control == 201 ? 42 : 0, 0, 0);
            stop.countDown();
        }
    }
}
