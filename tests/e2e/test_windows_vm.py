"""The Windows build's service life cycle under Wine's manager, against the VM test double (jvm.dll)."""

import re
import shutil
import struct
import subprocess

import pytest

from runtime_support import Service, wait_until


@pytest.fixture
def win(machine):
    if not machine.is_windows:
        pytest.skip("the VM test double is a Windows library")
    return machine


def runtime(m, variant="vmdouble", name=None):
    """A Java runtime folder holding the double as bin\\server\\jvm.dll."""
    home = m.tmp / (name or m.unique("rt"))
    (home / "bin" / "server").mkdir(parents=True)
    built = m.build_dir / "tests" / "vmdouble"
    shutil.copy(built / variant / "jvm.dll", home / "bin" / "server" / "jvm.dll")
    if variant == "vmdouble_dep":
        shutil.copy(built / "vmdouble_dependency.dll", home / "bin" / "vmdouble_dependency.dll")
    return home


class DoubleService(Service):
    def __init__(self, m, service_class, options=(), library=None, **kwargs):
        super().__init__(m, service_class, jvm=False, **kwargs)
        self.misuse = m.tmp / (self.name + ".misuse")
        if library is not False:
            self.set("JVMdll", m.path(library or runtime(m) / "bin" / "server" / "jvm.dll"))
        for i, option in enumerate([f"-Dvmdouble.record={m.path(self.out)}",
                                    f"-Dvmdouble.misuse={m.path(self.misuse)}", *options], 1):
            self.set(f"JVMOption{i}", option)

    def start_and_wait(self, state="STOPPED"):
        # The double ends the process at once on a call it does not implement: say so now
        # rather than wait for a process end that the trace will never show.
        result = self.svc("start")
        if state == "STOPPED":
            assert result.rc == 0 or "FAILED 1053" in result.out, result
            wait_until(lambda: self.misused() or "main Exit" in self.trace_text(),
                       "the service process to end", 180)
            assert self.misused() == "", self.trace_text()[-3000:]
        else:
            assert result.rc == 0, result
        waited = self.svc("wait", state, 60000)
        assert waited.rc == 0, (waited, self.trace_text()[-3000:])
        return self.status()

    def stop_and_wait(self):
        """Stops the service through the manager; the status once it has stopped."""
        result = self.svc("stop")
        assert result.rc == 0, result
        waited = self.svc("wait", "STOPPED", 60000)
        assert waited.rc == 0, (waited, self.trace_text()[-3000:])
        return self.status()

    def misused(self):
        return self.misuse.read_text(errors="replace") if self.misuse.exists() else ""

    def thread_of(self, message):
        """The thread id (decimal) that traced a message."""
        for line in self.trace_text().splitlines():
            tid, _, text = line.partition(" ")
            if text == message:
                return int(tid, 16)
        raise AssertionError(f"{message!r} not traced")


@pytest.fixture
def double(win):
    """Makes DoubleServices and cleans every one of them up after the test."""
    made = []

    def make(service_class, **kwargs):
        made.append(DoubleService(win, service_class, **kwargs))
        return made[-1]

    yield make
    for svc in made:
        svc.cleanup()


DROPPED = "The service has already reported SERVICE_STOPPED; state SERVICE_RUNNING not reported."


def controls_in(svc):
    """The controls serviceControl received, in order: (code, thread id)."""
    return [(int(l.split()[1]), int(l.split()[3])) for l in svc.record() if l.startswith("control ")]


