package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;
import java.util.concurrent.CountDownLatch;

/**
 * For the stop watchdog. Records "running PID" once running. On stop it reports stop-pending
 * (checkpoint 1, wait hint brontel.test.hint ms) and then, unless brontel.test.steps is set,
 * never stops: serviceMain stays blocked in holdForever. With brontel.test.steps=N it stops slowly
 * but shows progress: N more stop-pending reports with rising checkpoints, brontel.test.step ms
 * apart, then stopped. With brontel.test.holdInControl=true the stop control itself never returns
 * and serviceMain returns as soon as the stop has come.
 */
public final class StallingService {
    private static final CountDownLatch stop = new CountDownLatch(1);

    private StallingService() {}

    public static void serviceMain(String[] args) throws InterruptedException {
        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING,
                BrontelManager.SERVICE_ACCEPT_STOP | BrontelManager.SERVICE_ACCEPT_SHUTDOWN, 0, 0, 0);
        TestRecord.line("running " + SignalService.pid());
        stop.await();
        if (Boolean.getBoolean("brontel.test.holdInControl")) {
            return;
        }
        int steps = Integer.getInteger("brontel.test.steps", -1);
        if (steps < 0) {
            holdForever();
        }
        int hint = Integer.getInteger("brontel.test.hint", 0);
        long step = Long.getLong("brontel.test.step", 100);
        for (int checkPoint = 2; checkPoint <= steps + 1; ++checkPoint) {
            Thread.sleep(step);
            BrontelManager.setServiceState(BrontelManager.SERVICE_STOP_PENDING, 0, 0, checkPoint, hint);
        }
        Thread.sleep(step);
        TestRecord.line("stopped");
        BrontelManager.setServiceState(BrontelManager.SERVICE_STOPPED, 0, 0, 0, 0);
    }

    /** The frame the thread dump must show. */
    private static void holdForever() throws InterruptedException {
        TestRecord.line("holding");
        Object never = new Object();
        synchronized (never) {
            while (true) {
                never.wait();
            }
        }
    }

    public static void serviceControl(int control) {
        TestRecord.line("control " + control);
        if (control == BrontelManager.SERVICE_CONTROL_STOP
                || control == BrontelManager.SERVICE_CONTROL_SHUTDOWN) {
            BrontelManager.setServiceState(BrontelManager.SERVICE_STOP_PENDING, 0, 0, 1,
                    Integer.getInteger("brontel.test.hint", 0));
            stop.countDown();
            if (Boolean.getBoolean("brontel.test.holdInControl")) {
                try {
                    holdForever();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }
        }
    }
}
