#!/usr/bin/env python3
"""What restart and removal cost against the service's own stop and start.

A test service (StoppableService) runs under the stand-in Service Control Manager; its stop takes
--stop-ms (0.6 s by default, as a small database server's) after it reports stop-pending with a
wait hint of 3 s. Measured, each --runs times in one run:
  own stop      svctool stop, then svctool wait STOPPED (polled every few ms)
  own start     svctool start, then svctool wait RUNNING
  -stop/-start  brontel -stop and brontel -start (each waits itself)
  -restart      brontel -restart
  -s 128        brontel -s NAME 128 (stops and asks for the start), then svctool wait RUNNING
  removal       brontel -r on the running service (stop and delete), then installed again
Prints medians and each against own stop + own start (or own stop for removal); nothing is
asserted.

  bench/operate.py [--runs N] [--stop-ms MS] [--build build/linux] [--java-home DIR]
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
NAME = "OperateBench"


class Bench:
    def __init__(self, build, java_home, work, stop_ms):
        self.build = build
        self.env = dict(os.environ, BRONTEL_ROOT=str(work / "root"))
        self.brontel = str(build / "brontel")
        self.out = work / "record.txt"
        self.java_home = java_home
        self.stop_ms = stop_ms

    def run(self, command, check=True):
        result = subprocess.run(command, env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
        if check and result.returncode != 0:
            sys.exit(f"{command} failed ({result.returncode}): {result.stdout}")
        return result

    def tool(self, name, *args, check=True):
        return self.run([str(self.build / "tests" / name), *args], check=check)

    def install(self):
        image = f'"{self.brontel}" -Z "{NAME}"'
        self.tool("svctool", "create", NAME, NAME, image)
        configure_java_service(self.tool, self.build, self.java_home, NAME, self.out,
                               f"-Dbrontel.test.stopDelayMs={self.stop_ms}",
                               "com.vantero.tests.StoppableService")

    def timed(self, *commands):
        start = time.monotonic()
        for command in commands:
            self.run(command)
        return time.monotonic() - start

    def svctool(self, *args):
        return [str(self.build / "tests" / "svctool"), *args]


def median_ms(samples):
    return statistics.median(samples) * 1000


def main():
    args = linux_arguments(__doc__, 5, ("--stop-ms", 600))
    build = args.build

    work = pathlib.Path(tempfile.mkdtemp(prefix="brontel-operate-"))
    bench = Bench(build, args.java_home, work, args.stop_ms)
    figures = {key: [] for key in ("own stop", "own start", "-stop", "-start", "-restart",
                                   "-s 128", "removal (-r)")}
    try:
        bench.install()
        bench.run(bench.svctool("start", NAME))
        bench.run(bench.svctool("wait", NAME, "RUNNING", "60000"))
        for _ in range(args.runs):
            figures["own stop"].append(bench.timed(bench.svctool("stop", NAME),
                                                   bench.svctool("wait", NAME, "STOPPED", "60000")))
            figures["own start"].append(bench.timed(bench.svctool("start", NAME),
                                                    bench.svctool("wait", NAME, "RUNNING", "60000")))
            figures["-stop"].append(bench.timed([bench.brontel, "-stop", NAME]))
            figures["-start"].append(bench.timed([bench.brontel, "-start", NAME]))
            figures["-restart"].append(bench.timed([bench.brontel, "-restart", NAME]))
            figures["-s 128"].append(bench.timed([bench.brontel, "-s", NAME, "128"],
                                                 bench.svctool("wait", NAME, "RUNNING", "60000")))
            figures["removal (-r)"].append(bench.timed([bench.brontel, "-r", NAME]))
            bench.install()
            bench.run(bench.svctool("start", NAME))
            bench.run(bench.svctool("wait", NAME, "RUNNING", "60000"))
        stop = median_ms(figures["own stop"])
        start = median_ms(figures["own start"])
        print(f"restart and removal against the service's own stop and start "
              f"(stop takes {args.stop_ms} ms, wait hint 3000 ms; median of {args.runs})")
        for key, samples in figures.items():
            value = median_ms(samples)
            against = stop if key in ("own stop", "-stop", "removal (-r)") else (
                start if key in ("own start", "-start") else stop + start)
            label = {stop: "own stop", start: "own start"}.get(against, "own stop + own start")
            print(f"  {key:<14} {value:8.0f} ms   {value / against:5.2f} x {label}"
                  f"   (+{value - against:.0f} ms)")
    finally:
        bench.run([bench.brontel, "-r", NAME], check=False)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
