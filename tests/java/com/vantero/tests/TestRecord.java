package com.vantero.tests;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;

/** Appends lines to the file named by the system property brontel.test.out, for the tests. */
final class TestRecord {
    private TestRecord() {}

    static synchronized void line(String text) {
        String path = System.getProperty("brontel.test.out");
        if (path == null) {
            return;
        }
        try (Writer out = new OutputStreamWriter(new FileOutputStream(path, true), StandardCharsets.UTF_8)) {
            out.write(text);
            out.write('\n');
        } catch (IOException e) {
            throw new IllegalStateException("cannot record to " + path, e);
        }
    }

    /** The code points of a text in hex, so that tests compare exact characters. */
    static String codePoints(String text) {
        StringBuilder b = new StringBuilder("[");
        text.codePoints().forEach(cp -> {
            if (b.length() > 1) {
                b.append(' ');
            }
            b.append(Integer.toHexString(cp));
        });
        return b.append(']').toString();
    }
}
