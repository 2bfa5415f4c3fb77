"""brontel's own MSI packages that scripts/package writes beside the bundle: what they hold, and
that Wine's msiexec installs, upgrades, repairs and removes them silently.

The packages are those of the current version in dist/; without them the tests are skipped (run
scripts/package first)."""

import os
import pathlib
import re
import struct
import subprocess

import pytest

from conftest import REPO, WINE

# The upgrade codes are a promise to administrators: a new one would install beside the old.
UPGRADE_CODE = {"x64": "{3C2B8E1A-6F40-4B8D-9E57-0A1D5C7F2B64}", "x86": "{9D4E7B20-1A6C-4F3E-8B52-7C0E2A9F4D13}"}
PE_MACHINE = {"x64": 0x8664, "x86": 0x014C}
PROGRAM_FILES = {"x64": "Program Files", "x86": "Program Files (x86)"}
# Programs and Features: a 32-bit package's entry is in the registry's 32-bit view.
UNINSTALL = {
    "x64": r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall",
    "x86": r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall",
}


def _package(arch):
    result = subprocess.run([str(REPO / "scripts" / "package"), "--msi-path", arch], stdout=subprocess.PIPE, text=True)
    return pathlib.Path(result.stdout.strip()) if result.returncode == 0 else None


@pytest.fixture(params=["x64", "x86"])
def package(request):
    path = _package(request.param)
    if path is None or not path.exists():
        pytest.skip("no MSI package for this version (run scripts/package)")
    return request.param, path


def table(msi, name):
    out = subprocess.run(["msiinfo", "export", str(msi), name], stdout=subprocess.PIPE, text=True, check=True).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def properties(msi):
    return {row[0]: row[1] for row in table(msi, "Property")}


def extract(msi, target):
    subprocess.run(["msiextract", "-C", str(target), str(msi)], stdout=subprocess.DEVNULL, check=True)
    found = list(target.rglob("brontel.exe"))
    assert len(found) == 1, found
    return found[0].parent


def test_package_holds_the_program_of_its_bitness_and_says_what_it_is(package, tmp_path):
    arch, msi = package
    version = re.match(r"brontel-(.*)-" + arch + r"\.msi$", msi.name).group(1)
    props = properties(msi)
    assert props["UpgradeCode"] == UPGRADE_CODE[arch]
    assert props["Manufacturer"] == "Orvane"
    assert props["ProductName"] == f"brontel ({'64' if arch == 'x64' else '32'}-bit)"
    assert props["ProductVersion"] == ".".join(re.match(r"(\d+)\.(\d+)\.(\d+)", version).groups())
    assert props["ALLUSERS"] == "1"
    summary = subprocess.run(["msiinfo", "suminfo", str(msi)], stdout=subprocess.PIPE, text=True).stdout
    assert f"Template: {'x64' if arch == 'x64' else 'Intel'};1033" in summary
    # Into brontel under the Program Files of the package's bitness.
    directories = {row[0]: row for row in table(msi, "Directory")}
    assert directories["INSTALLDIR"][1:] == ["ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder", "brontel"]
    names = sorted(row[2] for row in table(msi, "File"))
    for expected in ["brontel.exe", "brontel.jar", "admin-guide.md", "example-service.conf"]:
        assert expected in names
    assert any(name.endswith(".class") for name in names) and any(name.endswith(".java") for name in names)
    # The package installs no service and controls none: removal leaves services alone.
    assert table(msi, "ServiceInstall") == [] and table(msi, "ServiceControl") == []
    root = extract(msi, tmp_path / "x")
    data = (root / "brontel.exe").read_bytes()
    (offset,) = struct.unpack_from("<I", data, 0x3C)
    assert struct.unpack_from("<H", data, offset + 4)[0] == PE_MACHINE[arch]
    assert (root / "admin-guide.md").read_bytes() == (REPO / "docs" / "admin-guide.md").read_bytes()


def _older(msi, arch, tmp_path):
    """The same files as an older version's package, built the way scripts/package builds."""
    props = properties(msi)
    major, minor, build = (int(n) for n in props["ProductVersion"].split("."))
    assert (major, minor, build) > (0, 0, 0)
    stage = extract(msi, tmp_path / "older")
    (stage / "admin-guide.md").write_text("the older guide\n")
    wxs = tmp_path / "older.wxs"
    subprocess.run([str(REPO / "scripts" / "msi_wxs.py"), "--arch", arch, "--version", "0.0.0", "--stage", str(stage), "--out", str(wxs)], check=True)
    older = tmp_path / "older.msi"
    subprocess.run(["wixl", "-a", arch, "-o", str(older), str(wxs)], cwd=stage, check=True)
    return older


def test_silent_install_upgrade_repair_and_removal_under_wine(package, wineprefix, tmp_path):
    arch, msi = package
    env = dict(os.environ, WINEPREFIX=str(wineprefix), WINEDEBUG="-all")
    folder = wineprefix / "drive_c" / PROGRAM_FILES[arch] / "brontel"
    older = _older(msi, arch, tmp_path)

    def msiexec(*args):
        return subprocess.run([WINE, "msiexec", *args], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300).returncode

    def entries():
        out = subprocess.run([WINE, "reg", "query", UNINSTALL[arch], "/s"], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        found = []
        for block in out.replace("\r\n", "\n").split("\n\n"):
            if re.search(r"DisplayName\s+REG_SZ\s+brontel \(", block):
                found.append(dict(re.findall(r"^\s+(\w+)\s+REG_\w+ *(.*)$", block, re.M)))
        return [e for e in found if e["DisplayName"] == properties(msi)["ProductName"]]

    try:
        assert msiexec("/i", str(older), "/qn") == 0
        assert (folder / "admin-guide.md").read_text() == "the older guide\n"
        assert [e["DisplayVersion"] for e in entries()] == ["0.0.0"]
        # A newer version replaces the older one: one entry, the new files.
        assert msiexec("/i", str(msi), "/qn") == 0
        installed = entries()
        assert [e["DisplayVersion"] for e in installed] == [properties(msi)["ProductVersion"]]
        assert installed[0]["Publisher"] == "Orvane"
        assert installed[0]["HelpLink"] == f"C:\\{PROGRAM_FILES[arch]}\\brontel\\admin-guide.md"
        assert (folder / "admin-guide.md").read_bytes() == (REPO / "docs" / "admin-guide.md").read_bytes()
        # The same version again repairs a lost file and stays one entry.
        (folder / "java" / "brontel.jar").unlink()
        assert msiexec("/i", str(msi), "/qn") == 0
        assert (folder / "java" / "brontel.jar").is_file() and len(entries()) == 1
        # An older version is refused and changes nothing (ERROR_INSTALL_FAILURE, 1603).
        assert msiexec("/i", str(older), "/qn") == 1603 & 0xFF
        assert (folder / "admin-guide.md").read_bytes() == (REPO / "docs" / "admin-guide.md").read_bytes()
        assert msiexec("/x", str(msi), "/qn") == 0
        assert entries() == [] and not folder.exists()
    finally:
        msiexec("/x", str(msi), "/qn")
        msiexec("/x", str(older), "/qn")
