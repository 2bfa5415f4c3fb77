"""Output capture into rotating files, the event log entries, the capture keys and the event source."""

import datetime
import json
import os
import pathlib
import re
import subprocess

import pytest

from config_support import basic, install, round_trip, write_config
import wine_keeper
from runtime_support import SERVICES, Service, wait_until

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]
OUTPUT_SERVICE = "com.vantero.tests.OutputService"
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ")


def events(m, source, event_id=None):
    """The stand-in's event log entries of one source, optionally of one id."""
    log = m.root / "eventlog" / "Application.jsonl"
    entries = [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines()] if log.exists() else []
    return [e for e in entries if e["source"] == source and event_id in (None, e["id"])]


def capture_service(m, args, settings, options=()):
    svc = Service(m, OUTPUT_SERVICE, options=options, name=m.unique("cap"), command_line=args,
                  install=True, trace="capture.trace")
    for name, value in settings.items():
        svc.set(name, value)
    return svc


def run_to_end(svc):
    """Starts the service, waits until it has written everything, and stops it."""
    svc.start_and_wait("RUNNING")
    svc.wait_record("written")
    stop(svc)


def stop(svc):
    assert svc.svc("control", 1).rc == 0
    assert svc.svc("wait", "STOPPED", 60000).rc == 0, svc.trace_text()[-3000:]
    wait_until(lambda: "main Exit 0" in svc.trace_lines(), "the service process to end")


def lines(path):
    return path.read_text(encoding="utf-8").splitlines()


# -- what the service prints, from Java and from native code -------------------------------------


@pytest.mark.parametrize("shared", [False, True], ids=["two-files", "one-file"])
def test_java_and_native_output_reach_the_files(linux, shared):
    out, err = linux.tmp / "out.log", linux.tmp / "err.log"
    native = linux.build_dir / "tests" / "libbrontel_native_print.so"
    svc = capture_service(linux, "mixed 3", {"StdoutFile": str(out), "StderrFile": str(out if shared else err)},
                          options=["-Dbrontel.test.nativeLib=" + str(native)])
    run_to_end(svc)
    rounds = range(3)
    if shared:
        # One pipe: the lines in the order they were written, whichever stream and runtime.
        assert lines(out) == [l for i in rounds for l in
                              (f"java out {i}", f"java err {i}", f"native out {i}", f"native err {i}")]
        assert not err.exists()
    else:
        assert lines(out) == [l for i in rounds for l in (f"java out {i}", f"native out {i}")]
        assert lines(err) == [l for i in rounds for l in (f"java err {i}", f"native err {i}")]
    assert "Capturing the " + ("standard output and error" if shared else "standard error") + \
        " of the service." in svc.trace_lines()
    # A service that was asked to stop ended as expected: no entries.
    assert events(linux, svc.name) == []


def test_only_the_configured_stream_is_captured_and_the_vm_log_stays_in_the_verbose_file(linux):
    out, verbose = linux.tmp / "out.log", linux.tmp / "verbose.log"
    svc = capture_service(linux, "mixed 2", {"StdoutFile": str(out), "VerboseFile": str(verbose)},
                          options=["-Xlog:gc:stdout"])
    run_to_end(svc)
    assert lines(out) == ["java out 0", "java out 1"]
    assert "Using" in verbose.read_text()  # the VM's own log line, through its vfprintf hook


def test_a_relative_capture_path_starts_in_the_working_directory(linux):
    work = linux.tmp / "work"
    work.mkdir()
    svc = capture_service(linux, "mixed 1", {"StdoutFile": "out.log", "WorkingDirectory": str(work)})
    run_to_end(svc)
    assert lines(work / "out.log") == ["java out 0"]


# -- rotation ---------------------------------------------------------------------------------------


def rotated_series(directory, name):
    """The capture file and its rotated predecessors, oldest first."""
    numbered = sorted((int(p.name.rsplit(".", 1)[1]), p) for p in directory.glob(name + ".*"))
    return [p for _, p in reversed(numbered)] + [directory / name]


