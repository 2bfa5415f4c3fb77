"""A throw-away Wine prefix for a benchmark, kept up for the whole run.

Wine ends a prefix's system processes (its Service Control Manager among them) whenever no
program of the prefix runs, and restarts them with the next one; a program that meets a manager
still starting can reach two of them, each with its own list of services. A console waiting on
its input keeps them up, so the figures show brontel on a manager that behaves as on Windows.
"""

import os
import select
import subprocess
import time


def start(env):
    """Creates the prefix named by env["WINEPREFIX"] and returns the keeper process."""
    quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    subprocess.run(["wineboot", "--init"], **quiet)
    subprocess.run(["wineserver", "-w"], **quiet)
    keeper = subprocess.Popen(["wine", "cmd.exe"], env=env, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # Its prompt says the prefix is up.
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


def stop(keeper, env):
    """Lets the keeper end and stops the prefix's wineserver."""
    keeper.stdin.close()
    try:
        keeper.wait(timeout=30)
    except subprocess.TimeoutExpired:
        keeper.kill()
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
