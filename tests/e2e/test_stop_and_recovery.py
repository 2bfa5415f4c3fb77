"""Stops that never hang (the stopTimeout watchdog and its dump) and services that come back (recovery)."""

import re
import shutil
import time

import pytest

from config_support import basic, install, round_trip, write_config
import leftovers
from runtime_support import Service, pid_alive, wait_until

STALLING = "com.vantero.tests.StallingService"
CRASHING = "com.vantero.tests.CrashingService"
CONTROL = r"SYSTEM\CurrentControlSet\Control"


def stalling(m, timeout=None, verbose=True, options=(), install=True):
    name = m.unique("stall")
    svc = Service(m, STALLING, options=options, name=name, install=install, trace=name + ".trace")
    if timeout is not None:
        svc.set("StopTimeout", str(timeout))
    svc.verbose = m.tmp / (name + ".verbose")
    if verbose:
        svc.set("VerboseFile", str(svc.verbose))
    return svc


def stop_and_time(svc, control=1):
    """Sends the control and waits for STOPPED; the seconds between the two and the status."""
    started = time.monotonic()
    sent = svc.svc("control", control)
    assert sent.rc == 0, sent
    waited = svc.svc("wait", "STOPPED", 60000)
    elapsed = time.monotonic() - started
    assert waited.rc == 0, (waited, svc.trace_text()[-3000:])
    return elapsed, svc.status()


def assert_dump_shows_blocked_thread(text):
    assert "Full thread dump" in text, text[-2000:]
    assert "com.vantero.tests.StallingService.holdForever" in text


def test_service_that_ignores_stop_is_dumped_reported_and_ended(linux):
    svc = stalling(linux, timeout=2)
    svc.start_and_wait("RUNNING")
    pid = svc.wait_running()
    elapsed, status = stop_and_time(svc)
    # Never before the timeout: progress was last seen when Java reported stop-pending.
    assert elapsed >= 2, elapsed
    print(f"stop to stopped: {elapsed:.2f} s against stopTimeout=2")
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (28, 1066)
    wait_until(lambda: not pid_alive(int(pid)), "the service process to end")
    assert_dump_shows_blocked_thread(svc.verbose.read_text(errors="replace"))
    message = [l for l in svc.trace_lines() if "did not stop in time" in l]
    assert len(message) == 1, svc.trace_text()[-3000:]
    assert "Java last reported SERVICE_STOP_PENDING (checkpoint 1)" in message[0]
    assert "dumped to the verboseOutput file" in message[0]
    assert svc.record()[-2:] == ["control 1", "holding"]


def test_shutdown_is_cut_before_windows_gives_up(linux):
    # Windows refuses to send a shutdown through ControlService; the control pipe of a
    # development-mode instance delivers it the same way to the same watchdog.
    svc = stalling(linux, timeout=600, install=False)
    linux.reg_set(CONTROL, "WaitToKillServiceTimeout", "sz", "2500")
    proc = svc.start_running()
    started = time.monotonic()
    assert svc.send("SERVICE_CONTROL_SHUTDOWN").rc == 0
    assert proc.wait(timeout=60) == 28
    elapsed = time.monotonic() - started
    # 2.5 s allowed, one kept back for the dump and the reports; stopTimeout does not count.
    assert elapsed >= 1.5, elapsed
    assert_dump_shows_blocked_thread(svc.verbose.read_text(errors="replace"))
    assert re.search(r"no progress for (1[4-9]|2[0-4])\d\d ms", svc.console_log())


@pytest.mark.parametrize("install", [True, False], ids=["service", "development"])
def test_stop_control_that_never_returns_is_ended_in_time(linux, install):
    # serviceMain returns while the stop control itself hangs in Java: the process used to wait
    # for that control forever, with the watchdog already gone.
    svc = stalling(linux, timeout=2, options=["-Dbrontel.test.holdInControl=true"],
                   install=install)
    if install:
        svc.start_and_wait("RUNNING")
        # The handler does not return, so the manager gives up on the control (1053).
        svc.svc("control", 1)
        assert svc.svc("wait", "STOPPED", 60000).rc == 0, svc.trace_text()[-3000:]
        assert (svc.status()["SERVICE_EXIT"], svc.status()["WIN32_EXIT"]) == (28, 1066)
    else:
        proc = svc.start_running()
        assert svc.send("SERVICE_CONTROL_STOP").rc == 0
        assert proc.wait(timeout=60) == 28
    assert_dump_shows_blocked_thread(svc.verbose.read_text(errors="replace"))
    # The stop may come before serviceMain has recorded that it runs.
    assert sorted(svc.record())[:2] == ["control 1", "holding"]


