"""Update in place (-m): an installed service changed from an edited configuration file without
removing it, key by key, and run again without changes."""

from config_support import basic, install, write_config
from runtime_support import wait_until

SERVICES = r"SYSTEM\CurrentControlSet\Services"


def update(machine, lines, *options, file_name="update.conf"):
    config = write_config(machine, lines, file_name)
    return machine.run(["-m", machine.path(config), *options])


def report(machine, name):
    result = machine.run(["-d", name])
    assert result.rc == 0, result
    return [line for line in result.lines if "=" in line]


def test_update_changes_key_by_key_and_twice_changes_nothing(machine):
    name = machine.unique("upd")
    first = basic(name, "description=Old text", "jvmOption1=-Xmx1m", "jvmOption2=-Dx=1",
                  "stopTimeout=10")
    assert install(machine, first).rc == 0
    security = machine.tool("svctool", ["sd", name]).out
    # The same file again: nothing to do, and said so.
    result = update(machine, first)
    assert result.rc == 0, result
    assert result.lines[-1] == f"The service {name} already has these settings: nothing changed."

    second = basic(name, "startType=SERVICE_AUTO_START", "description=New text",
                   "jvmOption1=-Xmx2m", "failureActions=restart/1000,none/0", "logKeepFiles=3")
    result = update(machine, second)
    assert result.rc == 0, result.out
    assert [line for line in result.lines if ": " in line and "->" in line] == [
        "startType: SERVICE_DEMAND_START -> SERVICE_AUTO_START",
        "description: Old text -> New text",
        "stopTimeout: 10 -> (not set)",
        "failureActions: (not set) -> restart/1000,none/0",
        "logKeepFiles: (not set) -> 3",
        "jvmOption1: -Xmx1m -> -Xmx2m",
        "jvmOption2: -Dx=1 -> (not set)",
    ], result
    assert result.lines[-1] == "Service successfully updated."
    shown = report(machine, name)
    assert "startType=SERVICE_AUTO_START" in shown and "description=New text" in shown
    assert "JVMOption1=-Xmx2m" in shown and not [l for l in shown if l.startswith("JVMOption2")]
    assert "failureActions=restart/1000,none/0" in shown and "logKeepFiles=3" in shown
    assert not [l for l in shown if l.startswith("stopTimeout")]
    assert machine.tool("svctool", ["sd", name]).out == security
    # Run again, as a configuration-management tool does: nothing to change.
    result = update(machine, second)
    assert result.rc == 0 and result.lines[-1].endswith("nothing changed."), result

    # A malformed value changes nothing at all.
    before = report(machine, name)
    result = update(machine, basic(name, "startType=SERVICE_DISABLED", "stopTimeout=ten"))
    assert result.rc == 5, result
    assert report(machine, name) == before

    # The file's account (as a saved report has it), in full; its SID reads the Parameters.
    # (The description changes with it: Wine's manager drops a Description it did not write
    # whenever it saves a service's settings.)
    third = [line for line in second if not line.startswith("description=")]
    third += ["description=Account text", "account=NetworkService"]
    result = update(machine, third)
    assert result.rc == 0, result
    assert "account: LocalSystem -> NT AUTHORITY\\NetworkService" in result.lines, result
    assert "account=NT AUTHORITY\\NetworkService" in report(machine, name)
    if not machine.is_windows:
        dacl = machine.tool("regtool", ["sd", SERVICES + "\\" + name + r"\Parameters"]).lines
        assert dacl == ["D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;S-1-5-20)"], dacl
    result = update(machine, third)
    assert result.rc == 0 and result.lines[-1].endswith("nothing changed."), result
    assert machine.run(["-r", name]).rc == 0


def test_update_refuses_a_service_brontel_did_not_install(machine):
    name = machine.unique("updforeign")
    sentence = f"The service {name} is not installed (brontel -b lists the services brontel installed)."
    result = update(machine, basic(name))
    assert result.rc == 11 and sentence in result.lines, result
    assert machine.tool("svctool", ["create", name, "Other " + name, "C:\\other.exe"]).rc == 0
    result = update(machine, basic(name))
    assert result.rc == 11 and sentence in result.lines, result
    assert machine.reg_get(SERVICES + "\\" + name, "ImagePath")[1] == "C:\\other.exe"
    machine.tool("svctool", ["delete", name])


def test_update_of_a_running_service_says_restart_and_restarts_with_y(linux):
    from test_programs import PROGRAM, program_service, service_pid

    svc = program_service(linux, f"{PROGRAM} serve")
    svc.start_and_wait("RUNNING")
    pid = service_pid(svc)
    saved = linux.tmp / "running.conf"
    assert linux.run(["-e", svc.name, linux.path(saved)]).rc == 0
    lines = saved.read_text().splitlines()
    result = update(linux, lines + ["description=changed while running"])
    assert result.rc == 0, result
    assert "description: (not set) -> changed while running" in result.lines
    assert result.lines[-1] == (f"The service {svc.name} is running: restart it for the changes to "
                                "take effect (brontel -s <service> restart, or -m with -y).")
    assert svc.status()["STATE"] == 4 and service_pid(svc) == pid
    # With -y the service is restarted; nothing to change then still restarts nothing.
    result = update(linux, lines + ["description=changed again"], "-y")
    assert result.rc == 0, result
    assert f"Restarting the service {svc.name}" in result.lines, result.out
    assert svc.svc("wait", "RUNNING", 60000).rc == 0
    wait_until(lambda: len([l for l in svc.record() if l.startswith("main [")]) == 2,
               "the program to run a second time")
    result = update(linux, lines + ["description=changed again"], "-y")
    assert result.rc == 0 and result.lines[-1].endswith("nothing changed."), result
    assert svc.svc("stop").rc == 0
    assert svc.svc("wait", "STOPPED", 60000).rc == 0
