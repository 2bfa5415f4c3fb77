"""The Java VM host at work with the machine's real JVM: the service class receives its
arguments, the VM gets its options and verbose file, and each start-up failure is reported
with its code. Development mode (-x) here; service mode (-Z) further below."""

import os

import pytest

SERVICES = r"SYSTEM\CurrentControlSet\Services"
TRACE_KEY = r"SOFTWARE\Orvane\Brontel"


class JavaService:
    """A service's Parameters written directly, as installation would leave them."""

    def __init__(self, m, service_class=None, command_line=None, options=(), jvm_library=True):
        self.m = m
        self.name = m.unique("jvm")
        self.key = SERVICES + "\\" + self.name + r"\Parameters"
        self.out = m.tmp / (self.name + ".out")
        self.trace = m.tmp / (self.name + ".trace")
        m.trace_to(self.trace)
        if jvm_library is True:
            jvm_library = str(m.jvm_library)
        if jvm_library:
            self.set("JVMdll", jvm_library)
        classpath = os.pathsep.join(
            [str(m.java_dir / "brontel.jar"), str(m.java_dir / "testclasses"), str(m.java_dir / "examples")]
        )
        self.options = [
            "-Djava.class.path=" + classpath,
            "-Dbrontel.test.out=" + str(self.out),
            # The VM checks every JNI call of ours: a call made with an exception pending is fatal.
            "-Xcheck:jni",
        ] + list(options)
        for i, option in enumerate(self.options, 1):
            self.set(f"JVMOption{i}", option)
        if service_class:
            self.set("IBrontelClass", service_class)
        if command_line is not None:
            self.set("CommandLine", command_line)

    def set(self, name, value):
        self.m.reg_set(self.key, name, "sz", value)

    def run_dev(self, **kwargs):
        return self.m.run(["-x", self.name], **kwargs)

    def record(self):
        return self.out.read_text(encoding="utf-8").splitlines() if self.out.exists() else []

    def trace_text(self):
        return self.trace.read_text(encoding="utf-8", errors="replace") if self.trace.exists() else ""

    def trace_messages(self):
        """The trace's lines without their thread-id column."""
        return [line.partition(" ")[2] for line in self.trace_text().splitlines()]


def code_points(text):
    return "[" + " ".join(format(ord(c), "x") for c in text) + "]"


@pytest.mark.parametrize(
    "command_line, expected",
    [
        (None, []),
        ("", [""]),
        ("a b", ["a", "b"]),
        ("a  b", ["a", "", "b"]),
        (" lead trail ", ["", "lead", "trail", ""]),
        ('"one two" three', ["one two", "three"]),
        ('a"b c"d', ["ab cd"]),
        ('"open to the end', ["open to the end"]),
        ('\\" \\\\ a\\ b \\x end\\', ['"', "\\", "a b", "x", "end"]),
        ("%TEMP% %PATH%", ["%TEMP%", "%PATH%"]),
        ("caf\u00e9 \u65e5\u672c \U0001F600x \U00010348", ["caf\u00e9", "\u65e5\u672c", "\U0001F600x", "\U00010348"]),
    ],
    ids=["none", "empty", "two", "two-blanks", "edge-blanks", "quoted", "quoted-middle", "unclosed",
         "backslashes", "references-kept", "non-ascii"],
)
def test_service_main_receives_the_exact_arguments(linux, command_line, expected):
    svc = JavaService(linux, "com.vantero.tests.RecordingService", command_line)
    result = svc.run_dev()
    assert result.rc == 0, result
    record = svc.record()
    assert record[0] == f"count {len(expected)}", svc.trace_text()
    assert record[1 : 1 + len(expected)] == ["arg " + code_points(a) for a in expected]
    # The Java side ran on the thread that created the VM, and the service ended normally.
    assert "main-thread main" in record
    assert "in native method" not in result.out + result.err, result
    assert "CExecutor::startServiceTask Exit 0" in svc.trace_messages()


def test_class_name_with_slashes_and_expanded_references(linux):
    svc = JavaService(linux, "com/vantero/tests/RecordingService", "x")
    assert svc.run_dev().rc == 0
    assert svc.record()[:2] == ["count 1", "arg [78]"]
    # The class name, unlike the command line, has its references expanded.
    svc2 = JavaService(linux, "com.vantero.%BRONTEL_TEST_PKG%.RecordingService")
    assert svc2.run_dev(env={"BRONTEL_TEST_PKG": "tests"}).rc == 0
    assert svc2.record()[0] == "count 0"


