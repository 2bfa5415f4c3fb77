"""Installing, listing, inspecting and removing services: -c, -i (-a, -p), -b, -d, -e, -u, -r."""

import os
import pwd
import re
import subprocess

from config_support import basic, install, round_trip, write_config
import leftovers

SERVICES = r"SYSTEM\CurrentControlSet\Services"


def service_exists(machine, name):
    return machine.tool("svctool", ["query", name]).rc == 0


def report(machine, name):
    result = machine.run(["-d", name])
    return [line for line in result.lines if "=" in line]


def image_path(machine, name):
    found = machine.reg_get(SERVICES + "\\" + name, "ImagePath")
    return found[1] if found else None


def test_administrator_round_trip(machine):
    name = machine.unique("round")
    skeleton = machine.tmp / "skeleton.conf"
    assert machine.run(["-c", machine.path(skeleton)]).rc == 0
    text = skeleton.read_text()
    text = (text.replace("$$DISPLAYNAME$$", "Round Trip " + name).replace("$$SERVICENAME$$", name)
            .replace("$$SERVICECLASSNAME$$", "com.example.RoundTrip"))
    extra = ["startType=SERVICE_AUTO_START", "errorControl=SERVICE_ERROR_SEVERE",
             "serviceDependencies=Alpha,Beta", "description=Round trip service",
             "jvmDLL=%JAVA_HOME%\\bin\\server\\jvm.dll", "jvmOption1=-Xmx64m",
             "jvmOption2=-Dapp.home=%TEMP%", "commandLineParms=one two",
             "verboseOutput=verbose.log", "preinitCommand=prepare.cmd", "preinitWaitHint=5000"]
    config = machine.tmp / "edited.conf"
    config.write_text(text + "".join(line + "\r\n" for line in extra))

    result = machine.run(["-i", machine.path(config)])
    assert result.rc == 0, result
    assert "Service successfully installed." in result.lines
    assert f"{name} : Round Trip {name}" in machine.run(["-b"]).lines

    expected = [f"serviceDisplayName=Round Trip {name}", f"serviceName={name}",
                "startType=SERVICE_AUTO_START", "errorControl=SERVICE_ERROR_SEVERE",
                f"binaryPath={machine.path(machine.exe)}", "serviceDependencies=Alpha,Beta",
                "description=Round trip service"]
    shown = report(machine, name)
    assert shown[:len(expected)] == expected
    assert image_path(machine, name) == f'"{machine.path(machine.exe)}" -Z "{name}"'

    # A stopped service is removed without any attempt to stop it.
    def removed(result):
        assert f"Service {name} deleted successfully." in result.lines
        assert not any("Error stopping" in line for line in result.lines)
        assert f"{name} : Round Trip {name}" not in machine.run(["-b"]).lines
        assert not service_exists(machine, name)

    stored = round_trip(machine, name, removed)
    assert "JVMOption2=-Dapp.home=%TEMP%\n" in stored
    assert "jvmDLL=%JAVA_HOME%\\bin\\server\\jvm.dll\n" in stored
    assert machine.run(["-r", name]).rc == 0


def test_round_trip_keeps_long_and_awkward_values(machine):
    # Values longer than 2000 characters in the service key were left out of the report and
    # taken for missing by -m.
    name = machine.unique("longvalues")
    description = "Long " + "d" * 2500
    dependencies = ",".join(f"Dependency{n:03}" for n in range(200))
    odd = 'a=b #c %TEMP% "quoted" \u00e9'
    lines = basic(name, f"description={description}", f"serviceDependencies={dependencies}",
                  f"commandLineParms={odd}")
    assert install(machine, lines).rc == 0
    # -m of the same file finds them unchanged.
    config = write_config(machine, lines, "same.conf")
    result = machine.run(["-m", machine.path(config)])
    assert f"The service {name} already has these settings: nothing changed." in result.lines, result
    stored = round_trip(machine, name).splitlines()
    assert f"description={description}" in stored
    assert f"serviceDependencies={dependencies}" in stored
    assert f"commandLineParms={odd}" in stored
    assert machine.run(["-r", name]).rc == 0


