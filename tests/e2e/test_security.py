"""Pipe squatting, busy pipes, planted programs and libraries, trace links: each no longer works."""

import os
import pwd
import re
import shutil
import stat

import pytest

from runtime_support import Service, service_maker, wait_until
from config_support import basic, install
from test_install import SERVICES, install_test_service, start_and_wait

SIGNAL = "com.vantero.tests.SignalService"
RECORDING = "com.vantero.tests.RecordingService"


def start_squatter(machine, name, log):
    """Another program's instance of the service's pipe, created before anyone else's."""
    squatter = machine.start(["squat", name + "_BrontelPipe", machine.path(log)], tool="pipetool")
    assert squatter.stdout.readline().decode().strip() == "created"
    return squatter


def end(proc):
    proc.kill()
    proc.wait()


def lines_of(log):
    return log.read_text().splitlines() if log.exists() else []


def test_a_pipe_served_by_the_senders_own_user_is_used_when_no_service_runs(machine):
    name = machine.unique("squat")
    log = machine.tmp / "squatter.log"
    squatter = start_squatter(machine, name, log)
    try:
        # No service runs by this name, so the pipe is tried; its server is the sender's own user.
        # (The impersonation level is not checked: Wine ignores it, the stand-in has none.)
        assert machine.run(["-s", name, "200"]).rc == 0
        clients = wait_until(lambda: lines_of(log), "the squatter's client")
        assert clients[0].startswith("client c8000000 impersonation "), clients
    finally:
        end(squatter)


def test_a_squatter_gets_nothing_meant_for_a_service_under_the_manager(machine):
    name, service_log = install_test_service(machine, "")
    start_and_wait(machine, name)
    log = machine.tmp / "squatter.log"
    squatter = start_squatter(machine, name, log)
    try:
        result = machine.run(["-s", name, "SERVICE_CONTROL_INTERROGATE"])
        assert "Control sent OK, current service state : SERVICE_RUNNING" in result.lines, result
        # The restart is the manager's: the service's process stops and a new one runs.
        result = machine.run(["-s", name, "SERVICE_CONTROL_RESTART"])
        assert result.rc == 0, result
        wait_until(lambda: service_log.read_text().count("running ") == 2, "the restarted service")
        assert "control 1" in service_log.read_text()
        assert lines_of(log) == []
    finally:
        end(squatter)
        machine.tool("svctool", ["stop", name])
        machine.tool("svctool", ["wait", name, "STOPPED", "30000"])
        machine.tool("svctool", ["delete", name])


@pytest.mark.parametrize("instances", [1, 2])
def test_development_mode_runs_nothing_when_another_program_holds_its_pipe(machine, instances):
    # A pipe created first by someone else, with the system's default security; with room for
    # a second instance, that instance would carry the squatter's security.
    svc = Service(machine, jvm=False, install=True)
    svc.set("JVMdll", machine.path(machine.tmp / "brontel-missing-jvm"))
    squatter = machine.start(["hold", svc.name + "_BrontelPipe", str(instances)], tool="pipetool")
    try:
        assert squatter.stdout.readline().decode().strip() == "created"
        result = machine.run(["-x", svc.name])
        assert result.rc == 36, (result, svc.trace_text())
        pipe = "\\\\.\\pipe\\" + svc.name + "_BrontelPipe"
        assert (f"The control pipe {pipe} is held by another process: another development-mode "
                "instance of this service, or a program that took its name first. The service is "
                "not run.") in result.err.splitlines(), result
        assert "CExecutor::startServiceTask Entry" not in svc.trace_lines()
        end(squatter)
        # Once it is gone, the instance makes the pipe its own and runs (here to its library).
        assert machine.run(["-x", svc.name]).rc == 13
    finally:
        end(squatter)
        svc.cleanup()


def test_service_names_that_would_change_the_pipe_path_are_refused(linux):
    for args in (["-s", "a\\b", "SERVICE_CONTROL_STOP"], ["-x", "x/../y"]):
        result = linux.run(args)
        assert result.rc == 1, result
        assert f"The service name must not contain \\ or /: {args[1]}" in result.lines


