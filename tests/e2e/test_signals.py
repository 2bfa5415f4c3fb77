"""Sending controls with -s, as an operator would: through the control pipe of a development-mode
instance, or through the Service Control Manager; restarts in both modes, and the Java side's
own requests."""

import pytest

from runtime_support import pid_alive, service_maker, wait_until

SIGNAL = "com.vantero.tests.SignalService"


@pytest.fixture
def service(linux):
    yield from service_maker(linux, SIGNAL)


def controls(svc):
    return [line for line in svc.record() if line.startswith("control ")]


def test_stop_through_the_pipe_reaches_service_control(service):
    svc = service()
    proc = svc.start_running()
    result = svc.send("SERVICE_CONTROL_STOP")
    assert result.rc == 0, result
    assert "Control sent OK" not in result.out
    assert proc.wait(timeout=60) == 0
    assert controls(svc) == ["control 1"]
    assert svc.record()[-1].startswith("ended ")
    assert "Sending service control : SERVICE_CONTROL_STOP" in svc.trace_lines()
    # The pipe went with the instance: a later sender falls back to the manager, which does
    # not run this service.
    after = svc.send("SERVICE_CONTROL_STOP")
    assert after.out.startswith("Failed to "), after


def test_clients_in_a_row_are_each_served_and_short_messages_deliver_nothing(service):
    svc = service()
    proc = svc.start_running()
    pipe = svc.name + "_BrontelPipe"
    def ignored():
        return [l for l in svc.trace_lines() if l.startswith("Incomplete control message ignored")]

    for n, message in enumerate(["", "04", "0400", "040000"], 1):
        sent = svc.m.tool("pipetool", ["send", pipe, message])
        assert sent.out.strip() == "sent", sent
        wait_until(lambda: len(ignored()) == n, f"short message {n} to be read")
    for n in range(1, 4):
        assert svc.send("SERVICE_CONTROL_INTERROGATE").rc == 0
        # Delivery ends after the sender has: let each land before the next is sent.
        wait_until(lambda: len(controls(svc)) == n, f"interrogation {n}")
    assert svc.send("1").rc == 0
    assert proc.wait(timeout=60) == 0
    assert controls(svc) == ["control 4"] * 3 + ["control 1"]
    assert ignored()[-1] == "Incomplete control message ignored, bytes received: 3"


def test_senders_at_once_all_get_through_the_one_pipe_instance(service):
    # The instance serves one sender at a time; the others wait for it instead of falling back
    # to the manager, which would refuse them and lose their controls.
    svc = service()
    proc = svc.start_running()
    senders = [svc.m.start(["-s", svc.name, "200"]) for _ in range(12)]
    for sender in senders:
        out, _ = sender.communicate(timeout=60)
        assert (sender.returncode, out) == (0, b""), out
    wait_until(lambda: len(controls(svc)) == 12, "every control to arrive")
    svc.stop_dev(proc)
    assert controls(svc) == ["control 200"] * 12 + ["control 1"]


def test_names_in_any_case_numbers_and_unrecognized_texts(service):
    svc = service()
    proc = svc.start_running()
    names = ("The signal is a number, a SERVICE_CONTROL_* or CTRL_*_EVENT name, or one of (in any "
             "case): stop, pause, continue, interrogate, shutdown, restart, ctrl_c, ctrl_break")
    cases = [
        ("service_control_interrogate", None),
        ("Interrogate", None),
        ("PAUSE", None),
        ("stopp", "Unrecognized signal : stopp"),
        ("SERVICE_CONTROL_STOP ", "Unrecognized signal : SERVICE_CONTROL_STOP "),
        ("CTRL_Z_EVENT", "Unrecognized control signal : CTRL_Z_EVENT"),
        # A word is never a number: it sent control 0 once.
        ("abc", "Unrecognized signal : abc"),
        ("-", "Unrecognized signal : -"),
        ("rest art", "Unrecognized signal : rest art"),
        ("  7xyz", None),
        (" -0", None),
    ]
    for text, message in cases:
        before = len(controls(svc))
        result = svc.send(text)
        # A text that names no control is a command-line error.
        assert result.rc == (1 if message else 0), result
        if message:
            assert result.out.splitlines()[-2:] == [message, names], result
        else:
            wait_until(lambda: len(controls(svc)) > before, f"the control sent for {text!r}")
    assert svc.send("Stop").rc == 0
    assert proc.wait(timeout=60) == 0
    assert controls(svc) == ["control 4", "control 4", "control 2", "control 7", "control 0",
                             "control 1"]


