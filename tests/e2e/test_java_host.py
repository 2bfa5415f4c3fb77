"""The Java VM host with the real JVM: arguments, VM options, start-up failures; -x, then -Z."""

import json
import threading

import pytest

from runtime_support import SERVICES, Service, wait_until


def java_service(m, service_class=None, command_line=None, options=(), **kwargs):
    """A service with a trace of its own; -Xcheck:jni makes a JNI call with an exception pending fatal."""
    name = m.unique("jvm")
    return Service(m, service_class, options=["-Xcheck:jni", *options], name=name,
                   command_line=command_line, trace=name + ".trace", **kwargs)


def run_dev(svc, **kwargs):
    return svc.m.run(["-x", svc.name], **kwargs)


def stop_control(svc):
    control = svc.svc("control", 1)
    assert control.rc == 0, control
    assert svc.svc("wait", "STOPPED", 60000).rc == 0


def remove(svc):
    removed = svc.m.run(["-r", svc.name])
    assert removed.rc == 0, removed
    svc.installed = False


def code_points(text):
    return "[" + " ".join(format(ord(c), "x") for c in text) + "]"


@pytest.mark.parametrize(
    "command_line, expected",
    [
        (None, []),
        ("", [""]),
        # Quotes, escapes, runs of blanks and references: the rules themselves are unit-tested.
        ('"one two" a\\ b  \\\\x %TEMP% ', ["one two", "a b", "", "\\x", "%TEMP%", ""]),
        ("caf\u00e9 \u65e5\u672c \U0001F600x \U00010348", ["caf\u00e9", "\u65e5\u672c", "\U0001F600x", "\U00010348"]),
    ],
    ids=["none", "empty", "mixed", "non-ascii"],
)
def test_service_main_receives_the_exact_arguments(linux, command_line, expected):
    svc = java_service(linux, "com.vantero.tests.RecordingService", command_line)
    result = run_dev(svc)
    assert result.rc == 0, result
    record = svc.record()
    assert record[0] == f"count {len(expected)}", svc.trace_text()
    assert record[1 : 1 + len(expected)] == ["arg " + code_points(a) for a in expected]
    # The Java side ran on the thread that created the VM, and the service ended normally.
    assert "main-thread main" in record
    assert "in native method" not in result.out + result.err, result
    assert "CExecutor::startServiceTask Exit 0" in svc.trace_lines()


def test_class_name_with_slashes_and_expanded_references(linux):
    svc = java_service(linux, "com/vantero/tests/RecordingService", "x")
    assert run_dev(svc).rc == 0
    assert svc.record()[:2] == ["count 1", "arg [78]"]
    # The class name, unlike the command line, has its references expanded.
    svc2 = java_service(linux, "com.vantero.%BRONTEL_TEST_PKG%.RecordingService")
    assert run_dev(svc2, env={"BRONTEL_TEST_PKG": "tests"}).rc == 0
    assert svc2.record()[0] == "count 0"


def test_jvm_options_in_order_unknown_ignored_and_verbose_file_appended(linux):
    verbose = linux.tmp / "verbose" / "vm.log"
    verbose.parent.mkdir()
    verbose.write_text("kept from before\n")
    svc = java_service(
        linux,
        "com.vantero.tests.RecordingService",
        options=["-Dbrontel.order=first", "-Xbrontel-no-such-option", "-Dbrontel.order=second",
                 "-XX:+PrintCommandLineFlags"],
    )
    svc.set("VerboseFile", str(linux.tmp / "%BRONTEL_VERBOSE_DIR%" / "vm.log"))
    # A gap ends the list: JVMOption9 is never read.
    svc.set(f"JVMOption{len(svc.options) + 2}", "-Dbrontel.order=ignored")
    env = {"BRONTEL_VERBOSE_DIR": "verbose"}
    assert run_dev(svc, env=env).rc == 0
    assert run_dev(svc, env=env).rc == 0
    assert svc.record().count("order second") == 2
    text = verbose.read_text()
    # The VM's own output went through the hook into the expanded path, twice, after the old text.
    assert text.startswith("kept from before\n")
    assert text.count("-XX:+PrintCommandLineFlags") == 2
    assert "CExecutor::startServiceTask Exit 0" in svc.trace_lines()


