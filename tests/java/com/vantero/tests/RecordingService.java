package com.vantero.tests;

/** Records its arguments and a few system properties, then returns without reporting. */
public final class RecordingService {
    private RecordingService() {}

    public static void serviceMain(String[] args) {
        TestRecord.line("count " + args.length);
        for (String arg : args) {
            TestRecord.line("arg " + TestRecord.codePoints(arg));
        }
        TestRecord.line("order " + System.getProperty("brontel.order"));
        TestRecord.line("main-thread " + Thread.currentThread().getName());
    }

    public static void serviceControl(int control) {
        TestRecord.line("control " + control);
    }
}