def test_a_second_instance_finds_the_pipe_taken_and_runs_nothing(service):
    svc = service()
    first = svc.start_running()
    second = svc.m.run(["-x", svc.name])
    assert second.rc == 36, second
    pipe = "\\\\.\\pipe\\" + svc.name + "_BrontelPipe"
    assert (f"The control pipe {pipe} is held by another process: another development-mode "
            "instance of this service, or a program that took its name first. The service is not "
            "run.") in second.err.splitlines(), second
    assert len(svc.running_pids()) == 1
    # The first instance still has its pipe and takes the stop.
    svc.stop_dev(first)
    assert controls(svc) == ["control 1"]


def test_restart_in_development_mode_starts_a_new_instance_after_the_old_one(service):
    svc = service()
    proc = svc.start_dev()
    old = svc.wait_running()
    result = svc.send("SERVICE_CONTROL_RESTART")
    assert result.rc == 0, result
    assert proc.wait(timeout=60) == 0
    new = svc.wait_running(2)
    assert new != old
    record = svc.record()
    assert record.index(f"ended {old}") < record.index(f"running {new}")
    # The new instance serves its own pipe.
    assert svc.send("SERVICE_CONTROL_STOP").rc == 0
    svc.wait_record(f"ended {new}")
    wait_until(lambda: not pid_alive(new), "the new instance to end")


def test_java_asks_for_its_own_stop_and_restart(service, linux):
    stop = service(options=["-Dbrontel.test.sendControl=1",
                            "-Dbrontel.test.sendOnce=" + str(linux.tmp / "stop.once")])
    proc = stop.start_dev()
    assert proc.wait(timeout=60) == 0
    # The relay's control may arrive before the Java call that started it has returned.
    record = stop.record()
    assert sorted(record[1:3]) == ["control 1", "sent true"]
    assert record[3:] == [f"ended {stop.running_pids()[0]}"]

    again = service(options=["-Dbrontel.test.sendControl=128",
                             "-Dbrontel.test.sendOnce=" + str(linux.tmp / "restart.once")])
    proc = again.start_dev()
    assert proc.wait(timeout=60) == 0
    new = again.wait_running(2)
    record = again.record()
    assert sorted(record[1:3]) == ["control 1", "sent true"]
    assert record[3] == f"ended {again.running_pids()[0]}"
    assert again.send("SERVICE_CONTROL_STOP").rc == 0
    again.wait_record(f"ended {new}")


@pytest.fixture
def bare_service(machine):
    """Services without Java settings, on both builds."""
    yield from service_maker(machine, None)


def test_manager_fallback_messages(bare_service):
    result = bare_service(jvm=False).send("SERVICE_CONTROL_STOP")
    assert result.rc == 30, result  # not delivered
    assert "Failed to open service  1060" in result.out.splitlines(), result
    result = bare_service(jvm=False, install=True).send("SERVICE_CONTROL_STOP")
    assert result.rc == 30, result
    assert "Failed to send control  1062" in result.out.splitlines(), result
    assert "Control sent OK" not in result.out


def test_stop_and_restart_through_the_manager(service):
    svc = service(install=True)
    svc.start_and_wait("RUNNING")
    old = svc.wait_running()

    result = svc.send("SERVICE_CONTROL_INTERROGATE")
    assert "Control sent OK, current service state : SERVICE_RUNNING" in result.out.splitlines(), result
    result = svc.send("restart")  # the short name; it once sent control 0
    assert result.rc == 0, result
    new = svc.wait_running(2)
    assert new != old
    # The manager saw the old process report its stop; the process itself ends just after.
    wait_until(lambda: not pid_alive(old), "the old process to end")
    assert svc.svc("wait", "RUNNING", "60000").rc == 0

    result = svc.send("SERVICE_CONTROL_STOP")
    lines = result.out.splitlines()
    assert ("Control sent OK, current service state : SERVICE_STOP_PENDING" in lines
            or "Control sent OK, current service state : SERVICE_STOPPED" in lines), result
    assert svc.svc("wait", "STOPPED", "60000").rc == 0
    assert controls(svc) == ["control 4", "control 1", "control 1"]


def test_java_restarts_its_own_service_through_the_manager(service, linux):
    svc = service(options=["-Dbrontel.test.sendControl=128",
                           "-Dbrontel.test.sendOnce=" + str(linux.tmp / "restart.once")],
                  install=True)
    assert svc.svc("start").rc == 0
    old = svc.wait_running()
    new = svc.wait_running(2)
    assert new != old
    assert svc.svc("wait", "RUNNING", "60000").rc == 0
    record = svc.record()
    # The relay's control may arrive before the Java call that started it has returned.
    assert sorted(record[1:3]) == ["control 1", "sent true"]
    assert record[3] == f"ended {old}"
