package com.vantero.core.orb;

import java.io.File;
import java.io.IOException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.IntPredicate;
import java.util.jar.Attributes;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

/**
 * A ready-made service class that runs an existing Java program unchanged: any class with a
 * {@code main} method, or an executable jar.
 *
 * <p>Configured with {@code ibrontelClass=com.vantero.core.orb.ProgramService}; its arguments
 * ({@code commandLineParms}) are its own options followed by the program:
 *
 * <pre>
 * [options] main.Class [program arguments...]
 * [options] -jar file.jar [program arguments...]
 *
 * --start-wait=SECONDS    report running after this long while main still runs (default 2)
 * --stop-method=CLASS.METHOD   stop by calling this static method, taking String[] or nothing,
 *                         instead of the VM's orderly shutdown
 * --stop-arg=TEXT         one argument for the stop method (repeat for more)
 * --stop-wait=SECONDS     how long the program's threads have to end after the stop method, and
 *                         how long stop progress is reported (default 30)
 * </pre>
 *
 * The program runs on a thread named "main". The service is running once main returns, or
 * after the start wait while main still runs. A stop or shutdown control ends the program by
 * the VM's orderly shutdown (its shutdown hooks run, as with System.exit(0)), or by the stop
 * method, after which main and the program's other non-daemon threads get the stop wait to end
 * before the orderly shutdown ends the VM anyway. When all the program's non-daemon threads end
 * by themselves, the service ends too. Other controls go to the handler the program set with
 * {@link BrontelManager#setControlHandler}, if any; otherwise they are traced and dropped.
 */
public final class ProgramService {
    /** Service-specific code: the options, the class, the jar or its main method are wrong. */
    public static final int CANNOT_START = 32;
    /** Service-specific code: main ended with an exception before the service ran. */
    public static final int MAIN_FAILED = 33;

    private static final long PROGRESS_MILLIS = 1000;
    private static final int PROGRESS_HINT = 2000;
    /**
     * The service's stopTimeout in milliseconds, which brontel passes as the system property
     * brontel.stopTimeout (seconds) when it is set; 0 when not. It bounds the whole stop: the
     * stop wait is cut to it, and the stop reports no timed progress, which would keep the stop
     * watchdog from ever acting.
     */
    private static final long STOP_TIMEOUT_MILLIS = stopTimeoutMillis();

    private static final Object lock = new Object();
    private static Settings settings;
    private static Thread serviceThread;
    private static Thread mainThread;
    private static boolean mainDone;
    private static Throwable mainFailure;
    private static boolean programEnded;
    private static int stopControl;
    private static int state;
    private static int accepted;
    private static int checkPoint;

    private ProgramService() {}

    public static void serviceMain(String[] args) {
        serviceThread = Thread.currentThread();
        Method main;
        Method stop = null;
        try {
            settings = Settings.parse(args);
            main = findMain(settings.mainClass);
            if (settings.stopMethod != null) {
                stop = findStop(settings.stopMethod);
            }
        } catch (StartException e) {
            trace("The program cannot be started: " + e.getMessage());
            System.err.println("brontel: the program cannot be started: " + e.getMessage());
            report(BrontelManager.SERVICE_STOPPED, 0, CANNOT_START, 0, 0);
            return;
        }
        trace("Starting " + settings.describe());
        report(BrontelManager.SERVICE_START_PENDING, 0, 0, 1, PROGRESS_HINT);
        startMain(main, settings.programArgs);

        long deadline = System.currentTimeMillis() + settings.startWaitMillis;
        synchronized (lock) {
            long now = System.currentTimeMillis();
            while (!mainDone && stopControl == 0 && now < deadline) {
                waitLocked(Math.min(deadline - now, PROGRESS_MILLIS));
                now = System.currentTimeMillis();
                if (!mainDone && stopControl == 0 && now < deadline) {
                    report(BrontelManager.SERVICE_START_PENDING, 0, 0, checkPoint + 1,
                           PROGRESS_HINT);
                }
            }
            if (mainFailure != null) {
                trace("The program's main ended with an exception before the service ran: "
                      + mainFailure);
                report(BrontelManager.SERVICE_STOP_PENDING, 0, 0, 1, PROGRESS_HINT);
                endVm(MAIN_FAILED);
                return;
            }
            if (stopControl == 0) {
                trace(mainDone ? "The program's main returned; the service runs."
                               : "The program's main still runs after the start wait; the service runs.");
                report(BrontelManager.SERVICE_RUNNING,
                       BrontelManager.SERVICE_ACCEPT_STOP | BrontelManager.SERVICE_ACCEPT_SHUTDOWN, 0, 0,
                       0);
            }
        }
        startDaemon("brontel program watcher", ProgramService::watchProgram);

        synchronized (lock) {
            while (stopControl == 0 && !programEnded) {
                waitLocked(0);
            }
            if (stopControl == 0) {
                int code = mainFailure != null ? 1 : 0;
                trace("The program's threads have all ended; the service ends with exit code " + code
                      + ".");
                report(BrontelManager.SERVICE_STOP_PENDING, 0, 0, 1, PROGRESS_HINT);
                endVm(code);
                return;
            }
        }
        stopProgram(stop);
    }

