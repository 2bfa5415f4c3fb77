package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;
import java.io.File;
import java.util.concurrent.CountDownLatch;

/**
 * Goes on reporting after its service has stopped, as services whose worker threads report their
 * own health do. Runs until stopped; then, by brontel.test.lateMode:
 * <ul>
 *   <li>"java": reports SERVICE_STOPPED (exit code 9) itself, then SERVICE_RUNNING, records
 *       "reported late", and returns once the file brontel.test.release exists;
 *   <li>"threads": returns without a final report while two threads it started keep reporting
 *       SERVICE_RUNNING until the process ends.
 * </ul>
 */
public final class LateReportService {
    private static final CountDownLatch stop = new CountDownLatch(1);
    private static final int ACCEPTED = BrontelManager.SERVICE_ACCEPT_STOP;

    private LateReportService() {}

    public static void serviceMain(String[] args) throws InterruptedException {
        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING, ACCEPTED, 0, 0, 0);
        TestRecord.line("running");
        stop.await();
        if ("java".equals(System.getProperty("brontel.test.lateMode"))) {
            BrontelManager.setServiceState(BrontelManager.SERVICE_STOPPED, 0, 9, 0, 0);
            BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING, ACCEPTED, 0, 0, 0);
            TestRecord.line("reported late");
            File release = new File(System.getProperty("brontel.test.release"));
            while (!release.exists()) {
                Thread.sleep(10);
            }
        } else {
            for (int i = 0; i < 2; ++i) {
                Thread reporter = new Thread(() -> {
                    while (true) {
                        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING, ACCEPTED, 0, 0, 0);
                    }
                }, "health-reporter-" + i);
                reporter.start();
            }
        }
        TestRecord.line("returned");
    }

    public static void serviceControl(int control) {
        TestRecord.line("control " + control);
        if (control == BrontelManager.SERVICE_CONTROL_STOP) {
            stop.countDown();
        }
    }
}
