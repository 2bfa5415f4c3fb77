#!/usr/bin/env python3
"""Load figure: many services installed, listed, reported and removed.

In a throw-away machine root (or Wine prefix), installs N services from configuration files
(`-i`), lists them (`-b`), shows each one's report (`-d`), and removes them all (`-r`), then
lists again. Prints, per phase, the total and median time of one command, the largest resident
memory of one process, and how many commands did what they should. Asserts nothing.

Usage: bench/services.py [--count 200] [--build build/linux] [--wine]
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import wine_keeper  # noqa: E402  (the tests' own way of keeping a Wine prefix up)


class Runner:
    def __init__(self, exe, env, wine):
        self.exe = exe
        self.env = env
        self.prefix = ["wine"] if wine else []
        self.wine = wine

    def run(self, args):
        """Runs one command; returns (exit code, output, seconds, peak resident kB)."""
        started = time.monotonic()
        proc = subprocess.Popen(self.prefix + [str(self.exe)] + args, env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        out = proc.stdout.read()
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        elapsed = time.monotonic() - started
        text = out.decode("utf-8", errors="replace").replace("\r\n", "\n")
        return proc.returncode, text, elapsed, usage.ru_maxrss

    def path(self, host_path):
        return "Z:" + str(host_path).replace("/", "\\") if self.wine else str(host_path)


def phase(name, results, ok):
    times = [r[2] for r in results]
    peak = max((r[3] for r in results), default=0)
    print(f"  {name:<8} {len(results):>4} commands  total {sum(times):7.2f} s  "
          f"median {statistics.median(times) * 1000:7.1f} ms  max {max(times) * 1000:7.1f} ms  "
          f"peak RSS {peak / 1024:6.1f} MB  as expected {ok}/{len(results)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--build", default=None)
    parser.add_argument("--wine", action="store_true")
    args = parser.parse_args()
    build = REPO / (args.build or ("build/win64" if args.wine else "build/linux"))
    exe = build / ("brontel.exe" if args.wine else "brontel")
    if not exe.exists():
        sys.exit(f"missing {exe}: build first (scripts/build)")

    with tempfile.TemporaryDirectory(prefix="brontel-bench-services-") as scratch:
        scratch = pathlib.Path(scratch)
        env = dict(os.environ)
        keeper = None
        if args.wine:
            env.update(WINEPREFIX=str(scratch / "wine"), WINEDEBUG="-all")
            quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineboot", "--init"], **quiet)
            subprocess.run(["wineserver", "-w"], **quiet)
            keeper = wine_keeper.keep_alive(env)
        else:
            env["BRONTEL_ROOT"] = str(scratch / "root")
        runner = Runner(exe, env, args.wine)
        names = [f"benchsvc{i:04d}" for i in range(args.count)]

        installs = []
        for i, name in enumerate(names):
            conf = scratch / f"{name}.conf"
            conf.write_text(
                f"serviceDisplayName=Bench service {i}\nserviceName={name}\n"
                f"ibrontelClass=com.example.Bench{i}\nstartType=SERVICE_DEMAND_START\n"
                f"description=Service {i} of {args.count}\njvmOption1=-Xmx64m\n"
                f"jvmOption2=-Dbench.index={i}\ncommandLineParms=--index {i}\n")
            installs.append(runner.run(["-i", runner.path(conf)]))
        installed_ok = sum(1 for r in installs if r[0] == 0)

        listing = runner.run(["-b"])
        listed = {line.split(" : ")[0] for line in listing[1].splitlines() if " : " in line}
        listed_ok = len(listed & set(names))

        reports = [runner.run(["-d", name]) for name in names]
        reported_ok = sum(1 for i, (name, r) in enumerate(zip(names, reports))
                          if f"serviceName={name}" in r[1]
                          and f"jvmoption2=-dbench.index={i}\n" in r[1].lower())

        removals = [runner.run(["-r", name]) for name in names]
        removed_ok = sum(1 for r in removals if r[0] == 0)
        after = runner.run(["-b"])
        if keeper:
            wine_keeper.release(keeper)
            subprocess.run(["wineserver", "-k"], env=env)
        database = sum(f.stat().st_size for f in (scratch / "root").glob("*")) if not args.wine else 0

    print(f"services: {args.count} installed, listed, reported and removed ({build.name})")
    phase("install", installs, installed_ok)
    phase("list", [listing], 1 if listed_ok == args.count else 0)
    print(f"           the listing named {listed_ok} of the {args.count} services")
    phase("report", reports, reported_ok)
    phase("remove", removals, removed_ok)
    left = "none" if "No services found that use Brontel" in after[1] else after[1].count(" : ")
    print(f"  services left after removal: {left}")
    # What the first few unexpected commands said, so a shortfall can be looked into.
    failed = [(n, r) for n, r in zip(names, removals) if r[0] != 0][:3]
    failed += [(n, r) for n, r in zip(names, installs) if r[0] != 0][:3]
    for name, (code, text, _, _) in failed:
        print(f"  {name}: exit {code}: " + " | ".join(text.strip().splitlines()[-4:]))
    if left != "none":
        print("  still listed: " + " | ".join(after[1].strip().splitlines()[:8]))
    if database:
        print(f"  machine root on disk after removal: {database / 1024:.0f} kB")


if __name__ == "__main__":
    main()
