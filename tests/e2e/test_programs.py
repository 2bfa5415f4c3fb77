"""Unchanged Java programs (main classes, jars, Debian's Derby server) run by ProgramService."""

import os
import pathlib
import socket
import subprocess
import time
import zipfile

import pytest

from config_support import basic, install
from runtime_support import Service, pid_alive, wait_until
from test_output_capture import events

RUNNER = "com.vantero.core.orb.ProgramService"
PROGRAM = "com.vantero.tests.programs.TestProgram"
DERBY = pathlib.Path("/usr/share/java")


def program_service(m, command_line, classpath=("testclasses",), options=(), install=True):
    """A ProgramService service; `classpath` is under the java directory (brontel.jar only if named)."""
    svc = Service(m, RUNNER, jvm=False, install=install, command_line=command_line,
                  name=m.unique("prog"), trace=m.unique("prog") + ".trace")
    svc.set("JVMdll", str(m.jvm_library))
    opts = ["-Xcheck:jni", "-Dbrontel.test.out=" + str(svc.out), *options]
    if classpath:
        opts.insert(0, "-Djava.class.path=" + os.pathsep.join(str(m.java_dir / p) for p in classpath))
    for i, option in enumerate(opts, 1):
        svc.set(f"JVMOption{i}", option)
    return svc


def main_line(svc):
    return wait_until(lambda: [l for l in svc.record() if l.startswith("main ")], "the program's main")[0]


def service_pid(svc):
    pid = int(main_line(svc).split(" pid ")[1].split()[0])
    svc.pids.add(pid)
    return pid


def timed_stop(svc, what):
    """Stops the service through the manager; prints (never judges) the time to stopped."""
    began = time.monotonic()
    assert svc.svc("stop").rc == 0
    waited = svc.svc("wait", "STOPPED", 60000)
    assert waited.rc == 0, (waited, svc.trace_text()[-3000:])
    print(f"\n{what}: stop control to stopped {1000 * (time.monotonic() - began):.0f} ms")
    return svc.status()


def test_main_returning_at_once_then_stop_by_orderly_shutdown(linux):
    # Only the program's classes on the class path: the bridge and the runner come from brontel.
    svc = program_service(linux, f"--start-wait=30 {PROGRAM} serve")
    status = svc.start_and_wait("RUNNING")
    # main returned at once, so the service ran long before the start wait was over.
    assert status["ACCEPTED"] == 5, status
    pid = service_pid(svc)
    svc.wait_record("serving")
    assert "[serve]" in main_line(svc) and "thread main loader true" in main_line(svc), svc.record()
    trace = svc.trace_text()
    assert "The program's main returned; the service runs." in trace
    assert "the program's own copy is used: com/vantero/core/orb/BrontelManager" in trace
    assert "the program's own copy is used: com/vantero/core/orb/ProgramService" in trace

    # The serving thread ignores the stop; the orderly shutdown ends it, hooks run.
    status = timed_stop(svc, "orderly shutdown")
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (0, 0), status
    assert svc.record()[-1] == "hook"
    wait_until(lambda: not pid_alive(pid), "the service process to end")
    assert "The Java VM ends the process with exit code 0" in svc.trace_text()


@pytest.mark.parametrize("trace_arguments", [None, "TRUE"])
def test_blocking_main_with_a_stop_method(linux, trace_arguments):
    # brontel.jar on the class path keeps working: its classes are used, not the program's copy.
    svc = program_service(
        linux,
        f'--start-wait=0.3 --stop-method={PROGRAM}.stop --stop-arg=now "--stop-arg=two words" '
        f"{PROGRAM} block",
        classpath=("brontel.jar", "testclasses"))
    if trace_arguments:
        svc.set("TraceArguments", trace_arguments)
    svc.start_and_wait("RUNNING")
    pid = service_pid(svc)
    assert "The program's main still runs after the start wait; the service runs." in svc.trace_text()
    assert "own copy" not in svc.trace_text()

    status = timed_stop(svc, "stop method")
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (0, 0), status
    record = svc.record()
    assert record[3:] == ["stop [now, two words]", "main returns", "hook"], record
    assert "The program's threads have ended" in svc.trace_text()
    # The stop method's arguments may be secrets: counted, and shown only when asked for.
    calling = f"Stopping the program (stop): calling {PROGRAM}.stop"
    shown = ("[now, two words]" if trace_arguments
             else " with 2 argument(s), traced only with traceArguments=TRUE")
    assert calling + shown in svc.trace_lines(), svc.trace_text()
    assert ("two words" in svc.trace_text()) == bool(trace_arguments)
    wait_until(lambda: not pid_alive(pid), "the service process to end")