def test_without_verbose_file_the_vm_output_stays_on_the_console(linux):
    svc = java_service(linux, "com.vantero.tests.RecordingService", options=["-XX:+PrintCommandLineFlags"])
    result = run_dev(svc)
    assert "-XX:+PrintCommandLineFlags" in result.out


def test_library_messages_and_default_name(linux):
    # Without JVMdll the registry read is traced and the system's search finds the default name.
    svc = java_service(linux, "com.vantero.tests.RecordingService", jvm_library=None)
    result = run_dev(svc, env={"LD_LIBRARY_PATH": str(linux.jvm_library.parent)})
    assert result.rc == 0
    messages = svc.trace_lines()
    assert "JVM DLL libjvm.so loaded successfully." in messages
    assert any(m.startswith("Error getting size of value JVMdll") for m in messages), messages
    assert svc.record()[0] == "count 0"


# A relative library path (what an undefined variable leaves) is refused before any search.
MISSING = "no/such/lib/server/libjvm.so"
# A library that loads but is no JVM.
NO_JVM = "/usr/lib/x86_64-linux-gnu/libsqlite3.so.0"
T = "com.vantero.tests."
FAILURES = {  # case: (java_service arguments, exit code, the message)
    "relative-library": (dict(service_class=T + "RecordingService", jvm_library=MISSING), 13,
                         "The JVM DLL path is not an absolute path : " + MISSING),
    "no-exports": (dict(service_class=T + "RecordingService", jvm_library=NO_JVM), 14,
                   "Cannot load JNI_CreateJavaVM from the JVM DLL : " + NO_JVM),
    "vm-refuses": (dict(service_class=T + "RecordingService", options=["-Xssbad"]), 16,
                   "Failed to create Java VM rc= -6"),
    "no-class-configured": (dict(), 17, "No Java class implementing service routines was specified."),
    "class-not-found": (dict(service_class="com.example.Missing"), 18, "Cannot find the class com/example/Missing"),
    "no-service-main": (dict(service_class=T + "NoMainService"), 19,
                        "serviceMain method does not exist in class com/vantero/tests/NoMainService"),
    "neither-method": (dict(service_class=T + "NeitherService"), 19,
                       "serviceMain method does not exist in class com/vantero/tests/NeitherService"),
    "no-service-control": (dict(service_class=T + "NoControlService"), 20,
                           "serviceControl method does not exist in class com/vantero/tests/NoControlService"),
    "service-main-throws": (dict(service_class=T + "ThrowingService"), 27,
                            "serviceMain ended with an exception: java.lang.IllegalStateException: the service gave up"),
    # The class exists: its failing static initializer is no "class not found".
    "initializer-throws": (dict(service_class=T + "InitFailingService"), 27,
                           "The static initializer of the class com/vantero/tests/InitFailingService ended with an "
                           "exception: java.lang.IllegalStateException: no configuration for the service"),
}