def test_rotation_under_a_fast_writer_loses_splits_and_reorders_nothing(linux):
    count, limit = 20000, 8192
    svc = capture_service(linux, f"flood {count}",
                          {"StdoutFile": str(linux.tmp / "out.log"), "LogRotateBytes": str(limit),
                           "LogKeepFiles": "999"})
    run_to_end(svc)
    series = rotated_series(linux.tmp, "out.log")
    assert len(series) >= count * 33 // limit  # 33 bytes a line: full files, none dropped
    written = []
    for path in series:
        data = path.read_bytes()
        assert len(data) <= limit, path
        assert data.endswith(b"\n"), path  # no line is split across two files
        written += data.decode().splitlines()
    assert written == [f"line {i:08d} of the fast writer" for i in range(count)]


def test_only_the_files_kept_remain_and_timestamps_start_each_line(linux):
    count = 3000
    svc = capture_service(linux, f"flood {count}",
                          {"StdoutFile": str(linux.tmp / "out.log"), "LogRotateBytes": "4096",
                           "LogKeepFiles": "2", "LogTimestamps": "true"})
    run_to_end(svc)
    series = rotated_series(linux.tmp, "out.log")
    assert [p.name for p in series] == ["out.log.2", "out.log.1", "out.log"]
    written = [line for path in series for line in lines(path)]
    assert all(STAMP.match(line) for line in written), written[:3]
    numbers = [int(STAMP.sub("", line).split()[1]) for line in written]
    # The newest lines, without a gap, up to the last one.
    assert numbers == list(range(count - len(numbers), count))


def test_daily_rotation_at_midnight_by_the_real_clock(linux):
    # The stand-in's clock of the service, shifted to a few seconds before the coming midnight.
    now = datetime.datetime.now()
    midnight = datetime.datetime.combine(now.date() + datetime.timedelta(days=1), datetime.time())
    offset = int((midnight - now).total_seconds()) - 10
    out, marker = linux.tmp / "daily" / "out.log", linux.tmp / "daily.done"
    dated = out.with_name(f"out.{now.date().isoformat()}.log")
    svc = capture_service(linux, f"until-exists {marker}",
                          {"StdoutFile": str(out), "LogRotateDaily": "TRUE"})
    linux.reg_set(SERVICES + "\\" + svc.name, "Environment", "multi",
                  f"BRONTEL_STANDIN_CLOCK_OFFSET={offset}")
    svc.start_and_wait("RUNNING")
    wait_until(lambda: out.exists() and dated.exists() and out.stat().st_size > 0,
               "the day's file under its date and the next day's file begun", timeout=60)
    marker.touch()
    svc.wait_record("written")
    stop(svc)
    before, after = lines(dated), lines(out)
    assert before and after[-5:] == [f"after {j}" for j in range(5)]
    waiting = before + after[:-5]
    assert waiting == [f"waiting {i}" for i in range(len(waiting))]
    assert sorted(p.name for p in out.parent.iterdir()) == sorted([out.name, dated.name])


# -- files that cannot be written ----------------------------------------------------------------


@pytest.fixture
def small_filesystem(linux):
    """A full 64 KiB tmpfs (and its filler file); null when this machine cannot mount one."""
    mount_point = linux.tmp / "small"
    mount_point.mkdir()
    # Only its owner may write it (a tmpfs is open to all by default), as a capture folder must.
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k,mode=0755", "tmpfs", str(mount_point)],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    if not mounted:
        yield None
        return
    try:
        fd = os.open(mount_point / "filler", os.O_WRONLY | os.O_CREAT)
        try:
            while os.write(fd, b"x" * 4096) > 0:
                pass
        except OSError:
            pass  # full
        os.close(fd)
        yield mount_point
    finally:
        subprocess.run(["umount", "-l", str(mount_point)])