@pytest.mark.parametrize("options", [
    # Six reports with rising checkpoints, 400 ms apart: 2.8 s in all against a 1 s timeout.
    ["-Dbrontel.test.steps=6", "-Dbrontel.test.step=400"],
    # One report that asks for 4 s, then 2 s of silence.
    ["-Dbrontel.test.steps=0", "-Dbrontel.test.step=2000", "-Dbrontel.test.hint=4000"],
], ids=["checkpoints", "wait-hint"])
def test_slow_stop_with_progress_is_never_cut(linux, options):
    svc = stalling(linux, timeout=1, options=options)
    svc.start_and_wait("RUNNING")
    _, status = stop_and_time(svc)
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (0, 0)
    assert svc.record()[-1] == "stopped"
    assert not any("did not stop" in l for l in svc.trace_lines())
    assert not svc.verbose.exists() or "Full thread dump" not in svc.verbose.read_text()


def test_development_mode_reports_on_the_console(linux):
    svc = stalling(linux, timeout=1, verbose=False, install=False)
    proc = svc.start_running()
    assert svc.send("SERVICE_CONTROL_STOP").rc == 0
    assert proc.wait(timeout=60) == 28
    console = svc.console_log()
    assert "did not stop in time" in console
    assert "dumped to the service's standard output" in console
    # Without a verboseOutput file the VM writes its dump to the console.
    assert_dump_shows_blocked_thread(console)


def test_zero_leaves_the_stop_alone(linux):
    svc = stalling(linux, timeout=0, install=False)
    proc = svc.start_running()
    assert svc.send("SERVICE_CONTROL_STOP").rc == 0
    svc.wait_record("holding")
    # No watchdog thread at all: nothing of it in the trace.
    assert "CExecutor::actOnStalledStop" not in svc.trace_text()
    proc.kill()


# -- recovery actions and the delayed start --------------------------------------------------------


def java_config(m, name, service_class, *extra):
    """A configuration file for a test service class on the machine's Java runtime."""
    classpath = ":".join([str(m.java_dir / "brontel.jar"), str(m.java_dir / "testclasses")])
    lines = basic(name, f"jvmDLL={m.jvm_library}", f"jvmOption1=-Djava.class.path={classpath}",
                  f"jvmOption2=-Dbrontel.test.out={m.tmp / (name + '.out')}", *extra,
                  service_class=service_class)
    return write_config(m, lines, name + ".conf")


def remove(svc):
    """Deletes, then stops the service, so that no pending restart or recovery action finds it."""
    if not svc.m.root.exists():
        return  # its machine has gone with it
    svc.svc("delete")
    svc.svc("stop")
    wait_until(lambda: svc.svc("query").rc != 0, f"the service {svc.name} to be removed")


@pytest.fixture
def installed(linux):
    """Installs (-i, with the extra lines) and starts services; each is removed when the test ends."""
    made = []

    def install(service_class, *extra):
        name = linux.unique("rec")
        svc = Service(linux, jvm=False, name=name, trace=name + ".trace")
        made.append(svc)
        result = linux.run(["-i", linux.path(java_config(linux, name, service_class, *extra))])
        assert result.rc == 0, result
        assert svc.svc("start").rc == 0
        return svc

    yield install
    for svc in made:
        remove(svc)


def recovery_log(svc):
    """The stand-in manager's recovery lines for the service without, and then, their time stamps (ms)."""
    lines = []
    for path in (svc.m.root / "scm").glob("*.recovery"):
        lines += [l.split(" ", 1) for l in path.read_text().splitlines() if f" {svc.name}: " in l]
    lines.sort(key=lambda l: int(l[0]))
    return [l[1].split(": ", 1)[1] for l in lines], [int(l[0]) for l in lines]


def wait_log(svc, prefix, count=1):
    return wait_until(lambda: sum(l.startswith(prefix) for l in recovery_log(svc)[0]) >= count,
                      f"{count} x {prefix!r} in the recovery log")