@pytest.mark.parametrize("case", FAILURES)
def test_development_mode_start_failures(linux, case):
    kwargs, code, message = FAILURES[case]
    if case == "no-class-configured":
        kwargs = dict(kwargs, install=True)  # installed, so the run gets as far as the class
    svc = java_service(linux, **kwargs)
    result = run_dev(svc)
    # brontel's own failure goes to standard error, with the failure's exit code.
    assert result.rc == code, result
    traced = svc.trace_lines()
    assert message in traced, svc.trace_text()
    assert message in result.err.splitlines(), result
    assert message not in result.out
    assert f"Service failed to start.  {code}" in result.err.splitlines()
    assert f"CExecutor::startServiceTask Exit {code}" in traced
    if code in (18, 21):
        class_path = next(o for o in svc.options if o.startswith("-Djava.class.path="))
        assert "The class path is: " + class_path.partition("=")[2] in result.err.splitlines()
    assert "CJvm::runServiceMain Exit 0" not in traced
    # No later JNI call ran with the failed lookup's exception pending (-Xcheck:jni would say so).
    assert "in native method" not in result.out + result.err, result
    if case in ("service-main-throws", "initializer-throws"):
        assert "IllegalStateException" in result.err  # the stack trace for the developer
    if case == "initializer-throws":
        assert not any(m.startswith("Cannot find the class") for m in traced), traced


def test_development_mode_output_of_a_name_not_installed(linux):
    svc = java_service(linux, "com.vantero.tests.RecordingService", jvm_library=MISSING)
    name = svc.name
    # A name that is no installed service: said at once, nothing else tried.
    svc.m.reg_deltree(SERVICES + "\\" + name)
    result = run_dev(svc)
    assert result.rc == 11, result
    assert result.err.splitlines() == [
        f"The service {name} is not installed (brontel -b lists the services brontel installed)."]
    assert result.out == ""
    assert "CJvm::loadJVMDll Entry" not in svc.trace_lines()


def test_static_initializer_may_report_a_state(linux):
    # The natives exist before the class is initialized; a clean run's reports stay off the console.
    svc = java_service(linux, "com.vantero.tests.StaticReportService")
    result = run_dev(svc)
    assert (result.rc, result.err) == (0, ""), result
    assert "Set service to state" not in result.out
    assert svc.record() == ["initialized", "serviceMain"], svc.trace_text()
    traced = svc.trace_lines()
    assert "Set service to state SERVICE_START_PENDING" in traced
    assert "CExecutor::startServiceTask Exit 0" in traced


def test_without_jvm_library_java_home_is_found_and_failures_are_explained(linux, tmp_path):
    svc = java_service(linux, "com.vantero.tests.RecordingService", jvm_library=None)
    # The default name is not on the loader's search path; JAVA_HOME names the runtime.
    result = run_dev(svc, env={"JAVA_HOME": str(linux.jvm_library.parents[2])})
    assert result.rc == 0
    traced = svc.trace_lines()
    assert "Cannot load the JVM DLL : libjvm.so" in traced, svc.trace_text()
    assert f"Trying the JVM DLL {linux.jvm_library} (from JAVA_HOME)" in traced
    assert f"JVM DLL {linux.jvm_library} loaded successfully." in traced
    assert svc.record()[0] == "count 0"

    # JAVA_HOME without a runtime, or with a 32-bit Windows image: the reasons, then what to set.
    empty = tmp_path / "empty-home"
    empty.mkdir()
    foreign = tmp_path / "foreign-home" / "lib" / "server"
    foreign.mkdir(parents=True)
    image = bytearray(0x100)
    image[0:2] = b"MZ"
    image[0x3C] = 0x80
    image[0x80:0x86] = b"PE\0\0\x4c\x01"
    (foreign / "libjvm.so").write_bytes(bytes(image))
    for home in (empty, foreign.parents[1]):
        svc.trace.unlink()
        result = run_dev(svc, env={"JAVA_HOME": str(home)})
        traced = svc.trace_lines()
        assert "CExecutor::startServiceTask Exit 13" in traced, svc.trace_text()
        assert "Set jvmDLL in the service's configuration file to the full path of the JVM DLL, for example " \
               "/usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so, or set JAVA_HOME for the service." in traced
        tried = next(m for m in traced if m.startswith("No Java runtime could be loaded. Tried: "))
        if home == empty:
            assert "Not taken: no JVM DLL below this Java home folder." in traced
            assert tried.startswith(f"No Java runtime could be loaded. Tried: {empty}")
        else:
            library = foreign / "libjvm.so"
            assert "Not taken, error 193" in traced
            assert f"{library} is a 32-bit library; this brontel.exe is 64-bit; " \
                   "use the x86 brontel.exe or a 64-bit Java" in traced