@pytest.fixture
def dev_service(linux):
    yield from service_maker(linux, SIGNAL)


def test_a_silent_client_is_dropped_and_others_get_through(linux, dev_service):
    svc = dev_service()
    proc = svc.start_running()
    pipe = svc.name + "_BrontelPipe"
    for code, partial in ((201, ""), (202, "c8")):
        # The client holds the one pipe instance without completing a message; a sender still
        # gets through within its wait for a busy pipe.
        silent = linux.start(["sendhold", pipe, partial], tool="pipetool")
        try:
            assert silent.stdout.readline().decode().strip() == "sent"
            result = svc.send(str(code))
            assert result.rc == 0 and "Control sent OK" not in result.out, result
            wait_until(lambda: f"control {code}" in svc.record(), f"control {code}")
        finally:
            end(silent)
    dropped = [l for l in svc.trace_lines() if l.startswith("A pipe client sent no complete")]
    assert dropped == [
        f"A pipe client sent no complete control within a second, disconnected; bytes received: {n}"
        for n in (0, 1)
    ]
    svc.stop_dev(proc)
    assert not any(line.startswith("control 200") for line in svc.record())


def make_link(target, link):
    os.symlink(target, link)
    return link


def test_trace_paths_through_links_are_refused(machine):
    real = machine.tmp / "real"
    real.mkdir()
    linked = make_link(real, machine.tmp / "linked")
    through = linked / "trace.txt"
    machine.trace_to(machine.tmp / "before.txt")
    result = machine.run(["-t", machine.path(through)])
    assert result.rc == 0, result
    assert ("Trace not enabled: the file or a folder on its path is a link: "
            + machine.path(through)) in result.lines
    assert machine.reg_get(r"SOFTWARE\Orvane\Brontel", "Trace")[1] == machine.path(
        machine.tmp / "before.txt")
    # A switch that already names such a path is not followed by any process.
    machine.trace_to(through)
    assert machine.run(["-b"]).rc == 0
    assert not (real / "trace.txt").exists()
    machine.trace_off()


def test_a_trace_file_that_is_itself_a_link_is_refused(linux):
    # Wine shows links to files as plain files, so only the Linux build can show this one.
    victim = linux.tmp / "victim.txt"
    victim.write_text("untouched\n")
    link = make_link(victim, linux.tmp / "trace.lnk")
    result = linux.run(["-t", str(link)])
    assert "Trace not enabled: the file or a folder on its path is a link: " + str(link) in result.lines
    linux.trace_to(link)
    assert linux.run(["-b"]).rc == 0
    assert victim.read_text() == "untouched\n"


def planted(path, marker):
    path.write_text(f"#!/bin/sh\necho planted >> '{marker}'\n")
    path.chmod(path.stat().st_mode | stat.S_IEXEC)
    return path


def test_an_unquoted_program_path_with_blanks_is_refused(linux):
    svc = Service(linux, RECORDING)
    marker = linux.tmp / "marker"
    folder = linux.tmp / "My App"
    folder.mkdir()
    # What the system would try first for the unquoted line, planted: refused all the same.
    planted(linux.tmp / "My", marker)
    svc.set("PreInitCmd", f"{folder}/prep args {marker} ran")
    result = linux.run(["-x", svc.name])
    assert result.rc == 0, result
    lines = svc.trace_lines()
    refusal = ("The program's path contains blanks and is not quoted; put it in double quotes: "
               f"{folder}/prep")
    assert refusal in lines, svc.trace_text()
    assert "CExecutor::executePreinitCommand Exit 24" in lines
    assert not marker.exists()
    # With the intended program there, the same.
    shutil.copy(linux.tool_path("proctool"), folder / "prep")
    assert linux.run(["-x", svc.name]).rc == 0
    assert svc.trace_lines().count(refusal) == 2
    assert not marker.exists()
    # Quoted, the same command runs the intended program.
    svc.set("PreInitCmd", f'"{folder}/prep" args "{marker}" ran')
    assert linux.run(["-x", svc.name]).rc == 0
    assert marker.read_text() == "ran\n"
    assert f"Executing command: {folder}/prep (its arguments are traced only with traceArguments=TRUE)" in svc.trace_lines()


