"""Console events (Ctrl+C, Ctrl+Break, shutdown) offered to the Java service class of a
development-mode instance, and what happens to those it does not handle."""

import signal

import pytest

from runtime_support import service_maker, wait_until


# SignalService answers console events with this (false when unset).
HANDLED = ["-Dbrontel.test.consoleResult=true"]


@pytest.fixture
def service(linux):
    yield from service_maker(linux, "com.vantero.tests.SignalService")


def test_handled_ctrl_c_keeps_the_service_running(service):
    svc = service(options=HANDLED)
    proc = svc.start_running()
    proc.send_signal(signal.SIGINT)
    svc.wait_record("console 0")
    svc.wait_trace("Console control event handled.")
    assert "Got a ctrl_c_event" in svc.trace_lines()
    assert "CJvm::sendConsoleSignal Exit 1" in svc.trace_lines()
    # Still alive: it takes a control afterwards and ends only when stopped.
    svc.stop_dev(proc)
    assert svc.record()[1:] == ["console 0", "control 1", svc.record()[-1]]


@pytest.mark.parametrize("service_class", ["com.vantero.tests.SignalService", "com.vantero.tests.SignalPlainService"])
def test_unhandled_ctrl_c_goes_on_to_the_vm_which_ends_the_process(service, service_class):
    svc = service(service_class)
    proc = svc.start_running()
    proc.send_signal(signal.SIGINT)
    # The Java VM's own handler runs its shutdown: the exit code of an interrupted VM.
    assert proc.wait(timeout=60) == 130
    lines = svc.trace_lines()
    assert "Console control event not handled." in lines
    assert "CJvm::sendConsoleSignal Exit 0" in lines
    if service_class.endswith("PlainService"):
        assert "No console signal handler found." in lines
        assert "console 0" not in svc.record()
    else:
        assert "console 0" in svc.record()


def test_ctrl_c_through_the_pipe_arrives_as_a_console_event(service):
    svc = service(options=HANDLED)
    proc = svc.start_running()
    result = svc.send("CTRL_C_EVENT")
    assert result.rc == 0, result
    svc.wait_record("console 0")
    assert "Generating control c event." in svc.trace_lines()
    assert svc.send("250").rc == 0
    svc.wait_record("console 0", 2)
    svc.stop_dev(proc)
    # Never passed to serviceControl.
    assert [l for l in svc.record() if l.startswith("control")] == ["control 1"]


def test_ctrl_break_makes_the_vm_print_its_thread_dump(service):
    # Even a class that handles every console event: the VM raises its break signal itself,
    # which is no console event.
    svc = service(options=HANDLED)
    proc = svc.start_running()
    assert svc.send("ctrl_break_event").rc == 0
    wait_until(lambda: "Full thread dump" in svc.console_log(), "the thread dump")
    assert "Generating control break event." in svc.trace_lines()
    assert "console 1" not in svc.record()
    # The dump does not end the service.
    assert proc.poll() is None
    svc.stop_dev(proc)


def test_ctrl_break_key_is_offered_to_java_first(service):
    svc = service(options=HANDLED)
    proc = svc.start_running()
    proc.send_signal(signal.SIGQUIT)
    svc.wait_record("console 1")
    svc.wait_trace("Got a ctrl_break_event")
    svc.stop_dev(proc)
    # Handled in Java: the VM was never asked for a dump.
    assert "Full thread dump" not in svc.console_log()


def test_shutdown_event_offered_then_passed_on(service):
    svc = service()
    proc = svc.start_running()
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(timeout=60) == 128 + signal.SIGTERM
    assert "Got a ctrl_shutdown_event" in svc.trace_lines()
    assert "console 6" in svc.record()
