"""The report of an installed service (-d on the console, -e into a new file), on service keys
that the tests write directly into the registry."""

import pytest

SERVICES = r"SYSTEM\CurrentControlSet\Services"


def service_key(name):
    return SERVICES + "\\" + name


@pytest.fixture
def service(machine):
    name = machine.unique("brreport")
    yield name
    machine.reg_deltree(service_key(name))


def write_full_service(machine, name, image_path):
    key = service_key(name)
    params = key + r"\Parameters"
    machine.reg_set(key, "DisplayName", "sz", "Report Test Service")
    machine.reg_set(key, "Type", "dword", "0x110")
    machine.reg_set(key, "Start", "dword", "2")
    machine.reg_set(key, "ErrorControl", "dword", "2")
    machine.reg_set(key, "ImagePath", "expand", image_path)
    machine.reg_set(key, "DependOnService", "multi", "Tcpip", "EventLog")
    machine.reg_set(key, "Description", "sz", "Reports # and = signs")
    machine.reg_set(params, "JVMdll", "sz", r"C:\java\bin\server\jvm.dll")
    machine.reg_set(params, "IBrontelClass", "sz", "com.example.ReportService")
    machine.reg_set(params, "CommandLine", "sz", "alpha beta")
    machine.reg_set(params, "VerboseFile", "sz", r"%BRONTEL_E2E_DIR%\verbose.log")
    machine.reg_set(params, "PreInitCmd", "sz", "cmd.exe /c prepare.bat")
    machine.reg_set(params, "PreInitHint", "sz", "5000")
    machine.reg_set(params, "jvmOption1", "sz", "-Xmx64m")
    machine.reg_set(params, "JVMOption2", "sz", "-Dlog=%BRONTEL_E2E_DIR%")
    machine.reg_set(params, "JVMOption3", "sz", "-Da=b=c")
    machine.reg_set(params, "JVMOption5", "sz", "-Dnever=shown")


def expected_report(name, expanded_dir):
    d = expanded_dir
    return (
        "serviceDisplayName=Report Test Service\n"
        f"serviceName={name}\n"
        "interactiveService=TRUE\n"
        "startType=SERVICE_AUTO_START\n"
        "errorControl=SERVICE_ERROR_SEVERE\n"
        r"binaryPath=C:\Program Files\brontel\brontel.exe" "\n"
        "serviceDependencies=Tcpip,EventLog\n"
        "description=Reports # and = signs\n"
        r"jvmDLL=C:\java\bin\server\jvm.dll" "\n"
        "ibrontelClass=com.example.ReportService\n"
        "commandLineParms=alpha beta\n"
        f"verboseOutput={d}\\verbose.log\n"
        "preinitCommand=cmd.exe /c prepare.bat\n"
        "preinitWaitHint=5000\n"
        "JVMOption1=-Xmx64m\n"
        f"JVMOption2=-Dlog={d}\n"
        "JVMOption3=-Da=b=c\n"
    )


IMAGE = r'"C:\Program Files\brontel\brontel.exe" -Z "svc"'
ENV = {"BRONTEL_E2E_DIR": r"C:\e2e dir"}


def test_console_report_shows_every_row_in_order_with_references_resolved(machine, service):
    write_full_service(machine, service, IMAGE)
    result = machine.run(["-d", service], env=ENV)
    assert result.rc == 0
    # The tracing line, the report, and the blank line of the message's own line end.
    assert result.out == "Tracing not enabled\n" + expected_report(service, r"C:\e2e dir") + "\n"


def test_saved_report_keeps_references_and_reads_back_line_for_line(machine, service):
    write_full_service(machine, service, IMAGE)
    target = machine.tmp / "saved.conf"
    result = machine.run(["-e", service, machine.path(target)], env=ENV)
    assert result.rc == 0
    assert result.out == f"Tracing not enabled\nGenerating file {machine.path(target)} \n"
    want = expected_report(service, "%BRONTEL_E2E_DIR%")
    assert target.read_bytes() == want.encode("ascii")

    dumped = machine.tool("configdump", [machine.path(target)])
    assert dumped.out == "result 0\n" + want


def test_saved_report_in_utf16(machine, service):
    write_full_service(machine, service, IMAGE)
    machine.reg_set(service_key(service), "DisplayName", "sz", "Caf\u00e9 \u4e2d")
    target = machine.tmp / "saved-w.conf"
    result = machine.run(["-w", "-e", service, machine.path(target)], env=ENV)
    assert result.rc == 0
    assert result.lines[-1] == f"Generating file {machine.path(target)} using unicode."
    data = target.read_bytes()
    assert not data.startswith(b"\xff\xfe")
    text = data.decode("utf-16-le")
    assert text.startswith("serviceDisplayName=Caf\u00e9 \u4e2d\nserviceName=")
    assert "\r" not in text and text.endswith("JVMOption3=-Da=b=c\n")
    # Without -w, a code page that lacks a character says so (the Linux stand-in's is UTF-8).
    target = machine.tmp / "saved-ansi.conf"
    result = machine.run(["-e", service, machine.path(target)], env=ENV)
    assert result.rc == 0 and target.exists()
    warned = [line for line in result.lines if line.startswith("Warning: the ANSI code page lacks")]
    assert len(warned) == (1 if machine.is_windows else 0), result


