"""The pre-initialization command: run to its end before the Java VM is created, with a
start-pending report and its wait hint in service mode."""

import json

import pytest

from runtime_support import Service, wait_until

RECORDING = "com.vantero.tests.RecordingService"


def index_of(lines, prefix):
    return next(i for i, line in enumerate(lines) if line.startswith(prefix))


def test_command_runs_before_the_vm_with_references_expanded(linux):
    svc = Service(linux, RECORDING)
    svc.set("PreInitCmd", f'/bin/sh -c "echo %BRONTEL_PRE% ran >> {svc.out}"')
    result = linux.run(["-x", svc.name], env={"BRONTEL_PRE": "preinit"})
    assert result.rc == 0, result
    assert svc.record()[:2] == ["preinit ran", "count 0"]
    lines = svc.trace_lines()
    assert index_of(lines, "Executing command: /bin/sh ") < index_of(lines, "Command completed.")
    assert index_of(lines, "Command completed.") < index_of(lines, "CJvm::initialize Entry")


def test_a_missing_program_is_reported_and_the_vm_still_starts(linux):
    svc = Service(linux, RECORDING)
    svc.set("PreInitCmd", "brontel-no-such-command --flag")
    result = linux.run(["-x", svc.name])
    assert result.rc == 0, result
    lines = svc.trace_lines()
    assert "Unable to create process. rc= 2" in lines
    assert "The system cannot find the file specified." in lines
    assert "CExecutor::executePreinitCommand Exit 24" in lines
    assert svc.record() == ["count 0"] + svc.record()[1:]


def start_failure_entries(svc):
    log = svc.m.root / "eventlog" / "Application.jsonl"
    entries = [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines()]
    return [e for e in entries if e["source"] == svc.name and e["id"] == 1]


def test_arguments_never_reach_the_event_log_and_the_trace_only_when_asked(linux):
    # A start that fails after the command ran: its entry tells what the trace says.
    svc = Service(linux, "com.example.Missing", install=True)
    secret = "--db-password=S3cretPw"
    svc.set("PreInitCmd", f"/bin/sh -c true {secret}")
    try:
        for asked in (None, "TRUE"):
            if asked:
                svc.set("TraceArguments", asked)
            status = svc.start_and_wait()
            assert status["SERVICE_EXIT"] == 18, svc.trace_text()
            entries = start_failure_entries(svc)
            text = entries[-1]["strings"][2].split("\r\n")
            assert ("Executing command: /bin/sh (its arguments are traced only with "
                    "traceArguments=TRUE)") in text, text
            assert not any("S3cretPw" in s for e in entries for s in e["strings"]), entries
        lines = svc.trace_lines()
        # The trace shows them once asked, and only then.
        assert [l for l in lines if "S3cretPw" in l] == [f"Executing command: /bin/sh -c true {secret}"]
    finally:
        svc.cleanup()


def test_no_command_configured(linux):
    svc = Service(linux, RECORDING)
    assert linux.run(["-x", svc.name]).rc == 0
    assert "No preinit command specified." in svc.trace_lines()


@pytest.mark.parametrize("hint, expected", [(None, 2000), ("30000", 30000), ("abc", 0)])
def test_start_pending_hint_while_the_command_runs(linux, hint, expected):
    svc = Service(linux, RECORDING, install=True)
    go = linux.tmp / "go"
    svc.set("PreInitCmd", f'"{linux.tool_path("proctool")}" waitfile "{go}"')
    if hint is not None:
        svc.set("PreInitHint", hint)
    try:
        assert svc.svc("start").rc == 0
        # The report is made before the command starts (the manager's own first status is
        # start-pending too).
        svc.wait_trace("Executing command: ")
        pending = svc.svc("query")
        assert f"WAIT_HINT {expected} " in pending.out, pending
        assert "CHECKPOINT 0 " in pending.out and "ACCEPTED 0" in pending.out
        go.touch()
        stopped = svc.svc("wait", "STOPPED", "60000")
        assert "SERVICE_EXIT 0 " in stopped.out, stopped
        assert svc.record()[0] == "count 0"
    finally:
        go.touch()
        svc.cleanup()


def test_pipe_listens_while_the_command_runs_and_the_vm_load_fails_after_it(machine):
    svc = Service(machine, jvm=False, install=True)
    svc.set("JVMdll", machine.path(machine.tmp / "brontel-missing-jvm"))
    go = machine.tmp / "go"
    svc.set("PreInitCmd", f'"{machine.path(machine.tool_path("proctool"))}" waitfile "{machine.path(go)}"')
    try:
        proc = svc.start_dev()
        svc.wait_trace("Executing command: ")

        def sent():
            result = machine.tool("pipetool", ["send", svc.name + "_BrontelPipe", "04000000"])
            return result.out.strip() == "sent"

        wait_until(sent, "the control pipe")
        svc.wait_trace("The service is not ready, control code dropped: 4")
        assert "Command completed." not in svc.trace_lines()
        go.touch()
        assert proc.wait(timeout=120) == 13  # the library's failure
        lines = svc.trace_lines()
        assert index_of(lines, "Command completed.") < index_of(lines, "Cannot load the JVM DLL")
    finally:
        go.touch()
        svc.cleanup()