def test_a_program_that_does_not_exist_is_named_and_nothing_runs(linux):
    svc = Service(linux, RECORDING)
    svc.set("PreInitCmd", f'"{linux.tmp}/gone/prep" --flag')
    assert linux.run(["-x", svc.name]).rc == 0
    lines = svc.trace_lines()
    assert f"The pre-initialization program does not exist: {linux.tmp}/gone/prep" in lines
    assert "Unable to create process. rc= 2" in lines
    assert "CExecutor::executePreinitCommand Exit 24" in lines


def test_a_bare_program_name_is_never_taken_from_the_current_directory(linux):
    svc = Service(linux, RECORDING)
    marker = linux.tmp / "marker"
    planted(linux.tmp / "brontel-prep-tool", marker)
    svc.set("PreInitCmd", "brontel-prep-tool --flag")
    result = linux.run(["-x", svc.name], cwd=linux.tmp, env={"PATH": "/usr/bin:/bin:relative"})
    assert result.rc == 0, result
    assert "Unable to create process. rc= 2" in svc.trace_lines()
    assert not marker.exists()
    # Found along an absolute folder of PATH, it runs.
    tools = linux.tmp / "tools"
    tools.mkdir()
    shutil.move(str(linux.tmp / "brontel-prep-tool"), str(tools / "brontel-prep-tool"))
    result = linux.run(["-x", svc.name], env={"PATH": f"/usr/bin:/bin:{tools}"})
    assert result.rc == 0, result
    assert "Command completed." in svc.trace_lines()
    assert marker.read_text() == "planted\n"


# -- the Windows build under Wine: what a planted program or library would have done -----------

@pytest.fixture
def win(machine):
    if not machine.is_windows:
        pytest.skip("the system's own program and library search is the Windows build's")
    return machine


def ran_log(m):
    # Every copy of proctool started with this environment appends its own path to the log.
    log = m.tmp / "ran.log"
    return log, {"PROCTOOL_RAN_LOG": m.path(log)}


def test_windows_an_unquoted_program_path_with_blanks_runs_nothing(win):
    svc = Service(win, "vmdouble.Silent", jvm=False)
    log, env = ran_log(win)
    marker = win.tmp / "marker"
    folder = win.tmp / "My App"
    folder.mkdir()
    # What the system would start first for the unquoted line, without then with the intended one.
    shutil.copy(win.tool_path("proctool"), win.tmp / "My.exe")
    command = f"{win.path(folder / 'prep.exe')} args {win.path(marker)} ran"
    svc.set("PreInitCmd", command)
    refusal = ("The program's path contains blanks and is not quoted; put it in double quotes: "
               + win.path(folder / "prep.exe"))
    win.run(["-x", svc.name], env=env)
    assert refusal in svc.trace_lines(), svc.trace_text()
    shutil.copy(win.tool_path("proctool"), folder / "prep.exe")
    win.run(["-x", svc.name], env=env)
    lines = svc.trace_lines()
    assert lines.count(refusal) == 2, svc.trace_text()
    assert lines.count("CExecutor::executePreinitCommand Exit 24") == 2
    assert lines_of(log) == [] and not marker.exists()
    # Quoted, the intended program runs, and only it.
    svc.set("PreInitCmd", f'"{win.path(folder / "prep.exe")}" args "{win.path(marker)}" ran')
    win.run(["-x", svc.name], env=env)
    assert marker.read_text() == "ran\n", svc.trace_text()
    assert [p.lower() for p in lines_of(log)] == [win.path(folder / "prep.exe").lower()]


