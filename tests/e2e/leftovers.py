"""Processes that outlive the test that started them: found through /proc by an entry of their
environment (BRONTEL_ROOT=<the test's root>, or the Wine prefix), given a moment to end, ended."""

import os
import select
import signal
import time

# How long a process of an ended test may take to end by itself: a service that has reported
# stopped still shuts its VM down, on a machine shared with builds.
GRACE = 20


def _read(pid, name):
    try:
        with open(f"/proc/{pid}/{name}", "rb") as f:
            return f.read()
    except OSError:  # ended meanwhile, or not ours to read
        return b""


def find(env_entry, words=None):
    """{pid: command line} of the processes whose environment holds env_entry exactly and, when
    words are given, whose command line holds one of them."""
    wanted = os.fsencode(env_entry)
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        if wanted not in _read(entry, "environ").split(b"\0"):
            continue
        command = _read(entry, "cmdline").replace(b"\0", b" ").decode("utf-8", "replace").strip()
        if words is None or any(word and word in command for word in words):
            found[int(entry)] = command
    return found


def still_running(found, grace=GRACE):
    """Waits up to grace seconds for the processes to end; [(pid, command)] of those that did not."""
    fds = {}
    for pid in found:
        try:
            fds[os.pidfd_open(pid)] = pid
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + grace
    try:
        while fds:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ended, _, _ = select.select(list(fds), [], [], left)
            for fd in ended:
                os.close(fd)
                del fds[fd]
        return sorted((pid, found[pid]) for pid in fds.values())
    finally:
        for fd in fds:
            os.close(fd)


def end(processes):
    for pid, _ in processes:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