def crash(svc, code=200):
    result = svc.svc("control", code)
    # The crash may end the process before the manager has its answer.
    assert result.rc == 0 or "FAILED" in result.out, result


def test_crashes_are_counted_and_restarted_after_their_delay(installed):
    svc = installed(CRASHING, "failureActions=restart/200, restart/1500 ,none/0")
    for count in (1, 2, 3):
        svc.wait_running(count)
        crash(svc)
    wait_log(svc, "failure 3")
    assert svc.svc("wait", "STOPPED", 60000).rc == 0
    lines, times = recovery_log(svc)
    failures = [l for l in lines if l.startswith("failure")]
    assert [re.sub(r" \(.*\)", "", l) for l in failures] == [
        "failure 1: restart after 200 ms", "failure 2: restart after 1500 ms",
        "failure 3: none after 0 ms"]
    assert all("win32 exit 1067" in l for l in failures), failures
    assert lines.count("restarted") == 2
    # Each restart came no sooner than its delay after the failure was counted.
    restarts = [i for i, l in enumerate(lines) if l == "restarted"]
    assert times[restarts[0]] - times[restarts[0] - 1] >= 200
    assert times[restarts[1]] - times[restarts[1] - 1] >= 1500
    assert len(svc.running_pids()) == 3


def test_failure_count_resets_after_the_period(installed):
    svc = installed(CRASHING, "failureActions=restart/0,none/0", "failureResetPeriod=1")
    svc.wait_running(1)
    crash(svc)
    svc.wait_running(2)
    # The period is what is under test: only time passing without failures resets the count.
    time.sleep(1.5)
    crash(svc)
    svc.wait_running(3)
    failures = [l for l in recovery_log(svc)[0] if l.startswith("failure")]
    assert [l.split(" (")[0] for l in failures] == ["failure 1", "failure 1"]


@pytest.mark.parametrize("flag", [None, "FALSE", "TRUE"])
def test_non_zero_exits_count_only_with_the_flag(installed, flag):
    extra = ["failureActions=restart/0,none/0"] + ([f"failureOnNonZeroExit={flag}"] if flag else [])
    svc = installed(CRASHING, *extra)
    svc.wait_running(1)
    crash(svc, 201)  # reports stopped with the service-specific code 42
    if flag == "TRUE":
        wait_log(svc, "failure 1")
        svc.wait_running(2)
        assert "service exit 42" in recovery_log(svc)[0][0]
        # The VM ending the process with a code (System.exit, Runtime.halt) is such a stop too.
        crash(svc, 202)
        wait_log(svc, "failure 2")
        assert any("service exit 3" in l for l in recovery_log(svc)[0]), recovery_log(svc)
    else:
        wait_log(svc, "process")
        assert recovery_log(svc)[0][0].endswith("no failure")
        assert svc.svc("wait", "STOPPED", 60000).rc == 0


@pytest.mark.parametrize("flag", ["FALSE", "TRUE"])
def test_failed_start_counts_only_with_the_flag(installed, flag):
    svc = installed("com.vantero.tests.NoSuchService",
                    "failureActions=restart/0,none/0", f"failureOnNonZeroExit={flag}")
    if flag == "TRUE":
        wait_log(svc, "failure 2")
        failures = [l for l in recovery_log(svc)[0] if l.startswith("failure")]
        assert all("service exit 18" in l for l in failures), failures
        assert failures[1].endswith("none after 0 ms")
    else:
        wait_log(svc, "process")
        assert recovery_log(svc)[0] == [recovery_log(svc)[0][0]]
        assert recovery_log(svc)[0][0].endswith("no failure")


def test_stop_timeout_counts_as_a_non_zero_exit(installed):
    svc = installed(STALLING, "stopTimeout=1", "failureActions=restart/0,none/0",
                    "failureOnNonZeroExit=TRUE")
    svc.wait_running(1)
    assert svc.svc("stop").rc == 0
    wait_log(svc, "failure 1")
    assert "service exit 28" in recovery_log(svc)[0][0]
    svc.wait_running(2)


