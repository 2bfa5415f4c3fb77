"""An application's service as one MSI package, written by scripts/msi_service_wxs.py from a
brontel configuration file and installed by Wine's msiexec, against the VM test double: the
package installs and starts the service as -i would install it, stops it, upgrades it with a
changed option and removes it."""

import os
import subprocess

import pytest

from conftest import REPO, WINE
from runtime_support import wait_until
from test_msi import table
from test_windows_vm import runtime

UPGRADE_CODE = "5E0C7A31-2B9D-4C48-A1F6-93D2E7B04C85"


@pytest.fixture
def win(machine):
    if not machine.is_windows:
        pytest.skip("msiexec and the VM test double are Windows programs")
    return machine


def package(m, name, folder, version, option, record):
    """The configuration file and the package built from it, in a folder of their own."""
    work = m.tmp / f"pkg-{version}"
    (work / "files" / "lib").mkdir(parents=True)
    (work / "files" / "lib" / "app.jar").write_text(f"the application, version {version}\n")
    home = runtime(m, name=f"rt-{version}")
    config = work / "service.conf"
    config.write_text(
        "serviceDisplayName=MSI Test Service\n"
        f"serviceName={name}\n"
        "ibrontelClass=vmdouble.Running\n"
        "description=Installed by an MSI package\n"
        "startType=SERVICE_DEMAND_START\n"
        f"jvmDLL={m.path(home / 'bin' / 'server' / 'jvm.dll')}\n"
        f"jvmOption1=-Dvmdouble.record={m.path(record)}\n"
        f"jvmOption2=-Dmsi.option={option}\n"
        "jvmOption3=-Dapp.jar=[INSTALLDIR]lib\\app.jar\n"
        "commandLineParms=one \"two words\"\n"
    )
    wxs = work / "app.wxs"
    generated = subprocess.run(
        [str(REPO / "scripts" / "msi_service_wxs.py"), "--config", str(config), "--brontel-exe", str(m.exe),
         "--files", str(work / "files"), "--folder", folder, "--version", version,
         "--upgrade-code", UPGRADE_CODE, "--manufacturer", "brontel tests", "--out", str(wxs)],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert generated.returncode == 0, generated.stdout
    msi = work / "app.msi"
    built = subprocess.run(["wixl", "-a", "x64", "-o", str(msi), str(wxs)], cwd=work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert built.returncode == 0, built.stdout
    return config, msi


def test_brackets_in_names_stay_literal_in_the_package(linux):
    # Windows Installer formats the service's name, its dependencies and the registry's key and
    # value names as well as the values: a bare bracket there names a property.
    work = linux.tmp
    (work / "files").mkdir()
    (work / "files" / "app.jar").write_text("jar\n")
    config = work / "odd.conf"
    config.write_text("serviceDisplayName=D\nserviceName=app[1]{x}\nibrontelClass=a.B\n"
                      "serviceDependencies=dep[2],Tcpip\n")
    wxs, msi = work / "odd.wxs", work / "odd.msi"
    subprocess.run([str(REPO / "scripts" / "msi_service_wxs.py"), "--config", str(config), "--brontel-exe", str(linux.exe),
                    "--files", str(work / "files"), "--folder", "Odd", "--version", "1.0.0", "--upgrade-code", UPGRADE_CODE,
                    "--manufacturer", "brontel tests", "--linux-brontel", str(linux.exe), "--out", str(wxs)], check=True)
    subprocess.run(["wixl", "-a", "x64", "-o", str(msi), str(wxs)], cwd=work, check=True)
    literal = "app[\\[]1[\\]][\\{]x[\\}]"
    [service] = table(msi, "ServiceInstall")
    assert service[1] == literal and service[7] == "dep[\\[]2[\\]][~]Tcpip[~][~]"
    assert [row[1] for row in table(msi, "ServiceControl")] == [literal]
    keys = {row[2] for row in table(msi, "Registry")}
    assert keys == {f"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\{literal}\\",
                    f"SYSTEM\\CurrentControlSet\\Services\\{literal}\\Parameters\\"}


def report(m, name):
    result = m.run(["-d", name])
    assert result.rc == 0, result
    return result.out


def test_application_package_installs_runs_upgrades_and_removes_its_service(win, wineprefix):
    m = win
    name = m.unique("msisvc")
    folder = "Msi Test " + name
    installed = wineprefix / "drive_c" / "Program Files" / folder
    program = rf"C:\Program Files\{folder}\brontel.exe"
    record = m.tmp / "record.txt"
    env = dict(os.environ, WINEPREFIX=str(wineprefix), WINEDEBUG="-all")

    def msiexec(*args):
        return subprocess.run([WINE, "msiexec", *args, "/qn"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300).returncode

    def svc(*args):
        return m.tool("svctool", [args[0], name, *map(str, args[1:])])

    def options():
        return [line for line in record.read_text().splitlines() if line.startswith("option -D")] if record.exists() else []

    config, first = package(m, name, folder, "1.0.0", "one", record)
    _, second = package(m, name, folder, "1.0.1", "two", record)
    try:
        # Installed silently and started at once.
        assert msiexec("/i", str(first)) == 0
        assert (installed / "lib" / "app.jar").is_file() and (installed / "brontel.exe").is_file()
        assert svc("wait", "RUNNING", 60000).rc == 0
        wait_until(lambda: "option -Dmsi.option=one" in options(), "the VM to get the package's options")
        assert f"option -Dapp.jar=C:\\Program Files\\{folder}\\lib\\app.jar" in options()
        assert any(line.startswith(f"{name} : MSI Test Service") for line in m.run(["-b"]).lines)
        from_package = report(m, name)
        # Stopped and started again by the Service Control Manager.
        assert svc("stop").rc == 0 and svc("wait", "STOPPED", 60000).rc == 0
        assert svc("start").rc == 0 and svc("wait", "RUNNING", 60000).rc == 0
        # A newer package replaces the older one and restarts the service with its option.
        assert msiexec("/i", str(second)) == 0
        assert svc("wait", "RUNNING", 60000).rc == 0
        wait_until(lambda: "option -Dmsi.option=two" in options(), "the upgraded service to run")
        assert (installed / "lib" / "app.jar").read_text() == "the application, version 1.0.1\n"
        # Removed: the service and its files are gone.
        assert msiexec("/x", str(second)) == 0
        assert svc("query").rc != 0
        assert m.reg_get(r"SYSTEM\CurrentControlSet\Services" + "\\" + name, "ImagePath") is None
        assert not installed.exists()
        # -i of the same configuration, run from the package's folder, reports the same.
        config.write_text(config.read_text().replace("[INSTALLDIR]", f"C:\\Program Files\\{folder}\\") + f"binaryPath={program}\n")
        assert m.run(["-i", m.path(config)]).rc == 0
        warning = "Warning: the service's image path is not quoted"
        # Wine's msiexec writes the image path without quotes (Windows quotes it).
        assert warning in from_package
        assert [l for l in from_package.splitlines() if not l.startswith(warning)] == report(m, name).splitlines()
    finally:
        svc("stop")
        svc("wait", "STOPPED", 30000)
        msiexec("/x", str(second))
        msiexec("/x", str(first))
        m.run(["-r", name])
