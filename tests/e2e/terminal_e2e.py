#!/usr/bin/env python3
"""End-to-end tests of how the whole orvik program hands its terminal back: after kill signals, and at window
sizes no screen has.

Usage: terminal_e2e.py ORVIK_BINARY SHARED_DIR TEST_NAME, or terminal_e2e.py --list for the test names.
"""

import fcntl
import os
import resource
import select
import signal
import struct
import subprocess
import sys
import termios
import time

sys.dont_write_bytecode = True  # keep the source folders clean
import harness
from harness import Failure, check

LEAVE_AND_SHOW = b"\x1b[?1049l\x1b[?25h"
HIDE_CURSOR = b"\x1b[?25l"


def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except FileNotFoundError:
        return []


def test_kill_signals_hand_the_terminal_back(sandbox, tmux, **_):
    """Each signal sent to end orvik leaves the shell's terminal as it was, and the shell sees the signal."""
    term = tmux(width=100, height=30)
    shell = term.shell_pid()
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGQUIT, signal.SIGHUP):
        name = sig.name
        term.type("clear")
        term.wait_for(lambda s: s.strip() == "$", "a clear screen")
        # No core file from the signals that dump one. The markers are computed, so the typed line shows none.
        term.type(f"cd {sandbox.root} && ulimit -c 0 && stty -a > before.txt && echo {name}-$((1+1)) && "
                  "orvik 2>err.txt")
        term.wait_text(" Orvik   0 sessions")
        pids = []
        deadline = time.monotonic() + 5
        while not pids and time.monotonic() < deadline:
            pids = children(shell)
            time.sleep(0.05)
        check(len(pids) == 1, f"{name}: orvik is the shell's one child: {pids}")
        os.kill(pids[0], sig)
        term.wait_for(lambda s: s.rstrip().endswith("$") and " Orvik   " not in s, "the prompt again")
        # A new command line: after a child ended by SIGINT the shell drops the rest of the line it was on.
        term.type(f"echo \"{name}=$?\"; stty -a > after.txt; echo {name}-$((2+1))")
        screen = term.wait_text(f"{name}-3", timeout=10)
        check(f"{name}={128 + sig}" in screen, f"{name}: the shell sees status {128 + sig}", screen)
        check(f"{name}-2" in screen and " Orvik   " not in screen, f"{name}: the main screen is back", screen)
        flags = term.tmux("display", "-p", "-t", "e2e", "#{alternate_on} #{cursor_flag}").split()
        check(flags == ["0", "1"], f"{name}: off the alternate screen with the cursor shown: {flags}", screen)
        before, after = sandbox.read("before.txt"), sandbox.read("after.txt")
        check(before and before == after, f"{name}: stty -a before and after differ:\n{before}\n---\n{after}")
        check(sandbox.read("err.txt") == "", f"{name}: nothing on stderr: {sandbox.read('err.txt')!r}")


def run_on_pty(sandbox, columns, rows, after_first_frame, guard=20.0):
    """Runs orvik on a new pseudo-terminal of the given size, calls after_first_frame(process, master) once the
    first frame has begun and waits for the end. The test holds the terminal's other side open, as a shell
    would, so its settings can be read afterwards. Returns (status, output, settings before and after, stderr)."""
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
    before = termios.tcgetattr(slave)
    err_path = sandbox.path(f"err-{columns}x{rows}.txt")
    with open(err_path, "wb") as err:
        proc = subprocess.Popen([sandbox.binary], stdin=slave, stdout=slave, stderr=err, env=sandbox.env(),
                                cwd=sandbox.root, start_new_session=True,
                                preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    output = b""
    acted = False
    deadline = time.monotonic() + guard
    try:
        while proc.poll() is None and time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.05)
            if ready:
                output += os.read(master, 1 << 16)
            if not acted and HIDE_CURSOR in output:
                after_first_frame(proc, master)
                acted = True
        if proc.poll() is None:
            proc.kill()
            proc.wait()
            raise Failure(f"{columns}x{rows}: still running {guard}s after the start (first frame: {acted})")
        while select.select([master], [], [], 0.2)[0]:
            output += os.read(master, 1 << 16)
        after = termios.tcgetattr(slave)
    finally:
        os.close(master)
        os.close(slave)
    with open(err_path, "rb") as f:
        stderr = f.read().decode("utf-8", "replace")
    return proc.returncode, output, before, after, stderr


def type_q(_proc, master):
    os.write(master, b"q")


def test_any_window_size(sandbox, **_):
    """Sizes far beyond any screen, and none at all: q still quits at once and the terminal comes back."""
    for columns, rows in ((65535, 65535), (20000, 20000), (0, 0), (1, 1)):
        size = f"{columns}x{rows}"
        status, output, before, after, stderr = run_on_pty(sandbox, columns, rows, type_q)
        check(status == 0, f"{size}: status {status}, stderr {stderr!r}")
        check(stderr == "", f"{size}: nothing on stderr: {stderr!r}")
        check(output.endswith(LEAVE_AND_SHOW), f"{size}: ends by leaving the alternate screen: {output[-40:]!r}")
        check(before == after, f"{size}: the settings from before the start: {before} / {after}")
        if columns > 2048:
            check(b"\x1b[2048;" in output and b"\x1b[2049;" not in output, f"{size}: drawn 2048 rows high")


def vm_size(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    raise Failure(f"no VmSize for {pid}")


def test_memory_running_out_after_set_up(sandbox, **_):
    """A fatal error in the loop (memory runs out when the window grows) still hands the terminal back."""
    def starve_and_grow(proc, master):
        # The watcher starts its own threads after the first frame may have begun: let them start first, so
        # the only failure is the one this test makes.
        give_up = time.monotonic() + 3.0
        settled_at, count = time.monotonic(), harness.thread_count(proc.pid)
        while time.monotonic() - settled_at < 0.3 and time.monotonic() < give_up:
            time.sleep(0.02)
            if harness.thread_count(proc.pid) != count:
                settled_at, count = time.monotonic(), harness.thread_count(proc.pid)
        # Room for the screen it has, not for one at the largest size drawn.
        limit = vm_size(proc.pid) + (8 << 20)
        resource.prlimit(proc.pid, resource.RLIMIT_AS, (limit, limit))
        fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", 65535, 65535, 0, 0))

    status, output, before, after, stderr = run_on_pty(sandbox, 80, 24, starve_and_grow)
    check(status == 101, f"status {status}, stderr {stderr!r}")
    check(stderr == "fatal error: std::bad_alloc\n", f"the fatal-error report: {stderr!r}")
    check(output.endswith(LEAVE_AND_SHOW), f"ends by leaving the alternate screen: {output[-40:]!r}")
    check(before == after, f"the settings from before the start: {before} / {after}")


TESTS = {name[len("test_"):]: fn for name, fn in globals().items() if name.startswith("test_")}


def main():
    return harness.main(TESTS, __doc__)


if __name__ == "__main__":
    sys.exit(main())