@pytest.mark.parametrize("case", ["blocked-directory", "full-filesystem"])
def test_capture_survives_a_file_it_cannot_write_and_says_what_was_lost(linux, case, request):
    marker = linux.tmp / "go"
    if case == "blocked-directory":
        # A file where the folder should be: the folder can be neither opened nor created until
        # the file goes; brontel then creates it.
        path = linux.tmp / "later" / "out.log"
        path.parent.write_text("not a folder\n")

        def remedy():
            path.parent.unlink()
    else:
        small = request.getfixturevalue("small_filesystem")
        if small is None:
            # No mount here: a device that is always full shows the failure, not the recovery.
            path, remedy = "/dev/full", None
        else:
            path = small / "out.log"

            def remedy():
                (small / "filler").unlink()
    svc = capture_service(linux, f"until-exists {marker}", {"StdoutFile": str(path)})
    svc.start_and_wait("RUNNING")
    svc.wait_trace("Cannot write the captured output to " + str(path))
    failed = wait_until(lambda: events(linux, svc.name, 3), "the failure's entry")
    assert len(failed) == 1 and failed[0]["type"] == 1
    assert failed[0]["strings"][:3] == [svc.name, "standard output", str(path)]
    if remedy is None:
        marker.touch()
        svc.wait_record("written")
        stop(svc)
        ended = events(linux, svc.name, 5)
        assert len(ended) == 1 and int(ended[0]["strings"][3]) > 0
        return
    remedy()
    wait_until(lambda: path.exists() and "resumed" in path.read_text(), "capture to resume")
    marker.touch()
    svc.wait_record("written")
    assert svc.status()["STATE"] == 4  # it ran on all along
    stop(svc)
    written = lines(path)
    notice = re.fullmatch(r"brontel: output capture resumed; (\d+) bytes of output were lost\.", written[0])
    assert notice, written[:3]
    first = int(written[1].split()[1])
    assert written[1:] == [f"waiting {i}" for i in range(first, first + len(written) - 6)] + \
        [f"after {j}" for j in range(5)]
    if case == "blocked-directory":
        assert int(notice.group(1)) == sum(len(f"waiting {i}\n") for i in range(first))
    resumed = events(linux, svc.name, 4)
    assert len(resumed) == 1 and resumed[0]["strings"][3] == notice.group(1)
    # One failure entry however many writes failed.
    assert len(events(linux, svc.name, 3)) == 1


# -- the event log -----------------------------------------------------------------------------


def test_java_side_that_ends_unasked_is_reported_once(linux):
    svc = capture_service(linux, "end", {})
    svc.start_and_wait()
    ended = events(linux, svc.name, 2)
    assert [e["strings"] for e in ended] == [[svc.name, "SERVICE_RUNNING"]]
    assert ended[0]["type"] == 1


# -- installation, report and event source ------------------------------------------------------


