#!/usr/bin/env python3
"""Load figure: many -s signals in a row to one development-mode (-x) instance.

Starts `brontel -x` with the test service com.vantero.tests.SignalService (it records every
control it receives), sends N controls one after another with `brontel -s <name> 200`, each
sender started when the previous one has ended, and then counts what the Java side received.
Samples the instance's resident memory as it goes. Prints figures; asserts nothing.

Usage: bench/signals.py [--count 1000] [--build build/linux] [--code 200]
"""

import argparse
import os
import pathlib
import signal
import statistics
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
JAVA_HOME = pathlib.Path(os.environ.get("BRONTEL_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
PARAMETERS = r"SYSTEM\CurrentControlSet\Services\benchsignals\Parameters"


def rss_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def received(record, code):
    if not record.exists():
        return 0
    return sum(1 for line in record.read_text().splitlines() if line == f"control {code}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--code", type=int, default=200)
    args = parser.parse_args()
    build = REPO / args.build
    exe, regtool = build / "brontel", build / "tests" / "regtool"
    java = build / "java"
    for needed in (exe, regtool, java / "testclasses"):
        if not needed.exists():
            sys.exit(f"missing {needed}: build first (scripts/build linux)")

    with tempfile.TemporaryDirectory(prefix="brontel-bench-signals-") as scratch:
        scratch = pathlib.Path(scratch)
        env = dict(os.environ, BRONTEL_ROOT=str(scratch / "root"))
        record = scratch / "record.txt"
        values = {
            "JVMdll": str(JAVA_HOME / "lib" / "server" / "libjvm.so"),
            "JVMOption1": "-Djava.class.path=" + os.pathsep.join([str(java / "brontel.jar"), str(java / "testclasses")]),
            "JVMOption2": "-Dbrontel.test.out=" + str(record),
            "JVMOption3": "-Xmx64m",
            "IBrontelClass": "com.vantero.tests.SignalService",
        }
        for name, value in values.items():
            subprocess.run([str(regtool), "set", PARAMETERS, name, "sz", value], env=env, check=True,
                           stdout=subprocess.DEVNULL)

        instance = subprocess.Popen([str(exe), "-x", "benchsignals"], env=env, cwd=scratch,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
        deadline = time.monotonic() + 60
        while not (record.exists() and "running" in record.read_text()):
            if time.monotonic() > deadline or instance.poll() is not None:
                instance.kill()
                sys.exit("the development-mode instance did not start")
            time.sleep(0.05)

        memory = [(0, rss_kb(instance.pid))]
        durations, refused = [], 0
        started = time.monotonic()
        for i in range(1, args.count + 1):
            t0 = time.monotonic()
            sender = subprocess.run([str(exe), "-s", "benchsignals", str(args.code)], env=env,
                                    cwd=scratch, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            durations.append(time.monotonic() - t0)
            # Through the pipe a sender prints nothing; anything printed is the manager's refusal
            # after the pipe was found busy or gone.
            if sender.stdout.strip():
                refused += 1
            if i % (args.count // 10 or 1) == 0:
                memory.append((i, rss_kb(instance.pid)))
        sending = time.monotonic() - started

        # Let the last deliveries land: wait until the count stops changing.
        last, still = -1, time.monotonic()
        while time.monotonic() - still < 2:
            now = received(record, args.code)
            if now != last:
                last, still = now, time.monotonic()
            time.sleep(0.1)
        delivered = last

        subprocess.run([str(exe), "-s", "benchsignals", "SERVICE_CONTROL_STOP"], env=env, cwd=scratch,
                       stdout=subprocess.DEVNULL)
        try:
            ended = instance.wait(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(instance.pid, signal.SIGKILL)
            ended = "killed after 60 s"

    print(f"signals: {args.count} x `brontel -s benchsignals {args.code}` to one -x instance ({build.name})")
    print(f"  sending took             {sending:.1f} s ({args.count / sending:.0f} signals/s)")
    print(f"  one sender, median       {statistics.median(durations) * 1000:.1f} ms "
          f"(max {max(durations) * 1000:.1f} ms)")
    print(f"  delivered to Java        {delivered}")
    print(f"  refused by the sender    {refused} (pipe busy, fell back to the Service Control Manager)")
    print(f"  lost without a word      {args.count - delivered - refused}")
    print("  instance RSS (MB)        " + "  ".join(f"{n}:{kb / 1024:.1f}" for n, kb in memory))
    if len(memory) > 2:
        print(f"  RSS growth after the first tenth  {(memory[-1][1] - memory[1][1]) / 1024:+.1f} MB")
    print(f"  instance exit after stop {ended}")


if __name__ == "__main__":
    main()
