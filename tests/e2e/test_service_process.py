"""The service's process as the administrator sets it up: its environment variables (the service
key's Environment value, applied by the service manager and by -x alike, never the starter's own)
and its working directory, with the real JVM running an unchanged program."""

import json
import os
import pwd

import pytest

from config_support import basic, install, round_trip
from runtime_support import Service, wait_until

RUNNER = "com.vantero.core.orb.ProgramService"
PROGRAM = "com.vantero.tests.programs.TestProgram"
SERVICES = r"SYSTEM\CurrentControlSet\Services"


def program_lines(m, name, out, *extra, args="env APP_HOME APP_DATA FOO"):
    """A ProgramService service whose program (by default) records APP_HOME, APP_DATA and FOO."""
    classpath = str(m.java_dir / "testclasses")
    return basic(name, f"jvmDLL={m.jvm_library}", f"jvmOption1=-Djava.class.path={classpath}",
                 f"jvmOption2=-Dbrontel.test.out={out}", *extra, service_class=RUNNER) + [
        f"commandLineParms={PROGRAM} {args}"]


@pytest.fixture
def made():
    services = []
    yield services
    for svc in services:
        svc.cleanup()


def variables(svc):
    return [line for line in svc.record() if line.startswith("env ")]


def installed_program(m, made, *extra, args="env APP_HOME APP_DATA FOO", options=()):
    name = m.unique("proc")
    svc = Service(m, jvm=False, name=name, trace=name + ".trace")
    made.append(svc)
    result = install(m, program_lines(m, name, svc.out, *extra, args=args), *options,
                     file_name=name + ".conf")
    assert result.rc == 0, result
    svc.installed = True
    return svc


def test_environment_and_working_directory_in_both_modes(linux, made):
    work = linux.tmp / "work"
    work.mkdir()
    app = linux.tmp / "app"
    svc = installed_program(linux, made, f"environment1=APP_HOME={app}", "environment2=APP_DATA=%APP_HOME%/data",
                            "environment3=PATH=%PATH%:/opt/extra", f"workingDirectory={work}",
                            args="env APP_HOME APP_DATA FOO PATH")
    # Where Windows keeps it: a list value of the service key.
    assert linux.reg_get(SERVICES + "\\" + svc.name, "Environment")[0] == "type7"

    # Under the service manager: the Environment value on a clean environment, references
    # expanded in order; the starter's FOO does not leak into the service.
    result = svc.svc("start")
    assert result.rc == 0, result
    svc.wait_record("wrote here.txt")
    assert svc.svc("wait", "STOPPED", 60000).rc == 0
    assert variables(svc)[:3] == [f"env APP_HOME={app}", f"env APP_DATA={app}/data", "env FOO unset"], \
        svc.record()
    # A variable that extends itself extends the system's value, not the text the manager set.
    assert variables(svc)[3] == "env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin:/opt/extra"
    assert (work / "here.txt").exists()
    (work / "here.txt").unlink()
    svc.out.unlink()

    # Development mode sets the same values on its own process (which is the caller's, so FOO
    # stays) and enters the same folder, wherever it was started from.
    proc = svc.start_dev(env={"FOO": "bar", "APP_HOME": "overridden", "PATH": "/usr/bin:/bin"})
    assert proc.wait(timeout=120) == 0, svc.console_log()
    assert variables(svc) == [f"env APP_HOME={app}", f"env APP_DATA={app}/data", "env FOO=bar",
                              "env PATH=/usr/bin:/bin:/opt/extra"], svc.record()
    assert (work / "here.txt").exists()
    assert not (linux.tmp / "here.txt").exists()


def test_starter_environment_does_not_reach_a_service_without_environment(linux, made):
    svc = installed_program(linux, made)
    assert linux.reg_get(SERVICES + "\\" + svc.name, "Environment") is None
    result = linux.tool("svctool", ["start", svc.name], env={"FOO": "bar", "APP_HOME": "/leaked"})
    assert result.rc == 0, result
    svc.wait_record("wrote here.txt")
    assert variables(svc) == ["env APP_HOME unset", "env APP_DATA unset", "env FOO unset"], \
        svc.record()


def test_missing_working_directory_fails_the_start_with_its_code(linux, made):
    missing = linux.tmp / "no-such-folder"
    svc = installed_program(linux, made, f"workingDirectory={missing}")
    svc.svc("start")
    assert svc.svc("wait", "STOPPED", 60000).rc == 0
    status = svc.status()
    assert status["SERVICE_EXIT"] == 40, status
    assert f"The working directory {missing} cannot be entered; the service does not start." \
        in svc.trace_text()
    assert not svc.out.exists()
    log = (linux.root / "eventlog" / "Application.jsonl").read_text(encoding="utf-8").splitlines()
    failed = [e for e in map(json.loads, log) if e["source"] == svc.name and e["id"] == 1]
    assert failed[-1]["strings"][5] == \
        "Create the folder or correct workingDirectory (see \"The service's process\" in the guide)."

    result = linux.run(["-x", svc.name])
    assert result.rc == 40, result
    assert f"The working directory {missing} cannot be entered" in result.out + result.err


