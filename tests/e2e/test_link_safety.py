"""Links, second names and open folders never turn the capture or trace files against another file."""

import os
import stat

import pytest

from config_support import basic, install
from test_output_capture import capture_service, events, lines, run_to_end, stop

LINK_REASON = ("The file, or a folder on its path, is a link (a symbolic link, junction or mount "
               "point); brontel does not follow it.")
HARD_LINK_REASON = "The file has more than one name (a hard link); brontel does not write into it."
FOLDER_LINK = "The output capture folder is a link or lies behind one; the service does not start: "
FOLDER_OPEN = ("Users other than LocalSystem, Administrators and the service's account can change "
               "the output capture folder; the service does not start: ")


class Victims:
    """Someone else's files, in a folder of their own away from the capture's."""

    NAMES = ("a", "b", "c", "out.log.1", "out.log.2")

    def __init__(self, tmp):
        self.dir = tmp / "elsewhere" / "victims"
        self.dir.mkdir(parents=True)
        for name in self.NAMES:
            (self.dir / name).write_text(f"victim {name}\n")

    def untouched(self):
        return {name: (self.dir / name).read_text() for name in self.NAMES} == \
            {name: f"victim {name}\n" for name in self.NAMES} and \
            sorted(p.name for p in self.dir.iterdir()) == sorted(self.NAMES)


def trace_lines(path):
    return [line.partition(" ")[2] for line in path.read_text(errors="replace").splitlines()] \
        if path.exists() else []


# -- the capture itself, on both builds (the Windows build under Wine) --------------------------


@pytest.mark.parametrize("case", ["folder-link", "folder-open", "file-link", "hard-link",
                                  "rotated-links"])
def test_the_capture_never_writes_moves_or_removes_anothers_file(machine, case):
    victims = Victims(machine.tmp)
    folder = machine.tmp / "capture"
    rotate, expected_rc, said = "0", 0, None
    if case == "folder-link":
        os.symlink(victims.dir, folder)
        expected_rc, said = 35, FOLDER_LINK + machine.path(folder)
    else:
        folder.mkdir()
    if case == "folder-open":
        folder.chmod(0o777)
        expected_rc, said = 35, FOLDER_OPEN + machine.path(folder)
    elif case == "file-link":
        os.symlink(victims.dir / "a", folder / "out.log")
        said = LINK_REASON
    elif case == "hard-link":
        os.link(victims.dir / "b", folder / "out.log")
        said = HARD_LINK_REASON
    elif case == "rotated-links":
        for n, target in enumerate(("a", "out.log.1", "out.log.2"), 1):
            os.symlink(victims.dir / target, folder / f"out.log.{n}")
        rotate = "100"
        said = ("Capture rotation leaves alone what is not a plain file of the capture: "
                "out.log.3 is a link or has another name.")
    trace = machine.tmp / "tool.trace"
    machine.trace_to(trace)
    out = machine.path(folder / "out.log")
    result = machine.tool("capturetool", ["capture", out, out, rotate, "3", "40"])
    machine.trace_off()
    assert result.rc == expected_rc, result
    assert victims.untouched()
    assert said in trace_lines(trace), trace_lines(trace)
    if case == "rotated-links":
        # The capture went on in files of its own, which replaced the links one by one.
        series = [folder / name for name in ("out.log.3", "out.log.2", "out.log.1", "out.log")]
        assert not any(p.is_symlink() for p in series)
        assert lines(series[-1])[-1] == "line 00000039"


# -- the service, on the Linux build: its start, its events, its folder ------------------------


@pytest.mark.parametrize("case", ["link", "open"])
def test_a_refused_capture_folder_keeps_the_service_from_starting(linux, case):
    victims = Victims(linux.tmp)
    folder = linux.tmp / "capture"
    if case == "link":
        os.symlink(victims.dir, folder)
        said = FOLDER_LINK + str(folder)
    else:
        folder.mkdir()
        folder.chmod(0o757)
        said = FOLDER_OPEN + str(folder)
    svc = capture_service(linux, "mixed 2", {"StdoutFile": str(folder / "out.log"),
                                             "StderrFile": str(linux.tmp / "err.log")})
    status = svc.start_and_wait()
    assert status["SERVICE_EXIT"] == 35, status
    assert svc.record() == []  # no Java ran
    assert said in svc.trace_lines()
    assert "Service failed to start.  35" in svc.trace_lines()
    failed = events(linux, svc.name, 1)
    assert len(failed) == 1 and failed[0]["strings"][1] == "35"
    assert said in failed[0]["strings"][2]
    assert failed[0]["strings"][5].startswith("Name an output capture folder that does not exist")
    assert victims.untouched()
    # Nothing was redirected either: the other stream's file was never made.
    assert not (linux.tmp / "err.log").exists()