def test_stop_method_that_leaves_threads_running_falls_back_to_orderly_shutdown(linux):
    svc = program_service(linux, f"--stop-method={PROGRAM}.stop --stop-wait=0.5 {PROGRAM} serve")
    svc.start_and_wait("RUNNING")
    svc.wait_record("serving")
    status = timed_stop(svc, "stop method, threads still running after the stop wait")
    assert status["SERVICE_EXIT"] == 0, status
    assert svc.record()[-2:] == ["stop []", "hook"]
    assert "The program's threads still run 500 ms after the stop method (server)" in svc.trace_text()


@pytest.mark.parametrize("stop_method", [False, True])
def test_stop_timeout_bounds_the_whole_stop_of_a_program(linux, stop_method):
    # A shutdown hook that sleeps a minute, after a stop method whose threads ignore it: the
    # program service's own 30 s stop wait and its progress reports must not outlast stopTimeout.
    options = f"--stop-method={PROGRAM}.stop " if stop_method else ""
    svc = program_service(linux, f"{options}{PROGRAM} slowhook")
    svc.set("StopTimeout", "3")
    svc.start_and_wait("RUNNING")
    svc.wait_record("serving")
    began = time.monotonic()
    status = timed_stop(svc, "stopTimeout=3, a shutdown hook that sleeps")
    elapsed = time.monotonic() - began
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (28, 1066), status
    # 3 s, the thread dump (at most 10 s) and the reports; the unbounded stop took over 30 s.
    assert elapsed < 15, elapsed
    # The orderly shutdown began (after the stop method and its wait, cut to the timeout).
    assert ("stop []" if stop_method else "slow hook") in svc.record()
    assert "did not stop in time" in svc.trace_text()


@pytest.mark.parametrize("code", [3, 0])
def test_program_calling_system_exit(linux, code):
    trigger = linux.tmp / f"exit{code}"
    svc = program_service(linux, f"--start-wait=0 {PROGRAM} exit {code} {trigger}")
    svc.start_and_wait("RUNNING")
    pid = service_pid(svc)
    trigger.write_text("now")
    waited = svc.svc("wait", "STOPPED", 60000)
    assert waited.rc == 0, waited
    status = svc.status()
    # A stop with the program's own code, not the crash of a process that vanished.
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == ((3, 1066) if code else (0, 0)), status
    assert svc.record()[-2:] == [f"exit {code}", "hook"]
    assert f"The Java VM ends the process with exit code {code}" in svc.trace_text()
    wait_until(lambda: not pid_alive(pid), "the service process to end")


def test_main_throwing_before_the_service_runs(linux):
    svc = program_service(linux, f"{PROGRAM} throw")
    status = svc.start_and_wait("STOPPED")
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (33, 1066), status
    assert ("The program's main ended with an exception before the service ran: "
            "java.lang.IllegalStateException: broken configuration") in svc.trace_text()
    # Ended by the orderly shutdown: the program's hooks ran.
    assert svc.record()[-1] == "hook"
    # The reason reaches the event log, whose entry is the only trace with tracing off.
    [entry] = events(linux, svc.name, 1)
    assert entry["strings"][1] == "33"
    assert "java.lang.IllegalStateException: broken configuration" in entry["strings"][2]
    # The console run of the same service fails with the same code.
    assert linux.run(["-x", svc.name]).rc == 33