def test_development_mode_without_jvm_under_wine(machine):
    if not machine.is_windows:
        pytest.skip("shows the Windows build's default library name")
    svc = java_service(machine, "com.vantero.tests.RecordingService", jvm_library=None)
    result = run_dev(svc)
    assert result.rc == 13, result
    assert "Cannot load the JVM DLL : jvm.dll" in result.err.replace("\r\n", "\n").splitlines(), result
    messages = svc.trace_lines()
    assert any(m.startswith("Cannot load the JVM DLL : jvm.dll") for m in messages), svc.trace_text()
    assert "CExecutor::startServiceTask Exit 13" in messages


# -- service mode (-Z) through the Service Control Manager ---------------------------------------


def states_set(svc):
    prefix = "Set service to state "
    return [m[len(prefix):] for m in svc.trace_lines() if m.startswith(prefix)]


def test_service_mode_from_a_console_runs_nothing(linux):
    svc = java_service(linux, "com.vantero.tests.RecordingService")
    result = linux.run(["-Z", svc.name])
    assert result.rc == 0
    traced = svc.trace_lines()
    assert "StartServiceCtrlDispatcher failed 1063" in traced, svc.trace_text()
    assert "CExecutor::startServiceTask Entry" not in traced
    assert not svc.out.exists()


def test_service_mode_stop_reaches_java_and_java_reports_the_end(linux):
    svc = java_service(linux, "com.vantero.tests.StoppableService", options=["-Dbrontel.test.stopCode=42"],
                       install=True)
    status = svc.start_and_wait("RUNNING")
    assert status["ACCEPTED"] == 5  # stop and shutdown, as the worker thread reported them
    stop_control(svc)
    status = svc.status()
    # Java's own stop report (exit code 42) stands: no second stop report overwrote it.
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (42, 1066)
    assert states_set(svc) == ["SERVICE_RUNNING", "SERVICE_STOP_PENDING", "SERVICE_STOPPED"]
    assert "Sending service control : SERVICE_CONTROL_STOP" in svc.trace_lines()
    svc.wait_record("stopped")  # the worker records it after its stop report
    assert svc.record() == ["running", "control 1", "stopped"]
    assert "CExecutor::serviceMain Exit 0" in svc.trace_lines()


def test_service_mode_service_that_never_reports_gets_one_clean_stop(linux):
    # Three times: the dispatcher's thread must write its last line before the main thread
    # deletes the logger (it once wrote into a freed one).
    for _ in range(3):
        svc = java_service(linux, "com.vantero.tests.RecordingService", "a b", install=True)
        status = svc.start_and_wait()
        assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (0, 0)
        assert states_set(svc) == []
        assert svc.record()[:3] == ["count 2", "arg [61]", "arg [62]"]
        wait_until(lambda: "main Exit 0" in svc.trace_lines(), "the service process never ended")
        messages = svc.trace_lines()
        assert "CExecutor::serviceMain Exit 0" in messages
        assert "CExecutor::startServiceMainThread Exit 0" in messages, svc.trace_text()
        assert messages.index("CExecutor::startServiceMainThread Exit 0") < messages.index("main Exit 0")


