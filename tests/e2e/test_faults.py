"""Faults an administrator's machine can throw at brontel: a read-only or locked registry, a full
disk under the trace file, Java services that exit, crash or are killed, a pipe client that dies
in mid-message, a sender killed during a restart. Each ends with a clear message and a consistent
state, no file of the administrator's is touched, and the next command works."""

import os
import signal
import sqlite3
import subprocess

import pytest

from config_support import basic, write_config
from runtime_support import pid_alive, service_maker, wait_until

FAULT = "com.vantero.tests.FaultService"
SIGNAL = "com.vantero.tests.SignalService"


@pytest.fixture
def service(linux):
    yield from service_maker(linux, FAULT)


def fault_config(m, name):
    lines = basic(name, "description=kept as written", display=f"Fault test {name}",
                  service_class="com.example.Missing")
    return write_config(m, lines, f"{name}.conf")


def run_read_only(m, args):
    """Runs brontel with its root mounted read-only in a mount namespace of its own."""
    root = str(m.root)
    script = 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" "$1" && shift && exec "$@"'
    command = ["unshare", "-m", "sh", "-c", script, "sh", root, str(m.exe), *args]
    proc = subprocess.run(command, env=m.env, cwd=str(m.tmp), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)
    if proc.returncode != 0 and b"mount" in proc.stderr:
        pytest.skip("cannot make a read-only mount here: " + proc.stderr.decode())
    return proc.returncode, proc.stdout.decode("utf-8", "replace")


def test_read_only_root_refuses_changes_and_keeps_everything(linux):
    name = linux.unique("ro")
    config = fault_config(linux, name)
    assert linux.run(["-i", str(config)]).rc == 0
    trace = linux.tmp / "trace.log"
    before = config.read_bytes()

    rc, out = run_read_only(linux, ["-b"])
    assert rc == 0 and f"{name} : Fault test {name}" in out
    rc, out = run_read_only(linux, ["-t", str(trace)])
    assert rc == 0
    assert out.splitlines()[:2] == ["Cannot open registry to turn on trace. 5", "Access is denied."]
    rc, out = run_read_only(linux, ["-i", str(fault_config(linux, name + "b"))])
    assert rc == 8, out
    assert "Installation failed" in out
    rc, out = run_read_only(linux, ["-r", name])
    assert rc != 0, out
    assert "Uninstall failed" in out

    # Nothing changed, and with the root writable again the next commands work.
    assert config.read_bytes() == before
    assert not trace.exists()
    assert f"{name} : " in linux.run(["-b"]).out
    assert name + "b" not in linux.run(["-b"]).out
    result = linux.run(["-r", name])
    assert result.rc == 0 and f"Service {name} deleted successfully." in result.out


def test_registry_locked_by_another_process(linux):
    name = linux.unique("lock")
    assert linux.run(["-i", str(fault_config(linux, name))]).rc == 0
    holder = sqlite3.connect(str(linux.root / "registry.db"), timeout=0, isolation_level=None)
    holder.execute("BEGIN EXCLUSIVE")
    try:
        result = linux.run(["-t", str(linux.tmp / "trace.log")])
        assert result.rc == 0
        assert result.lines[0].startswith("Cannot open registry to turn on trace. ")
        assert len(result.lines[1]) > 0  # the system's text for the code
    finally:
        holder.execute("ROLLBACK")
        holder.close()
    # Once the lock is gone everything is as before.
    assert f"serviceName={name}" in linux.run(["-d", name]).out
    assert linux.run(["-t", str(linux.tmp / "trace.log")]).out.startswith("Trace enabled.")


def test_trace_file_on_a_full_disk_is_harmless(linux):
    linux.trace_to("/dev/full")
    config = linux.tmp / "skeleton.conf"
    result = linux.run(["-c", str(config)])
    assert result.rc == 0
    assert result.out == f"Generating file {config} \n"
    # The template's lines, then the added keys' closing list (three lines and two a key).
    assert config.read_bytes().count(b"\r\n") == 120 + 3 + 2 * 14
    name = linux.unique("full")
    assert linux.run(["-i", str(fault_config(linux, name))]).rc == 0
    assert linux.run(["-r", name]).rc == 0


