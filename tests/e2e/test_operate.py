"""Operating an installed service: the status (-q, -Q) and the waiting -start, -stop, -restart."""

import json
import os
import pty
import re
import subprocess
import time

import pytest

from config_support import basic, install
from conftest import REPO
from test_output_capture import events
from runtime_support import service_maker
from test_windows_vm import double, win  # noqa: F401 (fixtures)


@pytest.fixture
def linux_services(linux):
    yield from service_maker(linux, "com.vantero.tests.StoppableService")


def event_text(event_id, strings):
    """An entry's text as the message table words it, its line breaks as blanks."""
    table = (REPO / "runtime" / "events" / "event_messages.mc").read_text()
    words = re.search(rf"^MessageId={event_id}\nLanguage=English\n(.*?)\n\.$", table,
                      re.M | re.S).group(1)
    parts = {"r": "", "n": "\n"}
    words = re.sub(r"%([1-9rn])",
                   lambda m: parts[m.group(1)] if m.group(1) in parts
                   else strings[int(m.group(1)) - 1], words)
    return re.sub(r" *[\r\n]+", " ", words)


def values(result):
    return dict(line.split("=", 1) for line in result.lines if "=" in line)


def test_status_start_restart_stop_round(linux, linux_services):
    m = linux
    svc = linux_services(install=True)
    status = m.run(["-q", svc.name])
    assert status.rc == 37, status
    assert re.search(r"^State: +STOPPED$", status.out, re.M), status
    assert re.search(r"^Start type: +demand$", status.out, re.M), status
    # Never started: Windows' own code, in Windows' words.
    assert re.search(r"^Windows exit code: +1077 \(.+\)$", status.out, re.M), status
    assert re.search(r"^Service exit code: +0 \(success\)$", status.out, re.M), status
    assert re.search(r"^Events: .*source " + re.escape(svc.name) + "$", status.out, re.M), status

    started = m.run(["-start", svc.name])
    assert started.rc == 0, (started, svc.trace_text()[-3000:])
    assert started.lines[-1] == f"The service {svc.name} is running.", started
    # Not a terminal: the final line alone.
    assert not [l for l in started.lines if "checkpoint" in l], started
    svc.wait_record("running")
    facts = values(m.run(["-Q", svc.name]))
    assert facts["state"] == "RUNNING" and facts["installed"] == "1", facts
    first = facts["processId"]
    if not m.is_windows:
        # The process that runs the service.
        assert f"{svc.name}" in open(f"/proc/{first}/cmdline").read(), facts
    assert int(first) > 0, facts
    assert m.run(["-q", svc.name]).rc == 0

    # Already running: done.
    again = m.run(["-start", svc.name])
    assert again.rc == 0, again

    restarted = m.run(["-restart", svc.name])
    assert restarted.rc == 0, (restarted, svc.trace_text()[-3000:])
    assert restarted.lines[-2:] == [f"The service {svc.name} is stopped.",
                                    f"The service {svc.name} is running."], restarted
    svc.wait_record("running", 2)
    assert values(m.run(["-Q", svc.name]))["processId"] != first
    assert "control 1" in svc.record()

    stopped = m.run(["-stop", svc.name])
    assert stopped.rc == 0, stopped
    assert values(m.run(["-Q", svc.name]))["state"] == "STOPPED"
    assert m.run(["-stop", svc.name]).rc == 0


def test_names_that_are_no_service_of_brontels(machine):
    name = machine.unique("nosuch")
    shown = machine.run(["-q", name])
    assert (shown.rc, shown.lines) == (11, [
        f"The service {name} is not installed (brontel -b lists the services brontel installed)."])
    script = machine.run(["-Q", name])
    assert (script.rc, script.lines) == (11, [f"serviceName={name}", "installed=0",
                                              "state=NOT_INSTALLED"])
    for command in ("-start", "-stop", "-restart"):
        assert machine.run([command, name]).rc == 11


