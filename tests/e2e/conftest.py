"""End-to-end fixtures: run the built program as a user would, on both builds.

Fixtures
--------
machine  -- parametrized over the builds that are present: "linux" (build/linux, the Linux
            stand-in, a fresh $BRONTEL_ROOT per test) and "win64" (build/win64 under Wine, one
            throw-away WINEPREFIX per test run, shared by its tests).
linux    -- the Linux build only (for tests that need the real JVM or the stand-in's internals).

A Machine offers:
  run(args, env=None, timeout=None, cwd=None, input=None) -> Result   run brontel
  tool(name, args, ...)                          -> Result   run a test tool (tests/tools/<name>)
  start(args, env=None, cwd=None, tool=None)     -> Popen    start brontel (or a tool) without waiting
  path(host_path)     the path as the program sees it (Z:\\... under Wine)
  tmp                 a fresh host directory (pathlib.Path) for this test
  unique(prefix)      a name unique to this test run (for services and registry keys)
  reg_set(key, name, type, *data), reg_get(key, name) -> (type, data) or None,
  reg_delval(key, name), reg_deltree(key), reg_keys(key) -> list
                      registry access through the regtool test tool
  trace_to(host_path) switch the trace file on for later processes; trace_off()
  is_windows, name, build_dir, exe, env (the base environment), java_dir, jvm_library
Result has rc, out (CR LF folded to LF), err, lines (of out).

A test that leaves a process of its own running (one of its root on Linux, one naming its services
or files under Wine) fails at its end, naming it; the process is ended.

A Windows test tool that Wine never started (it ends with no output and an exit code the tool
never uses, see TOOL_EXIT_CODES) is run once more with Wine's diagnostics; the run's summary
counts such runs. brontel's own runs are never run again.

Environment: BRONTEL_E2E_BUILDS (default "linux,win64"), BRONTEL_BUILD_LINUX,
BRONTEL_BUILD_WIN64, BRONTEL_WINEPREFIX (an existing prefix to use instead of a new one).
"""

import itertools
import os
import pathlib
import shutil
import signal
import subprocess
import tempfile
import uuid

import pytest

import leftovers
import wine_keeper

# A test run started in the background inherits SIGINT and SIGQUIT ignored and would hand that on
# to every program it starts; the console-event tests need the actions a console program gets.
if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)
if signal.getsignal(signal.SIGQUIT) == signal.SIG_IGN:
    signal.signal(signal.SIGQUIT, signal.SIG_DFL)

