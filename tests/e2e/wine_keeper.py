"""Keeping a Wine prefix's system processes up, for the tests and the benchmarks.

Wine ends a prefix's system processes (its Service Control Manager among them) whenever no
program of the prefix runs, and restarts them with the next one; a program that meets a manager
still starting can reach two of them, each with its own list of services. A console waiting on
its input keeps them up, so services and their manager behave as on Windows.
"""

import os
import select
import subprocess
import time


def keep_alive(env, wine="wine"):
    """Starts the console that keeps the prefix of env["WINEPREFIX"] up, once its prompt shows."""
    keeper = subprocess.Popen([wine, "cmd.exe"], env=env, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # Its prompt says the prefix is up; starting other programs before that can stall Wine.
    deadline = time.monotonic() + 300
    seen = b""
    while b">" not in seen and time.monotonic() < deadline:
        ready, _, _ = select.select([keeper.stdout], [], [], 1)
        if ready:
            chunk = os.read(keeper.stdout.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
    return keeper


def release(keeper):
    """Lets the keeping console end."""
    keeper.stdin.close()
    try:
        keeper.wait(timeout=30)
    except subprocess.TimeoutExpired:
        keeper.kill()
