"""What the Linux build's benchmarks share: their command line and a Java test service's values."""

import argparse
import os
import pathlib
import sys

REPO = pathlib.Path(__file__).resolve().parents[1]
SERVICES = r"SYSTEM\CurrentControlSet\Services"


def linux_arguments(doc, runs, *extra):
    """The common --runs, --build and --java-home, plus (flag, default) pairs of a benchmark's own;
    exits when the Linux build lacks what the benchmarks run."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--runs", type=int, default=runs)
    for flag, default in extra:
        parser.add_argument(flag, type=int, default=default)
    parser.add_argument("--build", default=str(REPO / "build" / "linux"))
    parser.add_argument("--java-home", default=os.environ.get(
        "BRONTEL_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
    args = parser.parse_args()
    args.build = pathlib.Path(args.build).resolve()
    args.java_home = pathlib.Path(args.java_home)
    for needed in ("brontel", "tests/regtool", "tests/svctool", "java/testclasses"):
        if not (args.build / needed).exists():
            sys.exit(f"missing {args.build / needed}: build the Linux preset first")
    return args


def configure_java_service(tool, build, java_home, name, out, option, service_class):
    """Writes the Parameters of a test service class that records into `out`."""
    key = SERVICES + "\\" + name + r"\Parameters"
    java = build / "java"
    classpath = os.pathsep.join([str(java / "brontel.jar"), str(java / "testclasses")])
    for value_name, value in [
        ("JVMdll", str(java_home / "lib" / "server" / "libjvm.so")),
        ("JVMOption1", "-Djava.class.path=" + classpath),
        ("JVMOption2", "-Dbrontel.test.out=" + str(out)),
        ("JVMOption3", option),
        ("IBrontelClass", service_class),
    ]:
        tool("regtool", "set", key, value_name, "sz", value)