def test_service_mode_runs_takes_controls_restarts_and_stops(win, double):
    """One installed service: start, controls through the manager by name and number, restart, stop."""
    svc = double("vmdouble.Running", install=True, command_line="a \U0001F600b")
    verbose = win.tmp / "verbose.txt"
    svc.set("VerboseFile", win.path(verbose))
    svc.start_and_wait("RUNNING")
    # Running was reported from a thread of the VM's own, through the native method.
    running = next(l for l in svc.record() if l.startswith("reported running from "))
    assert svc.thread_of("Set service to state SERVICE_RUNNING") == int(running.split()[-1])
    # The administrator's options in order, then the exit and output hooks the program adds;
    # the VM's own output went through the hook into the verbose file.
    assert svc.record()[:5] == ["option -Dvmdouble.record=" + win.path(svc.out),
                                "option -Dvmdouble.misuse=" + win.path(svc.misuse),
                                "option exit", "option vfprintf", "args 2"]
    assert "vmdouble: 4 options, the first -Dvmdouble.record=" in verbose.read_text()
    assert "arg \U0001F600b" in svc.record()
    # A line from Java through the bridge's trace native.
    assert f"vmdouble trace from {running.split()[-1]}" in svc.trace_lines()

    # Without a development-mode instance, -s goes through the manager to the handler thread.
    for signal, code in (("SERVICE_CONTROL_PARAMCHANGE", 6), ("200", 200)):
        assert win.run(["-s", svc.name, signal]).rc == 0
        wait_until(lambda: code in [c for c, _ in controls_in(svc)], f"control {code}")
    handler = svc.thread_of("Sending service control : SERVICE_CONTROL_PARAMCHANGE")
    assert [t for c, t in controls_in(svc) if c == 6] == [handler]

    # The restart stops the service through the manager and starts it again.
    restarted = win.run(["-s", svc.name, "SERVICE_CONTROL_RESTART"])
    assert restarted.rc == 0, (restarted, svc.trace_text()[-3000:])
    wait_until(lambda: svc.record().count("ended") == 1 and
               sum(l.startswith("reported running") for l in svc.record()) == 2, "the restart")
    assert svc.svc("wait", "RUNNING", 60000).rc == 0

    status = svc.stop_and_wait()
    assert (status["WIN32_EXIT"], status["SERVICE_EXIT"]) == (0, 0)
    assert [c for c, _ in controls_in(svc)] == [6, 200, 1, 1]
    # The stop reached serviceControl(1) on the manager's handler thread.
    assert svc.record()[-1] == "ended"
    assert svc.misused() == ""