@pytest.mark.parametrize("case", FAILURES)
def test_service_mode_start_failures_stop_with_their_code(linux, case):
    kwargs, code, message = FAILURES[case]
    svc = java_service(linux, **kwargs, install=True)
    status = svc.start_and_wait()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (code, 1066), svc.trace_text()
    traced = svc.trace_lines()
    assert message in traced
    assert f"Service failed to start.  {code}" in traced
    assert f"CExecutor::serviceMain Exit {code}" in traced
    # One event log entry with what the trace says, the names involved and what to do.
    entries = [e for e in start_failure_events(svc) if e["id"] == 1]
    assert len(entries) == 1, entries
    name, code_text, text, library, class_name, hint = entries[0]["strings"]
    assert (name, code_text, entries[0]["type"]) == (svc.name, str(code), 1)
    assert message in text.split("\r\n"), text
    assert library == kwargs.get("jvm_library", str(linux.jvm_library))
    assert class_name == kwargs.get("service_class", "(not set)")
    assert hint and "%" not in hint and "brontel -t" not in hint  # its own hint, not the general one


def start_failure_events(svc):
    log = svc.m.root / "eventlog" / "Application.jsonl"
    entries = [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines()]
    return [e for e in entries if e["source"] == svc.name]


DROPPED = "The service has already reported SERVICE_STOPPED; state SERVICE_RUNNING not reported."