def test_only_the_first_missing_required_key_is_reported(linux):
    name = linux.unique("missing")
    cases = [
        ([f"serviceName={name}"], "serviceDisplayName"),
        (["serviceDisplayName=D", "ibrontelClass=x.Y"], "serviceName"),
        (["serviceDisplayName=D", f"serviceName={name}"], "ibrontelClass"),
    ]
    for lines, key in cases:
        result = install(linux, lines)
        assert result.rc == 7, result
        missing = [line for line in result.lines if line.startswith("Missing config option : ")]
        assert missing == ["Missing config option : " + key]
        assert "Installation failed" in result.lines
    assert not service_exists(linux, name)


def test_existing_service_fails_with_8_and_writes_no_parameters(machine):
    name = machine.unique("exists")
    assert machine.tool("svctool", ["create", name, "Other " + name, "C:\\other.exe"]).rc == 0
    result = install(machine, basic(name, "jvmOption1=-Xmx1m"))
    assert result.rc == 8, result
    assert "Could create service 1073" in result.lines
    assert machine.reg_keys(SERVICES + "\\" + name) == []
    assert image_path(machine, name) == "C:\\other.exe"
    machine.tool("svctool", ["delete", name])


def test_start_type_error_control_and_interactive_values(linux):
    rows = [
        (["startType=service_disabled", "errorControl=Service_Error_Critical",
          "interactiveService=true"], [], ("4", "3", "272")),
        (["startType=AUTO", "errorControl=1", "interactiveService=maybe"],
         ["AUTO unreconized for startType; assuming SERVICE_DEMAND_START",
          "1 unreconized for errorControl; assuming SERVICE_ERROR_NORMAL"], ("3", "1", "16")),
        ([], [], ("3", "1", "16")),
    ]
    for options, messages, (start, error_control, type_) in rows:
        name = linux.unique("types")
        result = install(linux, basic(name, *options))
        assert result.rc == 0, result
        for message in messages:
            assert message in result.lines
        assert [linux.reg_get(SERVICES + "\\" + name, value) for value in ("Start", "ErrorControl", "Type")] \
            == [("dword", start), ("dword", error_control), ("dword", type_)], options
        assert linux.run(["-r", name]).rc == 0


def test_dependencies_and_binary_path(linux):
    for given, shown in [("A,B", "A,B"), ("A,,B", "A"), ("A,B,", "A,B"), ("A, C", "A, C")]:
        name = linux.unique("deps")
        assert install(linux, basic(name, "serviceDependencies=" + given)).rc == 0
        assert f"serviceDependencies={shown}" in report(linux, name)
        assert linux.run(["-r", name]).rc == 0
    # A path that carries its own quotes ends up quoted twice, as given.
    for given in ["C:\\Program Files\\Tools\\brontel.exe", '"C:\\Tools\\brontel.exe"']:
        name = linux.unique("binpath")
        assert install(linux, basic(name, "binaryPath=" + given)).rc == 0
        assert image_path(linux, name) == f'"{given}" -Z "{name}"'
        assert linux.run(["-r", name]).rc == 0


def test_image_path_that_does_not_fit_is_refused(linux):
    name = linux.unique("long")
    result = install(linux, basic(name, "binaryPath=C:\\" + "d" * 1990 + "\\brontel.exe"))
    assert result.rc == 9, result
    assert any("would be longer than 1999 characters" in line for line in result.lines)
    assert not service_exists(linux, name)
    # The longest that fits is taken whole.
    path = "C:\\" + "d" * (1999 - 9 - len(name) - len("C:\\brontel.exe")) + "\\brontel.exe"
    assert install(linux, basic(name, "binaryPath=" + path)).rc == 0
    assert image_path(linux, name) == f'"{path}" -Z "{name}"'
    assert len(image_path(linux, name)) == 1999
    # Its event source, named by that path, is the service's own and goes with it.
    source = SERVICES + "\\EventLog\\Application\\" + name
    assert linux.reg_get(source, "EventMessageFile") == ("expand", path)
    result = linux.run(["-r", name])
    assert result.rc == 0 and not any("another program" in line for line in result.lines), result
    assert linux.reg_get(source, "EventMessageFile") is None


