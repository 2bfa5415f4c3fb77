"""The command line: help, dispatch order, missing arguments, the console echo, the trace switch."""

import re

import pytest

HELP_AFTER_STAMP = """Usage: brontel [options]
options:
-? : returns this help
-i configfile : installs a service using the specified config file
-u configfile : Uninstalls a service using the specified config file
-r serviceName : Uninstalls a service using the specified service name
-a account : Installs a service which logs on as this account
             This option is only valid with the -i option
-p password : Used with the -a parameter to specify the account password
-c configfile : Generates a skeleton config file that can be filled in with
                actual values for your application
-b : Displays all the services currently installed that are 
     powered by Brontel.
-t {logfile|OFF} : Turns the trace on.  Trace is written to the specified file.
   Specify OFF when you want to turn tracing off.
-d serviceName : Displays information about the installed service. 
-e serviceName configfile : Saves information about the installed service to a file. 
-x serviceName : Executes the service without using the service control manager. 
                 This is handy for development because you can view stdout on the console.
-s serviceName signal : Sends the specified signal to the service. 
                 signal can be a number or a SERVICE_CONTROL_* constant.
                 signal can also be CTRL_C_EVENT or CTRL_BREAK_EVENT.
                 signal can also be stop, pause, continue, interrogate, shutdown,
                 restart, ctrl_c or ctrl_break, in any case.
-m configfile : Updates the installed service to the config file's settings
                 without removing it; -a and -p change its account.
-y : With -m, restarts the service when it runs, so that the changes take effect
-w : Indicates that the config file is a unicode file
-q serviceName : Shows the service's state, process, start type, account, exit codes,
                 recovery actions and capture files. Exit code 0 running,
                 37 not running, 11 not installed.
-Q serviceName : The same as name=value lines, for scripts.
-start serviceName : Starts the service and waits until it runs.
-stop serviceName : Stops the service and waits until it has stopped.
-restart serviceName : Stops and starts the service, waiting for each.
-W seconds : With -start, -stop or -restart: waits at most this long (1 to 86400).
"""
STAMP = re.compile(r"^brontel {23}\(build [A-Z][a-z]{2} [ 123]\d \d{4} \d\d:\d\d:\d\d\)$")
TRACE_KEY = r"SOFTWARE\Orvane\Brontel"


def assert_help(out):
    first, _, rest = out.partition("\n")
    assert STAMP.match(first), first
    assert rest == HELP_AFTER_STAMP


def test_help_without_arguments_or_asked_for_first(machine):
    result = machine.run([])
    assert result.rc == 2
    assert_help(result.out)
    # Help is tested first: the install that follows is never attempted.
    config = machine.tmp / "svc.conf"
    result = machine.run(["-?", "-i", machine.path(config)])
    assert result.rc == 0
    assert_help(result.out)
    assert not config.exists()


@pytest.mark.parametrize(
    "args, message",
    [
        (["-i"], "-i option requires config file name"),
        (["-u"], "-u option requires config file name"),
        (["-c"], "-c option requires config file name"),
        (["-r"], "-r option requires the service name"),
        (["-a"], "-a option requires an account name"),
        (["-p"], "-p option requires a password"),
        (["-t"], "-t option requires log file name, or OFF"),
        (["-t", ""], "-t option requires log file name, or OFF"),
        (["-d"], "-d option requires service name."),
        (["-e", "svc"], "-e option requires service name and output file name."),
        (["-s", "svc"], "-s option requires service name and signal."),
        (["-w", "-b", "-s"], "-s option requires service name and signal."),
        # Parsing stops at the missing argument: the -t is never performed.
        (["-d", "svc", "-t"], "-t option requires log file name, or OFF"),
        (["-i", "svc.conf", "-r", "svc"], "Cannot specify install and uninstall"),
        (["-r", "svc", "-i", "svc.conf"], "Cannot specify install and uninstall"),
    ],
)
def test_missing_option_argument_or_conflict_is_refused(machine, args, message):
    result = machine.run(args)
    assert result.rc == 1
    assert result.out == message + "\n"
    assert machine.reg_get(TRACE_KEY, "Trace") is None


@pytest.mark.parametrize("option", ["-x", "-Z"])
def test_missing_service_name_for_silent_modes_prints_nothing(machine, option):
    trace = machine.tmp / "trace.log"
    machine.trace_to(trace)
    result = machine.run([option])
    assert result.rc == 1
    assert result.out == ""
    # The message still reaches the trace file.
    assert f"{option} option requires the service name\n" in trace.read_text()