def test_a_link_at_the_capture_file_gets_nothing_and_the_service_runs_on(linux):
    victims = Victims(linux.tmp)
    folder = linux.tmp / "capture"
    folder.mkdir()
    os.symlink(victims.dir / "a", folder / "out.log")
    svc = capture_service(linux, "mixed 2", {"StdoutFile": str(folder / "out.log")})
    run_to_end(svc)
    assert victims.untouched()
    failed = events(linux, svc.name, 3)
    assert [e["strings"][2:] for e in failed] == [[str(folder / "out.log"), LINK_REASON]]


def test_a_folder_swapped_for_a_link_while_the_service_runs_is_never_followed(linux):
    victims = Victims(linux.tmp)
    folder = linux.tmp / "capture"
    folder.mkdir()
    marker = linux.tmp / "go"
    svc = capture_service(linux, f"until-exists {marker}",
                          {"StdoutFile": str(folder / "out.log"), "LogRotateBytes": "200",
                           "LogKeepFiles": "2"})
    svc.start_and_wait("RUNNING")
    # The folder goes away and a link to the victims takes its name: a rotation by path would now
    # delete the victim's out.log.2 and put its own file in place of its out.log.1.
    folder.rename(linux.tmp / "moved")
    os.symlink(victims.dir, folder)
    svc.wait_trace("The output capture folder was moved, removed or replaced while the service ran;"
                   " the output goes on into the folder brontel opened: " + str(folder))
    marker.touch()
    svc.wait_record("written")
    stop(svc)
    assert victims.untouched()
    # Nothing was lost: the lines went on in the folder that was opened.
    assert lines(linux.tmp / "moved" / "out.log")[-1] == "after 4"


def test_a_missing_capture_folder_is_made_for_the_service_alone(linux):
    out = linux.tmp / "made" / "deeper" / "out.log"
    svc = capture_service(linux, "mixed 2", {"StdoutFile": str(out)})
    run_to_end(svc)
    assert lines(out) == ["java out 0", "java out 1"]
    for path, mode in ((out.parent.parent, 0o700), (out.parent, 0o700), (out, 0o600)):
        assert stat.S_IMODE(path.stat().st_mode) == mode, path


def test_install_warns_about_capture_folders_the_service_would_refuse(machine):
    victims = Victims(machine.tmp)
    linked = machine.tmp / "linked"
    os.symlink(victims.dir, linked)
    open_folder = machine.tmp / "open"
    open_folder.mkdir()
    open_folder.chmod(0o777)
    name = machine.unique("capwarn")
    result = install(machine, basic(name, "stdoutFile=" + machine.path(linked / "out.log"),
                                    "stderrFile=" + machine.path(open_folder / "err.log"),
                                    display=f"Capture {name}"), file_name="warn.conf")
    try:
        assert result.rc == 0, result
        assert ("Warning: the output capture folder is a link or lies behind one; the service will "
                "not start (code 35) until it is a plain folder: " + machine.path(linked)) in result.lines
        assert ("Warning: users other than LocalSystem, Administrators and the service's account can "
                "change the output capture folder; the service will not start (code 35) until only "
                "they can: " + machine.path(open_folder)) in result.lines
        assert "Service successfully installed." in result.lines
    finally:
        machine.run(["-r", name])
    assert victims.untouched()


# -- the trace file, on both builds -------------------------------------------------------------


@pytest.mark.parametrize("case", ["link", "hard-link"])
def test_a_trace_file_that_is_a_link_or_a_second_name_is_never_written(machine, case):
    victims = Victims(machine.tmp)
    trace = machine.tmp / "trace.txt"
    if case == "link":
        os.symlink(victims.dir / "a", trace)
        said = "Trace not enabled: the file or a folder on its path is a link: "
    else:
        os.link(victims.dir / "a", trace)
        said = "Trace not enabled: the file has more than one name (a hard link): "
    result = machine.run(["-t", machine.path(trace)])
    assert said + machine.path(trace) in result.lines, result
    # A switch set all the same is not followed by any process.
    machine.trace_to(trace)
    assert machine.run(["-b"]).rc == 0
    machine.trace_off()
    assert victims.untouched()
