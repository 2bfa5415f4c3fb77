#!/usr/bin/env python3
"""Writes the WiX source of an application's MSI package: its files, brontel.exe, and the service
that a brontel configuration file describes, for Debian's wixl.

Usage: scripts/msi_service_wxs.py --config SERVICE.conf --brontel-exe PATH\\brontel.exe
           --files DIR --folder NAME --version A.B.C --upgrade-code GUID --manufacturer TEXT
           [--linux-brontel build/linux/brontel] --out FILE.wxs
       (cd <folder of FILE.wxs> && wixl -a x64 -o FILE.msi FILE.wxs)  files are named from there

The service's settings are not read from the configuration file here: the Linux build of brontel
installs the file with -i into a throw-away stand-in registry, and this script copies what -i
wrote there (the service's own values, its Parameters values with their names and types, the
event source). A key that brontel learns is carried over without a change here, and a value that
-i would refuse stops the package from being written.

Values may name the package's folder as [INSTALLDIR] (for example
jvmOption1=-Djava.class.path=[INSTALLDIR]app.jar): Windows Installer replaces it at install.
Other square and curly brackets are kept as they are written."""

import argparse
import os
import pathlib
import re
import sqlite3
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape, quoteattr

from msi_wxs import directory_xml

REPO = pathlib.Path(__file__).resolve().parents[1]
SERVICES = "SYSTEM\\CurrentControlSet\\Services"
REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_MULTI_SZ = 1, 2, 4, 7
START = {2: "auto", 3: "demand", 4: "disabled"}
ERROR_CONTROL = {0: "ignore", 1: "normal", 3: "critical"}


def fail(text):
    sys.exit("msi_service_wxs: " + text)