def test_a_service_whose_root_is_removed_stops_and_is_not_restarted(linux, installed):
    svc = installed(CRASHING, "failureActions=restart/0,none/0")
    svc.wait_running(1)
    # The service and the watcher of its run.
    running = leftovers.find(f"BRONTEL_ROOT={linux.root}")
    assert len(running) == 2, running
    shutil.rmtree(linux.root)
    assert leftovers.still_running(running, grace=60) == []
    # Asked to stop, as at a stop from the manager, and not started again.
    assert svc.record()[-1] == "control 1"
    assert len(svc.running_pids()) == 1
    # Nothing made the removed root again.
    assert not linux.root.exists()


SETTINGS = ["startType=SERVICE_DELAYED_AUTO_START", "stopTimeout=45",
            "failureActions=restart/60000,restart/120000,none/0", "failureResetPeriod=3600",
            "failureOnNonZeroExit=TRUE"]


def test_settings_reach_the_manager_and_round_trip_through_a_saved_report(machine):
    name = machine.unique("rset")
    # Wine 8's manager takes the actions but cannot show them, and knows neither the
    # failure-actions flag nor the delayed start (below).
    settings = (SETTINGS[1:4] if machine.is_windows else SETTINGS) + ["traceArguments=TRUE"]
    shown = ["-", "-", "-", "-"] if machine.is_windows else ["3600", "1/60000,1/120000,0/0", "1", "1"]
    result = install(machine, basic(name, *settings))
    assert result.rc == 0, result
    try:
        stored = machine.tool("svctool", ["config2", name])
        assert stored.rc == 0, stored
        assert stored.out.split() == ["RESET", shown[0], "ACTIONS", shown[1], "NONCRASH", shown[2],
                                      "DELAYED", shown[3]]
        report = [l for l in machine.run(["-d", name]).lines if "=" in l]
        for line in settings:
            assert line in report
        round_trip(machine, name)
        assert machine.tool("svctool", ["config2", name]).out == stored.out
        assert [l for l in machine.run(["-d", name]).lines if "=" in l] == report
    finally:
        machine.run(["-r", name])
    if machine.is_windows:
        # Wine's manager answers the delayed start with "invalid level" (a real Windows takes
        # it): the half-made service is deleted again.
        name = machine.unique("rdel")
        result = install(machine, basic(name, SETTINGS[0]), file_name="delayed.conf")
        assert result.rc == 8, result
        assert "Cannot set the delayed automatic start of the service 124" in result.out
        assert machine.tool("svctool", ["query", name]).rc == 2


def test_without_the_keys_nothing_is_stored_and_the_actions_default_their_period(linux):
    plain, actions = linux.unique("rpln"), linux.unique("ract")
    assert install(linux, basic(plain, "startType=SERVICE_AUTO_START")).rc == 0
    assert install(linux, basic(actions, "failureActions=restart/5"), file_name="b.conf").rc == 0
    assert linux.tool("svctool", ["config2", plain]).out.split() == [
        "RESET", "0", "ACTIONS", "-", "NONCRASH", "0", "DELAYED", "0"]
    assert linux.tool("svctool", ["config2", actions]).out.split() == [
        "RESET", "86400", "ACTIONS", "1/5", "NONCRASH", "0", "DELAYED", "0"]
    report = linux.run(["-d", plain]).out
    assert "startType=SERVICE_AUTO_START" in report
    for key in ("stopTimeout", "failure", "traceArguments"):
        assert key not in report


@pytest.mark.parametrize("line, why", [
    ("stopTimeout=ten", "whole number of seconds from 0 to 4294967"),
    ("stopTimeout=4294968", "whole number of seconds from 0 to 4294967"),
    ("failureActions=reboot/1000", "item 1: the action is neither restart nor none"),
    ("failureActions=restart/10,restart", "item 2 is not of the form action/delay"),
    ("failureActions=restart/-1", "item 1: the delay is not a number of milliseconds"),
    ("failureResetPeriod=1d", "whole number of seconds below 4294967296"),
    ("failureOnNonZeroExit=yes", "it must be TRUE or FALSE"),
    ("traceArguments=on", "it must be TRUE or FALSE"),
])
def test_malformed_values_are_refused_and_nothing_installed(linux, line, why):
    name = linux.unique("rbad")
    result = install(linux, basic(name, line))
    assert result.rc == 5, result
    key, value = line.split("=", 1)
    assert f"The value {value} of {key} cannot be used: " in result.out
    assert why in result.out
    assert "Nothing was installed." in result.out
    assert linux.tool("svctool", ["query", name]).rc == 2