def test_failed_start_is_explained_in_the_status_words(linux, linux_services):
    svc = linux_services("com.vantero.tests.NoSuchClass", install=True)
    started = linux.run(["-start", svc.name])
    assert started.rc == 39, (started, svc.trace_text()[-3000:])
    assert f"The service {svc.name} stopped while starting." in started.lines, started
    words = "Service exit code:  18 (the service class cannot be found)"
    assert words in started.lines, started
    assert re.search(r"^Windows exit code: +1066 \(.+\)$", started.out, re.M), started
    status = linux.run(["-q", svc.name])
    assert status.rc == 37 and words in status.lines, status
    facts = values(linux.run(["-Q", svc.name]))
    assert (facts["serviceExitCode"], facts["serviceExitText"]) == (
        "18", "the service class cannot be found"), facts
    assert facts["eventLog"].startswith("the stand-in's event file"), facts
    # The failure's own entry, in the message table's words, on one line.
    entry = events(linux, svc.name, 1)[-1]
    text = event_text(1, entry["strings"])
    assert "What to do: Check ibrontelClass" in text
    assert (facts["lastEventId"], facts["lastEventText"]) == ("1", text), facts
    assert facts["lastEventTime"] == str(entry["time"]), facts
    shown = re.search(r"^Last event: +\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC, event 1: (.*)$",
                      status.out, re.M)
    assert shown and shown.group(1) == text, status
    # A corrupt or cut log hides nothing else and never fails the status.
    log = linux.root / "eventlog" / "Application.jsonl"
    log.write_text(log.read_text() + '{"source": "' + svc.name + '", "id": 7, "strings": ["x"\n'
                   + "\x00garbage\n" + '{"source": "' + svc.name + '", "id"')
    again = values(linux.run(["-Q", svc.name.upper()]))
    assert (again["lastEventId"], again["lastEventText"]) == ("1", text), again


def test_status_shows_recovery_delayed_start_account_and_capture(linux):
    # Wine's manager refuses the delayed start (124), so the Linux build shows it.
    m = linux
    name = m.unique("opq")
    work = m.tmp / "work"
    work.mkdir()
    out = work / "captured.out"
    # The files are named as the service sees them: the error file through the service's own
    # environment, the output file relative to its working directory.
    result = install(m, basic(name, "startType=SERVICE_DELAYED_AUTO_START",
                              "failureActions=restart/60000,none/0", "failureResetPeriod=86400",
                              "stdoutFile=captured.out", f"workingDirectory={work}",
                              f"environment1=OPQ_LOGS={m.tmp}", "stderrFile=%OPQ_LOGS%/err.log"))
    assert result.rc == 0, result
    try:
        facts = values(m.run(["-Q", name]))
        assert (facts["startType"], facts["delayedStart"]) == ("auto", "TRUE"), facts
        assert facts["account"] == "LocalSystem", facts
        assert facts["failureActions"] == "restart/60000,none/0", facts
        assert facts["failureResetPeriod"] == "86400", facts
        assert (facts["stdoutFile"], facts["stdoutBytes"]) == ("captured.out", ""), facts
        assert (facts["stderrFile"], facts["stderrBytes"]) == (f"{m.tmp}/err.log", ""), facts
        out.write_bytes(b"x" * 1234)
        shown = m.run(["-q", name])
        assert shown.rc == 37, shown
        assert "Standard output:    captured.out (1234 bytes)" in shown.lines, shown
        assert f"Standard error:     {m.tmp}/err.log (not written yet)" in shown.lines, shown
        assert re.search(r"^Start type: +auto \(delayed\)$", shown.out, re.M), shown
        assert re.search(r"^Recovery: +restart/60000,none/0; failures counted again after 86400 s"
                         r"; also on a non-zero exit: no$", shown.out, re.M), shown
    finally:
        m.run(["-r", name])