def test_service_runs_as_the_local_user_its_account_names(linux, made):
    """Installed with -a nobody and started by root, the service's process is nobody's: it reads
    what nobody may read, cannot write into a folder only root may, still reads its settings and
    appends its events; it stops, and status shows the account. An account of no local user
    keeps the starter's identity."""
    if os.geteuid() != 0:
        pytest.skip("only a manager running as root can start a service as another user")
    nobody = pwd.getpwnam("nobody")
    # nobody reaches the root, the program and its record through every folder on the way.
    for folder in [linux.tmp, *linux.tmp.parents]:
        folder.chmod(folder.stat().st_mode | 0o005)
    readable = linux.tmp / "readable.txt"
    readable.write_text("for everyone\n")
    closed = linux.tmp / "closed"
    closed.mkdir(mode=0o700)
    svc = installed_program(linux, made, "jvmOption3=-Dbrontel.test.marker=from-settings",
                            f"stdoutFile={closed}/stdout.log", args=f"access {readable} {closed}",
                            options=("-a", "nobody"))
    for made_file in (svc.out, svc.trace):
        made_file.touch(mode=0o666)
        made_file.chmod(0o666)

    result = svc.svc("start")
    assert result.rc == 0, (result, svc.trace_text()[-3000:])
    svc.wait_record("user nobody marker from-settings")
    assert svc.record()[3:5] == ["read for everyone", f"cannot write into {closed}"], svc.record()
    pid = int(svc.record()[0].split(" pid ")[1].split()[0])
    svc.pids.add(pid)
    ids = dict(line.split(":", 1) for line in open(f"/proc/{pid}/status").read().splitlines())
    assert ids["Uid"].split() == [str(nobody.pw_uid)] * 4, ids["Uid"]
    assert ids["Gid"].split() == [str(nobody.pw_gid)] * 4, ids["Gid"]
    events = (linux.root / "eventlog" / "Application.jsonl").read_text().splitlines()
    assert any(json.loads(line)["pid"] == pid for line in events), events[-5:]

    shown = linux.run(["-q", svc.name])
    assert f"{'Account:':<19} nobody" in shown.lines, shown
    # Its reports reach the manager: it runs, and stops when told.
    assert svc.svc("wait", "RUNNING", 60000).rc == 0
    assert svc.svc("stop").rc == 0
    assert svc.svc("wait", "STOPPED", 60000).rc == 0
    status = svc.status()
    assert (status["SERVICE_EXIT"], status["WIN32_EXIT"]) == (0, 0), status
    assert svc.record()[-1] == "hook", svc.record()
    assert f"Cannot write the captured output to {closed}/stdout.log (open failed, error 5): " \
        in svc.trace_lines(), svc.trace_text()[-3000:]

    # Another domain's nobody is no user of this machine: that service runs as its starter, and
    # the manager says why.
    other = installed_program(linux, made, args=f"access {readable} {closed}",
                              options=("-a", "CORPNOTHERE\\nobody"))
    assert other.svc("start").rc == 0
    other.wait_record("user root marker null")
    assert other.svc("wait", "RUNNING", 60000).rc == 0
    assert other.svc("stop").rc == 0
    said = "".join(out.read_text() for out in (linux.root / "scm").glob("*.out"))
    assert f"service {other.name}: account CORPNOTHERE\\nobody: no local user of this name on " \
        "this machine: the service runs as the user who starts it\n" in said, said


def test_report_round_trip_and_unchanged_report_without_the_keys(linux):
    name = linux.unique("penv")
    lines = basic(name, "environment1=APP_HOME=C:\\app", "environment2=LOGS=%APP_HOME%\\logs;x=y",
                  "workingDirectory=%APP_HOME%\\work")
    assert install(linux, lines).rc == 0
    report = linux.run(["-d", name])
    assert report.rc == 0
    assert "environment1=APP_HOME=C:\\app" in report.lines
    assert "environment2=LOGS=%APP_HOME%\\logs;x=y" in report.lines
    stored = round_trip(linux, name)
    assert "environment1=APP_HOME=C:\\app\nenvironment2=LOGS=%APP_HOME%\\logs;x=y\n" in stored
    assert "workingDirectory=%APP_HOME%\\work\n" in stored

    plain = linux.unique("pplain")
    assert install(linux, basic(plain)).rc == 0
    text = linux.run(["-d", plain]).out
    assert "environment" not in text and "workingDirectory" not in text


@pytest.mark.parametrize("line", ["environment1=NOEQUALS", "environment1==value",
                                  "environment2=BAD"])
def test_malformed_environment_is_refused_and_nothing_installed(linux, line):
    name = linux.unique("pbad")
    lines = basic(name, line)
    if line.startswith("environment2"):
        lines.append("environment1=GOOD=1")
    result = install(linux, lines)
    assert result.rc == 5, result
    key, value = line.split("=", 1)
    assert f"The value {value} of {key} cannot be used: it must be NAME=VALUE, with a name before " \
           "the first = sign. Nothing was installed." in result.lines
    assert linux.tool("svctool", ["query", name]).rc == 2


def test_environment_too_long_for_one_list_is_refused_and_nothing_installed(linux):
    # Each value alone is fine; together they pass what the service key's list value holds.
    name = linux.unique("pbig")
    result = install(linux, basic(name, "environment1=BIG=" + "a" * 20000, "environment2=BIG2=" + "b" * 13000))
    assert result.rc == 5, result
    assert ("of environment2 cannot be used: with the values before it, it makes 33012 characters, "
            "more than the 32767 that Windows keeps for the environment values together. "
            "Nothing was installed.") in result.out, result
    assert linux.tool("svctool", ["query", name]).rc == 2