def test_saved_report_never_overwrites_a_file(machine, service):
    write_full_service(machine, service, IMAGE)
    target = machine.tmp / "exists.conf"
    target.write_bytes(b"keep")
    machine.trace_to(machine.tmp / "trace.log")
    result = machine.run(["-e", service, machine.path(target)])
    assert result.rc == 29, result
    lines = result.lines
    assert lines[0] == f"Tracing enabled to file {machine.path(machine.tmp / 'trace.log')}"
    assert lines[1] == f"Cannot open file {machine.path(target)}"
    assert target.read_bytes() == b"keep"


def test_rows_left_out_for_missing_bits_and_other_numbers(machine, service):
    key = service_key(service)
    machine.reg_set(key, "Type", "dword", "0x10")
    machine.reg_set(key, "Start", "dword", "0")
    machine.reg_set(key, "ErrorControl", "dword", "7")
    machine.reg_set(key, "ImagePath", "sz", r"C:\other\service.exe -run")
    machine.reg_set(key + r"\Parameters", "IBrontelClass", "sz", "x.Y")
    result = machine.run(["-d", service])
    assert result.out == (
        "Tracing not enabled\n"
        f"serviceName={service}\n"
        r"binaryPath=C:\other\service.exe" "\n"
        "ibrontelClass=x.Y\n\n"
    )
    # An unquoted path that names no program and holds a quote later: read whole.
    machine.reg_set(key, "ImagePath", "sz", 'ab"cd')
    machine.reg_set(key, "Start", "dword", "1")
    result = machine.run(["-d", service])
    assert f'serviceName={service}\nbinaryPath=ab"cd\nibrontelClass=x.Y\n' in result.out
    assert "startType" not in result.out and "interactiveService" not in result.out
    # The name as Windows keeps it, whatever case it was asked for in.
    assert f"serviceName={service}\n" in machine.run(["-d", service.upper()]).out


def test_no_report_of_a_name_that_is_no_brontel_service(machine, service):
    sentence = f"The service {service} is not installed (brontel -b lists the services brontel installed)."
    target = machine.tmp / "nosuch.conf"
    # No service at all, then a service of another program: neither is reported, and -e writes
    # no file.
    for setup in (None, "foreign"):
        if setup:
            machine.reg_set(service_key(service), "ImagePath", "sz", r"C:\other\service.exe -run")
            machine.reg_set(service_key(service) + r"\Parameters", "Other", "sz", "x")
        result = machine.run(["-d", service])
        assert result.rc == 11, result
        assert result.lines == ["Tracing not enabled", sentence], result
        result = machine.run(["-e", service, machine.path(target)])
        assert result.rc == 11, result
        assert sentence in result.lines, result
        assert not target.exists()


def test_temp_resolved_on_the_console_and_kept_in_the_file(machine, service):
    params = service_key(service) + r"\Parameters"
    machine.reg_set(params, "IBrontelClass", "sz", "x.Y")
    machine.reg_set(params, "VerboseFile", "sz", r"%TEMP%\verbose.log")
    temp = r"C:\brontel temp" if machine.is_windows else "/tmp/brontel temp"
    result = machine.run(["-d", service], env={"TEMP": temp})
    shown = [line for line in result.lines if line.startswith("verboseOutput=")]
    assert len(shown) == 1 and "%" not in shown[0] and shown[0].endswith("verbose.log")
    if not machine.is_windows:
        assert shown[0] == "verboseOutput=/tmp/brontel temp\\verbose.log"
    target = machine.tmp / "temp.conf"
    machine.run(["-e", service, machine.path(target)], env={"TEMP": temp})
    assert "verboseOutput=%TEMP%\\verbose.log\n" in target.read_text()


UNQUOTED_WARNING = (
    "Warning: the service's image path is not quoted and its program's path holds a blank, so "
    "Windows tries to start C:\\Program.exe first, a program that anyone who can write there "
    "could place. Update the service with -m, or reinstall it with -i: both quote the path.\n"
)


@pytest.mark.parametrize(
    "image_path, program, warned",
    [
        # As another installer writes it: the program ends at ".exe", the arguments are cut off.
        (r'C:\Program Files\MsiSvc\brontel.exe -Z "MsiSvc"', r"C:\Program Files\MsiSvc\brontel.exe", True),
        (r"C:\Program Files\MsiSvc\BRONTEL.EXE", r"C:\Program Files\MsiSvc\BRONTEL.EXE", True),
        (r'C:\brontel\brontel.exe -Z "svc"', r"C:\brontel\brontel.exe", False),
        (r'"C:\Program Files\a.exe b\brontel.exe" -Z "svc"', r"C:\Program Files\a.exe b\brontel.exe", False),
    ],
)
def test_unquoted_image_paths_read_and_warned_about(machine, service, image_path, program, warned):
    write_full_service(machine, service, image_path)
    result = machine.run(["-d", service], env=ENV)
    assert result.rc == 0
    report = expected_report(service, r"C:\e2e dir").replace(
        r"binaryPath=C:\Program Files\brontel\brontel.exe", "binaryPath=" + program
    )
    assert result.out == "Tracing not enabled\n" + report + "\n" + (UNQUOTED_WARNING if warned else "")
    # The saved report holds the same path and never the warning.
    target = machine.tmp / (service + ".conf")
    result = machine.run(["-e", service, machine.path(target)], env=ENV)
    assert result.rc == 0
    saved = target.read_text(encoding="ascii")
    assert f"binaryPath={program}\n" in saved and "Warning" not in saved
    # -b lists it as one of brontel's.
    assert f"{service} : Report Test Service" in machine.run(["-b"]).out.splitlines()