def installed_by_brontel(linux_brontel, config):
    """What `brontel -i` writes for the file, as {key path: {value name: (type, data)}}."""
    with tempfile.TemporaryDirectory(prefix="brontel-msi-") as root:
        env = dict(os.environ, BRONTEL_ROOT=root)
        result = subprocess.run([str(linux_brontel), "-i", str(config)], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            fail(f"brontel -i refused {config} (exit code {result.returncode}):\n{result.stdout}")
        db = sqlite3.connect(os.path.join(root, "registry.db"))
        keys = {row[0]: (row[1], row[2]) for row in db.execute("SELECT id, parent, name FROM keys")}

        def path(key):
            parts = []
            while key in keys:
                parent, name = keys[key]
                parts.append(name)
                key = parent
            return "\\".join(reversed(parts))

        found = {}
        for key, name, type_, data in db.execute("SELECT key, name, type, data FROM vals"):
            found.setdefault(path(key), {})[name] = (type_, decode(type_, data))
        db.close()
        return found, result.stdout


def decode(type_, data):
    if type_ == REG_DWORD:
        return int.from_bytes(data[:4], "little")
    # The stand-in keeps text as the Linux build's four-byte characters.
    text = data.decode("utf-32-le")
    if type_ == REG_MULTI_SZ:
        return [item for item in text.split("\0") if item]
    return text.rstrip("\0")


def formatted(text):
    """A text for a formatted column (Windows Installer formats the service's and the registry's
    names as well as their values): brackets kept literal, except [INSTALLDIR]."""
    pieces = re.split(r"(\[INSTALLDIR\])", text)
    out = []
    for piece in pieces:
        if piece == "[INSTALLDIR]":
            out.append(piece)
        else:
            out.append(re.sub(r"([\[\]{}])", lambda m: "[\\" + m.group(1) + "]", piece))
    return "".join(out)


def registry_value(name, type_, data, pad):
    attr = f"Name={quoteattr(formatted(name))}"
    if type_ == REG_DWORD:
        return f'{pad}<RegistryValue {attr} Type="integer" Value="{data}"/>'
    if type_ == REG_MULTI_SZ:
        items = "".join(f"{pad}  <MultiStringValue>{escape(formatted(i))}</MultiStringValue>\n" for i in data)
        return f'{pad}<RegistryValue {attr} Type="multiString" Action="write">\n{items}{pad}</RegistryValue>'
    if type_ == REG_EXPAND_SZ:
        # wixl writes an expandable value as plain text; a changed type is not what -i writes.
        fail(f"the value {name} is REG_EXPAND_SZ, which wixl cannot write")
    if type_ != REG_SZ:
        fail(f"the value {name} has registry type {type_}, which this script does not write")
    return f"{pad}<RegistryValue {attr} Type=\"string\" Value={quoteattr(formatted(data))}/>"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True, type=pathlib.Path)
    parser.add_argument("--brontel-exe", required=True, type=pathlib.Path)
    parser.add_argument("--files", required=True, type=pathlib.Path)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--upgrade-code", required=True)
    parser.add_argument("--manufacturer", required=True)
    parser.add_argument("--linux-brontel", type=pathlib.Path, default=REPO / "build" / "linux" / "brontel")
    parser.add_argument("--out", required=True, type=pathlib.Path)
    args = parser.parse_args()
    if not re.fullmatch(r"\d+\.\d+\.\d+", args.version):
        fail(f"version {args.version!r} is not three numbers")
    if not args.linux_brontel.is_file():
        fail(f"no Linux build of brontel at {args.linux_brontel} (scripts/build linux)")

    values, _ = installed_by_brontel(args.linux_brontel, args.config)
    services = [k for k in values if k.startswith(SERVICES + "\\") and k.count("\\") == 3 and "ImagePath" in values[k]]
    if len(services) != 1:
        fail(f"brontel -i installed {len(services)} services, not one")
    service_key = services[0]
    name = service_key.rsplit("\\", 1)[1]
    service = values[service_key]
    image = service["ImagePath"][1]
    quoted = re.fullmatch(r'"[^"]*" (.*)', image)
    if not quoted:
        fail(f"brontel -i wrote an image path of an unexpected form: {image}")
    arguments = quoted.group(1)
    type_ = service["Type"][1]
    start = service["Start"][1]
    error_control = service["ErrorControl"][1]
    if start not in START:
        fail(f"start type {start} cannot be installed by an MSI package")
    if error_control not in ERROR_CONTROL:
        fail(f"error control {error_control} (SERVICE_ERROR_SEVERE) cannot be installed by an MSI package; use SERVICE_ERROR_NORMAL or SERVICE_ERROR_CRITICAL")
    # -i gives the account on its command line, never in the file: the package's service runs
    # as LocalSystem, as -i's does without -a.

    # What -i set that an MSI package cannot carry: said, with how to finish it.
    handled = {"Type", "Start", "ErrorControl", "ImagePath", "DisplayName", "DependOnService", "ObjectName", "Description"}
    finish = {
        "DelayedAutostart": f"sc config {name} start= delayed-auto",
        "FailureActions": f"sc failure {name} ... (the recovery actions of the configuration file)",
        "FailureActionsOnNonCrashFailures": f"sc failureflag {name} 1",
    }
    for value_name in sorted(set(service) - handled):
        how = finish.get(value_name, "brontel -i on the machine")
        print(f"msi_service_wxs: the package does not set the service's {value_name}; after installing run: {how}", file=sys.stderr)
    for key in sorted(values):
        if key.startswith(service_key + "\\") and not key.startswith(service_key + "\\Parameters"):
            print(f"msi_service_wxs: the package does not set {key[len(service_key) + 1:]} of the service (brontel -i sets the service's security; the package leaves Windows' default)", file=sys.stderr)

    pad = " " * 12
    service_xml = [
        f"{pad}<ServiceInstall Id=\"Service\" Name={quoteattr(formatted(name))} DisplayName={quoteattr(formatted(service['DisplayName'][1]))}"
        f" Type=\"ownProcess\" Interactive=\"{'yes' if type_ & 0x100 else 'no'}\" Start=\"{START[start]}\""
        f" ErrorControl=\"{ERROR_CONTROL[error_control]}\" Arguments={quoteattr(formatted(arguments))}"
        + (f" Description={quoteattr(formatted(service['Description'][1]))}" if "Description" in service else "")
        + ">"
    ]
    for dependency in service.get("DependOnService", (REG_MULTI_SZ, []))[1]:
        service_xml.append(f"{pad}  <ServiceDependency Id={quoteattr(formatted(dependency))}/>")
    service_xml.append(f"{pad}</ServiceInstall>")
    service_xml.append(f'{pad}<ServiceControl Id="ServiceControl" Name={quoteattr(formatted(name))} Start="install" Stop="both" Remove="uninstall" Wait="yes"/>')

    registry = []
    for key in sorted(values):
        if not key.startswith(service_key + "\\Parameters") and not key == SERVICES + "\\EventLog\\Application\\" + name:
            continue
        registry.append(f"{pad}<RegistryKey Root=\"HKLM\" Key={quoteattr(formatted(key))}>")
        for value_name, (value_type, data) in sorted(values[key].items()):
            if value_name == "EventMessageFile":
                # The event source's messages are in the brontel.exe the package installs. -i
                # writes the full path as REG_EXPAND_SZ; wixl can write it as REG_SZ only, which
                # the event log reads the same as the path holds no reference.
                registry.append(f'{pad}  <RegistryValue Name="EventMessageFile" Type="string" Value="[#brontel.exe]"/>')
                continue
            registry.append(registry_value(value_name, value_type, data, pad + "  "))
        registry.append(f"{pad}</RegistryKey>")

    ids = set()
    components = []
    base = args.out.parent.resolve()
    files = args.files.resolve()
    tree = directory_xml(files, files, "yes", ids, components, 5,
                         lambda entry: os.path.relpath(entry, base))
    text = f"""<?xml version="1.0" encoding="utf-8"?>
<!-- Written by scripts/msi_service_wxs.py from {args.config.name}; do not edit. -->
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name={quoteattr(service['DisplayName'][1])} Language="1033" Version="{args.version}"
           Manufacturer={quoteattr(args.manufacturer)} UpgradeCode="{args.upgrade_code}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"/>
    <MajorUpgrade DowngradeErrorMessage="A newer version is already installed."/>
    <Media Id="1" Cabinet="app.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name={quoteattr(args.folder)}>
          <Component Id="brontel.exe" Guid="*" Win64="yes">
            <File Id="brontel.exe" Name="brontel.exe" Source={quoteattr(os.path.relpath(args.brontel_exe.resolve(), base))} KeyPath="yes"/>
{chr(10).join(service_xml)}
{chr(10).join(registry)}
          </Component>
{chr(10).join(tree)}
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Application" Level="1">
      <ComponentRef Id="brontel.exe"/>
{chr(10).join(f'      <ComponentRef Id={quoteattr(c)}/>' for c in components)}
    </Feature>
  </Product>
</Wix>
"""
    args.out.write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main()
