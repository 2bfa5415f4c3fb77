#!/usr/bin/env python3
"""Latency of a service control, from the sender to the Java serviceControl call.

Two roads, each measured many times in one run with a running test service:
  pipe     from spawning "brontel -s NAME 4" to serviceControl(4) in a development-mode (-x)
           instance, through its control pipe;
  manager  from spawning "svctool control NAME 4" (ControlService) to serviceControl(4) in the
           same service running under the stand-in Service Control Manager (-Z).
Beside each, the cost of starting and ending a process that does nothing (brontel -?, and the
svctool usage line) measured in the same run, so what the road itself adds can be read off.
Prints medians (and the spread); nothing is asserted.

  bench/control_latency.py [--runs N] [--build build/linux] [--java-home DIR]
"""

import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from bench_common import configure_java_service, linux_arguments  # noqa: E402


def wait_for(condition, what, timeout=60):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            sys.exit("gave up waiting for " + what)
        time.sleep(0.001)


class Bench:
    def __init__(self, build, java_home, work):
        self.build = build
        self.work = work
        self.env = dict(os.environ, BRONTEL_ROOT=str(work / "root"))
        self.brontel = str(build / "brontel")
        self.out = work / "record.txt"
        self.java_home = java_home

    def tool(self, name, *args, check=True):
        return subprocess.run([str(self.build / "tests" / name), *args], env=self.env, check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def configure(self, name):
        configure_java_service(self.tool, self.build, self.java_home, name, self.out,
                               "-Dbrontel.test.timestamps=true", "com.vantero.tests.SignalService")

    def controls(self):
        if not self.out.exists():
            return []
        return [l.split() for l in self.out.read_text().splitlines() if l.startswith("control ")]

    def timed_control(self, command):
        """Seconds from spawning `command` to the Java call it causes."""
        before = len(self.controls())
        start = time.time_ns()
        subprocess.run(command, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        line = wait_for(lambda: self.controls()[before:] and self.controls()[before], "the control")
        return (int(line[2]) - start) / 1e9

    def process_cost(self, command):
        start = time.time_ns()
        subprocess.run(command, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return (time.time_ns() - start) / 1e9


def report(label, samples):
    ms = sorted(s * 1000 for s in samples)
    quartiles = statistics.quantiles(ms, n=4) if len(ms) > 1 else [ms[0]] * 3
    print(f"  {label:<44} median {statistics.median(ms):8.2f} ms"
          f"   (quartiles {quartiles[0]:.2f} .. {quartiles[2]:.2f}, n={len(ms)})")


def main():
    args = linux_arguments(__doc__, 50)
    build = args.build

    work = pathlib.Path(tempfile.mkdtemp(prefix="brontel-latency-"))
    bench = Bench(build, args.java_home, work)
    started = []
    try:
        print(f"control latency, {args.runs} runs each ({build})")

        # Through the pipe of a development-mode instance.
        bench.configure("LatencyDev")
        dev = subprocess.Popen([bench.brontel, "-x", "LatencyDev"], env=bench.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
        started.append(dev)
        wait_for(lambda: bench.out.exists() and "running" in bench.out.read_text(), "the -x instance")
        pipe, empty = [], []
        for _ in range(args.runs):
            pipe.append(bench.timed_control([bench.brontel, "-s", "LatencyDev", "4"]))
            empty.append(bench.process_cost([bench.brontel, "-?"]))
        subprocess.run([bench.brontel, "-s", "LatencyDev", "1"], env=bench.env,
                       stdout=subprocess.DEVNULL)
        dev.wait(timeout=60)
        print("development mode (-x), control pipe:")
        report("brontel -s start to serviceControl", pipe)
        report("brontel -? start to end (empty process)", empty)

        # Through the Service Control Manager.
        bench.out.unlink()
        image = f'"{bench.brontel}" -Z "LatencySvc"'
        bench.tool("svctool", "create", "LatencySvc", "LatencySvc", image)
        bench.configure("LatencySvc")
        bench.tool("svctool", "start", "LatencySvc")
        bench.tool("svctool", "wait", "LatencySvc", "RUNNING", "60000")
        manager, empty_tool, empty = [], [], []
        svctool = str(build / "tests" / "svctool")
        for _ in range(args.runs):
            manager.append(bench.timed_control([svctool, "control", "LatencySvc", "4"]))
            empty_tool.append(bench.process_cost([svctool]))
            empty.append(bench.process_cost([bench.brontel, "-?"]))
        bench.tool("svctool", "stop", "LatencySvc", check=False)
        bench.tool("svctool", "wait", "LatencySvc", "STOPPED", "60000", check=False)
        bench.tool("svctool", "delete", "LatencySvc", check=False)
        print("service mode (-Z), ControlService:")
        report("svctool control start to serviceControl", manager)
        report("svctool start to end (usage only)", empty_tool)
        report("brontel -? start to end (empty process)", empty)
    finally:
        for proc in started:
            if proc.poll() is None:
                proc.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