def test_service_mode_report_after_javas_own_stop_is_dropped(linux):
    release = linux.tmp / "release"
    svc = java_service(linux, "com.vantero.tests.LateReportService", install=True,
                       options=["-Dbrontel.test.lateMode=java", "-Dbrontel.test.release=" + str(release)])
    svc.start_and_wait("RUNNING")
    assert svc.svc("control", 1).rc == 0
    svc.wait_record("reported late")
    # The process still runs, Java has just reported running again: the stop stands.
    status = svc.status()
    assert (status["STATE"], status["SERVICE_EXIT"]) == (1, 9), svc.trace_text()
    assert DROPPED in svc.trace_lines()
    release.touch()
    wait_until(lambda: "main Exit 0" in svc.trace_lines(), "the service process to end")
    status = svc.status()
    assert (status["STATE"], status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (1, 9, 1066)
    assert states_set(svc) == ["SERVICE_RUNNING", "SERVICE_STOPPED"]
    remove(svc)  # stopped for good, so it can be removed


def test_service_mode_reports_after_the_final_stop_are_dropped(linux):
    # Threads keep reporting while serviceMain has returned and the process ends.
    svc = java_service(linux, "com.vantero.tests.LateReportService", install=True,
                       options=["-Dbrontel.test.lateMode=threads"])
    for run in range(1, 4):
        svc.start_and_wait("RUNNING")
        stop_control(svc)
        wait_until(lambda: svc.trace_lines().count("main Exit 0") == run, "the service process to end")
        status = svc.status()
        assert (status["STATE"], status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (1, 0, 0)
    traced = svc.trace_lines()
    # Every run: brontel's final stop went out, and nothing was sent after it.
    for end in [i for i, m in enumerate(traced) if m == "CExecutor::serviceMain Exit 0"]:
        after = traced[end:traced.index("main Exit 0", end)]
        assert "Set service to state SERVICE_RUNNING" not in after, after
    assert DROPPED in traced
    remove(svc)


def test_service_mode_controls_during_start_and_end_never_crash(linux):
    # Interrogate and stop controls pelt the service; it leaves its final report to brontel, so
    # controls keep arriving while the VM host is retired and deleted.
    svc = java_service(linux, "com.vantero.tests.StoppableService", options=["-Dbrontel.test.silentStop=true"],
                       install=True)
    for round_ in range(6):
        done = threading.Event()
        sent = []

        def pelt():
            while not done.is_set():
                for code in (4, 1, 4):
                    sent.append(svc.svc("control", code).rc)

        pelters = [threading.Thread(target=pelt) for _ in range(2)]
        start = svc.svc("start")
        assert start.rc == 0, start
        for pelter in pelters:
            pelter.start()
        try:
            waited = svc.svc("wait", "STOPPED", 60000)
        finally:
            done.set()
            for pelter in pelters:
                pelter.join()
        assert waited.rc == 0, (round_, svc.trace_text()[-3000:])
        assert svc.status()["SERVICE_EXIT"] == 0
        assert sent, "no control was sent"
    traced = svc.trace_lines()
    # Every run ended through its own code path, none by a crash.
    assert traced.count("CExecutor::serviceMain Exit 0") == 6
    assert traced.count("main Exit 0") == 6
    assert "Sending service control : SERVICE_CONTROL_STOP" in traced


def test_service_mode_without_jvm_library_stops_with_13(machine):
    svc = java_service(machine, "com.vantero.tests.RecordingService",
                       jvm_library=machine.path(machine.tmp / "missing" / "jvm.dll"), install=True)
    status = svc.start_and_wait()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (13, 1066), svc.trace_text()
    traced = svc.trace_lines()
    assert any(m.startswith("Cannot load the JVM DLL : ") for m in traced)
    assert "Service failed to start.  13" in traced
    assert svc.svc("delete").rc == 0


# -- the relay: Java asks for a control through a separate brontel -s process ---------------------


def test_java_stops_its_own_service_through_the_relay(linux):
    svc = java_service(linux, "com.vantero.tests.RelayService", install=True)
    status = svc.start_and_wait()
    # sendServiceControl(null, 1) started "brontel -s <own name> 1", which stopped the service.
    assert svc.record() == ["sent true", "control 1", "ended"], svc.trace_text()
    assert status["SERVICE_EXIT"] == 0


def test_relay_quotes_names_with_blanks_and_non_ascii_characters(linux):
    target = "Other Service \u00e9\U0001F600"
    svc = java_service(linux, "com.vantero.tests.RelayService",
                       options=["-Dbrontel.test.target=" + target, "-Dbrontel.test.control=4"])
    proc = linux.start(["-x", svc.name])
    try:
        # The relay process traces into the same file; its run ends with the first "main Exit".
        wait_until(lambda: "main Exit" in svc.trace_text(), "the relay process to end")
        assert svc.record()[:1] == ["sent true"]
        # It parsed exactly four arguments: its path, -s, the whole name and the code.
        assert "CParameters::parseCommandLine Entry 4" in svc.trace_lines(), svc.trace_text()
    finally:
        proc.kill()
        proc.communicate()


# -- console pseudo-controls and console events ------------------------------------------------------


def test_break_control_makes_the_vm_dump_its_threads(linux):
    verbose = linux.tmp / "vm.log"
    svc = java_service(linux, "com.vantero.tests.StoppableService", install=True)
    svc.set("VerboseFile", str(verbose))
    svc.start_and_wait("RUNNING")
    result = svc.svc("control", 251)
    assert result.rc == 0, result
    # The VM's break signal, raised on the control handler's thread (which the VM must know, or
    # it crashes): its thread dump lands in the verbose file; serviceControl never sees 251.
    wait_until(lambda: verbose.exists() and "Full thread dump" in verbose.read_text(), "no thread dump")
    stop_control(svc)
    traced = svc.trace_lines()
    assert "Generating control break event." in traced
    assert not any(m.startswith("Failed to generate") for m in traced)
    svc.wait_record("stopped")  # the worker records it after its stop report
    assert [r for r in svc.record() if not r.startswith("console")] == ["running", "control 1", "stopped"]


def test_ctrl_c_control_becomes_a_console_event(linux):
    svc = java_service(linux, "com.vantero.tests.StoppableService", options=["-Dbrontel.test.handleConsole=true"],
                       install=True)
    svc.start_and_wait("RUNNING")
    assert svc.svc("control", 250).rc == 0
    wait_until(lambda: "console 0" in svc.record(), "no Ctrl+C event reached Java")
    # Java handled it, so the service runs on until it is stopped.
    assert svc.status()["STATE"] == 4
    stop_control(svc)
    svc.wait_record("stopped")  # the worker records it after its stop report
    assert svc.record() == ["running", "console 0", "control 1", "stopped"]
    assert "Generating control c event." in svc.trace_lines()
