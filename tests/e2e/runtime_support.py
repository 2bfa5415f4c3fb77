"""Helpers for the runtime-control tests: a service's settings written as installation would leave
them, development-mode instances started in a session of their own, and bounded waits."""

import os
import re
import signal
import subprocess
import time

SERVICES = r"SYSTEM\CurrentControlSet\Services"

# Bounds on waits for things that happen within moments; they only keep a broken build from
# hanging the run and never judge speed.
WAIT = 60


def wait_until(condition, what, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.05)


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie has ended too.
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class Service:
    """One service's Parameters, with its record file (written by the Java test classes) and the
    shared trace file. Processes it started are ended when the test ends."""

    def __init__(self, m, service_class=None, options=(), jvm=True, name=None, install=False,
                 command_line=None, jvm_library=True, trace="trace.txt"):
        """jvm=False writes no Java settings at all; jvm_library=None leaves only JVMdll out."""
        self.m = m
        self.name = name or m.unique("sig")
        self.key = SERVICES + "\\" + self.name + r"\Parameters"
        self.out = m.tmp / (self.name + ".out")
        self.trace = m.tmp / trace
        self.started = []
        self.pids = set()
        m.trace_to(self.trace)
        if install:
            # Created first, as installation does; the Java settings go into its key afterwards.
            self.install()
        self.options = []
        if jvm:
            if jvm_library:
                self.set("JVMdll", str(m.jvm_library) if jvm_library is True else jvm_library)
            classpath = os.pathsep.join([str(m.java_dir / "brontel.jar"), str(m.java_dir / "testclasses")])
            self.options = ["-Djava.class.path=" + classpath, "-Dbrontel.test.out=" + str(self.out), *options]
            for i, option in enumerate(self.options, 1):
                self.set(f"JVMOption{i}", option)
        if service_class:
            self.set("IBrontelClass", service_class)
        if command_line is not None:
            self.set("CommandLine", command_line)

    def set(self, name, value):
        self.m.reg_set(self.key, name, "sz", value)

    # -- development mode ----------------------------------------------------------------
    def start_dev(self, env=None):
        """brontel -x in a session of its own, as from its own console: the console events it
        generates reach only its own process group."""
        log = open(self.m.tmp / f"{self.name}.x{len(self.started)}.log", "wb")
        proc = self.m.start(["-x", self.name], env=env, stdout=log, stderr=subprocess.STDOUT,
                            start_new_session=True)
        log.close()
        self.started.append(proc)
        return proc

    def start_running(self, env=None):
        """start_dev, once the instance has said it runs."""
        proc = self.start_dev(env)
        self.wait_running(len(self.started))
        return proc

    def stop_dev(self, proc):
        """Stops a development-mode instance through its pipe; it must end cleanly."""
        result = self.send("SERVICE_CONTROL_STOP")
        assert result.rc == 0, result
        assert proc.wait(timeout=60) == 0

    def console_log(self, index=0):
        return (self.m.tmp / f"{self.name}.x{index}.log").read_bytes().decode("utf-8", "replace")

    def send(self, signal_text, **kwargs):
        return self.m.run(["-s", self.name, signal_text], **kwargs)

    # -- what happened ---------------------------------------------------------------------
    def record(self):
        if not self.out.exists():
            return []
        return self.out.read_text(encoding="utf-8").splitlines()

    def wait_record(self, line, count=1):
        return wait_until(lambda: self.record().count(line) >= count, repr(line) + " in the record")

    def running_pids(self):
        pids = [int(l.split()[1]) for l in self.record() if l.startswith("running ")]
        self.pids.update(pids)
        return pids

    def wait_running(self, count=1):
        return wait_until(lambda: len(self.running_pids()) >= count and self.running_pids(),
                          f"{count} running instance(s)")[count - 1]

    def trace_text(self):
        return self.trace.read_text(encoding="utf-8", errors="replace") if self.trace.exists() else ""

    def trace_lines(self):
        """The trace's lines without their thread-id column."""
        return [line.partition(" ")[2] for line in self.trace_text().splitlines()]

    def wait_trace(self, text):
        try:
            return wait_until(lambda: any(text in line for line in self.trace_lines()),
                              repr(text) + " in the trace")
        except AssertionError as error:
            # What the instances said and traced, so that a failure explains itself.
            said = [f"{proc.args} -> {proc.poll()}: {self.console_log(i)[-2000:]!r}"
                    for i, proc in enumerate(self.started)]
            raise AssertionError(f"{error}\ntrace: {self.trace_text()[-3000:]!r}\n" + "\n".join(said))

    # -- service mode ----------------------------------------------------------------------
    def install(self):
        image = f'"{self.m.path(self.m.exe)}" -Z "{self.name}"'
        result = self.m.tool("svctool", ["create", self.name, self.name, image])
        assert result.rc == 0, result
        self.installed = True

    def svc(self, *args):
        return self.m.tool("svctool", [args[0], self.name, *map(str, args[1:])])

    def status(self):
        """QueryServiceStatus as a dict: STATE, SERVICE_EXIT, WIN32_EXIT, ACCEPTED, ... (ints)."""
        result = self.svc("query")
        assert result.rc == 0, result
        return {key: int(value) for key, value in re.findall(r"([A-Z_0-9]+) (\d+)", result.out)}

    def start_and_wait(self, state="STOPPED"):
        result = self.svc("start")
        if self.m.is_windows:
            # Wine answers a service that stops before it ever ran with a time-out (1053) where
            # Windows reports the start; either way the service process runs to its end, and Wine
            # may show the old state until it has: its last trace line tells.
            assert result.rc == 0 or "FAILED 1053" in result.out, result
            assert state == "STOPPED"
            wait_until(lambda: "main Exit" in self.trace_text(), "the service process to end", 180)
        else:
            assert result.rc == 0, result
        waited = self.svc("wait", state, 60000)
        assert waited.rc == 0, (waited, self.trace_text()[-3000:])
        return self.status()

    def cleanup(self):
        for proc in self.started:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        self.running_pids()
        for pid in self.pids:
            if pid_alive(pid):
                os.kill(pid, signal.SIGKILL)
        if getattr(self, "installed", False):
            self.svc("stop")
            self.svc("wait", "STOPPED", "30000")
            self.svc("delete")


def service_maker(machine, default_class):
    """The body of a test's `service` fixture: makes services (of default_class unless told
    otherwise) and cleans every one of them up after the test."""
    created = []

    def make(service_class=default_class, **kwargs):
        svc = Service(machine, service_class, **kwargs)
        created.append(svc)
        return svc

    yield make
    for svc in created:
        svc.cleanup()
