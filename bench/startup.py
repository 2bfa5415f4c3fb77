#!/usr/bin/env python3
"""Start-up cost of hosting a Java service in brontel, against the JDK's own launcher.

Measures, for the same class and the same JVM, the time from starting the process to the first
statement of its serviceMain (brontel -x) or main (java), and the resident memory of the process
at that moment. Runs them side by side, alternating, and prints the medians and their ratios:
brontel with only the program's classes on the class path (it defines its own copy of the bridge
class) against the bare launcher, and brontel with brontel.jar on the class path against the
launcher that also loads the bridge class from brontel.jar.
Figures only: nothing is asserted.

  bench/startup.py [--runs N] [--build build/linux] [--java-home /usr/lib/jvm/java-17-openjdk-amd64]
"""

import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def measure(command, env):
    """Seconds from spawning to the probe's first statement, and the RSS then (KiB)."""
    start = time.time()
    proc = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        for line in proc.stdout:
            if line.startswith("STARTED "):
                started = int(line.split()[1]) / 1e6
                break
        else:
            raise RuntimeError(f"{command[0]} never reached the probe: {proc.stderr.read()}")
        rss = resident_kib(proc.pid)
    finally:
        proc.stdin.close()
        proc.wait(timeout=60)
    return started - start, rss


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--build", default=str(REPO / "build" / "linux"))
    parser.add_argument("--java-home", default=os.environ.get(
        "BRONTEL_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
    args = parser.parse_args()

    build = pathlib.Path(args.build).resolve()
    java_home = pathlib.Path(args.java_home)
    brontel = build / "brontel"
    regtool = build / "tests" / "regtool"
    for needed in (brontel, regtool, build / "java" / "brontel.jar", java_home / "bin" / "javac"):
        if not needed.exists():
            sys.exit(f"missing {needed}: build the Linux preset first")

    work = pathlib.Path(tempfile.mkdtemp(prefix="brontel-bench-"))
    try:
        classes = work / "classes"
        subprocess.run([str(java_home / "bin" / "javac"), "-d", str(classes),
                        str(REPO / "bench" / "StartupProbe.java")], check=True)
        # brontel registers its natives on the bridge class: from brontel.jar when the class path
        # has it, else from brontel's own copy. Each launcher case gets the same class path.
        with_jar = os.pathsep.join([str(classes), str(build / "java" / "brontel.jar")])
        env = dict(os.environ, BRONTEL_ROOT=str(work / "root"))
        for service, classpath in [("BrontelBench", str(classes)), ("BrontelBenchJar", with_jar)]:
            key = "SYSTEM\\CurrentControlSet\\Services\\" + service + "\\Parameters"
            for name, value in [("JVMdll", str(java_home / "lib" / "server" / "libjvm.so")),
                                ("JVMOption1", "-Djava.class.path=" + classpath),
                                ("IBrontelClass", "StartupProbe")]:
                subprocess.run([str(regtool), "set", key, name, "sz", value], env=env, check=True)

        java = str(java_home / "bin" / "java")
        cases = {
            "brontel -x": [str(brontel), "-x", "BrontelBench"],
            "java": [java, "-cp", str(classes), "StartupProbe"],
            "brontel+jar": [str(brontel), "-x", "BrontelBenchJar"],
            # The launcher loading the bridge class from brontel.jar, as brontel does when the
            # class path has it.
            "java+bridge": [java, "-cp", with_jar, "StartupProbe", "bridge"],
        }
        results = {name: ([], []) for name in cases}
        for command in cases.values():  # warm the file cache for all
            measure(command, env)
        for _ in range(args.runs):
            for name, command in cases.items():
                seconds, rss = measure(command, env)
                results[name][0].append(seconds)
                results[name][1].append(rss)

        print(f"start-up to the first statement of serviceMain, median of {args.runs} runs each")
        print(f"{'':12} {'time ms':>9} {'min ms':>8} {'RSS MiB':>9}")
        medians = {}
        for name, (times, rss) in results.items():
            medians[name] = (statistics.median(times), statistics.median(rss) / 1024)
            print(f"{name:12} {medians[name][0] * 1000:9.1f} {min(times) * 1000:8.1f} {medians[name][1]:9.1f}")
        for ours, baseline in (("brontel -x", "java"), ("brontel+jar", "java+bridge")):
            time_ratio = medians[ours][0] / medians[baseline][0]
            best_ratio = min(results[ours][0]) / min(results[baseline][0])
            rss_delta = medians[ours][1] - medians[baseline][1]
            # On a busy machine the medians wander; the best runs show the cost without the noise.
            print(f"{ours} / {baseline} time ratio: {time_ratio:.3f} median "
                  f"({(time_ratio - 1) * 100:+.1f}%), {best_ratio:.3f} best ({(best_ratio - 1) * 100:+.1f}%)")
            print(f"{ours} - {baseline} resident memory: {rss_delta:+.1f} MiB")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