@pytest.mark.parametrize(
    "command_line, message",
    [
        (f"--start-wait=soon {PROGRAM} serve", "--start-wait takes seconds from 0 to 86400, not \"soon\""),
        (f"--stop-wait=-1 {PROGRAM} serve", "--stop-wait takes seconds from 0 to 86400, not \"-1\""),
        (f"--restart=yes {PROGRAM} serve", "unknown option --restart"),
        (f"--stop-method {PROGRAM} serve", "the option --stop-method needs a value"),
        (f"--stop-arg=x {PROGRAM} serve", "--stop-arg given without --stop-method"),
        (f"--stop-method={PROGRAM}.halt {PROGRAM} serve", f"the class {PROGRAM} has no static method halt"),
        (f"--stop-method=stop {PROGRAM} serve", "--stop-method needs CLASS.METHOD, not stop"),
        ("", "expected a main class or -jar, found \"\""),
        ("--start-wait=1", "no main class or -jar given"),
        ("-jar", "-jar needs the jar file"),
        ("-jar /nonexistent/app.jar", "the jar /nonexistent/app.jar cannot be read"),
        ("com.example.Missing", "the main class com.example.Missing cannot be loaded"),
        ("com.vantero.tests.programs.Handler",
         "the class com.vantero.tests.programs.Handler has no public static void main(String[])"),
    ],
)
def test_a_program_that_cannot_be_started_stops_with_32(linux, command_line, message):
    svc = program_service(linux, command_line, install=False)
    result = linux.run(["-x", svc.name])
    # The console run ends with the code the service would report.
    assert result.rc == 32, result
    assert message in result.err, result
    assert "The program cannot be started: " + message in svc.trace_text()
    assert "Set service to state SERVICE_STOPPED" in svc.trace_text()
    assert "Starting " not in svc.trace_text()


def test_start_of_a_program_that_cannot_be_started_names_the_reason(linux):
    svc = program_service(linux, "com.example.Missing")
    result = linux.run(["-start", svc.name])
    assert result.rc == 39, result
    # -start ends with the entry the service wrote before it reported its stop, not an older one.
    assert "Service exit code:  32 (ProgramService cannot start the program)" in result.out, result
    assert ("event 1: The service " + svc.name + " failed to start (code 32).") in result.out, result
    assert "the main class com.example.Missing cannot be loaded" in result.out, result
    assert len(events(linux, svc.name, 1)) == 1


def make_jar(path, m, names, manifest):
    classes_dir = m.java_dir / "testclasses" / "com" / "vantero" / "tests" / "programs"
    with zipfile.ZipFile(path, "w") as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n" + manifest + "\r\n")
        for name in names:
            for f in sorted(classes_dir.glob(name + "*.class")):
                jar.write(f, str(f.relative_to(classes_dir.parent.parent.parent.parent)))


def test_executable_jar_with_class_path_and_a_control_handler(linux):
    (linux.tmp / "lib").mkdir()
    # The main class in the jar; the handler, which it needs, only in the jar its Class-Path names.
    app = linux.tmp / "app.jar"
    make_jar(app, linux, ["TestProgram"], f"Main-Class: {PROGRAM}\r\nClass-Path: lib/handler.jar")
    make_jar(linux.tmp / "lib" / "handler.jar", linux, ["Handler"], "")
    # No class path at all: the jar is the program's class path, as with the launcher's -jar.
    svc = program_service(linux, f"-jar {app} handler", classpath=(), install=False)
    proc = svc.start_dev()
    svc.wait_record("serving")
    assert "[handler]" in main_line(svc) and "loader true" in main_line(svc), svc.record()

    # The program's handler takes pause; it declines the others, which the runner handles or drops.
    for signal_text in ("SERVICE_CONTROL_PAUSE", "SERVICE_CONTROL_PARAMCHANGE"):
        assert svc.send(signal_text).rc == 0
    svc.wait_record("control 6")
    svc.wait_trace("Control 6 not forwarded: the program has not taken it.")
    assert "Control 2 not forwarded" not in svc.trace_text()
    svc.stop_dev(proc)
    assert svc.record()[-2:] == ["control 1", "hook"]
    assert f"The program's jar goes first on the class path: {app}" in svc.trace_text()
    assert "The Java VM ends the process with exit code 0" in svc.trace_text()


def test_jar_code_source_and_controls_without_a_handler(linux):
    app = linux.tmp / "app.jar"
    make_jar(app, linux, ["TestProgram"], f"Main-Class: {PROGRAM}")
    # An administrator's class path stays behind the jar.
    svc = program_service(linux, f"-jar {app} serve", classpath=("brontel.jar",), install=False)
    proc = svc.start_dev()
    svc.wait_record("serving")
    assert svc.send("SERVICE_CONTROL_NETBINDADD").rc == 0
    svc.wait_trace("Control 7 not forwarded: the program has no control handler.")
    # Shutdown takes the stop's road.
    assert svc.send("SERVICE_CONTROL_SHUTDOWN").rc == 0
    assert proc.wait(timeout=60) == 0
    assert "Stopping the program (shutdown): orderly shutdown of the VM." in svc.trace_text()
    record = svc.record()
    assert record[-1] == "hook"
    # The jar is its classes' code source (launchers look for it); the class path follows it.
    assert f"source file:{app}" in record, record
    assert f"classpath {app}{os.pathsep}{linux.java_dir / 'brontel.jar'}" in record, record