    public static void serviceControl(int control) {
        IntPredicate handler = BrontelManager.getControlHandler();
        if (handler != null) {
            try {
                if (handler.test(control)) {
                    return;
                }
            } catch (RuntimeException e) {
                trace("The program's control handler failed on control " + control + ": " + e);
            }
        }
        switch (control) {
        case BrontelManager.SERVICE_CONTROL_STOP:
        case BrontelManager.SERVICE_CONTROL_SHUTDOWN:
            synchronized (lock) {
                if (stopControl != 0) {
                    // Already stopping: the progress reports go on.
                    return;
                }
                stopControl = control;
                report(BrontelManager.SERVICE_STOP_PENDING, 0, 0, 1, stopHint());
                lock.notifyAll();
            }
            break;
        case BrontelManager.SERVICE_CONTROL_INTERROGATE:
            synchronized (lock) {
                report(state, accepted, 0, checkPoint, state == BrontelManager.SERVICE_RUNNING ? 0
                                                                                           : PROGRESS_HINT);
            }
            break;
        default:
            trace("Control " + control + " not forwarded: the program has "
                  + (handler == null ? "no control handler." : "not taken it."));
        }
    }

    // The program's main on a thread of its own, named as the launcher names it.
    private static void startMain(final Method main, final String[] programArgs) {
        mainThread = new Thread(() -> {
            Throwable failure = null;
            try {
                main.invoke(null, (Object) programArgs);
            } catch (InvocationTargetException e) {
                failure = e.getCause() != null ? e.getCause() : e;
            } catch (IllegalAccessException | RuntimeException | Error e) {
                failure = e;
            }
            if (failure != null) {
                System.err.print("Exception in thread \"main\" ");
                failure.printStackTrace();
            }
            boolean running;
            synchronized (lock) {
                mainDone = true;
                mainFailure = failure;
                running = state == BrontelManager.SERVICE_RUNNING;
                lock.notifyAll();
            }
            if (failure != null && running) {
                trace("The program's main ended with an exception: " + failure);
            }
        }, "main");
        mainThread.setContextClassLoader(ClassLoader.getSystemClassLoader());
        mainThread.start();
    }

    // Waits for main and then for the program's other non-daemon threads, as the launcher does
    // before it ends the VM.
    private static void watchProgram() {
        joinUntil(0);
        synchronized (lock) {
            programEnded = true;
            lock.notifyAll();
        }
    }

