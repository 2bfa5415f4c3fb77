package com.vantero.examples;

import com.vantero.core.orb.BrontelManager;

/**
 * An example service: reports its start, works until it is told to stop, and reports its stop.
 * Install it with brontel from examples/example-service.conf.
 */
public final class ExampleService {
    private static final Object lock = new Object();
    private static boolean stopRequested;
    private static int state = BrontelManager.SERVICE_START_PENDING;

    private static final int ACCEPTED =
            BrontelManager.SERVICE_ACCEPT_STOP | BrontelManager.SERVICE_ACCEPT_SHUTDOWN;

    private ExampleService() {}

    public static void serviceMain(String[] args) throws InterruptedException {
        report(BrontelManager.SERVICE_START_PENDING, 0, 1, 3000);
        System.out.println("Example service starting with " + args.length + " argument(s):");
        for (int i = 0; i < args.length; i++) {
            System.out.println("  args[" + i + "] = " + args[i]);
        }
        report(BrontelManager.SERVICE_RUNNING, ACCEPTED, 0, 0);

        int tick = 0;
        synchronized (lock) {
            while (!stopRequested) {
                System.out.println("Example service working: tick " + ++tick);
                System.out.flush();
                lock.wait(1000);
            }
        }

        // Winding down: tell the manager how long it may take, then that it is done.
        System.out.println("Example service stopping after " + tick + " tick(s)");
        report(BrontelManager.SERVICE_STOP_PENDING, 0, 1, 2000);
        report(BrontelManager.SERVICE_STOPPED, 0, 0, 0);
    }

    public static void serviceControl(int control) {
        switch (control) {
            case BrontelManager.SERVICE_CONTROL_STOP:
            case BrontelManager.SERVICE_CONTROL_SHUTDOWN:
                System.out.println("Example service: stop requested (control " + control + ")");
                report(BrontelManager.SERVICE_STOP_PENDING, 0, 1, 5000);
                requestStop();
                break;
            case BrontelManager.SERVICE_CONTROL_INTERROGATE:
                synchronized (lock) {
                    report(state, state == BrontelManager.SERVICE_RUNNING ? ACCEPTED : 0, 0, 0);
                }
                break;
            default:
                System.out.println("Example service: control " + control + " ignored");
                break;
        }
    }

    /** Ctrl+C and closing the console stop the service the same way in development mode. */
    public static boolean consoleSignal(int event) {
        if (event == BrontelManager.CTRL_C_EVENT || event == BrontelManager.CTRL_CLOSE_EVENT
                || event == BrontelManager.CTRL_SHUTDOWN_EVENT) {
            System.out.println("Example service: console event " + event + ", stopping");
            requestStop();
            return true;
        }
        return false;
    }

    private static void requestStop() {
        synchronized (lock) {
            stopRequested = true;
            lock.notifyAll();
        }
    }

    private static void report(int newState, int accepted, int checkPoint, int waitHint) {
        synchronized (lock) {
            state = newState;
            BrontelManager.setServiceState(newState, accepted, 0, checkPoint, waitHint);
        }
    }
}