def test_jvm_options_in_order_unknown_ignored_and_verbose_file_appended(linux):
    verbose = linux.tmp / "verbose" / "vm.log"
    verbose.parent.mkdir()
    verbose.write_text("kept from before\n")
    svc = JavaService(
        linux,
        "com.vantero.tests.RecordingService",
        options=["-Dbrontel.order=first", "-Xbrontel-no-such-option", "-Dbrontel.order=second",
                 "-XX:+PrintCommandLineFlags"],
    )
    svc.set("VerboseFile", str(linux.tmp / "%BRONTEL_VERBOSE_DIR%" / "vm.log"))
    # A gap ends the list: JVMOption9 is never read.
    svc.set(f"JVMOption{len(svc.options) + 2}", "-Dbrontel.order=ignored")
    env = {"BRONTEL_VERBOSE_DIR": "verbose"}
    assert svc.run_dev(env=env).rc == 0
    assert svc.run_dev(env=env).rc == 0
    assert svc.record().count("order second") == 2
    text = verbose.read_text()
    # The VM's own output went through the hook into the expanded path, twice, after the old text.
    assert text.startswith("kept from before\n")
    assert text.count("-XX:+PrintCommandLineFlags") == 2
    assert "CExecutor::startServiceTask Exit 0" in svc.trace_messages()


def test_without_verbose_file_the_vm_output_stays_on_the_console(linux):
    svc = JavaService(linux, "com.vantero.tests.RecordingService", options=["-XX:+PrintCommandLineFlags"])
    result = svc.run_dev()
    assert "-XX:+PrintCommandLineFlags" in result.out


def test_library_messages_and_default_name(linux):
    # Without JVMdll the registry read is traced and the system's search finds the default name.
    svc = JavaService(linux, "com.vantero.tests.RecordingService", jvm_library=None)
    result = svc.run_dev(env={"LD_LIBRARY_PATH": str(linux.jvm_library.parent)})
    assert result.rc == 0
    messages = svc.trace_messages()
    assert "JVM DLL libjvm.so loaded successfully." in messages
    assert any(m.startswith("Error getting size of value JVMdll") for m in messages), messages
    assert svc.record()[0] == "count 0"


def failure_cases(m):
    missing = str(m.tmp / "no" / "such" / "libjvm.so")
    return {
        "no-library": (dict(service_class="com.vantero.tests.RecordingService", jvm_library=missing), 13,
                       ["Cannot load the JVM DLL : " + missing,
                        "The JVM DLL should be located in your jre/bin/classic subdirectory."]),
        "no-exports": (dict(service_class="com.vantero.tests.RecordingService", jvm_library="libsqlite3.so.0"), 14,
                       ["Cannot load JNI_CreateJavaVM from the JVM DLL : libsqlite3.so.0"]),
        "vm-refuses": (dict(service_class="com.vantero.tests.RecordingService", options=["-Xssbad"]), 16,
                       ["Failed to create Java VM rc= -6"]),
        "no-class-configured": (dict(), 17, ["No Java class implementing service routines was specified."]),
        "class-not-found": (dict(service_class="com.example.Missing"), 18,
                            ["Cannot find the class com/example/Missing"]),
        "no-service-main": (dict(service_class="com.vantero.tests.NoMainService"), 19,
                            ["serviceMain method does not exist in class com/vantero/tests/NoMainService"]),
        "neither-method": (dict(service_class="com.vantero.tests.NeitherService"), 19,
                           ["serviceMain method does not exist in class com/vantero/tests/NeitherService"]),
        "no-service-control": (dict(service_class="com.vantero.tests.NoControlService"), 20,
                               ["serviceControl method does not exist in class com/vantero/tests/NoControlService"]),
        "service-main-throws": (dict(service_class="com.vantero.tests.ThrowingService"), 25,
                                ["serviceMain ended with an exception: "
                                 "java.lang.IllegalStateException: the service gave up"]),
    }


FAILURES = ["no-library", "no-exports", "vm-refuses", "no-class-configured", "class-not-found",
            "no-service-main", "neither-method", "no-service-control", "service-main-throws"]


@pytest.mark.parametrize("case", FAILURES)
def test_development_mode_start_failures(linux, case):
    kwargs, code, messages = failure_cases(linux)[case]
    svc = JavaService(linux, **kwargs)
    result = svc.run_dev()
    # Development mode has no status to report: the code shows in the trace only.
    assert result.rc == 0, result
    traced = svc.trace_messages()
    for message in messages:
        assert message in traced, svc.trace_text()
    assert f"CExecutor::startServiceTask Exit {code}" in traced
    assert "CJvm::runServiceMain Exit 0" not in traced
    # No later JNI call ran with the failed lookup's exception pending (-Xcheck:jni would say so).
    assert "in native method" not in result.out + result.err, result
    if case == "service-main-throws":
        assert "IllegalStateException" in result.err  # the stack trace for the developer


def test_development_mode_without_jvm_under_wine(machine):
    if not machine.is_windows:
        pytest.skip("shows the Windows build's default library name")
    svc = JavaService(machine, "com.vantero.tests.RecordingService", jvm_library=None)
    result = svc.run_dev()
    assert result.rc == 0
    messages = svc.trace_messages()
    assert any(m.startswith("Cannot load the JVM DLL : jvm.dll") for m in messages), svc.trace_text()
    assert "CExecutor::startServiceTask Exit 13" in messages