def test_windows_a_bare_program_name_is_never_taken_from_the_current_directory(win):
    svc = Service(win, "vmdouble.Silent", jvm=False)
    log, env = ran_log(win)
    marker = win.tmp / "marker"
    shutil.copy(win.tool_path("proctool"), win.tmp / "brontel-prep-tool.exe")
    svc.set("PreInitCmd", f"brontel-prep-tool args {win.path(marker)} planted")
    win.run(["-x", svc.name], cwd=win.tmp, env=env)
    assert "Unable to create process. rc= 2" in svc.trace_lines(), svc.trace_text()
    assert lines_of(log) == [] and not marker.exists()
    # In a folder of PATH (Wine puts WINEPATH in front of it), the same program runs.
    tools = win.tmp / "tools"
    tools.mkdir()
    shutil.move(str(win.tmp / "brontel-prep-tool.exe"), str(tools / "brontel-prep-tool.exe"))
    win.run(["-x", svc.name], cwd=win.tmp, env=dict(env, WINEPATH=win.path(tools)))
    assert "Command completed." in svc.trace_lines(), svc.trace_text()
    assert marker.read_text() == "planted\n"
    assert [p.lower() for p in lines_of(log)] == [
        win.path(tools / "brontel-prep-tool.exe").lower()]


def vm_double(m, folder, name="vmdouble/jvm.dll"):
    folder.mkdir(parents=True, exist_ok=True)
    built = m.build_dir / "tests" / "vmdouble" / name
    return shutil.copy(built, folder / built.name)


def double_service(m, library=None):
    """A service whose VM, if the double ever loads, records its options and then fails (16)."""
    svc = Service(m, "vmdouble.Silent", jvm=False)
    record = m.tmp / (svc.name + ".record")
    if library is not None:
        svc.set("JVMdll", library)
    svc.set("JVMOption1", "-Dvmdouble.record=" + m.path(record))
    svc.set("JVMOption2", "-Dvmdouble.createVM=-6")
    return svc, record


def run_with_planted(m, svc, name="vmdouble/jvm.dll"):
    """-x with copies of `name` in the current folder ("work") and in a folder on WINEPATH."""
    work, on_path = m.tmp / "work", m.tmp / "onpath"
    vm_double(m, work, name)
    vm_double(m, on_path, name)
    result = m.run(["-x", svc.name], cwd=work, env={"WINEPATH": m.path(on_path)})
    assert result.rc == 13, result
    return work


def test_windows_a_jvm_dll_in_the_current_directory_or_on_path_is_not_loaded(win):
    svc, record = double_service(win)
    work = run_with_planted(win, svc)
    lines = svc.trace_lines()
    assert "Cannot load the JVM DLL : jvm.dll" in lines, svc.trace_text()
    assert not any("loaded successfully" in line for line in lines)
    assert not record.exists()
    # The same library beside brontel.exe is where the default name is looked for first: there
    # it loads and the VM is asked for, which shows that the record would have caught a load.
    app = win.tmp / "app"
    vm_double(win, app)
    shutil.copy(win.exe, app / "brontel.exe")
    result = win._run(app / "brontel.exe", ["-x", svc.name], cwd=work)
    assert result.rc == 16, (result, svc.trace_text())
    assert "option -Dvmdouble.createVM=-6" in record.read_text().splitlines()


def test_windows_a_dependency_of_the_jvm_dll_is_not_taken_from_the_current_directory_or_path(win):
    library = vm_double(win, win.tmp / "rt" / "bin" / "server", "vmdouble_dep/jvm.dll")
    svc, record = double_service(win, win.path(library))
    run_with_planted(win, svc, "vmdouble_dependency.dll")
    assert "Cannot load the JVM DLL : " + win.path(library) in svc.trace_lines(), svc.trace_text()
    assert not record.exists()


def test_windows_an_undefined_variable_in_jvmdll_loads_nothing(win):
    value = r"%BRONTEL_UNDEFINED_VAR%\bin\server\jvm.dll"
    svc, record = double_service(win, value)
    # Where the unexpanded value leads when taken relative to the current directory.
    vm_double(win, win.tmp / "%BRONTEL_UNDEFINED_VAR%" / "bin" / "server")
    result = win.run(["-x", svc.name], cwd=win.tmp)
    assert result.rc == 13, result
    assert "The JVM DLL path is not an absolute path : " + value in svc.trace_lines(), svc.trace_text()
    assert "The JVM DLL path is not an absolute path : " + value in result.err.splitlines(), result
    assert not any("loaded successfully" in line for line in svc.trace_lines())
    assert not record.exists()


