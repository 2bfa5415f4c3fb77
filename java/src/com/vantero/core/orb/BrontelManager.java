package com.vantero.core.orb;

import java.util.function.IntPredicate;

/**
 * The bridge between a Java service and brontel, the program that hosts it as a Windows
 * service.
 *
 * <p>A service class is any class with these static methods:
 *
 * <pre>
 * public static void serviceMain(String[] args)     // runs the service; return to end it
 * public static void serviceControl(int control)     // a service control, e.g. SERVICE_CONTROL_STOP
 * public static boolean consoleSignal(int event)     // optional: a console event; true if handled
 * </pre>
 *
 * brontel calls {@code serviceMain} on a thread of its own for the life of the service and
 * delivers controls and console events on other threads. The service reports its state with
 * {@link #setServiceState} (from any thread) and may ask for a control to be sent to a service
 * with {@link #sendServiceControl}. The native methods are registered by brontel before
 * {@code serviceMain} starts; outside brontel they are not available.
 */
public final class BrontelManager {
    // Service states, for setServiceState.
    public static final int SERVICE_STOPPED = 1;
    public static final int SERVICE_START_PENDING = 2;
    public static final int SERVICE_STOP_PENDING = 3;
    public static final int SERVICE_RUNNING = 4;
    public static final int SERVICE_CONTINUE_PENDING = 5;
    public static final int SERVICE_PAUSE_PENDING = 6;
    public static final int SERVICE_PAUSED = 7;

    // Controls a service accepts, combined with | for setServiceState.
    public static final int SERVICE_ACCEPT_STOP = 0x01;
    public static final int SERVICE_ACCEPT_PAUSE_CONTINUE = 0x02;
    public static final int SERVICE_ACCEPT_SHUTDOWN = 0x04;
    public static final int SERVICE_ACCEPT_PARAMCHANGE = 0x08;
    public static final int SERVICE_ACCEPT_NETBINDCHANGE = 0x10;

    // Control codes, received by serviceControl and sent with sendServiceControl.
    public static final int SERVICE_CONTROL_STOP = 1;
    public static final int SERVICE_CONTROL_PAUSE = 2;
    public static final int SERVICE_CONTROL_CONTINUE = 3;
    public static final int SERVICE_CONTROL_INTERROGATE = 4;
    public static final int SERVICE_CONTROL_SHUTDOWN = 5;
    public static final int SERVICE_CONTROL_PARAMCHANGE = 6;
    public static final int SERVICE_CONTROL_NETBINDADD = 7;
    public static final int SERVICE_CONTROL_NETBINDREMOVE = 8;
    public static final int SERVICE_CONTROL_NETBINDENABLE = 9;
    public static final int SERVICE_CONTROL_NETBINDDISABLE = 10;
    public static final int SERVICE_CONTROL_DEVICEEVENT = 11;
    public static final int SERVICE_CONTROL_HARDWAREPROFILECHANGE = 12;
    public static final int SERVICE_CONTROL_POWEREVENT = 13;
    /** Stops the service and starts it again; carried out by the sending process. */
    public static final int SERVICE_CONTROL_RESTART = 128;
    /** Raises a Ctrl+C console event in the service's process; never reaches serviceControl. */
    public static final int SERVICE_CONTROL_CTRL_C = 250;
    /** Raises the VM's break signal (a thread dump) or a Ctrl+Break console event. */
    public static final int SERVICE_CONTROL_CTRL_BREAK = 251;

    // Console events, received by consoleSignal.
    public static final int CTRL_C_EVENT = 0;
    public static final int CTRL_BREAK_EVENT = 1;
    public static final int CTRL_CLOSE_EVENT = 2;
    public static final int CTRL_LOGOFF_EVENT = 5;
    public static final int CTRL_SHUTDOWN_EVENT = 6;

    private static volatile IntPredicate controlHandler;

    private BrontelManager() {}

    /**
     * Reports the service's state to the Service Control Manager (in development mode it is
     * only traced).
     *
     * @param state one of the SERVICE_ states
     * @param controlsAccepted the SERVICE_ACCEPT_ flags of the controls the service takes now
     * @param exitCode the service-specific exit code, reported with SERVICE_STOPPED
     * @param checkPoint progress of a pending state, increased with each report
     * @param waitHint milliseconds until the next report of a pending state
     */
    public static native void setServiceState(
            int state, int controlsAccepted, int exitCode, int checkPoint, int waitHint);

    /**
     * Asks for a control to be sent to a service by a separate brontel process, so a service
     * can also stop or restart itself.
     *
     * @param serviceName the service, or null for this service
     * @param control a SERVICE_CONTROL_ code
     * @return true when the sending process was started
     */
    public static native boolean sendServiceControl(String serviceName, int control);

    /**
     * Writes a line to brontel's trace file (when tracing is on).
     *
     * @param text the line
     */
    public static native void trace(String text);

    /**
     * Whether the service's configuration lets the trace show arguments, such as those of a
     * stop method ({@code traceArguments=TRUE}); they may hold secrets and are left out
     * otherwise.
     *
     * @return true when arguments may be traced
     */
    public static native boolean tracesArguments();

    /**
     * For a program run by {@link ProgramService}: receives the service controls before
     * ProgramService acts on them.
     *
     * @param handler gets each control code and returns true when it has dealt with it (a stop
     *     taken this way is the program's to carry out and report); false leaves the control
     *     to ProgramService. null removes the handler.
     */
    public static void setControlHandler(IntPredicate handler) {
        controlHandler = handler;
    }

    /** The handler set with {@link #setControlHandler}, or null. */
    public static IntPredicate getControlHandler() {
        return controlHandler;
    }
}
