#!/usr/bin/env python3
"""The whole program on a pseudo-terminal: idle CPU and terminal output over 10 s with one finished session
on screen (and, for comparison, with a tool running), and the time from appending a log line to its text
reaching the terminal.

Usage: whole_program.py ORVIK_BINARY [IDLE_SECONDS] [PROBES]
       whole_program.py --catch-up ORVIK_BINARY CORPUS [PARSE_BENCH]
The second form writes CORPUS (a generated log) into a new session log while the program runs and gives the
watcher thread's CPU time and the wall time until a line written after it shows, as MB/s; with the watcher
benchmark binary it also gives parse_line alone over the same log, in the same run, and the ratios.
       whole_program.py --idle-after LOG ORVIK_BINARY [IDLE_SECONDS]
           idle CPU at 80x24 and 200x60 once LOG (a big log, say gen_corpus.py --mb 100) has been caught up with
       whole_program.py --huge ORVIK_BINARY [IDLE_SECONDS]
           idle CPU at 200x60 and the time from q to the restored screen with huge names and tool inputs
"""

import fcntl
import json
import os
import random
import re
import select
import shutil
import statistics
import struct
import subprocess
import sys
import termios
import time

sys.dont_write_bytecode = True  # keep the source folders clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Sandbox, Session, later, text, tool_use, utc_now  # noqa: E402


CSI = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")


class Terminal:
    """orvik on a pseudo-terminal (120x40 unless told); everything it writes is read and counted."""

    def __init__(self, sandbox, columns=120, rows=40):
        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        self.proc = subprocess.Popen([sandbox.binary], stdin=slave, stdout=slave, stderr=subprocess.DEVNULL,
                                     env=sandbox.env(TERM="xterm-256color"), start_new_session=True)
        os.close(slave)
        self.written = 0
        self.tail = b""

    def pump(self, until=None, timeout=5.0):
        """Reads output for up to `timeout` s, or until `until` appears in it; returns when it appeared."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            if select.select([self.master], [], [], left)[0]:
                try:
                    chunk = os.read(self.master, 65536)
                except OSError:  # the program has ended and closed the terminal
                    return None
                now = time.monotonic()
                self.written += len(chunk)
                seen = self.tail + chunk
                self.tail = seen[-4096:]
                if until is not None and (until in seen or until in CSI.sub(b"", seen)):
                    self.tail = b""
                    return now

    def cpu_seconds(self):
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def started(self):
        """Whether the dashboard's first screen came; says so when it did not."""
        if self.pump(until=b"Waiting for session events") is None:
            print("whole_program: the dashboard did not start", file=sys.stderr)
            return False
        return True

    def settle(self):
        """Reads output until a second passes with next to no CPU: what was written has been caught up with."""
        before = -1.0
        while True:
            self.pump(timeout=1.0)
            now = self.cpu_seconds()
            if now - before < 0.02:
                return
            before = now

    def close(self):
        try:
            os.write(self.master, b"q")
            self.pump(timeout=0.5)
            self.proc.wait(timeout=5)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
            os.close(self.master)


def thread_cpu_seconds(pid):
    """CPU seconds of each thread of `pid` but the main one, to the nanosecond (schedstat)."""
    found = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        if int(tid) == pid:
            continue
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                found[tid] = int(f.read().split()[0]) / 1e9
        except FileNotFoundError:
            continue
    return found


def parse_line_alone(bench):
    bench = os.path.abspath(bench)
    out = subprocess.run([bench, "--benchmark_filter=BM_ParseLineAlone", "--benchmark_format=json"],
                         cwd=os.path.dirname(bench), capture_output=True, text=True, check=True).stdout
    return json.loads(out)["benchmarks"][0]["bytes_per_second"] / 1e6


