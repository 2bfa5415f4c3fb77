package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;
import java.io.File;
import java.util.concurrent.CountDownLatch;

/**
 * Writes to its standard output and error, then runs until stopped. The first argument picks
 * what it writes:
 *   mixed N          N rounds of a line to System.out, System.err and, when the system property
 *                    brontel.test.nativeLib names the test's JNI library, through the C runtime's
 *                    stdout and stderr of native code
 *   flood N          N numbered lines to System.out as fast as it can
 *   until-exists P   a numbered line every 20 ms until the file P exists, then five more
 * and then records "written"; "end" returns from serviceMain without reporting any state.
 */
public final class OutputService {
    private static final CountDownLatch stop = new CountDownLatch(1);

    private OutputService() {}

    static native void nativePrint(boolean toError, String text);

    public static void serviceMain(String[] args) throws InterruptedException {
        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING, BrontelManager.SERVICE_ACCEPT_STOP, 0, 0, 0);
        TestRecord.line("running");
        String what = args.length > 0 ? args[0] : "";
        if (what.equals("mixed")) {
            String library = System.getProperty("brontel.test.nativeLib");
            if (library != null) {
                System.load(library);
            }
            for (int i = 0; i < Integer.parseInt(args[1]); i++) {
                System.out.println("java out " + i);
                System.err.println("java err " + i);
                if (library != null) {
                    nativePrint(false, "native out " + i + "\n");
                    nativePrint(true, "native err " + i + "\n");
                }
            }
        } else if (what.equals("flood")) {
            for (int i = 0; i < Integer.parseInt(args[1]); i++) {
                System.out.println(String.format("line %08d of the fast writer", i));
            }
        } else if (what.equals("until-exists")) {
            File marker = new File(args[1]);
            int i = 0;
            while (!marker.exists()) {
                System.out.println("waiting " + i++);
                Thread.sleep(20);
            }
            for (int j = 0; j < 5; j++) {
                System.out.println("after " + j);
            }
        }
        TestRecord.line("written");
        if (what.equals("end")) {
            return;
        }
        stop.await();
        BrontelManager.setServiceState(BrontelManager.SERVICE_STOPPED, 0, 0, 0, 0);
    }

    public static void serviceControl(int control) {
        if (control == BrontelManager.SERVICE_CONTROL_STOP) {
            BrontelManager.setServiceState(BrontelManager.SERVICE_STOP_PENDING, 0, 0, 1, 3000);
            stop.countDown();
        }
    }
}