def event_source(machine, name):
    key = r"SYSTEM\CurrentControlSet\Services\EventLog\Application" + "\\" + name
    if machine.is_windows:
        # As an administrator would look: Wine's own reg.exe.
        result = subprocess.run(wine_keeper.wine_command() + ["reg", "query", "HKLM\\" + key], env=machine.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        if result.returncode != 0:
            return None
        values = dict(re.findall(r"^\s+(\S+)\s+REG_\w+\s+(.*?)\s*$", result.stdout.decode(errors="replace"), re.M))
        return values
    found = {n: machine.reg_get(key, n) for n in ("EventMessageFile", "TypesSupported")}
    return {n: v[1] for n, v in found.items() if v} or None


def test_capture_keys_install_report_round_trip_and_event_source(machine):
    name = machine.unique("capinst")
    keys = ["stdoutFile=%TEMP%\\out.log", "stderrFile=err.log", "logRotateBytes=0",
            "logKeepFiles=12", "logTimestamps=True", "logRotateDaily=true"]
    result = install(machine, basic(name, *keys, display=f"Capture {name}"), file_name="capture.conf")
    assert result.rc == 0, result
    try:
        source = event_source(machine, name)
        assert source is not None
        assert source["EventMessageFile"] == machine.path(machine.exe)
        assert source["TypesSupported"] in ("0x7", "7")

        def removed(result):
            assert event_source(machine, name) is None

        # The saved report installs the same settings again.
        stored = round_trip(machine, name, removed).splitlines()
        assert [l for l in stored if l.split("=")[0] in
                ("stdoutFile", "stderrFile", "logRotateBytes", "logKeepFiles", "logTimestamps",
                 "logRotateDaily")] == keys
    finally:
        machine.run(["-r", name])
    assert event_source(machine, name) is None


def test_another_programs_event_source_is_neither_taken_over_nor_deleted(machine):
    name = machine.unique("evother")
    key = r"SYSTEM\CurrentControlSet\Services\EventLog\Application" + "\\" + name
    other = r"%SystemRoot%\System32\otherapp.dll"
    machine.reg_set(key, "EventMessageFile", "expand", other)
    config = write_config(machine, basic(name, display=f"Capture {name}"), "other.conf")
    try:
        result = machine.run(["-i", machine.path(config)])
        assert result.rc == 0, result
        assert (f"Warning: the event source {name} of the Application log belongs to another "
                f"program (message file {other}); it is left as it is, and the service's events "
                "will show with that program's texts.") in result.lines, result
        assert machine.reg_get(key, "EventMessageFile") == ("expand", other)
        assert machine.reg_get(key, "TypesSupported") is None
        result = machine.run(["-r", name])
        assert result.rc == 0, result
        assert (f"The event source {name} belongs to another program and is left in place."
                in result.lines), result
        assert machine.reg_get(key, "EventMessageFile") == ("expand", other)
    finally:
        machine.run(["-r", name])
        machine.reg_deltree(key)
    # A source that brontel registered for a service that was never removed is its own again.
    machine.reg_set(key, "EventMessageFile", "expand", machine.path(machine.exe))
    try:
        assert machine.run(["-i", machine.path(config)]).rc == 0
        assert machine.reg_get(key, "TypesSupported") is not None
        assert machine.run(["-r", name]).rc == 0
        assert machine.reg_get(key, "EventMessageFile") is None
    finally:
        machine.run(["-r", name])
        machine.reg_deltree(key)


@pytest.mark.parametrize("line, expected", [
    ("logRotateBytes=10M", "logRotateBytes: expected a whole number of bytes from 0 to 4294967295"),
    ("logRotateBytes=4294967296", "logRotateBytes: expected a whole number of bytes from 0 to 4294967295"),
    ("logKeepFiles=1000", "logKeepFiles: expected a whole number from 0 to 999"),
    ("logKeepFiles=-1", "logKeepFiles: expected a whole number from 0 to 999"),
    ("logTimestamps=yes", "logTimestamps: expected TRUE or FALSE"),
    ("logRotateDaily=daily", "logRotateDaily: expected TRUE or FALSE"),
])
def test_malformed_capture_values_install_nothing(linux, line, expected):
    name = linux.unique("capbad")
    result = install(linux, basic(name, "stdoutFile=out.log", line, display=f"Capture {name}"),
                     file_name="bad.conf")
    assert result.rc == 34, result
    value = line.split("=", 1)[1]
    assert f"The value {value} is not valid for {expected}. Nothing was installed." in result.lines
    assert linux.tool("svctool", ["query", name]).rc != 0
    assert linux.reg_keys(SERVICES + "\\" + name) == []


# -- the Windows build: standard handles of a program, the message table --------------------------


@pytest.mark.parametrize("shared", [False, True], ids=["two-files", "one-file"])
def test_standard_handles_and_c_runtime_of_a_program_are_captured(machine, shared):
    out, err = machine.tmp / "out.log", machine.tmp / "err.log"
    result = machine.tool("capturetool", ["capture", machine.path(out), machine.path(out if shared else err),
                                          "100", "3", "40"])
    assert result.rc == 0, result
    series = rotated_series(machine.tmp, "out.log")
    assert [p.name for p in series] == ["out.log.3", "out.log.2", "out.log.1", "out.log"]
    assert all(len(p.read_bytes()) <= 100 and p.read_bytes().endswith(b"\n") for p in series)
    written = [line for path in series for line in lines(path)]
    first = ["handle out", "handle err", "crt out", "crt err"] if shared else ["handle out", "crt out"]
    expected = first + [f"line {i:08d}" for i in range(40)]
    # The newest lines, in order, up to the last one; the older files were rotated away.
    assert 20 < len(written) < len(expected)
    assert written == expected[len(expected) - len(written):]
    if not shared:
        assert lines(err) == ["handle err", "crt err"]
    # Nothing of it reached the console.
    assert "line 0000" not in result.out + result.err


EVENT_IDS = [int(n) for n in re.findall(r"#define BRONTEL_EVENT_\w+ (\d+)",
                                        (REPO_ROOT / "runtime" / "events" / "event_ids.h").read_text())]


def test_every_event_has_its_text_in_the_executable(machine):
    if not machine.is_windows:
        pytest.skip("the message table is part of the Windows executable")
    inserts = [f"insert{i}" for i in range(1, 7)]
    for event_id in EVENT_IDS:
        result = machine.tool("capturetool", ["format", machine.path(machine.exe), str(event_id), *inserts])
        assert result.rc == 0, (event_id, result)
        assert "insert1" in result.out and "%" not in result.out, (event_id, result.out)
    missing = machine.tool("capturetool", ["format", machine.path(machine.exe), str(max(EVENT_IDS) + 1)])
    assert missing.rc == 2, missing