def test_special_files_as_configuration_never_block(linux):
    # A FIFO waits for a writer when opened on Linux; Windows has no such file. It must end as a
    # file that cannot be opened, and so must a directory.
    fifo = linux.tmp / "c.conf"
    os.mkfifo(fifo)
    for args in (["-i", str(fifo)], ["-u", str(fifo)], ["-i", str(linux.tmp)]):
        result = linux.run(args, timeout=20)
        assert result.rc == 4, result
        assert f"Cannot open config file : {args[1]}" in result.out
    # The skeleton and the report are never written over a FIFO either.
    result = linux.run(["-c", str(fifo)], timeout=20)
    assert result.out.startswith(f"Cannot open file {fifo}\nThe file exists."), result
    assert fifo.is_fifo()


@pytest.mark.parametrize("fault", ["exit", "crash", "kill"])
def test_service_process_that_ends_abruptly_is_seen_stopped(service, linux, fault):
    behaviour = "hang" if fault == "kill" else fault
    crash_log = "-XX:ErrorFile=" + str(linux.tmp / "hs_err_%p.log")
    svc = service(options=[f"-Dbrontel.test.fault={behaviour}", "-XX:-CreateCoredumpOnCrash", crash_log],
                  install=True)
    assert svc.svc("start").rc == 0
    pid = svc.wait_running()
    if fault == "kill":
        os.kill(pid, signal.SIGKILL)
    wait_until(lambda: not pid_alive(pid), "the service process to end")
    status = svc.svc("wait", "STOPPED", "30000")
    assert status.rc == 0, status
    # The manager can start it again: nothing was left half-done.
    assert svc.svc("start").rc == 0
    second = svc.wait_running(2)
    assert second != pid
    if fault == "kill":
        os.kill(second, signal.SIGKILL)


def test_development_mode_service_calling_system_exit(service):
    svc = service(options=["-Dbrontel.test.fault=exit"])
    proc = svc.start_running()
    assert proc.wait(timeout=60) == 3
    # The next run of the same service works.
    proc = svc.start_running()
    assert proc.wait(timeout=60) == 3


def test_pipe_client_dying_mid_message_delivers_nothing(service):
    svc = service(SIGNAL)
    proc = svc.start_running()
    client = svc.m.start(["sendhold", svc.name + "_BrontelPipe", "0100"], tool="pipetool")
    assert client.stdout.readline().strip() == b"sent"
    client.kill()
    client.wait()
    svc.wait_trace("Incomplete control message ignored")
    assert not [line for line in svc.record() if line.startswith("control ")]
    # The server listens again: a whole message is delivered.
    svc.stop_dev(proc)
    assert "control 1" in svc.record()


def test_sender_killed_during_a_restart(service):
    # A development-mode instance that ignores stop keeps the restart waiting for it to end.
    svc = service(options=["-Dbrontel.test.fault=hang"])
    proc = svc.start_running()
    sender = svc.m.start(["-s", svc.name, "SERVICE_CONTROL_RESTART"])
    svc.wait_record("control 1")
    sender.kill()
    sender.wait()
    # The old instance runs on, no second one was started, and the next signal is delivered.
    assert proc.poll() is None
    assert len(svc.running_pids()) == 1
    assert svc.send("SERVICE_CONTROL_INTERROGATE").rc == 0
    svc.wait_record("control 4")


def test_restart_of_a_service_that_ignores_stop_is_abandoned(service, linux):
    svc = service(options=["-Dbrontel.test.fault=hang"], install=True)
    svc.start_and_wait("RUNNING")
    pid = svc.wait_running()
    result = svc.send("SERVICE_CONTROL_RESTART", timeout=180)
    # The stop was given up, so no start was tried on top of the instance that still runs.
    assert result.rc == 25, result
    lines = result.lines
    assert any(line.startswith(f"The service {svc.name} did not stop: ") and line.endswith("Giving up.")
               for line in lines), result
    assert (f"Restart abandoned: the service {svc.name} could not be stopped, so it was not "
            "started again.") in lines
    assert not any(line.startswith("Unable to start service") for line in lines), result
    assert svc.running_pids() == [pid] and pid_alive(pid)
