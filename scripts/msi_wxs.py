#!/usr/bin/env python3
"""Writes the WiX source of brontel's own MSI package from a staged folder, for Debian's wixl.

Usage: scripts/msi_wxs.py --arch x64|x86 --version A.B.C --stage DIR --out FILE.wxs
       scripts/msi_wxs.py --print-version VERSION   the MSI version (three numbers) of a version
       (cd DIR && wixl -a x64|x86 -o FILE.msi FILE.wxs)  the sources are named from the stage

The staged folder holds what goes into %ProgramFiles%\\brontel: brontel.exe (of the package's
bitness), java\\brontel.jar, example\\..., admin-guide.md. Every file becomes a component of its
own, so that a file added to the folder needs no change here. The upgrade code never changes:
it is what lets a newer version replace an older one."""

import argparse
import pathlib
import re
import sys
from xml.sax.saxutils import quoteattr

UPGRADE_CODE = {"x64": "3C2B8E1A-6F40-4B8D-9E57-0A1D5C7F2B64", "x86": "9D4E7B20-1A6C-4F3E-8B52-7C0E2A9F4D13"}
MANUFACTURER = "Orvane"


def msi_version(text):
    """The first three numbers of a version; an MSI version is numbers only."""
    found = re.match(r"v?(\d+)\.(\d+)\.(\d+)", text)
    if not found:
        sys.exit(f"msi_wxs: version {text!r} does not start with three numbers")
    major, minor, build = (int(n) for n in found.groups())
    if major > 255 or minor > 255 or build > 65535:
        sys.exit(f"msi_wxs: version {text!r} is beyond what an MSI can hold (255.255.65535)")
    return f"{major}.{minor}.{build}"


def ident(prefix, relative, ids):
    """A WiX identifier for a path: letters, digits, dots and underscores, unique."""
    base = prefix + re.sub(r"[^A-Za-z0-9_.]", "_", str(relative))[-60:]
    name, n = base, 1
    while name in ids:
        n += 1
        name = f"{base}_{n}"
    ids.add(name)
    return name


def directory_xml(folder, stage, win64, ids, components, depth, source=None):
    """The WiX lines of a folder's tree, one component a file; `source` gives a file's Source
    (default: its path below `stage`)."""
    pad = "  " * depth
    lines = []
    for entry in sorted(folder.iterdir()):
        relative = entry.relative_to(stage)
        if entry.is_dir():
            lines.append(f"{pad}<Directory Id={quoteattr(ident('d_', relative, ids))} Name={quoteattr(entry.name)}>")
            lines += directory_xml(entry, stage, win64, ids, components, depth + 1, source)
            lines.append(f"{pad}</Directory>")
        else:
            component = ident("c_", relative, ids)
            components.append(component)
            where = source(entry) if source else relative.as_posix()
            lines.append(f'{pad}<Component Id={quoteattr(component)} Guid="*" Win64="{win64}">')
            lines.append(
                f"{pad}  <File Id={quoteattr(ident('f_', relative, ids))} Name={quoteattr(entry.name)}"
                f" Source={quoteattr(where)} KeyPath=\"yes\"/>"
            )
            lines.append(f"{pad}</Component>")
    return lines


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--print-version":
        print(msi_version(sys.argv[2]))
        return
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=["x64", "x86"], required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--stage", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    args = parser.parse_args()
    if not (args.stage / "brontel.exe").is_file():
        sys.exit(f"msi_wxs: {args.stage} holds no brontel.exe")
    win64 = "yes" if args.arch == "x64" else "no"
    program_files = "ProgramFiles64Folder" if args.arch == "x64" else "ProgramFilesFolder"
    ids = set()
    components = []
    tree = directory_xml(args.stage, args.stage, win64, ids, components, 5)
    bits = "64-bit" if args.arch == "x64" else "32-bit"
    version = msi_version(args.version)
    major, minor, build = (int(n) for n in version.split("."))
    if build == 65535:
        sys.exit(f"msi_wxs: version {version} leaves no room above it for the upgrade's range")
    above = f"{major}.{minor}.{build + 1}"
    text = f"""<?xml version="1.0" encoding="utf-8"?>
<!-- Written by scripts/msi_wxs.py; do not edit. -->
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="brontel ({bits})" Language="1033" Version="{version}"
           Manufacturer="{MANUFACTURER}" UpgradeCode="{UPGRADE_CODE[args.arch]}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="brontel {args.version}: runs Java programs as Windows services"
             Manufacturer="{MANUFACTURER}"/>
    <!-- A newer version replaces an older one, and the same version installed again replaces
         itself (a repair): the range ends just above this version, as wixl cannot include a
         maximum. An older version is refused. -->
    <Upgrade Id="{UPGRADE_CODE[args.arch]}">
      <UpgradeVersion Minimum="0.0.0" Maximum="{above}" IncludeMinimum="yes"
                      Property="BRONTEL_OLDER_FOUND"/>
      <UpgradeVersion Minimum="{above}" IncludeMinimum="yes" OnlyDetect="yes"
                      Property="BRONTEL_NEWER_FOUND"/>
    </Upgrade>
    <Condition Message="A newer version of brontel is already installed.">NOT BRONTEL_NEWER_FOUND</Condition>
    <Media Id="1" Cabinet="brontel.cab" EmbedCab="yes"/>
    <Property Id="ARPCOMMENTS" Value="brontel {args.version} ({bits})"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <!-- Programs and Features links to the guide installed beside the program: set once the
         folder is known (CostFinalize is 1000). -->
    <CustomAction Id="SetHelpLink" Property="ARPHELPLINK" Value="[INSTALLDIR]admin-guide.md"/>
    <InstallExecuteSequence>
      <Custom Action="SetHelpLink" Sequence="1001"/>
      <RemoveExistingProducts After="InstallValidate"/>
    </InstallExecuteSequence>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="{program_files}">
        <Directory Id="INSTALLDIR" Name="brontel">
{chr(10).join(tree)}
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="brontel" Title="brontel" Level="1">
{chr(10).join(f'      <ComponentRef Id={quoteattr(c)}/>' for c in components)}
    </Feature>
  </Product>
</Wix>
"""
    args.out.write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main()
