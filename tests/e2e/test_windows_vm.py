"""The Windows build's whole service life cycle under Wine, against the VM test double (jvm.dll
built from tests/vmdouble): Wine's own Service Control Manager, pipes and console."""

import re
import shutil

import pytest

from runtime_support import Service, wait_until


@pytest.fixture
def win(machine):
    if not machine.is_windows:
        pytest.skip("the VM test double is a Windows library")
    return machine


def runtime(m, variant="vmdouble", name="rt"):
    """A Java runtime folder holding the double as bin\\server\\jvm.dll."""
    home = m.tmp / name
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
        if state == "STOPPED":
            result = self.svc("start")
            assert result.rc == 0 or "FAILED 1053" in result.out, result
            wait_until(lambda: self.misused() or "main Exit" in self.trace_text(),
                       "the service process to end", 180)
            assert self.misused() == "", self.trace_text()[-3000:]
            waited = self.svc("wait", state, 60000)
            assert waited.rc == 0, (waited, self.trace_text()[-3000:])
            return self.status()
        return super().start_and_wait(state)

    def misused(self):
        return self.misuse.read_text(errors="replace") if self.misuse.exists() else ""

    def thread_of(self, message):
        """The thread id (decimal) that traced a message."""
        for line in self.trace_text().splitlines():
            tid, _, text = line.partition(" ")
            if text == message:
                return int(tid, 16)
        raise AssertionError(f"{message!r} not traced")


def test_service_mode_runs_and_stops_through_the_manager(win):
    svc = DoubleService(win, "vmdouble.Running", install=True, command_line="a \U0001F600b")
    try:
        assert svc.svc("start").rc == 0
        assert svc.svc("wait", "RUNNING", 60000).rc == 0, svc.trace_text()
        # Running was reported from a thread of the VM's own, through the native method.
        running = next(l for l in svc.record() if l.startswith("reported running from "))
        assert svc.thread_of("Set service to state SERVICE_RUNNING") == int(running.split()[-1])
        # The administrator's options in order, then the exit hook the program adds.
        assert svc.record()[:4] == ["option -Dvmdouble.record=" + win.path(svc.out),
                                    "option -Dvmdouble.misuse=" + win.path(svc.misuse),
                                    "option exit", "args 2"]
        assert "arg \U0001F600b" in svc.record()
        assert svc.svc("stop").rc == 0
        assert svc.svc("wait", "STOPPED", 60000).rc == 0
        status = svc.status()
        assert (status["WIN32_EXIT"], status["SERVICE_EXIT"]) == (0, 0)
        control = next(l for l in svc.record() if l.startswith("control 1 on "))
        # The stop reached serviceControl(1) on the manager's handler thread.
        assert svc.thread_of("Sending service control : SERVICE_CONTROL_STOP") == int(control.split()[-1])
        assert svc.record()[-1] == "ended"
        assert svc.misused() == ""
    finally:
        svc.cleanup()


# What each start failure traces besides "Service failed to start.", as the Linux build's own.
START_FAILURES = {
    13: dict(library="missing"),
    15: dict(refuse=True),
    16: dict(options=["-Dvmdouble.createVM=-6"], traced=["Failed to create Java VM rc= -6"]),
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
def test_start_failures_show_their_service_specific_code(win, case):
    spec = START_FAILURES[case]
    code = int(str(case).split("-")[0])
    home = runtime(win)
    library = home / "bin" / "server" / "jvm.dll"
    if spec.get("library") == "missing":
        library = home / "missing" / "jvm.dll"
    if spec.get("refuse"):
        (library.parent / "refuse-jni-1.2").write_text("")
    svc = DoubleService(win, spec.get("service_class", "vmdouble.Running"), options=spec.get("options", ()),
                        library=library, install=True)
    try:
        status = svc.start_and_wait()
        assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (code, 1066), svc.trace_text()
        traced = svc.trace_lines()
        for message in [f"Service failed to start.  {code}", *spec.get("traced", ())]:
            assert message in traced, svc.trace_text()
        assert svc.misused() == ""
    finally:
        svc.cleanup()


def test_library_search_dependency_registry_and_bitness(win):
    # The dependent double loads only because its runtime's bin folder serves its dependency;
    # it is found through the runtime registered by a Java installer.
    home = runtime(win, "vmdouble_dep", "registered")
    key = r"SOFTWARE\JavaSoft\JDK"
    win.reg_set(key, "CurrentVersion", "sz", "17")
    win.reg_set(key + r"\17", "JavaHome", "sz", win.path(home))
    svc = DoubleService(win, "vmdouble.Silent", library=False, options=["-Dvmdouble.createVM=-6"])
    try:
        result = win.run(["-x", svc.name])
        assert result.rc == 0
        traced = svc.trace_lines()
        library = win.path(home / "bin" / "server" / "jvm.dll")
        assert f"Trying the JVM DLL {library} (from registry HKLM\\SOFTWARE\\JavaSoft\\JDK\\17, JavaHome)" in traced, svc.trace_text()
        assert f"JVM DLL {library} loaded successfully." in traced
        assert "CExecutor::startServiceTask Exit 16" in traced
    finally:
        win.reg_deltree(r"SOFTWARE\JavaSoft")

    # The 32-bit double beside the 64-bit program: the plain bitness sentence, code 13.
    x86 = win.build_dir.parent / "win32" / "tests" / "vmdouble" / "vmdouble" / "jvm.dll"
    assert x86.exists(), "build the win32 preset for the 32-bit VM double"
    svc = DoubleService(win, "vmdouble.Silent", library=x86)
    result = win.run(["-x", svc.name])
    assert result.rc == 0
    assert f"{win.path(x86)} is a 32-bit library; this brontel.exe is 64-bit; " \
           "use the x86 brontel.exe or a 64-bit Java" in svc.trace_lines(), svc.trace_text()
    assert "CExecutor::startServiceTask Exit 13" in svc.trace_lines()
