"""The Windows release bundle that scripts/package writes: what it holds, and that the 64-bit
program in it runs under Wine and installs the bundled example configuration.

The bundle is found through $BRONTEL_PACKAGE (scripts/test sets it) or as the bundle of the
current version in dist/; without one the tests are skipped (run scripts/package first)."""

import os
import pathlib
import re
import struct
import subprocess
import zipfile

import pytest

from conftest import REPO, Machine, _wanted_builds

PE_MACHINE = {"x64/brontel.exe": 0x8664, "x86/brontel.exe": 0x014C}


def _bundle_path():
    given = os.environ.get("BRONTEL_PACKAGE")
    if given:
        return pathlib.Path(given)
    result = subprocess.run([str(REPO / "scripts" / "package"), "--path"], stdout=subprocess.PIPE, text=True)
    return pathlib.Path(result.stdout.strip()) if result.returncode == 0 else None


@pytest.fixture(scope="module")
def bundle():
    path = _bundle_path()
    if path is None or not path.exists():
        pytest.skip("no release bundle for this version (run scripts/package)")
    with zipfile.ZipFile(path) as archive:
        yield archive


@pytest.fixture
def unpacked(bundle, tmp_path):
    bundle.extractall(tmp_path / "bundle")
    return tmp_path / "bundle"


def _pe_machine(data):
    assert data[:2] == b"MZ"
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe : pe + 4] == b"PE\0\0"
    return struct.unpack_from("<H", data, pe + 4)[0]


def test_bundle_holds_both_programs_the_jar_the_example_and_the_guide(bundle):
    names = set(bundle.namelist())
    for exe, machine_type in PE_MACHINE.items():
        assert exe in names
        assert _pe_machine(bundle.read(exe)) == machine_type, exe
    assert "java/brontel.jar" in names
    assert "admin-guide.md" in names
    assert "example/example-service.conf" in names
    sources = [n for n in names if n.startswith("example/src/") and n.endswith(".java")]
    classes = [n for n in names if n.startswith("example/classes/") and n.endswith(".class")]
    assert sources and classes
    # Every example source has its compiled class, in the package directory the JVM expects.
    for source in sources:
        relative = source[len("example/src/") : -len(".java")]
        assert "example/classes/" + relative + ".class" in names, source
    # Nothing else: no build trees, logs or scratch files.
    files = {n for n in names if not n.endswith("/")}
    expected = set(PE_MACHINE) | {"java/brontel.jar", "admin-guide.md", "example/example-service.conf"}
    assert files - expected == set(sources) | set(classes)


def test_bundled_jar_holds_the_manager_class(bundle, tmp_path):
    jar_path = tmp_path / "brontel.jar"
    jar_path.write_bytes(bundle.read("java/brontel.jar"))
    with zipfile.ZipFile(jar_path) as jar:
        assert "com/vantero/core/orb/BrontelManager.class" in jar.namelist()


def test_bundled_example_configuration_is_written_for_windows(bundle):
    text = bundle.read("example/example-service.conf").decode("ascii")
    lines = [line for line in text.splitlines() if line and not line.startswith("#")]
    keys = {line.split("=", 1)[0].strip().lower(): line.split("=", 1)[1].strip() for line in lines}
    for required in ("servicedisplayname", "servicename", "ibrontelclass"):
        assert required in keys
    assert keys.get("jvmdll", "jvm.dll").lower().endswith("jvm.dll")
    # No Linux paths or unfilled placeholders are left in the active lines.
    for line in lines:
        assert "/usr/" not in line and "libjvm" not in line and "@" not in line, line
    class_path = [v for k, v in keys.items() if k.startswith("jvmoption") and "java.class.path" in v]
    assert class_path and ";" in class_path[0] and "brontel.jar" in class_path[0]
    # Under a folder only administrators can change, never a new folder in a drive's root.
    for entry in class_path[0].split("=", 1)[1].split(";"):
        assert entry.startswith("%ProgramFiles%\\brontel\\"), entry


def test_guide_is_the_projects_own(bundle):
    guide = bundle.read("admin-guide.md").decode("utf-8")
    assert guide.startswith("# ")
    assert not re.search(r"\bspec(ification)?\b|\bPart \d", guide, re.IGNORECASE)
    assert (REPO / "docs" / "admin-guide.md").read_text(encoding="utf-8") == guide


@pytest.fixture
def wine_machine(request, tmp_path):
    if "win64" not in _wanted_builds():
        pytest.skip("the win64 build is not among BRONTEL_E2E_BUILDS")
    return Machine("win64", tmp_path, request.getfixturevalue("wineprefix"))


def test_bundled_example_installs_lists_and_removes_under_wine(unpacked, wine_machine):
    machine = wine_machine
    machine.exe = unpacked / "x64" / "brontel.exe"
    # A name of this run's own, so the shared Wine registry keeps no clash between runs.
    name = machine.unique("brexample")
    conf = machine.tmp / "example.conf"
    text = (unpacked / "example" / "example-service.conf").read_text(encoding="ascii")
    conf.write_text(re.sub(r"(?mi)^serviceName=.*$", "serviceName=" + name, text), encoding="ascii")
    installed = machine.run(["-i", machine.path(conf)])
    try:
        assert installed.rc == 0, installed
        assert "Service successfully installed." in installed.out
        listing = machine.run(["-b"])
        assert any(line.startswith(name + " : ") for line in listing.lines), listing
        report = machine.run(["-d", name])
        assert "serviceName=" + name in report.lines
        assert any(line.lower().startswith("ibrontelclass=") for line in report.lines)
    finally:
        removed = machine.run(["-r", name])
    assert removed.rc == 0, removed
    assert f"Service {name} deleted successfully." in removed.out
