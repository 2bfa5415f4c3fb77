"""The skeleton configuration file (-c) as an administrator meets it, in both encodings, and
read back by the program's own reader (the configdump test tool)."""

import re

FIRST_LINE = re.compile(r"^# Brontel Configuration file {15}\(build [A-Z][a-z]{2} [ 123]\d \d{4}\)$")


def dump(machine, path, unicode):
    args = (["-w"] if unicode else []) + [machine.path(path)]
    result = machine.tool("configdump", args)
    assert result.rc == 0, result
    lines = result.lines
    return int(lines[0].split()[1]), lines[1:]


def test_skeleton_in_both_encodings_reads_back_as_the_required_options(machine):
    ansi = machine.tmp / "skeleton.conf"
    wide = machine.tmp / "skeleton-w.conf"
    result = machine.run(["-c", machine.path(ansi)])
    assert result.rc == 0
    assert result.out == f"Generating file {machine.path(ansi)} \n"
    result = machine.run(["-w", "-c", machine.path(wide)])
    assert result.rc == 0
    assert result.out == f"Generating file {machine.path(wide)} using unicode.\n"

    data = ansi.read_bytes()
    wdata = wide.read_bytes()
    assert wdata == data.decode("ascii").encode("utf-16-le")
    assert not data.startswith(b"\xef\xbb\xbf") and not wdata.startswith(b"\xff\xfe")
    # The template's 120 lines, then 3 of the added keys' header and 2 for each of the 13 keys
    # added since; each line ended by CR LF and holding neither on its own (no text-mode doubling).
    assert data.endswith(b"\r\n")
    assert data.count(b"\r") == data.count(b"\n") == data.count(b"\r\n") == 120 + 3 + 2 * 14
    assert FIRST_LINE.match(data.split(b"\r\n")[0].decode("ascii"))
    lines = data.decode("ascii").split("\r\n")
    # A numbered key is named keyN and shown with its first line.
    added = [("environmentN", "environment1"), "account", "workingDirectory", "stopTimeout",
             "failureActions", "failureResetPeriod", "failureOnNonZeroExit", "traceArguments",
             "stdoutFile", "stderrFile", "logRotateBytes", "logKeepFiles", "logTimestamps",
             "logRotateDaily"]
    for n, key in enumerate(added):
        named, shown = key if isinstance(key, tuple) else (key, key)
        what, line = lines[123 + 2 * n], lines[124 + 2 * n]
        assert what.startswith(f"# {named}: ") and line.startswith(f"#{shown}="), (what, line)

    required = [
        "serviceDisplayName=$$DISPLAYNAME$$",
        "serviceName=$$SERVICENAME$$",
        "ibrontelClass=$$SERVICECLASSNAME$$",
    ]
    assert dump(machine, ansi, False) == (0, required)
    assert dump(machine, wide, True) == (0, required)
    # The UTF-16 skeleton is only read correctly with -w: without it the text ends at the first
    # zero byte, leaving the lone "#" of the first line, and no options.
    assert dump(machine, wide, False) == (0, [])
    # The other way round the ASCII bytes pair up into characters that are no lines at all.
    assert dump(machine, ansi, True)[1] == []


def test_skeleton_never_touches_an_existing_file(machine):
    target = machine.tmp / "mine.conf"
    target.write_bytes(b"serviceName=precious\n")
    for flags in ([], ["-w"]):
        result = machine.run(flags + ["-c", machine.path(target)])
        assert result.rc == 29, result
        lines = result.lines
        assert lines[0] == f"Cannot open file {machine.path(target)}"
        assert len(lines) >= 2 and lines[1].strip()  # the system's own text
        assert target.read_bytes() == b"serviceName=precious\n"


def test_skeleton_with_an_empty_name_writes_and_prints_nothing(machine):
    before = sorted(p.name for p in machine.tmp.iterdir())
    result = machine.run(["-c", ""])
    assert result.rc == 3  # no file name
    assert result.out == ""
    assert sorted(p.name for p in machine.tmp.iterdir()) == before