def test_options_1_2_4_with_stale_stored_options(linux):
    name = linux.unique("stale")
    parameters = SERVICES + "\\" + name + "\\Parameters"
    for n in (1, 2, 3, 5):
        linux.reg_set(parameters, f"JVMOption{n}", "sz", f"old{n}")
    result = install(linux, basic(name, "jvmOption1=-Da=1", "jvmOption2=-Db=2", "jvmOption4=-Dd=4"))
    assert result.rc == 0, result
    # Clean-up stops at the first number without a value: option 5 survives.
    assert [linux.reg_get(parameters, f"JVMOption{n}") for n in range(1, 6)] == [
        ("sz", "-Da=1"), ("sz", "-Db=2"), None, None, ("sz", "old5")]
    assert linux.run(["-r", name]).rc == 0


def test_a_thousand_options(linux):
    name = linux.unique("many")
    options = [f"jvmOption{n}=-Dopt{n}={n}" for n in range(1, 1001)]
    assert install(linux, basic(name, *options)).rc == 0
    parameters = SERVICES + "\\" + name + "\\Parameters"
    assert linux.reg_get(parameters, "JVMOption1000") == ("sz", "-Dopt1000=1000")
    assert linux.reg_get(parameters, "JVMOption1001") is None
    assert linux.run(["-r", name]).rc == 0


def test_account_with_and_without_password(machine):
    user = (machine.is_windows and os.environ.get("USER")) or pwd.getpwuid(os.getuid()).pw_name
    name = machine.unique("account")
    result = install(machine, basic(name), "-a", ".\\" + user, "-p", "secret")
    assert result.rc == 0, result
    # ".\\user" is looked up under the computer's name, whole.
    granting = [line for line in result.lines if line.startswith("Setting logon")]
    assert len(granting) == 1 and granting[0].endswith("\\" + user), result
    assert not granting[0].endswith(" on account " + user)
    if not machine.is_windows:
        assert "Logon as a service right set successfullly." in result.lines
    assert machine.reg_get(SERVICES + "\\" + name, "ObjectName") == ("sz", ".\\" + user)
    assert machine.run(["-r", name]).rc == 0

    # Another domain's account never lends its right to the local account of the same name.
    name = machine.unique("otherdomain")
    result = install(machine, basic(name), "-a", "CORPNOTHERE\\" + user, "-p", "secret")
    assert f"Setting logon as a service right on account CORPNOTHERE\\{user}" in result.lines
    if not machine.is_windows:
        # Wine's lookup ignores the domain part of a name, so only the stand-in can show this.
        assert "Failed to set logon as a service right. 1332" in result.lines, result
    assert machine.run(["-r", name]).rc == 0

    name = machine.unique("nopass")
    result = install(machine, basic(name), "-a", ".\\" + user)
    assert result.rc == 0, result
    assert not any(line.startswith("Setting logon") for line in result.lines)
    assert machine.reg_get(SERVICES + "\\" + name, "ObjectName") == ("sz", ".\\" + user)
    assert machine.run(["-r", name]).rc == 0