def test_progress_lines_on_a_terminal_and_the_wait_bound(linux, linux_services):
    svc = linux_services(options=["-Dbrontel.test.stopDelayMs=1500"], install=True)
    assert linux.run(["-start", svc.name]).rc == 0
    # Stopping takes 1.5 s: on a terminal, its state and checkpoint as they change.
    main, other = pty.openpty()
    proc = subprocess.Popen([str(linux.exe), "-stop", svc.name], env=linux.env, stdout=other,
                            stderr=other)
    os.close(other)
    shown = b""
    while True:
        try:
            chunk = os.read(main, 4096)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
    os.close(main)
    assert proc.wait(timeout=60) == 0
    lines = shown.decode().replace("\r\n", "\n").splitlines()
    assert lines == ["  STOP_PENDING, checkpoint 1", f"The service {svc.name} is stopped."], lines

    # A bound shorter than the stop: 38, with where it stood; an entry an hour old is no reason.
    assert linux.run(["-start", svc.name]).rc == 0
    old = {"source": svc.name, "id": 1, "time": int(time.time()) - 3600, "strings": ["x"]}
    (linux.root / "eventlog").mkdir(exist_ok=True)
    with (linux.root / "eventlog" / "Application.jsonl").open("a") as log:
        log.write(json.dumps(old) + "\n")
    bounded = linux.run(["-stop", svc.name, "-W", "1"])
    assert bounded.rc == 38 and "Last event:" not in bounded.out, bounded
    assert re.search(r"did not reach STOPPED: it is STOP_PENDING, checkpoint 1, after 1 seconds",
                     bounded.out), bounded
    # A start asked for while the stop goes on: the stop ends first, then the service starts.
    started = linux.run(["-start", svc.name])
    assert started.rc == 0 and started.lines == [f"The service {svc.name} is running."], started
    # So does a restart: its stop waits for the one under way.
    assert linux.run(["-stop", svc.name, "-W", "1"]).rc == 38
    restarted = linux.run(["-restart", svc.name])
    assert restarted.rc == 0, restarted
    assert restarted.lines == [f"The service {svc.name} is stopped.",
                               f"The service {svc.name} is running."], restarted
    # And the restart control: it was abandoned (25) while the stop went on.
    assert linux.run(["-stop", svc.name, "-W", "1"]).rc == 38
    sent = linux.run(["-s", svc.name, "restart"])
    assert sent.rc == 0 and "Restart abandoned" not in sent.out, sent
    assert linux.run(["-start", svc.name]).rc == 0


@pytest.mark.parametrize("value", ["0", "abc", "86401"])
def test_wait_bound_must_be_seconds(linux, value):
    result = linux.run(["-start", "x", "-W", value])
    assert (result.rc, result.lines) == (
        1, ["-W option requires a number of seconds from 1 to 86400"]), result


def test_windows_build_operates_a_service_under_wine(win, double):
    svc = double("vmdouble.Running", install=True)
    status = win.run(["-q", svc.name])
    assert status.rc == 37 and re.search(r"^State: +STOPPED$", status.out, re.M), status
    started = win.run(["-start", svc.name])
    assert started.rc == 0, (started, svc.trace_text()[-3000:])
    assert started.lines[-1] == f"The service {svc.name} is running.", started
    facts = values(win.run(["-Q", svc.name]))
    assert facts["state"] == "RUNNING" and int(facts["processId"]) > 0, facts
    assert (facts["win32ExitCode"], facts["serviceExitCode"]) == ("0", "0"), facts
    assert win.run(["-q", svc.name]).rc == 0

    restarted = win.run(["-restart", svc.name])
    assert restarted.rc == 0, (restarted, svc.trace_text()[-3000:])
    assert restarted.lines[-2:] == [f"The service {svc.name} is stopped.",
                                    f"The service {svc.name} is running."], restarted
    assert svc.record().count("ended") == 1
    assert values(win.run(["-Q", svc.name]))["processId"] != facts["processId"]

    stopped = win.run(["-stop", svc.name])
    assert stopped.rc == 0, stopped
    assert win.run(["-q", svc.name]).rc == 37
    assert svc.misused() == ""