    // Joins main and the program's non-daemon threads until the deadline (0: no deadline); the
    // threads still alive then.
    private static List<Thread> joinUntil(long deadline) {
        List<Thread> alive = new ArrayList<>();
        try {
            if (!join(mainThread, deadline)) {
                alive.add(mainThread);
                return alive;
            }
            for (;;) {
                List<Thread> threads = programThreads();
                if (threads.isEmpty()) {
                    return alive;
                }
                for (Thread t : threads) {
                    if (!join(t, deadline)) {
                        alive.addAll(programThreads());
                        return alive;
                    }
                }
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            alive.addAll(programThreads());
            return alive;
        }
    }

    private static boolean join(Thread t, long deadline) throws InterruptedException {
        if (deadline == 0) {
            t.join();
        } else {
            long left = deadline - System.currentTimeMillis();
            if (left > 0) {
                t.join(left);
            }
        }
        return !t.isAlive();
    }

    private static List<Thread> programThreads() {
        List<Thread> threads = new ArrayList<>();
        Thread self = Thread.currentThread();
        for (Thread t : Thread.getAllStackTraces().keySet()) {
            // brontel's own threads are daemons or the service thread; a thread that only
            // delivers a control is attached for moments and joins quickly.
            if (t.isAlive() && !t.isDaemon() && t != self && t != serviceThread) {
                threads.add(t);
            }
        }
        return threads;
    }

    private static void stopProgram(Method stop) {
        final long started = System.currentTimeMillis();
        final long stopWait = STOP_TIMEOUT_MILLIS > 0
                              ? Math.min(settings.stopWaitMillis, STOP_TIMEOUT_MILLIS)
                              : settings.stopWaitMillis;
        final long deadline = started + stopWait;
        if (STOP_TIMEOUT_MILLIS > 0 && stopWait < settings.stopWaitMillis) {
            trace("The stop wait is cut to the service's stopTimeout: " + stopWait + " ms.");
        }
        if (STOP_TIMEOUT_MILLIS == 0) {
            startProgressReports(deadline);
        }
        String how = stopControl == BrontelManager.SERVICE_CONTROL_SHUTDOWN ? "shutdown" : "stop";
        if (stop == null) {
            trace("Stopping the program (" + how + "): orderly shutdown of the VM.");
            endVm(0);
            return;
        }
        trace("Stopping the program (" + how + "): calling " + settings.stopMethod
              + stopArgsForTrace());
        try {
            if (stop.getParameterTypes().length == 0) {
                stop.invoke(null);
            } else {
                stop.invoke(null, (Object) settings.stopArgs.toArray(new String[0]));
            }
        } catch (InvocationTargetException e) {
            trace("The stop method ended with an exception: " + e.getCause());
        } catch (IllegalAccessException | RuntimeException e) {
            trace("The stop method could not be called: " + e);
        }
        List<Thread> alive = joinUntil(deadline);
        if (alive.isEmpty()) {
            trace("The program's threads have ended " + (System.currentTimeMillis() - started)
                  + " ms after the stop request; orderly shutdown of the VM.");
        } else {
            StringBuilder names = new StringBuilder();
            for (Thread t : alive) {
                names.append(names.length() == 0 ? "" : ", ").append(t.getName());
            }
            trace("The program's threads still run " + stopWait
                  + " ms after the stop method (" + names + "); orderly shutdown of the VM.");
        }
        endVm(0);
    }

    // Reports the stop's progress every second until the deadline, so that a stop that takes
    // its time is not taken for a hung one.
    private static void startProgressReports(final long deadline) {
        startDaemon("brontel stop progress", () -> {
            try {
                for (;;) {
                    Thread.sleep(PROGRESS_MILLIS);
                    if (System.currentTimeMillis() >= deadline) {
                        // No endless progress: a stop that hangs must show as one.
                        return;
                    }
                    synchronized (lock) {
                        report(BrontelManager.SERVICE_STOP_PENDING, 0, 0, checkPoint + 1,
                               PROGRESS_HINT);
                    }
                }
            } catch (InterruptedException e) {
                // the VM is ending
            }
        });
    }

    // The wait hint of the stop's first report: with a stopTimeout the whole stop may take that
    // long without further reports.
    private static int stopHint() {
        return STOP_TIMEOUT_MILLIS > 0 ? (int) Math.min(STOP_TIMEOUT_MILLIS, Integer.MAX_VALUE)
                                       : PROGRESS_HINT;
    }

    private static long stopTimeoutMillis() {
        String text = System.getProperty("brontel.stopTimeout");
        if (text == null) {
            return 0;
        }
        try {
            long seconds = Long.parseLong(text.trim());
            return seconds > 0 && seconds <= Integer.MAX_VALUE / 1000 ? seconds * 1000 : 0;
        } catch (NumberFormatException e) {
            return 0;
        }
    }

    // Ends the VM as System.exit does: the program's shutdown hooks run, and brontel reports the
    // service stopped with the code as the VM ends.
    private static void endVm(int code) {
        try {
            Runtime.getRuntime().exit(code);
        } catch (SecurityException e) {
            // The program installed a security manager that keeps the VM from ending; returning
            // ends the service without the program's shutdown hooks.
            trace("The program's security manager refuses to end the VM (" + e
                  + "); the service ends without the program's shutdown hooks.");
            report(BrontelManager.SERVICE_STOPPED, 0, code, 0, 0);
        }
    }

    private static Method findMain(String className) throws StartException {
        Class<?> mainClass;
        try {
            mainClass = Class.forName(className, false, ClassLoader.getSystemClassLoader());
        } catch (ClassNotFoundException | LinkageError e) {
            throw new StartException("the main class " + className + " cannot be loaded (" + e
                                     + "); check -Djava.class.path");
        }
        try {
            Method main = mainClass.getMethod("main", String[].class);
            if (!Modifier.isStatic(main.getModifiers()) || main.getReturnType() != void.class) {
                throw new NoSuchMethodException();
            }
            makeCallable(main);
            return main;
        } catch (NoSuchMethodException | LinkageError e) {
            throw new StartException("the class " + className
                                     + " has no public static void main(String[])");
        }
    }

    private static Method findStop(String qualified) throws StartException {
        int dot = qualified.lastIndexOf('.');
        if (dot <= 0 || dot == qualified.length() - 1) {
            throw new StartException("--stop-method needs CLASS.METHOD, not " + qualified);
        }
        String className = qualified.substring(0, dot);
        String name = qualified.substring(dot + 1);
        Class<?> stopClass;
        try {
            stopClass = Class.forName(className, false, ClassLoader.getSystemClassLoader());
        } catch (ClassNotFoundException | LinkageError e) {
            throw new StartException("the stop method's class " + className + " cannot be loaded ("
                                     + e + ")");
        }
        for (Class<?>[] parameters : new Class<?>[][] {{String[].class}, {}}) {
            try {
                Method stop = stopClass.getDeclaredMethod(name, parameters);
                if (Modifier.isStatic(stop.getModifiers())) {
                    if (parameters.length == 0 && !settings.stopArgs.isEmpty()) {
                        throw new StartException("the stop method " + qualified
                                                 + " takes no arguments, but --stop-arg gives some");
                    }
                    makeCallable(stop);
                    return stop;
                }
            } catch (NoSuchMethodException e) {
                // try the other form
            }
        }
        throw new StartException("the class " + className + " has no static method " + name
                                 + "(String[]) or " + name + "()");
    }

    private static void makeCallable(Method method) {
        // A public main of a class that is not public is still what the launcher runs.
        try {
            method.setAccessible(true);
        } catch (RuntimeException e) {
            // The method stays as accessible as it is.
        }
    }

    private static Thread startDaemon(String name, Runnable body) {
        Thread t = new Thread(body, name);
        t.setDaemon(true);
        t.start();
        return t;
    }

    private static void waitLocked(long millis) {
        try {
            lock.wait(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void report(int newState, int newAccepted, int exitCode, int newCheckPoint,
                               int waitHint) {
        synchronized (lock) {
            state = newState;
            accepted = newAccepted;
            checkPoint = newCheckPoint;
            BrontelManager.setServiceState(newState, newAccepted, exitCode, newCheckPoint, waitHint);
        }
    }

    /** The stop method's arguments as the trace may show them: counted, unless asked for. */
    private static String stopArgsForTrace() {
        if (settings.stopArgs.isEmpty() || tracesArguments()) {
            return Arrays.toString(settings.stopArgs.toArray());
        }
        return " with " + settings.stopArgs.size()
            + " argument(s), traced only with traceArguments=TRUE";
    }

    private static boolean tracesArguments() {
        try {
            return BrontelManager.tracesArguments();
        } catch (LinkageError e) {
            // A bridge class from an older brontel.jar cannot say: the arguments stay out.
            return false;
        }
    }

    private static void trace(String text) {
        try {
            BrontelManager.trace(text);
        } catch (LinkageError e) {
            // A bridge class from an older brontel.jar has no trace method.
            System.err.println("brontel: " + text);
        }
    }

    /** A start that cannot go on; its message says why. */
    static final class StartException extends Exception {
        private static final long serialVersionUID = 1L;

        StartException(String message) {
            super(message);
        }
    }

    /** The options and the program, parsed from the service's arguments. */
    static final class Settings {
        long startWaitMillis = 2000;
        long stopWaitMillis = 30000;
        String stopMethod;
        final List<String> stopArgs = new ArrayList<>();
        String jar;
        String mainClass;
        String[] programArgs;

        static Settings parse(String[] args) throws StartException {
            Settings s = new Settings();
            int i = 0;
            for (; i < args.length && args[i].startsWith("--"); ++i) {
                String arg = args[i];
                int eq = arg.indexOf('=');
                String name = eq < 0 ? arg : arg.substring(0, eq);
                String value = eq < 0 ? null : arg.substring(eq + 1);
                if (value == null) {
                    throw new StartException("the option " + name + " needs a value: " + name
                                             + "=...");
                }
                switch (name) {
                case "--start-wait":
                    s.startWaitMillis = seconds(name, value);
                    break;
                case "--stop-wait":
                    s.stopWaitMillis = seconds(name, value);
                    break;
                case "--stop-method":
                    s.stopMethod = value;
                    break;
                case "--stop-arg":
                    s.stopArgs.add(value);
                    break;
                default:
                    throw new StartException("unknown option " + name
                                             + " (known: --start-wait, --stop-method, --stop-arg,"
                                             + " --stop-wait)");
                }
            }
            if (!s.stopArgs.isEmpty() && s.stopMethod == null) {
                throw new StartException("--stop-arg given without --stop-method");
            }
            if (i < args.length && args[i].equals("-jar")) {
                if (i + 1 >= args.length || args[i + 1].isEmpty()) {
                    throw new StartException("-jar needs the jar file");
                }
                s.jar = args[i + 1];
                s.mainClass = mainClassOf(s.jar);
                i += 2;
            } else if (i < args.length && !args[i].isEmpty() && !args[i].startsWith("-")) {
                s.mainClass = args[i].replace('/', '.');
                i += 1;
            } else {
                throw new StartException(i < args.length
                                             ? "expected a main class or -jar, found \"" + args[i] + "\""
                                             : "no main class or -jar given");
            }
            s.programArgs = Arrays.copyOfRange(args, i, args.length);
            return s;
        }

        private static long seconds(String name, String value) throws StartException {
            double seconds;
            try {
                seconds = Double.parseDouble(value);
            } catch (NumberFormatException e) {
                seconds = -1;
            }
            if (!(seconds >= 0 && seconds <= 86400)) {
                throw new StartException(name + " takes seconds from 0 to 86400, not \"" + value
                                         + "\"");
            }
            return (long) (seconds * 1000);
        }

        private static String mainClassOf(String jar) throws StartException {
            File file = new File(jar);
            Manifest manifest;
            try (JarFile jarFile = new JarFile(file)) {
                manifest = jarFile.getManifest();
            } catch (IOException | SecurityException e) {
                throw new StartException("the jar " + jar + " cannot be read (" + e + ")");
            }
            String main = manifest == null
                              ? null
                              : manifest.getMainAttributes().getValue(Attributes.Name.MAIN_CLASS);
            if (main == null || main.trim().isEmpty()) {
                throw new StartException("the jar " + jar + " has no Main-Class in its manifest");
            }
            return main.trim().replace('/', '.');
        }

        String describe() {
            StringBuilder text = new StringBuilder();
            text.append(jar != null ? "the jar " + jar + " (main class " + mainClass + ")"
                                    : "the main class " + mainClass);
            text.append(" with ").append(programArgs.length).append(" argument(s); ");
            text.append(stopMethod != null ? "stop by " + stopMethod : "stop by orderly shutdown");
            return text.toString();
        }
    }
}