def test_accounts_without_a_password(machine):
    # Virtual, built-in and managed accounts: no -p, the logon right only where Windows needs it.
    name = machine.unique("virtual")
    virtual = "NT SERVICE\\" + name
    result = install(machine, basic(name), "-a", virtual)
    assert result.rc == 0, result
    assert not any(line.startswith(("Setting logon", "The account")) for line in result.lines), result
    assert machine.reg_get(SERVICES + "\\" + name, "ObjectName") == ("sz", virtual)
    if not machine.is_windows:
        # Its SID exists once the service does: the Parameters key admits it to read.
        dacl = machine.tool("regtool", ["sd", SERVICES + "\\" + name + r"\Parameters"]).lines
        assert re.fullmatch(r"D:P\(A;CI;KA;;;SY\)\(A;CI;KA;;;BA\)\(A;CI;KR;;;S-1-5-80(-\d+){5}\)",
                            dacl[0]), dacl
    shown = machine.run(["-d", name])
    assert f"account={virtual}" in shown.lines, shown
    assert not any("secret" in line for line in shown.lines)
    round_trip(machine, name)
    assert machine.reg_get(SERVICES + "\\" + name, "ObjectName") == ("sz", virtual)
    assert machine.run(["-r", name]).rc == 0

    name = machine.unique("nopassword")
    result = install(machine, basic(name), "-p", "secret")
    assert "The account LocalSystem has no password: -p is not used." in result.lines, result
    assert machine.run(["-r", name]).rc == 0

    name = machine.unique("localservice")
    result = install(machine, basic(name), "-a", "LocalService", "-p", "secret")
    assert result.rc == 0, result
    assert "The account NT AUTHORITY\\LocalService has no password: -p is not used." in result.lines
    assert not any(line.startswith("Setting logon") for line in result.lines), result
    assert machine.reg_get(SERVICES + "\\" + name, "ObjectName") == ("sz", "NT AUTHORITY\\LocalService")
    if not machine.is_windows:
        dacl = machine.tool("regtool", ["sd", SERVICES + "\\" + name + r"\Parameters"]).lines
        assert dacl == ["D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;S-1-5-19)"], dacl
    assert machine.run(["-r", name]).rc == 0

    # A managed account (here from the file) needs the right, never a password. No domain
    # answers for it: the stand-in's manager refuses the account as Windows would, Wine's keeps it.
    name = machine.unique("managed")
    result = install(machine, basic(name, "account=CORPNOTHERE\\web$"))
    assert "Setting logon as a service right on account CORPNOTHERE\\web$" in result.lines, result
    assert not any(line.startswith("The account CORP") for line in result.lines), result
    if machine.is_windows:
        assert result.rc == 0, result
        assert machine.reg_get(SERVICES + "\\" + name, "ObjectName") == ("sz", "CORPNOTHERE\\web$")
        assert machine.run(["-r", name]).rc == 0
    else:
        assert result.rc == 8 and "Could create service 1057" in result.lines, result
        assert machine.reg_get(SERVICES + "\\" + name, "ImagePath") is None


def test_administrator_rights_are_needed(linux):
    config = write_config(linux, basic("norights"))
    env = {"BRONTEL_ROOT": "/dev/null/root"}
    result = linux.run(["-i", linux.path(config), "-a", "root", "-p", "pw"], env=env)
    assert result.rc == 8, result
    assert "Failed to set logon as a service right. -1073741790" in result.lines
    assert "Could not open the service control manager 5" in result.lines


def install_test_service(machine, options):
    # A service with a service class whose process is the testservice tool.
    name = machine.unique("running")
    log = machine.tmp / (name + ".log")
    command = f'"{machine.path(machine.tool_path("testservice"))}" --log "{machine.path(log)}" {options}'
    assert machine.tool("svctool", ["create", name, "Test " + name, command]).rc == 0
    machine.reg_set(SERVICES + "\\" + name + "\\Parameters", "IBrontelClass", "sz", "x.Y")
    return name, log


def start_and_wait(machine, name, state="RUNNING"):
    if machine.is_windows:
        # Wine ends its services once no program of the prefix runs; keep its server up.
        subprocess.run(["wineserver", "-p"], env=machine.env, check=False)
    assert machine.tool("svctool", ["start", name]).rc == 0
    waited = machine.tool("svctool", ["wait", name, state, "30000"])
    assert waited.rc == 0, waited


def test_removal_of_a_running_service(machine):
    # A running service is stopped and waited for through its stop-pending report.
    name, log = install_test_service(machine, "--stop-hint 1500 --stop-delay 500")
    start_and_wait(machine, name)
    result = machine.run(["-r", name])
    assert result.rc == 0, result
    assert f"Service {name} deleted successfully." in result.lines
    # It had stopped before it was deleted, so its entry went at once.
    assert log.read_text().endswith("control 1\nstopped\n")
    assert not service_exists(machine, name)


