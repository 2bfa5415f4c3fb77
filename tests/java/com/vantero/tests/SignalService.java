package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;
import java.io.File;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.time.Instant;
import java.util.concurrent.CountDownLatch;

/**
 * Runs until stopped, for the signal tests. Records "running PID" once running, each control
 * ("control N") and console event ("console N"), and "ended PID" when serviceMain returns.
 * consoleSignal answers the system property brontel.test.consoleResult (default false).
 * With brontel.test.sendControl=N and brontel.test.sendOnce=FILE it asks once, while FILE does
 * not exist yet (it creates it), for control N to be sent to its own service, and records
 * "sent true|false". With brontel.test.timestamps=true each control line ends with the wall-clock
 * time of the call in nanoseconds since the epoch.
 */
public final class SignalService {
    private static final CountDownLatch stop = new CountDownLatch(1);

    private SignalService() {}

    static String pid() {
        String name = ManagementFactory.getRuntimeMXBean().getName();
        return name.substring(0, name.indexOf('@'));
    }

    static void run() throws InterruptedException, IOException {
        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING,
                BrontelManager.SERVICE_ACCEPT_STOP | BrontelManager.SERVICE_ACCEPT_SHUTDOWN, 0, 0, 0);
        TestRecord.line("running " + pid());
        Integer control = Integer.getInteger("brontel.test.sendControl");
        String once = System.getProperty("brontel.test.sendOnce");
        if (control != null && once != null && new File(once).createNewFile()) {
            TestRecord.line("sent " + BrontelManager.sendServiceControl(null, control));
        }
        stop.await();
        BrontelManager.setServiceState(BrontelManager.SERVICE_STOPPED, 0, 0, 0, 0);
        TestRecord.line("ended " + pid());
    }

    static void control(int control) {
        if (Boolean.getBoolean("brontel.test.timestamps")) {
            Instant now = Instant.now();
            TestRecord.line("control " + control + " " + (now.getEpochSecond() * 1000000000L + now.getNano()));
        } else {
            TestRecord.line("control " + control);
        }
        if (control == BrontelManager.SERVICE_CONTROL_STOP
                || control == BrontelManager.SERVICE_CONTROL_SHUTDOWN) {
            BrontelManager.setServiceState(BrontelManager.SERVICE_STOP_PENDING, 0, 0, 1, 3000);
            stop.countDown();
        }
    }

    public static void serviceMain(String[] args) throws InterruptedException, IOException {
        run();
    }

    public static void serviceControl(int control) {
        control(control);
    }

    public static boolean consoleSignal(int event) {
        TestRecord.line("console " + event);
        return Boolean.getBoolean("brontel.test.consoleResult");
    }
}
