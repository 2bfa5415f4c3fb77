"""Update in place (-m): an installed service changed from an edited configuration file without
removing it, key by key, and run again without changes."""

from config_support import basic, install, write_config
from runtime_support import wait_until
from test_windows_vm import DoubleService, win  # noqa: F401 (win: the fixture)

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

    # jvmOption3 lies beyond a gap: ignored, as installation ignores it.
    second = basic(name, "startType=SERVICE_AUTO_START", "description=New text",
                   "jvmOption1=-Xmx2m", "jvmOption3=-Dgap=1", "failureActions=restart/1000,none/0",
                   "logKeepFiles=3")
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
    # The unchanged description survives (Wine's manager drops a Description it did not write
    # whenever it saves a service's settings).
    third = second + ["account=NetworkService"]
    result = update(machine, third)
    assert result.rc == 0, result
    assert "account: LocalSystem -> NT AUTHORITY\\NetworkService" in result.lines, result
    assert not [l for l in result.lines if l.startswith("description:")], result
    shown = report(machine, name)
    assert "account=NT AUTHORITY\\NetworkService" in shown and "description=New text" in shown
    if not machine.is_windows:
        dacl = machine.tool("regtool", ["sd", SERVICES + "\\" + name + r"\Parameters"]).lines
        assert dacl == ["D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;S-1-5-20)"], dacl
    result = update(machine, third)
    assert result.rc == 0 and result.lines[-1].endswith("nothing changed."), result
    # Recovery actions dropped from the file leave the service too, not only its Parameters.
    result = update(machine, [l for l in third if not l.startswith("failureActions")])
    assert "failureActions: restart/1000,none/0 -> (not set)" in result.lines, result
    assert "failureActions=" in machine.run(["-Q", name]).lines
    assert machine.run(["-r", name]).rc == 0


def test_unquoted_image_path_warned_about_by_status_and_quoted_by_update(machine):
    from test_report import UNQUOTED_WARNING

    name = machine.unique("updquote")
    lines = basic(name, r"binaryPath=C:\Program Files\App\brontel.exe")
    assert install(machine, lines).rc == 0
    quoted = machine.reg_get(SERVICES + "\\" + name, "ImagePath")[1]
    unquoted = quoted.replace('"', "", 2)
    assert unquoted == rf'C:\Program Files\App\brontel.exe -Z "{name}"'
    machine.reg_set(SERVICES + "\\" + name, "ImagePath", "sz", unquoted)
    warning = UNQUOTED_WARNING.rstrip("\n")
    assert machine.run(["-q", name]).lines[-1] == warning
    assert machine.run(["-Q", name]).lines[-1] == "warning=" + warning
    # The same file again is a change: the path gets its quotes back.
    result = update(machine, lines)
    assert result.rc == 0, result
    assert f"binaryPath: {unquoted} -> {quoted}" in result.lines, result
    assert machine.reg_get(SERVICES + "\\" + name, "ImagePath")[1] == quoted
    assert not [l for l in machine.run(["-Q", name]).lines if l.startswith("warning=")]
    assert update(machine, lines).lines[-1].endswith("nothing changed.")
    assert machine.run(["-r", name]).rc == 0


def test_update_changes_the_environment_entries(linux):
    name = linux.unique("updenv")
    assert install(linux, basic(name, "environment1=A=1", "environment2=B=2")).rc == 0
    key = SERVICES + "\\" + name

    def changed(*entries):
        result = update(linux, basic(name, *entries))
        assert result.rc == 0, result
        return [l for l in result.lines if l.startswith("environment") and " -> " in l]

    def stored():
        return [line for line in report(linux, name) if line.startswith("environment")]

    assert changed("environment1=A=1", "environment2=B=3", "environment3=C=3") == [
        "environment2: B=2 -> B=3", "environment3: (not set) -> C=3"]
    assert stored() == ["environment1=A=1", "environment2=B=3", "environment3=C=3"]
    assert changed("environment1=C=3") == [
        "environment1: A=1 -> C=3", "environment2: B=3 -> (not set)",
        "environment3: C=3 -> (not set)"]
    assert stored() == ["environment1=C=3"]
    assert changed() == ["environment1: C=3 -> (not set)"]
    assert stored() == [] and linux.reg_get(key, "Environment") is None
    assert linux.run(["-r", name]).rc == 0


def test_update_warns_as_install_does(linux):
    name = linux.unique("updwarn")
    lines = basic(name)
    assert install(linux, lines).rc == 0
    missing = linux.tmp / "nojvm" / "libjvm.so"
    result = update(linux, lines + [f"jvmDLL={missing}"])
    warning = (f"Warning: the jvmDLL file does not exist here: {missing} (installed anyway; the "
               "service needs it when it starts).")
    assert result.rc == 0 and warning in result.lines, result
    result = update(linux, lines, "-a", "nobody")
    assert result.rc == 0 and "account: LocalSystem -> nobody" in result.lines, result
    assert ("The account nobody logs on with its password: give it with -p (without it Windows "
            "cannot start the service, error 1069).") in result.lines, result
    virtual = "NT SERVICE\\" + name
    result = update(linux, lines, "-a", virtual, "-p", "secret")
    assert f"The account {virtual} has no password: -p is not used." in result.lines, result
    assert linux.run(["-r", name]).rc == 0


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


def test_update_of_a_running_service_under_wine(win):
    svc = DoubleService(win, "vmdouble.Running", install=True)
    try:
        svc.start_and_wait("RUNNING")
        saved = win.tmp / "running.conf"
        assert win.run(["-e", svc.name, win.path(saved)]).rc == 0
        lines = saved.read_text().splitlines()
        result = update(win, lines + ["jvmOption3=-Dvmdouble.added=1"])
        assert result.rc == 0, result
        assert "jvmOption3: (not set) -> -Dvmdouble.added=1" in result.lines, result
        assert result.lines[-1].startswith(f"The service {svc.name} is running: restart it"), result
        # With -y the service starts again and its VM gets the new option.
        result = update(win, lines + ["jvmOption3=-Dvmdouble.added=2"], "-y")
        assert result.rc == 0 and f"Restarting the service {svc.name}" in result.lines, result
        assert svc.svc("wait", "RUNNING", 60000).rc == 0
        svc.wait_record("option -Dvmdouble.added=2")
        assert "option -Dvmdouble.added=1" not in svc.record()
        assert svc.svc("stop").rc == 0 and svc.svc("wait", "STOPPED", 60000).rc == 0
        assert svc.misused() == ""
    finally:
        svc.cleanup()