def test_removal_of_a_service_that_refuses_to_stop(machine):
    name, log = install_test_service(machine, "--stuck-stopping")
    start_and_wait(machine, name)
    assert machine.tool("svctool", ["control", name, "128"]).rc == 0
    assert machine.tool("svctool", ["wait", name, "STOP_PENDING", "30000"]).rc == 0
    result = machine.run(["-r", name], timeout=120)
    assert result.rc == 25, result
    # The stop under way is waited for while it shows progress; this one shows none.
    assert any(f"The service {name} did not stop: it is still in state SERVICE_STOP_PENDING" in line
               for line in result.lines), result
    assert "Uninstall failed" in result.lines
    assert not any("deleted successfully" in line for line in result.lines)
    assert service_exists(machine, name)
    # Ended from outside, as an administrator would.
    if machine.is_windows:
        # The log has its Windows process id: its Linux process is the one that names it. Wine's
        # manager goes on showing it stop-pending; the entry goes with the prefix.
        stuck = leftovers.find(f"WINEPREFIX={machine.wineprefix}", [name])
        assert len(stuck) == 1, stuck
        leftovers.end(stuck.items())
    else:
        os.kill(int(re.search(r"running (\d+)", log.read_text()).group(1)), 9)
        machine.tool("svctool", ["wait", name, "STOPPED", "30000"])
        assert machine.run(["-r", name]).rc == 0


def test_removal_gives_up_on_a_service_that_never_finishes_stopping(linux):
    name, log = install_test_service(linux, "--stop-hint 100 --hang-stop")
    start_and_wait(linux, name)
    result = linux.run(["-r", name], timeout=120)
    assert result.rc == 25, result
    assert any(f"The service {name} did not stop: it is still in state SERVICE_STOP_PENDING"
               in line for line in result.lines)
    assert service_exists(linux, name)
    os.kill(int(re.search(r"running (\d+)", log.read_text()).group(1)), 9)


def test_removal_refuses_services_not_installed_by_brontel(machine):
    name = machine.unique("foreign")
    assert machine.tool("svctool", ["create", name, "Foreign " + name, "C:\\foreign.exe"]).rc == 0
    result = machine.run(["-r", name])
    assert result.rc == 11, result
    assert (f"The service {name} is not a service created by Brontel.  Therefore it will not be "
            "removed.") in result.lines
    assert service_exists(machine, name)
    machine.tool("svctool", ["delete", name])
    assert machine.run(["-r", machine.unique("nothing")]).rc == 11


def test_removal_by_name_or_configuration_file(linux):
    name = linux.unique("byname")
    assert install(linux, basic(name)).rc == 0
    # -r wins over -u: the file is never opened.
    result = linux.run(["-u", linux.path(linux.tmp / "no-such.conf"), "-r", name])
    assert result.rc == 0, result
    assert not service_exists(linux, name)

    name = linux.unique("byfile")
    config = write_config(linux, basic(name), "remove.conf")
    assert linux.run(["-i", linux.path(config)]).rc == 0
    assert linux.run(["-u", linux.path(config)]).rc == 0
    assert not service_exists(linux, name)

    nameless = write_config(linux, ["serviceDisplayName=D", "ibrontelClass=x.Y"], "nameless.conf")
    result = linux.run(["-u", linux.path(nameless)])
    assert result.rc == 0, result
    assert not any("deleted" in line or "Brontel" in line for line in result.lines)
    result = linux.run(["-u"])
    assert result.rc == 1
    result = linux.run(["-r", name, "-u", linux.path(config)])
    assert result.rc == 11


