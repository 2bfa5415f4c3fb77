#!/usr/bin/env python3
"""Load figure: several processes tracing into one file at once.

Switches tracing on in a throw-away machine root, starts the writers at the same moment (each
writes COUNT lines through the program's logger, bench/trace_writer.cpp), and then reads the file
back: every line must be whole (its thread prefix, tag, number and padding intact) and every
writer's lines must all be there, in order. Prints figures; asserts nothing.

Usage: bench/trace_lines.py [--build build/linux] [--processes 3] [--count 20000]
       [--wine] (run the win64 build under Wine: --build build/win64)
"""

import argparse
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
LINE = re.compile(r"^([0-9A-F]{8}) (w\d+) (\d+) (\d+) ([a-z]*)$")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=None)
    parser.add_argument("--processes", type=int, default=3)
    parser.add_argument("--count", type=int, default=20000)
    parser.add_argument("--wine", action="store_true")
    args = parser.parse_args()
    build = REPO / (args.build or ("build/win64" if args.wine else "build/linux"))
    suffix = ".exe" if args.wine else ""
    writer = build / "bench" / ("trace_writer" + suffix)
    regtool = build / "tests" / ("regtool" + suffix)
    for program in (writer, regtool):
        if not program.exists():
            sys.exit(f"missing {program}: build first (scripts/build)")

    with tempfile.TemporaryDirectory(prefix="brontel-bench-trace-") as scratch:
        scratch = pathlib.Path(scratch)
        env = dict(os.environ)
        prefix = []
        trace = scratch / "trace.log"
        trace_name = str(trace)
        if args.wine:
            env.update(WINEPREFIX=str(scratch / "wine"), WINEDEBUG="-all")
            prefix = ["wine"]
            trace_name = "Z:" + trace_name.replace("/", "\\")
        else:
            env["BRONTEL_ROOT"] = str(scratch / "root")
        subprocess.run(prefix + [str(regtool), "set", r"SOFTWARE\Orvane\Brontel", "Trace", "sz", trace_name],
                       env=env, check=True, stdout=subprocess.DEVNULL)

        started = time.monotonic()
        writers = [
            subprocess.Popen(prefix + [str(writer), f"w{k}", str(args.count)], env=env)
            for k in range(args.processes)
        ]
        codes = [w.wait() for w in writers]
        elapsed = time.monotonic() - started
        if args.wine:
            subprocess.run(["wineserver", "-k"], env=env)

        raw = trace.read_bytes()
        text = raw.decode("ascii", errors="replace")
        lines = text.split("\n")
        trailing = lines.pop()  # after the last line feed: must be empty
        torn = 0 if trailing == "" else 1
        seen = {f"w{k}": [] for k in range(args.processes)}
        threads = {f"w{k}": set() for k in range(args.processes)}
        for line in lines:
            match = LINE.match(line)
            if not match or match.group(2) not in seen:
                torn += 1
                continue
            thread, tag, number, padding, pad = match.groups()
            number, padding = int(number), int(padding)
            if padding != len(pad) or padding != (number * 37) % 397 or (pad and pad != pad[0] * padding):
                torn += 1
                continue
            seen[tag].append(number)
            threads[tag].add(thread)

    expected = args.count * args.processes
    whole = sum(len(v) for v in seen.values())
    missing = sum(args.count - len(set(v)) for v in seen.values())
    out_of_order = sum(1 for v in seen.values() for a, b in zip(v, v[1:]) if b <= a)
    print(f"trace: {args.processes} processes x {args.count} lines into one file ({build.name})")
    print(f"  writer exit codes        {codes}")
    print(f"  elapsed                  {elapsed:.2f} s")
    print(f"  lines per second         {whole / elapsed:,.0f}")
    print(f"  file size                {len(raw):,} bytes")
    print(f"  lines expected           {expected}")
    print(f"  whole lines              {whole}")
    print(f"  torn or mixed lines      {torn}")
    print(f"  lines missing            {missing}")
    print(f"  lines out of order       {out_of_order}")


if __name__ == "__main__":
    main()
