package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;

/**
 * Asks brontel to send a control: to the service named by brontel.test.target (null when unset,
 * meaning itself) with the code in brontel.test.control; records the answer, then waits to be
 * stopped.
 */
public final class RelayService {
    private static final Object lock = new Object();
    private static boolean stopped;

    private RelayService() {}

    public static void serviceMain(String[] args) throws InterruptedException {
        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING, BrontelManager.SERVICE_ACCEPT_STOP, 0, 0, 0);
        String target = System.getProperty("brontel.test.target");
        int control = Integer.getInteger("brontel.test.control", BrontelManager.SERVICE_CONTROL_STOP);
        boolean sent = BrontelManager.sendServiceControl(target, control);
        TestRecord.line("sent " + sent);
        synchronized (lock) {
            long deadline = System.currentTimeMillis() + 60000;
            while (!stopped && System.currentTimeMillis() < deadline) {
                lock.wait(1000);
            }
        }
        TestRecord.line("ended");
    }

    public static void serviceControl(int control) {
        TestRecord.line("control " + control);
        if (control == BrontelManager.SERVICE_CONTROL_STOP) {
            synchronized (lock) {
                stopped = true;
                lock.notifyAll();
            }
        }
    }
}