def test_unknown_words_are_skipped(machine):
    result = machine.run(["-I", "file.conf", "/i", "stray", "-V"])
    assert result.rc == 0
    assert result.out == ""


def test_several_trace_switches_apply_in_order(machine):
    trace = machine.tmp / "trace.log"
    machine.trace_to(trace)
    result = machine.run(["-t", "OFF", "-t", machine.path(trace)])
    assert result.rc == 0
    assert result.lines == [
        "Trace disabled.",
        f"Trace enabled.  Logging to file : {machine.path(trace)} will begin next time a Brontel process starts.",
    ]


class TestTraceSwitch:
    def test_on_writes_the_switch_and_takes_effect_next_time(self, machine):
        trace = machine.tmp / "trace.log"
        name = machine.path(trace)
        result = machine.run(["-t", name])
        assert result.rc == 0
        assert result.out == (
            f"Trace enabled.  Logging to file : {name} will begin next time a Brontel process starts.\n"
        )
        assert machine.reg_get(TRACE_KEY, "Trace") == ("sz", name)
        assert not trace.exists()  # the running process's logger was made before -t
        machine.run(["-w"])
        lines = trace.read_text().splitlines()
        assert [line[9:] for line in lines] == [
            "main Entry",
            "CParameters::parseCommandLine Entry 2",
            "CParameters::parseCommandLine Exit 0",
            "main Exit 0",
        ]
        assert all(re.match(r"^[0-9A-F]{8} ", line) for line in lines)
        assert len({line[:8] for line in lines}) == 1

    @pytest.mark.parametrize("word", ["off", "OFF", "Off"])
    def test_off_in_any_case(self, machine, word):
        machine.trace_to(machine.tmp / "trace.log")
        result = machine.run(["-t", word])
        assert result.rc == 0
        assert result.out == "Trace disabled.\n"
        assert machine.reg_get(TRACE_KEY, "Trace") is None
        # Twice off: the missing value counts as success.
        assert machine.run(["-t", word]).out == "Trace disabled.\n"

    def test_name_beginning_with_off_is_a_file(self, machine):
        result = machine.run(["-t", "Off.log"])
        assert result.out.startswith("Trace enabled.  Logging to file : Off.log will begin")
        assert machine.reg_get(TRACE_KEY, "Trace") == ("sz", "Off.log")

    def test_off_without_the_key_prints_nothing(self, machine):
        machine.reg_deltree(TRACE_KEY)
        result = machine.run(["-t", "OFF"])
        assert result.rc == 0
        assert result.out == ""

    def test_existing_trace_file_is_appended_to(self, machine):
        trace = machine.tmp / "trace.log"
        trace.write_text("kept line\n")
        machine.trace_to(trace)
        machine.run(["-i"])
        text = trace.read_text()
        assert text.startswith("kept line\n")
        assert "-i option requires config file name\n" in text
        assert text.endswith(" main Exit 1\n")

    def test_unopenable_trace_path_is_silent_and_harmless(self, machine):
        machine.trace_to(machine.tmp / "no" / "such" / "dir" / "trace.log")
        result = machine.run(["-?"])
        assert result.rc == 0
        assert_help(result.out)
        result = machine.run(["-t", "OFF"])
        assert result.out == "Trace disabled.\n"


def test_unwritable_registry_reports_the_error(linux):
    # A machine whose registry cannot be written (its root is not a directory, which even root
    # cannot write into): the switch says why, switching off stays silent, nothing crashes.
    blocked = linux.tmp / "not-a-directory"
    blocked.write_text("")
    env = {"BRONTEL_ROOT": str(blocked)}
    result = linux.run(["-t", "trace.log"], env=env)
    assert result.rc == 0
    assert result.lines == ["Cannot open registry to turn on trace. 5", "Access is denied.", ""]
    assert linux.run(["-t", "OFF"], env=env).out == ""
    assert linux.run(["-?"], env=env).rc == 0


@pytest.mark.parametrize(
    "args",
    [
        ["x" * 100000],
        [""],
        ["", "", "-t"],
        ["-t", ""],
        ["-d", "Dienst-äöü-服务-😀"],
        ["-b"] * 1000,
        ["-w", "-?", "-c"] * 333,
    ],
    ids=["very-long", "empty", "empties", "empty-trace", "non-ascii", "1000-options", "mixed"],
)
def test_odd_argument_vectors_never_crash(machine, args):
    result = machine.run(args)
    assert result.rc in (0, 1, 11), result  # 11: -d of a service that is not there