# -- a real server from Debian's packages --------------------------------------------------------

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2):
            return True
    except OSError:
        return False


def derby_ping(port):
    java = pathlib.Path(str(os.environ.get("BRONTEL_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))) / "bin" / "java"
    return subprocess.run([str(java), "-jar", str(DERBY / "derbynet.jar"), "ping", "-p", str(port)],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)


@pytest.mark.skipif(not (DERBY / "derbynet.jar").exists(),
                    reason="Debian's libderby-java is not installed (scripts/setup installs it)")
def test_derby_network_server_unchanged(linux):
    port = free_port()
    home = linux.tmp / "derby"
    home.mkdir()
    name = linux.unique("derby")
    linux.trace_to(linux.tmp / "derby.trace")
    installed = install(linux, basic(
        name, f"jvmDLL={linux.jvm_library}",
        f"jvmOption1=-Dderby.system.home={home}",
        "jvmOption2=-Xmx128m",
        # Derby's own stop command, as its shutdown script runs it.
        f"commandLineParms=--stop-method=org.apache.derby.drda.NetworkServerControl.main "
        f"--stop-arg=shutdown --stop-arg=-p --stop-arg={port} "
        f"-jar {DERBY / 'derbynet.jar'} start -p {port} -noSecurityManager",
        display="Apache Derby network server", service_class=RUNNER), file_name="derby.conf")
    assert installed.rc == 0, installed
    svc = Service(linux, None, jvm=False, name=name, trace="derby.trace")
    svc.installed = True

    svc.start_and_wait("RUNNING")
    wait_until(lambda: derby_ping(port).returncode == 0, "Derby to answer its ping")
    derby_log = home / "derby.log"
    first = pid_listening(svc, port)

    status = timed_stop(svc, "Derby, stop method")
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (0, 0), status
    assert not answers(port)
    wait_until(lambda: not pid_alive(first), "Derby's process to end")
    # Derby closed its engine itself (its log is written anew by each start).
    assert "Shutting down Derby engine" in derby_log.read_text(errors="replace")
    text = svc.trace_text()
    assert "Stopping the program (stop): calling org.apache.derby.drda.NetworkServerControl.main" in text
    assert "The Java VM ends the process with exit code 0" in text

    # Started again, then restarted with 128: a new process answers on the same port.
    svc.start_and_wait("RUNNING")
    wait_until(lambda: derby_ping(port).returncode == 0, "Derby to answer again")
    second = pid_listening(svc, port)
    restarted = svc.send("128")
    assert restarted.rc == 0, restarted
    wait_until(lambda: not pid_alive(second), "the restarted service's old process to end")
    wait_until(lambda: derby_ping(port).returncode == 0, "Derby to answer after the restart")
    third = pid_listening(svc, port)
    assert third != second
    # Derby's main never returns: the service reports running once the start wait is over.
    assert svc.svc("wait", "RUNNING", 60000).rc == 0

    removed = linux.run(["-u", str(linux.tmp / "derby.conf")])
    assert removed.rc == 0, removed
    svc.installed = False
    wait_until(lambda: not pid_alive(third), "Derby's process to end on removal")
    assert not answers(port)
    assert "Shutting down Derby engine" in derby_log.read_text(errors="replace")


def pid_listening(svc, port):
    """The service's process, which listens on the port (from /proc); ended with the service."""
    def find():
        inodes = set()
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            try:
                lines = open(table).read().splitlines()[1:]
            except OSError:
                continue
            for line in lines:
                fields = line.split()
                if int(fields[1].rsplit(":", 1)[1], 16) == port and fields[3] == "0A":
                    inodes.add(fields[9])
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                for fd in os.listdir(f"/proc/{pid}/fd"):
                    target = os.readlink(f"/proc/{pid}/fd/{fd}")
                    if target.startswith("socket:[") and target[8:-1] in inodes:
                        return int(pid)
            except OSError:
                continue
        return None
    pid = wait_until(find, f"the process listening on {port}")
    svc.pids.add(pid)
    return pid