def test_service_mode_ends_of_a_service(win, double):
    """Late reports, a report from the initializer, a self-stop, System.exit and no report at all."""
    late = double("vmdouble.LateRunning", install=True)
    init = double("vmdouble.StaticInit", install=True)
    relay = double("vmdouble.Relay", install=True)
    exits = double("vmdouble.Exits", install=True, options=["-Dvmdouble.exitCode=3"])
    silent = double("vmdouble.Silent", install=True)
    # Reports after the final stop are dropped: the service stays stopped and can be removed.
    late.start_and_wait("RUNNING")
    late.stop_and_wait()
    wait_until(lambda: "main Exit 0" in late.trace_lines(), "the service process to end")
    traced = late.trace_lines()
    end = traced.index("CExecutor::serviceMain Exit 0")
    assert "Set service to state SERVICE_RUNNING" not in traced[end:]
    assert DROPPED in traced
    status = late.status()
    assert (status["STATE"], status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (1, 0, 0)
    removed = win.run(["-r", late.name])
    assert removed.rc == 0, removed
    late.installed = False

    # The initializer's report reaches the manager: the natives are registered before the
    # service class is looked up.
    mark = len(init.trace_lines())  # the services share one trace file
    init.start_and_wait("RUNNING")
    assert "static initializer on" in " ".join(init.record())
    states = [l for l in init.trace_lines()[mark:] if l.startswith("Set service to state ")]
    assert states[:2] == ["Set service to state SERVICE_START_PENDING",
                          "Set service to state SERVICE_RUNNING"]

    # sendServiceControl from a thread of the VM's own: the service stops itself.
    status = relay.start_and_wait()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (0, 0)
    assert "sent true" in relay.record()
    assert [c for c, _ in controls_in(relay)] == [1]

    # System.exit(3): the exit hook reports the stop with the code, no crash.
    status = exits.start_and_wait()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (3, 1066), exits.trace_text()
    assert "System.exit 3" in " ".join(exits.record())
    assert "The Java VM ends the process with exit code 3" in exits.trace_lines()

    # A service that never reports is left to the manager: brontel reports nothing in its
    # name. (Wine's manager gives up on it after its start time-out, 1053, and ends it.)
    mark = len(silent.trace_lines())
    started = silent.svc("start")
    assert started.rc == 0 or "FAILED 1053" in started.out, started
    assert "args 0" in silent.record()
    assert not [l for l in silent.trace_lines()[mark:] if l.startswith("Set service to state")]
    assert silent.misused() == ""
    for svc in (late, init, relay, exits, silent):
        svc.cleanup()
        svc.installed = False
    # Nor did their stops misuse the VM.
    assert all(svc.misused() == "" for svc in (late, init, relay, exits))


def test_development_mode_controls_console_events_and_restart(win, double):
    """-x: controls through the pipe, console events, the break signal to the VM, and a restart."""
    svc = double("vmdouble.Running")
    verbose = win.tmp / "verbose.txt"
    svc.set("VerboseFile", win.path(verbose))
    first = svc.start_dev()
    wait_until(lambda: any(l.startswith("reported running") for l in svc.record()), "running")
    for signal, code in (("SERVICE_CONTROL_PARAMCHANGE", 6), ("200", 200)):
        sent = svc.send(signal)
        assert sent.rc == 0, sent
        wait_until(lambda: code in [c for c, _ in controls_in(svc)], f"control {code}")

    # The break signal goes to the VM's own function on a thread it knows; its signal
    # thread writes the thread dump through the output hook into the verbose file.
    assert svc.send("CTRL_BREAK_EVENT").rc == 0
    svc.wait_record("raise 21 on " + next(
        l.split()[-1] for l in svc.record() if l.startswith("control 200 on ")))
    wait_until(lambda: "Full thread dump vmdouble" in verbose.read_text(), "the thread dump")

    # The restart stops this instance through its pipe and starts a new one on its own console
    # (its output goes to a file: the new instance holds on to the sender's output).
    with open(win.tmp / "restart.log", "wb") as log:
        restart = win.start(["-s", svc.name, "128"], stdout=log, stderr=subprocess.STDOUT)
    assert restart.wait(timeout=180) == 0, (win.tmp / "restart.log").read_bytes()
    assert first.wait(timeout=60) == 0
    wait_until(lambda: sum(l.startswith("reported running") for l in svc.record()) == 2,
               "the restarted instance")

    # Ctrl+C on that console is offered to Java's consoleSignal, which takes it.
    assert svc.send("CTRL_C_EVENT").rc == 0
    wait_until(lambda: any(l.startswith("console 0 on ") for l in svc.record()), "the console event")
    assert svc.send("SERVICE_CONTROL_STOP").rc == 0
    svc.wait_record("ended", 2)
    assert [c for c, _ in controls_in(svc)] == [6, 200, 1, 1]
    assert svc.misused() == ""


def test_stop_timeout_dumps_the_threads_and_ends_the_service(win, double):
    """stopTimeout=2 on a service that ignores the stop: the VM's thread dump, then code 28."""
    svc = double("vmdouble.Stubborn", install=True)
    verbose = win.tmp / "verbose.txt"
    svc.set("VerboseFile", win.path(verbose))
    svc.set("StopTimeout", "2")
    svc.start_and_wait("RUNNING")
    status = svc.stop_and_wait()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (28, 1066)
    assert [c for c, _ in controls_in(svc)] == [1]
    assert "thread dump on" in " ".join(svc.record())
    dump = verbose.read_text()
    assert "Full thread dump vmdouble" in dump
    traced = svc.trace_lines()
    assert any(l.startswith(f"The service {svc.name} did not stop in time: ") and
               f"The Java threads were dumped to the verboseOutput file {win.path(verbose)}." in l
               for l in traced), svc.trace_text()[-3000:]
    assert not [l for l in traced if "did not finish its thread dump" in l]
    assert svc.misused() == ""


# What each start failure traces besides "Service failed to start.", as the Linux build's own.
START_FAILURES = {
    13: dict(library="missing"),
    # A library that loads but is no VM.
    14: dict(library="no-exports", traced=["Cannot load JNI_CreateJavaVM from the JVM DLL : {library}"]),
    15: dict(refuse=True),
    16: dict(options=["-Dvmdouble.createVM=-6"], traced=["Failed to create Java VM rc= -6"]),
    # An option the ANSI code page cannot hold: the VM would not be the configured one.
    "16-option": dict(options=["-Dvmdouble.secret=\u4e2d\u6587"],
                      traced=["JVM option not representable in the ANSI code page: "
                              "jvmOption3 (-Dvmdouble.secret=...)"]),
    17: dict(service_class=None,
             traced=["No Java class implementing service routines was specified."]),
    18: dict(service_class="vmdouble.Missing", options=["-Djava.class.path=C:\\app\\lib.jar"],
             traced=["Class lookup failed: java.lang.NoClassDefFoundError: vmdouble/Missing",
                     "Cannot find the class vmdouble/Missing",
                     "The class path is: C:\\app\\lib.jar"]),
    19: dict(service_class="vmdouble.NoMain",
             traced=["serviceMain method does not exist in class vmdouble/NoMain"]),
    20: dict(service_class="vmdouble.NoControl",
             traced=["serviceControl method does not exist in class vmdouble/NoControl"]),
    # The bridge is neither on the class path nor definable from the program's own copy.
    21: dict(options=["-Dvmdouble.bridge=absent"],
             traced=["The program's own copy of a class cannot be defined: "
                     "java.lang.SecurityException: Prohibited package name",
                     "Cannot find BrontelManager class."]),
    22: dict(options=["-Dvmdouble.bridge=refused"],
             traced=["Unable to register methods for BrontelManager class."]),
    # An exception escaping serviceMain, and one escaping the service class's initializer.
    27: dict(service_class="vmdouble.Throws",
             traced=["serviceMain ended with an exception: "
                     "java.lang.IllegalStateException: the service gave up"]),
    "27-initializer": dict(service_class="vmdouble.InitFails",
                           traced=["The static initializer of the class vmdouble/InitFails ended "
                                   "with an exception: java.lang.IllegalStateException: no settings"]),
}


@pytest.mark.parametrize("case", list(START_FAILURES))
def test_start_failures_show_their_service_specific_code(win, double, case):
    failure = START_FAILURES[case]
    code = int(str(case).split("-")[0])
    home = runtime(win)
    library = home / "bin" / "server" / "jvm.dll"
    if failure.get("library") == "missing":
        library = home / "missing" / "jvm.dll"
    elif failure.get("library") == "no-exports":
        shutil.copy(win.build_dir / "tests" / "vmdouble" / "vmdouble_dependency.dll", library)
    if failure.get("refuse"):
        (library.parent / "refuse-jni-1.2").write_text("")
    svc = double(failure.get("service_class", "vmdouble.Running"), options=failure.get("options", ()),
                 library=library, install=True)
    status = svc.start_and_wait()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (code, 1066), svc.trace_text()
    traced = svc.trace_lines()
    for message in [f"Service failed to start.  {code}", *failure.get("traced", ())]:
        message = message.replace("{library}", win.path(library))
        assert message in traced, svc.trace_text()
    assert "Memory error in CJvm::createInitArgs" not in traced
    assert svc.misused() == ""


def test_library_search_dependency_registry_and_bitness(win):
    # The dependent double loads only because its runtime's bin folder serves its dependency;
    # it is found through the runtime registered by a Java installer, after a JAVA_HOME that
    # holds no runtime.
    home = runtime(win, "vmdouble_dep", "registered")
    empty = win.tmp / "no-java"
    empty.mkdir()
    key = r"SOFTWARE\JavaSoft\JDK"
    win.reg_set(key, "CurrentVersion", "sz", "17")
    win.reg_set(key + r"\17", "JavaHome", "sz", win.path(home))
    svc = DoubleService(win, "vmdouble.Silent", library=False, options=["-Dvmdouble.createVM=-6"])
    try:
        result = win.run(["-x", svc.name], env={"JAVA_HOME": win.path(empty)})
        assert result.rc == 16, result
        traced = svc.trace_lines()
        library = win.path(home / "bin" / "server" / "jvm.dll")
        tried = [l for l in traced if l.startswith(("Trying the JVM DLL", "Not taken"))]
        assert tried == [f"Trying the JVM DLL {win.path(empty)} (from JAVA_HOME)",
                         "Not taken: no JVM DLL below this Java home folder.",
                         f"Trying the JVM DLL {library} (from registry HKLM\\SOFTWARE\\JavaSoft\\JDK\\17, JavaHome)"], \
            svc.trace_text()
        assert f"JVM DLL {library} loaded successfully." in traced
        assert "CExecutor::startServiceTask Exit 16" in traced

        # A JAVA_HOME that holds a runtime comes before the registered one.
        own = runtime(win)
        mark = len(svc.trace_lines())
        result = win.run(["-x", svc.name], env={"JAVA_HOME": win.path(own)})
        assert result.rc == 16, result
        own_library = win.path(own / "bin" / "server" / "jvm.dll")
        tried = [l for l in svc.trace_lines()[mark:] if l.startswith("Trying the JVM DLL")]
        assert tried == [f"Trying the JVM DLL {own_library} (from JAVA_HOME)"], svc.trace_text()
        assert f"JVM DLL {own_library} loaded successfully." in svc.trace_lines()[mark:]
    finally:
        win.reg_deltree(r"SOFTWARE\JavaSoft")

    # The 32-bit double beside the 64-bit program: the plain bitness sentence, code 13.
    x86 = win.build_dir.parent / "win32" / "tests" / "vmdouble" / "vmdouble" / "jvm.dll"
    assert x86.exists(), "build the win32 preset for the 32-bit VM double"
    svc = DoubleService(win, "vmdouble.Silent", library=x86)
    result = win.run(["-x", svc.name])
    assert result.rc == 13, result
    assert f"{win.path(x86)} is a 32-bit library; this brontel.exe is 64-bit; " \
           "use the x86 brontel.exe or a 64-bit Java" in svc.trace_lines(), svc.trace_text()
    assert "CExecutor::startServiceTask Exit 13" in svc.trace_lines()


def pe_exports(path):
    """The names a PE library exports, read from its export directory."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", path
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    export_rva = struct.unpack_from("<I", data, directories)[0]
    table = [struct.unpack_from("<II4xI", data, optional + optional_size + 40 * i + 8)
             for i in range(sections)]

    def offset(rva):
        for size, address, raw in table:
            if address <= rva < address + size:
                return rva - address + raw
        raise AssertionError(f"RVA {rva:#x} is in no section of {path}")

    count, names = struct.unpack_from("<I4xI", data, offset(export_rva) + 24)
    result = set()
    for i in range(count):
        start = offset(struct.unpack_from("<I", data, offset(names) + 4 * i)[0])
        result.add(data[start:data.index(b"\0", start)].decode("ascii"))
    return result


def looked_up(program):
    """The VM functions a brontel build asks GetProcAddress for: the names it carries."""
    found = re.findall(rb"(?<![\w@])(_?(?:JNI|JVM)_[A-Za-z]+(?:@\d+)?)\0", program.read_bytes())
    return {name.decode("ascii") for name in found}


def test_each_double_exports_what_its_build_looks_up(win):
    """Both doubles offer what their build looks up (decorated names on 32-bit)."""
    for build in ("win64", "win32"):
        folder = win.build_dir.parent / build
        double = folder / "tests" / "vmdouble" / "vmdouble" / "jvm.dll"
        assert double.exists(), f"build the {build} preset for its VM double"
        wanted = looked_up(folder / "brontel.exe")
        # The three functions, each under one name or another.
        assert len([n for n in wanted if "CreateJavaVM" in n]) == 1, wanted
        assert len([n for n in wanted if "GetDefaultJavaVMInitArgs" in n]) == 1, wanted
        assert len([n for n in wanted if "RaiseSignal" in n]) == 1, wanted
        assert wanted <= pe_exports(double), (build, wanted, pe_exports(double))
    # The 32-bit build asks for the raise-signal function by its stdcall name.
    assert "_JVM_RaiseSignal@4" in looked_up(win.build_dir.parent / "win32" / "brontel.exe")


def test_environment_value_and_working_directory_reach_the_service_process(win, double):
    """The Environment value (references resolved) and the working directory, in both modes."""
    work = win.tmp / "work"
    work.mkdir()
    svc = double("vmdouble.Running", install=True,
                 options=["-Dvmdouble.env=APP_HOME,APP_DATA,BRONTEL_NOT_SET,PATH"])
    services = r"SYSTEM\CurrentControlSet\Services" + "\\" + svc.name
    win.reg_set(services, "Environment", "multi", r"APP_HOME=C:\app", r"APP_DATA=%APP_HOME%\data",
                r"PATH=%PATH%;C:\extra")
    svc.set("WorkingDirectory", win.path(work))
    expected = [r"env APP_HOME=C:\app", r"env APP_DATA=C:\app\data", "env BRONTEL_NOT_SET unset",
                "cwd " + win.path(work)]

    def check(record):
        assert [l for l in record if l.startswith(("env A", "env B", "cwd "))] == expected, record
        # PATH extends the system's (or under -x the caller's) value, not the manager's text.
        path = [l for l in record if l.startswith("env PATH=")]
        assert len(path) == 1 and path[0].endswith(r";C:\extra") and "%" not in path[0], record
        assert r"\system32" in path[0].lower(), record

    svc.start_and_wait("RUNNING")
    check(svc.record())
    svc.stop_and_wait()

    svc.out.unlink()
    proc = svc.start_dev()
    wait_until(lambda: any(l.startswith("reported running") for l in svc.record()), "running")
    check(svc.record())
    svc.stop_dev(proc)

    # A folder that does not exist fails the start with its code, naming the folder.
    missing = win.path(win.tmp / "missing")
    svc.set("WorkingDirectory", missing)
    mark = len(svc.trace_lines())
    started = svc.svc("start")
    assert started.rc == 0 or "FAILED 1053" in started.out, started
    assert svc.svc("wait", "STOPPED", 60000).rc == 0
    wait_until(lambda: "CExecutor::serviceMain Exit 40" in svc.trace_lines()[mark:], "the failed start", 180)
    status = svc.status()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (40, 1066), svc.trace_text()
    assert f"The working directory {missing} cannot be entered; the service does not start." \
        in svc.trace_lines()[mark:]
    assert svc.misused() == ""
