package com.vantero.tests;

import com.vantero.core.orb.BrontelManager;
import java.lang.reflect.Field;

/**
 * Reports running, records it, and then ends the way brontel.test.fault says: "exit" calls
 * System.exit(3), "crash" brings the VM down with an access to address 0, "hang" waits for
 * ever and ignores every control.
 */
public final class FaultService {
    private FaultService() {}

    public static void serviceMain(String[] args) throws Exception {
        BrontelManager.setServiceState(BrontelManager.SERVICE_RUNNING, BrontelManager.SERVICE_ACCEPT_STOP, 0, 0, 0);
        TestRecord.line("running " + SignalService.pid());
        String fault = System.getProperty("brontel.test.fault", "hang");
        if (fault.equals("exit")) {
            System.exit(3);
        } else if (fault.equals("crash")) {
            Field field = Class.forName("sun.misc.Unsafe").getDeclaredField("theUnsafe");
            field.setAccessible(true);
            Object unsafe = field.get(null);
            unsafe.getClass().getMethod("putAddress", long.class, long.class).invoke(unsafe, 0L, 0L);
        }
        Thread.sleep(Long.MAX_VALUE);
    }

    public static void serviceControl(int control) {
        TestRecord.line("control " + control);
    }
}
