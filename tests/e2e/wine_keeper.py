"""Starting Windows programs under Wine, and keeping a Wine prefix's system processes up, for the
tests and the benchmarks.

Wine ends a prefix's system processes (its Service Control Manager among them) whenever no
program of the prefix runs, and restarts them with the next one; a program that meets a manager
still starting can reach two of them, each with its own list of services. A console waiting on
its input keeps them up, so services and their manager behave as on Windows.
"""

import os
import platform
import select
import subprocess
import time


def _can_fix_layout():
    try:
        return subprocess.run(["setarch", platform.machine(), "-R", "true"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    except OSError:  # no setarch
        return False


_fixed_layout = None


def fixed_layout():
    """The command prefix that starts a program without address randomisation, when that can be
    turned off here (else empty). See wine_command."""
    global _fixed_layout
    if _fixed_layout is None:
        _fixed_layout = _can_fix_layout()
    return ["setarch", platform.machine(), "-R"] if _fixed_layout else []


def wine_command(wine="wine"):
    """The command that starts a Windows program (append the program and its arguments): wine,
    without address randomisation where that can be turned off. Programs that Wine starts
    (services, their children) inherit it from the one that started them.

    Wine's 64-bit loader sits at a fixed address (0x7d000000), and Linux puts its heap at a
    random place in the GiB above it. Every Windows process needs the page at 0x7ffe0000 (the
    shared user data); Wine's preloader reserves it first, but Debian ships the preloader in a
    package of its own (wine64-preloader, which scripts/setup installs) that is only suggested.
    Without it, about one start in several thousand finds the page taken by the heap and the
    program never runs: Wine ends it with exit code 1, saying only "err:virtual:virtual_alloc_first_teb wine: failed to map the
    shared user data: c0000018", which WINEDEBUG=-all hides. Without address randomisation the
    heap stays next to the loader, far below that page.
    """
    return fixed_layout() + [wine]


def keep_alive(env, wine="wine"):
    """Starts the console that keeps the prefix of env["WINEPREFIX"] up, once its prompt shows."""
    keeper = subprocess.Popen(wine_command(wine) + ["cmd.exe"], env=env, stdin=subprocess.PIPE,
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