def catch_up(binary, corpus, bench=None):
    """The corpus written in 1 MB pieces into a new log while the program runs."""
    with open(corpus, "rb") as f:
        data = f.read()
    mb = len(data) / 1e6
    sandbox = Sandbox(binary)
    term = Terminal(sandbox)
    try:
        if not term.started():
            return 1
        log = Session(sandbox)
        before = thread_cpu_seconds(term.proc.pid)
        start = time.monotonic()
        fd = os.open(log.path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        for at in range(0, len(data), 1 << 20):
            os.write(fd, data[at:at + (1 << 20)])
        os.close(fd)
        # Events keep their order: once a line written last shows, everything before it has been handled.
        word = "QXZJVWY" * 4
        log.append(log.user(word, utc_now()))
        seen = term.pump(until=word.encode(), timeout=120)
        if seen is None:
            print("whole_program: the catch-up never ended", file=sys.stderr)
            return 1
        after = thread_cpu_seconds(term.proc.pid)
        # The watcher thread is the busiest but the dashboard's.
        watcher_cpu = max(after[t] - before.get(t, 0) for t in after)
        wall = seen - start
        print(f"catch-up of {mb:.0f} MB: watcher thread CPU {watcher_cpu:.2f} s ({mb / watcher_cpu:.0f} MB/s), "
              f"until the screen shows it {wall:.2f} s ({mb / wall:.0f} MB/s)")
        if bench:
            alone = parse_line_alone(bench)
            print(f"parse_line alone: {alone:.0f} MB/s; catch-up against it: watcher CPU "
                  f"{mb / watcher_cpu / alone * 100:.0f} %, wall {mb / wall / alone * 100:.0f} %")
        return 0
    finally:
        term.close()
        sandbox.cleanup()


def idle_after(binary, log, idle_seconds):
    """Idle CPU once `log` has been read in full, at two screen sizes."""
    for columns, rows in ((80, 24), (200, 60)):
        sandbox = Sandbox(binary)
        term = Terminal(sandbox, columns, rows)
        try:
            if not term.started():
                return 1
            os.makedirs(os.path.join(sandbox.projects, "big"))
            shutil.copyfile(log, os.path.join(sandbox.projects, "big", "log.jsonl"))
            term.settle()
            written, cpu, start = term.written, term.cpu_seconds(), time.monotonic()
            term.pump(timeout=idle_seconds)
            elapsed = time.monotonic() - start
            print(f"idle after {os.path.basename(log)} at {columns}x{rows} over {elapsed:.1f} s: "
                  f"{(term.cpu_seconds() - cpu) / elapsed * 100:.2f} % of one core, {term.written - written} bytes")
        finally:
            term.close()
            sandbox.cleanup()
    return 0


def huge_cases():
    """Logs whose fields are far larger than any screen: (name, records) with the records' texts built lazily."""
    big_input = {"n": list(range(5_000_001))}
    yield "a 50 MB tool name", [("x" * 50_000_000, {})]
    yield "a tool input of 5 M numbers", [("Bash", big_input)]
    yield "30 rows of 500 k numbers", [("Bash", {"n": list(range(500_001))})] * 30
    yield "a Tools step of 20 names of 5 MB", [("y" * 5_000_000, {})] * 20


def huge(binary, idle_seconds):
    """Each huge case: idle CPU once it is on screen, then q until the main screen is back."""
    for name, calls in huge_cases():
        sandbox = Sandbox(binary)
        term = Terminal(sandbox, 200, 60)
        try:
            if not term.started():
                return 1
            log = Session(sandbox)
            # Started an hour ago, so no spinner or elapsed time moves on screen.
            moment = later(utc_now(), -3_600_000)
            blocks = [tool_use(f"toolu_{i:04d}", tool, tool_input) for i, (tool, tool_input) in enumerate(calls)]
            log.append(log.assistant(blocks, moment))
            term.settle()
            cpu, start = term.cpu_seconds(), time.monotonic()
            term.pump(timeout=idle_seconds)
            idle = (term.cpu_seconds() - cpu) / (time.monotonic() - start) * 100
            asked = time.monotonic()
            os.write(term.master, b"q")
            back = term.pump(until=b"\x1b[?1049l", timeout=30.0)
            quit_ms = (back - asked) * 1000 if back is not None else float("nan")
            print(f"{name}: idle {idle:.2f} % of one core, q to the main screen {quit_ms:.0f} ms")
        finally:
            term.close()
            sandbox.cleanup()
    return 0


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--huge":
        return huge(sys.argv[2], float(sys.argv[3]) if len(sys.argv) > 3 else 5.0)
    if len(sys.argv) >= 4 and sys.argv[1] == "--catch-up":
        return catch_up(*sys.argv[2:5])
    if len(sys.argv) > 3 and sys.argv[1] == "--idle-after":
        return idle_after(sys.argv[3], sys.argv[2], float(sys.argv[4]) if len(sys.argv) > 4 else 10.0)
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    binary = sys.argv[1]
    idle_seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    probes = int(sys.argv[3]) if len(sys.argv) > 3 else 21
    if not os.access(binary, os.X_OK):
        print(f"whole_program: {binary} is not built", file=sys.stderr)
        return 1
    sandbox = Sandbox(binary)
    term = Terminal(sandbox)
    try:
        if not term.started():
            return 1
        log = Session(sandbox)
        t = utc_now()
        log.append(log.user("Run the tests", t),
                   log.assistant([text("Running them."), tool_use("toolu_1", "Bash", {"command": "make test"})],
                                 t, usage=(1200, 300, 5000, 0)),
                   log.tool_result("toolu_1", "all passed", later(t, 900)),
                   log.assistant([text("All tests pass.")], later(t, 1000), usage=(1500, 40, 6200, 0)))
        if term.pump(until=b"0.0166") is None:  # its cost line; the diff skips cells that stay blank
            print("whole_program: the session did not show", file=sys.stderr)
            return 1
        term.pump(timeout=1.0)  # let the screen settle

        written, cpu, start = term.written, term.cpu_seconds(), time.monotonic()
        term.pump(timeout=idle_seconds)
        elapsed = time.monotonic() - start
        idle_cpu = (term.cpu_seconds() - cpu) / elapsed * 100
        idle_bytes = term.written - written

        latencies = []
        pause = random.Random(9)
        for i in range(probes):
            # A run of one letter found nowhere else on screen and differing from the probe before it, so the
            # diff sends every one of its cells.
            word = "QXZJVWY"[i % 7] * 24
            # Each probe follows a redraw, so a fixed pause would land at the same point of the 50 ms wait.
            time.sleep(0.1 + pause.random() * 0.05)
            sent = time.monotonic()
            log.append(log.user(word, utc_now()))
            seen = term.pump(until=word.encode(), timeout=5)
            if seen is None:
                print(f"whole_program: probe {i} never reached the terminal", file=sys.stderr)
                return 1
            latencies.append((seen - sent) * 1000)

        # For comparison: a tool that keeps running, so the spinner and its elapsed time change every turn.
        log.append(log.assistant([tool_use("toolu_2", "Bash", {"command": "sleep 600"})], utc_now()))
        term.pump(timeout=1.0)
        written, cpu, start = term.written, term.cpu_seconds(), time.monotonic()
        term.pump(timeout=idle_seconds / 2)
        running_elapsed = time.monotonic() - start
        running_cpu = (term.cpu_seconds() - cpu) / running_elapsed * 100
        running_rate = (term.written - written) / running_elapsed

        print(f"idle CPU over {elapsed:.1f} s: {idle_cpu:.2f} % of one core")
        print(f"terminal output over the idle {elapsed:.1f} s: {idle_bytes} bytes")
        print(f"with a tool running (spinner turning): {running_cpu:.2f} % of one core, "
              f"{running_rate:.0f} bytes/s to the terminal")
        print(f"append to terminal, median of {probes}: {statistics.median(latencies):.1f} ms "
              f"(min {min(latencies):.1f}, max {max(latencies):.1f})")
        return 0
    finally:
        term.close()
        sandbox.cleanup()


if __name__ == "__main__":
    sys.exit(main())