# -- what installation leaves: who may send user-defined controls and read the Parameters -------

# Windows' default for a new service, with the user-defined-control right (CR) taken from
# interactive users; service logons (SU) keep it for services that send each other controls.
TIGHTENED = ("D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
             "(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLOCRRC;;;SU)")
PARAMETERS_DACL = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)"


def service_settings(m, record):
    """Configuration lines for a service that runs until stopped and records its controls."""
    if m.is_windows:
        library = vm_double(m, m.tmp / "rt" / "bin" / "server")
        return [f"jvmDLL={m.path(library)}", "ibrontelClass=vmdouble.Running",
                f"jvmOption1=-Dvmdouble.record={m.path(record)}"]
    classpath = os.pathsep.join([str(m.java_dir / "brontel.jar"), str(m.java_dir / "testclasses")])
    return [f"jvmDLL={m.jvm_library}", "ibrontelClass=com.vantero.tests.SignalService",
            f"jvmOption1=-Djava.class.path={classpath}", f"jvmOption2=-Dbrontel.test.out={record}"]


def test_installation_narrows_who_may_control_the_service_and_read_its_settings(machine):
    name = machine.unique("narrow")
    record = machine.tmp / "record"
    lines = [l for l in basic(name) if not l.startswith("ibrontelClass")]
    result = install(machine, lines + service_settings(machine, record))
    assert result.rc == 0, result
    key = SERVICES + "\\" + name + r"\Parameters"
    try:
        assert machine.tool("regtool", ["sd", key]).lines == [PARAMETERS_DACL]
        shown = machine.tool("svctool", ["sd", name]).lines
        # Wine keeps no security for services: it answers every query with an empty DACL.
        assert shown == (["D:"] if machine.is_windows else [TIGHTENED])
        # The service still reads its settings and takes an administrator's user-defined control.
        start_and_wait(machine, name)
        result = machine.run(["-s", name, "200"])
        assert result.rc == 0, result
        wait_until(lambda: any(l.split()[:2] == ["control", "200"] for l in lines_of(record)),
                   "control 200 in the record")
    finally:
        machine.run(["-r", name])
    # Removal deletes the protected key with the service's.
    assert machine.reg_get(SERVICES + "\\" + name, "ImagePath") is None


def test_the_service_account_may_read_the_parameters(machine):
    user = os.environ.get("USER") if machine.is_windows else None
    user = user or pwd.getpwuid(os.getuid()).pw_name
    name = machine.unique("account")
    result = install(machine, basic(name), "-a", ".\\" + user)
    assert result.rc == 0, result
    try:
        dacl = machine.tool("regtool", ["sd", SERVICES + "\\" + name + r"\Parameters"]).lines
        assert len(dacl) == 1 and re.fullmatch(
            re.escape(PARAMETERS_DACL) + r"\(A;CI;KR;;;S-1-5-21-[0-9-]+\)", dacl[0]), dacl
    finally:
        machine.run(["-r", name])
    # An account that cannot be looked up keeps the key's default security, and the
    # administrator is told (Wine's lookup ignores the domain part: the stand-in only).
    if not machine.is_windows:
        name = machine.unique("unknown")
        result = install(machine, basic(name), "-a", "CORPNOTHERE\\" + user)
        assert result.rc == 0, result
        try:
            assert (f"Cannot look up the account CORPNOTHERE\\{user}, which must keep reading the "
                    "service's settings.") in result.lines
            assert ("The service's Parameters key keeps its default security: local users may "
                    "read its values.") in result.lines
            dacl = machine.tool("regtool", ["sd", SERVICES + "\\" + name + r"\Parameters"]).lines
            assert dacl != [PARAMETERS_DACL] and "(A;CIID;KR;;;BU)" in dacl[0], dacl
        finally:
            machine.run(["-r", name])
