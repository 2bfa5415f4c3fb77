package com.vantero.tests.programs;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.concurrent.CountDownLatch;

/**
 * An ordinary program with a main, as a service runner meets them; it knows nothing of brontel
 * but for the "handler" mode. Records what happens to the file named by brontel.test.out.
 *
 * <pre>
 * serve            main returns at once; a non-daemon thread serves and ignores stop
 * block            main blocks until stop(String[]) is called
 * throw            main throws at once
 * exit N TRIGGER   main exits with N once the file TRIGGER exists
 * handler          like serve, with a control handler that takes pause (2) and records controls
 * env NAME...      records each variable's value, writes "here.txt" by a relative path, returns
 * slowhook         like serve, with a second shutdown hook that sleeps for a minute
 * access FILE DIR  records FILE's text, whether it may write into DIR, its user and the
 *                  brontel.test.marker property; then blocks as block does
 * </pre>
 */
public final class TestProgram {
    private static final CountDownLatch stopped = new CountDownLatch(1);

    private TestProgram() {}

    public static void main(String[] args) throws Exception {
        record("main " + Arrays.toString(args) + " pid " + pid() + " thread "
               + Thread.currentThread().getName() + " loader "
               + (TestProgram.class.getClassLoader() == ClassLoader.getSystemClassLoader()));
        record("classpath " + System.getProperty("java.class.path"));
        record("source " + TestProgram.class.getProtectionDomain().getCodeSource().getLocation());
        Runtime.getRuntime().addShutdownHook(new Thread(() -> record("hook")));
        switch (args[0]) {
        case "serve":
            serve();
            break;
        case "handler":
            Handler.install();
            serve();
            break;
        case "slowhook":
            Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                record("slow hook");
                try {
                    Thread.sleep(60000);
                } catch (InterruptedException e) {
                    // ends early only when interrupted
                }
            }));
            serve();
            break;
        case "block":
            stopped.await();
            record("main returns");
            break;
        case "throw":
            throw new IllegalStateException("broken configuration");
        case "exit":
            File trigger = new File(args[2]);
            while (!trigger.exists()) {
                Thread.sleep(20);
            }
            record("exit " + args[1]);
            System.exit(Integer.parseInt(args[1]));
            break;
        case "env":
            for (String name : Arrays.copyOfRange(args, 1, args.length)) {
                String value = System.getenv(name);
                record("env " + name + (value == null ? " unset" : "=" + value));
            }
            try (Writer out = new OutputStreamWriter(new FileOutputStream("here.txt"), StandardCharsets.UTF_8)) {
                out.write("written by " + pid() + "\n");
            }
            record("wrote here.txt");
            break;
        case "access":
            record("read " + new String(Files.readAllBytes(Paths.get(args[1])), StandardCharsets.UTF_8).trim());
            try (Writer out = new OutputStreamWriter(new FileOutputStream(new File(args[2], "written.txt")),
                                                     StandardCharsets.UTF_8)) {
                record("wrote into " + args[2]);
            } catch (IOException e) {
                record("cannot write into " + args[2]);
            }
            record("user " + System.getProperty("user.name") + " marker " + System.getProperty("brontel.test.marker"));
            stopped.await();
            record("main returns");
            break;
        default:
            throw new IllegalArgumentException(args[0]);
        }
    }

    /** The stop method: releases main, which then returns. */
    public static void stop(String[] args) {
        record("stop " + Arrays.toString(args));
        stopped.countDown();
    }

    private static void serve() {
        Thread server = new Thread(() -> {
            record("serving");
            for (;;) {
                try {
                    Thread.sleep(60000);
                } catch (InterruptedException e) {
                    // a server that ignores interrupts too
                }
            }
        }, "server");
        server.start();
        record("main returns");
    }

    static String pid() {
        return ManagementFactory.getRuntimeMXBean().getName().split("@")[0];
    }

    static synchronized void record(String text) {
        String path = System.getProperty("brontel.test.out");
        try (Writer out = new OutputStreamWriter(new FileOutputStream(path, true), StandardCharsets.UTF_8)) {
            out.write(text);
            out.write('\n');
        } catch (IOException e) {
            throw new IllegalStateException("cannot record to " + path, e);
        }
    }
}