def test_service_names_with_awkward_characters(machine):
    name = machine.unique("with blanks ")
    result = install(machine, basic(name))
    assert result.rc == 0, result
    assert image_path(machine, name) == f'"{machine.path(machine.exe)}" -Z "{name}"'
    assert machine.run(["-r", name]).rc == 0
    assert not service_exists(machine, name)

    # Names beyond the ANSI code page need a UTF-16 file (-w); removal by the same file.
    config = machine.tmp / "unicode.conf"
    name = machine.unique("Dienst-\u00e4\u00f6\u00fc-\u670d\u52a1-\U0001F600")
    config.write_bytes("\r\n".join(basic(name)).encode("utf-16-le"))
    result = machine.run(["-w", "-i", machine.path(config)])
    assert result.rc == 0, result
    assert machine.run(["-w", "-u", machine.path(config)]).rc == 0
    assert machine.run(["-w", "-u", machine.path(config)]).rc == 11

    quote = "The service name {} cannot be used: it contains a double quote."
    for name, message in [(machine.unique('say"cheese'), quote),
                          (machine.unique("back\\slash"), "Could create service 123")]:
        result = install(machine, basic(name))
        assert result.rc == 8, result
        assert message.format(name) in result.lines
        assert not service_exists(machine, name)

    longest = machine.unique("n")
    longest += "x" * (256 - len(longest))
    result = install(machine, basic(longest, display="Longest name"))
    assert result.rc == 0, result
    assert f"{longest} : Longest name" in machine.run(["-b"]).lines
    assert machine.run(["-r", longest]).rc == 0
    result = install(machine, basic(longest + "y", display="Too long"))
    assert result.rc == 8, result


def test_listing(linux):
    heading = "SERVICE NAME : DISPLAY NAME\n---------------------------\n"
    # A new machine has the services key, as every Windows machine has.
    assert linux.run(["-b"]).out == heading + "No services found that use Brontel\n"
    assert linux.reg_keys("SYSTEM\\CurrentControlSet\\Services") == ["EventLog"]
    assert linux.reg_keys("SOFTWARE") == []
    foreign = linux.unique("other")
    assert linux.tool("svctool", ["create", foreign, "Other", "/bin/true"]).rc == 0
    assert linux.run(["-b"]).out == heading + "No services found that use Brontel\n"
    first, second = linux.unique("listed"), linux.unique("listed")
    assert install(linux, basic(first)).rc == 0
    assert install(linux, basic(second), file_name="second.conf").rc == 0
    # A service without a display name is listed by its name alone.
    linux.reg_delval(SERVICES + "\\" + second, "DisplayName")
    result = linux.run(["-b"])
    assert result.rc == 0
    assert result.lines[2:] == [f"{first} : Display {first}", second]
    # Without the services key the listing says it cannot open the registry.
    linux.reg_deltree(SERVICES)
    result = linux.run(["-b"])
    assert result.out == heading + "Cannot open registry."
    assert result.rc == 8


def test_listing_limits_are_the_same_on_both_builds(machine):
    # Display names up to 999 characters and image paths up to 1022 are read whole; one more
    # character and the value counts as absent, whatever the width of the build's characters.
    shown, cut = machine.unique("dn"), machine.unique("dn")
    for name, length in ((shown, 999), (cut, 1000)):
        assert machine.tool("svctool", ["create", name, name, "x"]).rc == 0
        machine.reg_set(SERVICES + "\\" + name, "ImagePath", "sz", "brontel".ljust(1022, "p"))
        machine.reg_set(SERVICES + "\\" + name, "DisplayName", "sz", "d" * length)
    marked_late = machine.unique("ip")
    assert machine.tool("svctool", ["create", marked_late, "Late", "x"]).rc == 0
    machine.reg_set(SERVICES + "\\" + marked_late, "ImagePath", "sz", "p" * 1016 + "brontel")
    try:
        lines = machine.run(["-b"]).lines
        assert f"{shown} : {'d' * 999}" in lines
        assert cut in lines
        assert marked_late not in "\n".join(lines)
        machine.reg_set(SERVICES + "\\" + marked_late, "ImagePath", "sz", "p" * 1015 + "brontel")
        assert f"{marked_late} : Late" in machine.run(["-b"]).lines
    finally:
        for name in (shown, cut, marked_late):
            machine.tool("svctool", ["delete", name])


