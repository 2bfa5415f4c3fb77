package com.vantero.tests.programs;

import com.vantero.core.orb.BrontelManager;

/** A program's control handler: records every control and takes pause (2) itself. */
final class Handler {
    private Handler() {}

    static void install() {
        BrontelManager.setControlHandler(control -> {
            TestProgram.record("control " + control);
            return control == BrontelManager.SERVICE_CONTROL_PAUSE;
        });
    }
}