REPO = pathlib.Path(__file__).resolve().parents[2]
# A relative build directory is taken from the repository root (tests run in scratch dirs).
BUILD_DIRS = {
    "linux": REPO / os.environ.get("BRONTEL_BUILD_LINUX", "build/linux"),
    "win64": REPO / os.environ.get("BRONTEL_BUILD_WIN64", "build/win64"),
}
WINE = shutil.which("wine") or shutil.which("wine64")
# Every Windows program starts through this (see wine_keeper.wine_command).
WINE_COMMAND = wine_keeper.wine_command(WINE) if WINE else []
# The exit codes each test tool ends with itself, as the top of its source lists them; every
# other ending of its own prints a line. A Windows tool run that ends with another code and says
# nothing never ran: Wine could not start it. Tools not named here are never run again (proctool
# exits with whatever code it is given).
TOOL_EXIT_CODES = {
    "regtool": {0, 2, 64},
    "svctool": {0, 2, 3, 64},
    "capturetool": {0, 2, 35, 64},
    "configdump": {0, 64},
    "pipetool": {0, 2, 64},
}
# Wine's diagnostics for the run again: its error channel and the exceptions it saw.
RETRY_WINEDEBUG = "err+all,+seh"
_tool_retries = []  # one line per tool run that Wine did not start, for the run's summary
JAVA_HOME = pathlib.Path(os.environ.get("BRONTEL_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
_counter = itertools.count(1)
_RUN_ID = uuid.uuid4().hex[:6]


def _wanted_builds():
    return [b.strip() for b in os.environ.get("BRONTEL_E2E_BUILDS", "linux,win64").split(",") if b.strip()]


def _missing(name):
    """Why a wanted build cannot run here, or None."""
    if name not in BUILD_DIRS:
        return f"unknown build {name!r} in BRONTEL_E2E_BUILDS (known: {', '.join(BUILD_DIRS)})"
    program = BUILD_DIRS[name] / ("brontel.exe" if name == "win64" else "brontel")
    if not program.exists():
        return f"{program} is missing: build it first (scripts/build {name})"
    if name == "win64" and not WINE:
        return "no wine command on PATH: install Debian's wine package (scripts/setup)"
    return None


def pytest_configure(config):
    # A build that was asked for and cannot run fails the run: a run that passes has run it.
    problems = [p for p in map(_missing, _wanted_builds()) if p]
    if problems:
        raise pytest.UsageError(
            "cannot run the end-to-end tests of every build asked for (BRONTEL_E2E_BUILDS="
            + ",".join(_wanted_builds()) + "):\n  " + "\n  ".join(problems))


class Result:
    def __init__(self, rc, raw_out, err):
        self.rc = rc
        text = raw_out.decode("utf-8", errors="replace")
        # Windows' C runtime writes LF as CR LF; system texts carry their own CR LF.
        self.out = text.replace("\r\r\n", "\n").replace("\r\n", "\n")
        self.err = err.decode("utf-8", errors="replace")

    @property
    def lines(self):
        return self.out.splitlines()

    def __repr__(self):
        return f"Result(rc={self.rc}, out={self.out!r}, err={self.err[-2000:]!r})"


def _never_started(tool, result):
    return (tool in TOOL_EXIT_CODES and result.rc not in TOOL_EXIT_CODES[tool]
            and result.out == "" and result.err == "")


def pytest_terminal_summary(terminalreporter):
    if "win64" not in _wanted_builds():
        return
    # Shown every run, so that a count that rises is seen.
    terminalreporter.write_sep("-", f"Windows test tools run again because Wine did not start them: "
                                    f"{len(_tool_retries)}")
    for line in _tool_retries:
        terminalreporter.write_line(line)


class Machine:
    def __init__(self, name, tmp, wineprefix=None):
        self.name = name
        self.is_windows = name == "win64"
        self.build_dir = BUILD_DIRS[name]
        self.exe = self.build_dir / ("brontel.exe" if self.is_windows else "brontel")
        self.tmp = tmp
        self.java_dir = BUILD_DIRS["linux"] / "java"
        self.jvm_library = JAVA_HOME / "lib" / "server" / "libjvm.so"
        self.wineprefix = wineprefix
        self.names = []  # every name unique() gave out: they name this test's processes
        env = dict(os.environ)
        env.pop("BRONTEL_ROOT", None)
        if self.is_windows:
            env["WINEPREFIX"] = str(wineprefix)
            env["WINEDEBUG"] = "-all"
        else:
            self.root = tmp / "root"
            self.root.mkdir()
            env["BRONTEL_ROOT"] = str(self.root)
        self.env = env

    # -- running -------------------------------------------------------------------------
    def _command(self, program, args):
        command = [str(program)] + [str(a) for a in args]
        if self.is_windows:
            command = WINE_COMMAND + command
        return command

    def _env(self, env):
        merged = dict(self.env)
        if env:
            merged.update(env)
        return merged

    def _run(self, program, args, env=None, timeout=None, cwd=None, input=None):
        if timeout is None:
            timeout = 180 if self.is_windows else 60
        proc = subprocess.run(
            self._command(program, args),
            env=self._env(env),
            cwd=str(cwd or self.tmp),
            input=input,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            timeout=timeout,
        )
        return Result(proc.returncode, proc.stdout, proc.stderr)

    def run(self, args, **kwargs):
        return self._run(self.exe, args, **kwargs)

    def tool_path(self, name):
        return self.build_dir / "tests" / (name + (".exe" if self.is_windows else ""))

    def tool(self, name, args, **kwargs):
        result = self._run(self.tool_path(name), args, **kwargs)
        if self.is_windows and _never_started(name, result):
            result = self._tool_again(name, args, result, **kwargs)
        return result

    def _tool_again(self, name, args, first, env=None, **kwargs):
        again = self._run(self.tool_path(name), args, env=dict(env or {}, WINEDEBUG=RETRY_WINEDEBUG),
                          **kwargs)
        test = os.environ.get("PYTEST_CURRENT_TEST", "").rsplit(" ", 1)[0]
        line = (f"{test}: Wine did not start {name} {' '.join(map(str, args))} (exit code "
                f"{first.rc:#x}, no output); run again with WINEDEBUG={RETRY_WINEDEBUG}: {again!r}")
        print(line)
        _tool_retries.append(line)
        return again

    def start(self, args, env=None, cwd=None, tool=None, **popen_kwargs):
        program = self.tool_path(tool) if tool else self.exe
        popen_kwargs.setdefault("stdout", subprocess.PIPE)
        popen_kwargs.setdefault("stderr", subprocess.PIPE)
        return subprocess.Popen(
            self._command(program, args), env=self._env(env), cwd=str(cwd or self.tmp), **popen_kwargs
        )

    # -- paths and names -----------------------------------------------------------------
    def path(self, host_path):
        host_path = os.path.abspath(str(host_path))
        if self.is_windows:
            return "Z:" + host_path.replace("/", "\\")
        return host_path

    def unique(self, prefix="brtest"):
        name = f"{prefix}{_RUN_ID}{next(_counter)}"
        self.names.append(name)
        return name

    # -- registry --------------------------------------------------------------------------
    def reg_set(self, key, name, type_, *data):
        result = self.tool("regtool", ["set", key, name, type_, *data])
        assert result.rc == 0, result
        return result

    def reg_get(self, key, name):
        result = self.tool("regtool", ["get", key, name])
        if result.rc != 0:
            return None
        type_, _, data = result.out.rstrip("\n").partition(" ")
        return type_, data

    def reg_delval(self, key, name):
        return self.tool("regtool", ["delval", key, name])

    def reg_deltree(self, key):
        return self.tool("regtool", ["deltree", key])

    def reg_keys(self, key):
        result = self.tool("regtool", ["keys", key])
        return result.lines if result.rc == 0 else []

    # -- trace switch ----------------------------------------------------------------------
    def trace_to(self, host_path):
        self.reg_set(r"SOFTWARE\Orvane\Brontel", "Trace", "sz", self.path(host_path))

    def trace_off(self):
        self.reg_delval(r"SOFTWARE\Orvane\Brontel", "Trace")


@pytest.fixture(scope="session")
def wineprefix():
    """One Wine prefix for the whole run: created on first use, its wineserver stopped at the end."""
    given = os.environ.get("BRONTEL_WINEPREFIX")
    prefix = pathlib.Path(given) if given else pathlib.Path(tempfile.mkdtemp(prefix="brontel-wine-"))
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all")
    if not given:
        quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        subprocess.run(wine_keeper.fixed_layout() + ["wineboot", "--init"], **quiet)
        # Let the new prefix's start-up end completely: a test process that meets the Service
        # Control Manager of a start-up still ending can reach two of them, each with its own list.
        subprocess.run(["wineserver", "-w"], **quiet)
    keeper = wine_keeper.keep_alive(env, WINE)
    yield prefix
    wine_keeper.release(keeper)
    if not given:
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)


def _make_machine(request, name, tmp_path):
    prefix = request.getfixturevalue("wineprefix") if name == "win64" else None
    m = Machine(name, tmp_path, prefix)
    if m.is_windows:
        # The Wine registry is shared by the run's tests: start each test with tracing off.
        m.trace_off()
    return m


def pytest_generate_tests(metafunc):
    if "machine" in metafunc.fixturenames:
        builds = _wanted_builds()
        metafunc.parametrize("machine", builds, indirect=True, ids=builds)


def _check_nothing_left_running(m):
    """Fails the test that leaves a process of its own running, naming it, once it has had its
    time to end; ends it, so that later tests start clean."""
    if m.is_windows:
        # The prefix is shared: a test's processes are those that name its services or files.
        words = [*m.names, str(m.tmp) + "/", m.path(m.tmp) + "\\"]
        found = leftovers.find(f"WINEPREFIX={m.wineprefix}", words)
    else:
        found = leftovers.find(f"BRONTEL_ROOT={m.root}")
    left = leftovers.still_running(found)
    if left:
        leftovers.end(left)
        pytest.fail("the test left processes running (now ended):\n  "
                    + "\n  ".join(f"pid {pid}: {command}" for pid, command in left), pytrace=False)


@pytest.fixture
def machine(request, tmp_path):
    m = _make_machine(request, request.param, tmp_path)
    yield m
    if m.is_windows:
        m.trace_off()
    _check_nothing_left_running(m)


@pytest.fixture
def linux(request, tmp_path):
    if "linux" not in _wanted_builds():
        pytest.skip("the Linux build is not among BRONTEL_E2E_BUILDS")
    m = _make_machine(request, "linux", tmp_path)
    yield m
    _check_nothing_left_running(m)