def test_unedited_skeleton_is_refused_and_unknown_keys_are_named(machine):
    skeleton = machine.tmp / "skeleton.conf"
    assert machine.run(["-c", machine.path(skeleton)]).rc == 0
    result = machine.run(["-i", machine.path(skeleton)])
    assert result.rc == 31, result
    for key, placeholder in [("serviceDisplayName", "DISPLAYNAME"), ("serviceName", "SERVICENAME"),
                             ("ibrontelClass", "SERVICECLASSNAME")]:
        assert (f"The configuration key {key} still holds the skeleton's placeholder "
                f"$${placeholder}$$: fill in its value.") in result.lines
    assert "Installation failed" in result.lines
    assert not service_exists(machine, "$$SERVICENAME$$")

    # One filled in, another left as it was: still refused, naming only that one.
    name = machine.unique("edited")
    result = install(machine, basic(name, "jvmDLL=C:\\$$DLL$$\\jvm.dll"))
    assert result.rc == 31, result
    assert [line for line in result.lines if "placeholder" in line] == [
        "The configuration key jvmDLL still holds the skeleton's placeholder $$DLL$$: fill in its value."]
    assert not service_exists(machine, name)

    # Misspelt and unknown keys are named, and the install goes on without them.
    result = install(machine, basic(name, "comandLineParms=a b", "JVMOPTOIN1=-Xmx8m", "colour=blue",
                                    "jvmOption1=-Dok=1"))
    assert result.rc == 0, result
    assert [line for line in result.lines if line.startswith("Warning: ")] == [
        "Warning: unknown configuration key comandLineParms is ignored; did you mean commandLineParms?",
        "Warning: unknown configuration key JVMOPTOIN1 is ignored; did you mean jvmOption1?",
        "Warning: unknown configuration key colour is ignored.",
    ]
    assert "Service successfully installed." in result.lines
    assert "commandLineParms=" not in machine.run(["-d", name]).out
    assert machine.run(["-r", name]).rc == 0


def test_paths_that_do_not_exist_are_named_but_installed(linux):
    name = linux.unique("paths")
    present = linux.tmp / "present.jar"
    present.write_bytes(b"jar")
    sep = os.pathsep
    missing_lib = linux.tmp / "nojvm" / "libjvm.so"
    missing_entry = linux.tmp / "gone-classes"
    missing_jar = linux.tmp / "gone.jar"
    result = install(linux, basic(
        name, f"jvmDLL={missing_lib}",
        f"jvmOption1=-Djava.class.path={present}{sep}{missing_entry}{sep}{linux.tmp}/lib/*{sep}",
        "jvmOption2=-Dother=/nowhere",
        f"commandLineParms=--stop-wait=1 -jar {missing_jar} a b",
        service_class="com.vantero.core.orb.ProgramService"))
    assert result.rc == 0, result
    tail = " (installed anyway; the service needs it when it starts)."
    assert [line for line in result.lines if line.startswith("Warning: ")] == [
        f"Warning: the jvmDLL file does not exist here: {missing_lib}{tail}",
        f"Warning: the class path entry does not exist here: {missing_entry}{tail}",
        f"Warning: the -jar file does not exist here: {missing_jar}{tail}",
    ], result
    assert service_exists(linux, name)
    # Paths that exist, and references resolved here, are not mentioned.
    name2 = linux.unique("paths")
    config = write_config(linux, basic(name2, "jvmDLL=%BRONTEL_TEST_JAR%",
                                       f"jvmOption1=-Djava.class.path={present}"), "present.conf")
    result = linux.run(["-i", linux.path(config)], env={"BRONTEL_TEST_JAR": str(present)})
    assert result.rc == 0, result
    assert not [line for line in result.lines if line.startswith("Warning: ")], result
    for svc in (name, name2):
        assert linux.run(["-r", svc]).rc == 0
