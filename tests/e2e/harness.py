"""The pieces the end-to-end tests share: a private tmux server, a temporary home, session-log lines."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import uuid
from datetime import datetime, timedelta, timezone

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests

# A zone far from UTC, written in POSIX form so that it needs no time-zone database.
TZ = "JST-9"

SPINNER = "⠋⠙⠹⠸⠼⠴⠦⠧⠇⠏"


class Failure(Exception):
    pass


def check(condition, message, screen=None):
    if not condition:
        raise Failure(message + ("\n--- screen ---\n" + screen + "\n--------------" if screen is not None else ""))


class Sandbox:
    """A temporary folder holding the home directory, the tmux socket and the files a test writes."""

    def __init__(self, binary):
        self.binary = os.path.realpath(binary)
        self.root = tempfile.mkdtemp(prefix="orvik-e2e-")
        self.home = os.path.join(self.root, "home")
        self.claude = os.path.join(self.home, ".claude")
        self.projects = os.path.join(self.claude, "projects")
        os.makedirs(self.projects)
        os.makedirs(os.path.join(self.claude, "sessions"))
        self.bin_dir = os.path.join(self.root, "bin")
        os.makedirs(self.bin_dir)
        # orvik is reachable by name; system tools stay on PATH for the shell.
        os.symlink(self.binary, os.path.join(self.bin_dir, "orvik"))

    def env(self, **extra):
        env = {
            "HOME": self.home,
            "TZ": TZ,
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "PATH": self.bin_dir + ":/usr/local/bin:/usr/bin:/bin",
        }
        env.update(extra)
        return env

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def read(self, *parts):
        try:
            with open(self.path(*parts), "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return None

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


class Tmux:
    """One tmux server on its own socket with one window running an interactive shell."""

    def __init__(self, sandbox, width=100, height=30, env=None):
        self.sandbox = sandbox
        self.socket = sandbox.path("tmux.sock")
        conf = sandbox.path("tmux.conf")
        with open(conf, "w") as f:
            f.write("set -g status off\nset -g escape-time 0\nset -g history-limit 2000\n")
        rc = sandbox.path("bashrc")
        with open(rc, "w") as f:
            f.write("PS1='$ '\n")
        self.env = env or sandbox.env()
        self.tmux("-f", conf, "new-session", "-d", "-s", "e2e", "-x", str(width), "-y", str(height),
                  f"bash --rcfile {rc} --noprofile")
        self.wait_for(lambda s: s.rstrip().endswith("$"), "the shell prompt")

    def tmux(self, *args, check_status=True):
        result = subprocess.run(["tmux", "-S", self.socket, *args], env=self.env, capture_output=True,
                                text=True, timeout=10)
        if check_status and result.returncode != 0:
            raise Failure(f"tmux {' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def screen(self):
        return self.tmux("capture-pane", "-p", "-N", "-t", "e2e")

    def styled(self):
        """The screen with its colours and attributes as escape sequences."""
        return self.tmux("capture-pane", "-p", "-e", "-t", "e2e")

    def lines(self):
        return self.screen().split("\n")

    def size(self):
        out = self.tmux("display", "-p", "-t", "e2e", "#{pane_width} #{pane_height}")
        w, h = out.split()
        return int(w), int(h)

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "e2e", *keys)

    def type(self, command):
        """Types a command line into the shell and presses Enter."""
        self.tmux("send-keys", "-t", "e2e", "-l", command)
        self.tmux("send-keys", "-t", "e2e", "Enter")

    def resize(self, width, height):
        self.tmux("resize-window", "-t", "e2e", "-x", str(width), "-y", str(height))

    def shell_pid(self):
        return int(self.tmux("display", "-p", "-t", "e2e", "#{pane_pid}").strip())

    def wait_for(self, predicate, what, timeout=10.0):
        """Polls the screen until predicate(screen) holds; fails with the last screen after `timeout`."""
        deadline = time.monotonic() + timeout
        screen = ""
        while True:
            screen = self.screen()
            if predicate(screen):
                return screen
            if time.monotonic() > deadline:
                raise Failure(f"timed out after {timeout}s waiting for {what}\n--- screen ---\n{screen}\n-------")
            time.sleep(0.05)

    def wait_text(self, text, timeout=10.0):
        return self.wait_for(lambda s: text in s, repr(text), timeout)

    def wait_exit(self, timeout=10.0):
        """Waits for the 'exit=N' line that the typed command lines print; returns N."""
        pattern = re.compile(r"^exit=(\d+) *$", re.M)
        screen = self.wait_for(lambda s: pattern.search(s), "the exit status line", timeout)
        return int(pattern.findall(screen)[-1])

    def kill(self):
        self.tmux("kill-server", check_status=False)


def run_test(test, binary, shared_dir):
    """Runs one test function with a fresh sandbox; the tmux server and the folder go at the end."""
    sandbox = Sandbox(binary)
    servers = []

    def tmux(**kwargs):
        server = Tmux(sandbox, **kwargs)
        servers.append(server)
        return server

    try:
        return test(sandbox=sandbox, tmux=tmux, shared_dir=shared_dir)
    finally:
        for server in servers:
            server.kill()
        sandbox.cleanup()


def main(tests, doc):
    """The command line of a test script: --list prints the test names; BINARY SHARED_DIR NAME runs one test.
    Returns the exit status: 0 passed, 1 failed, 2 usage, SKIP skipped."""
    if sys.argv[1:] == ["--list"]:
        print("\n".join(tests))
        return 0
    if len(sys.argv) != 4 or sys.argv[3] not in tests:
        print(doc + "\nTests: " + " ".join(tests), file=sys.stderr)
        return 2
    binary, shared_dir, name = sys.argv[1:]
    try:
        outcome = run_test(tests[name], binary, shared_dir)
    except Failure as failure:
        print(f"FAILED {name}: {failure}", file=sys.stderr)
        return 1
    if outcome == SKIP:
        return SKIP
    print(f"passed {name}")
    return 0


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def utc_now():
    return datetime.now(timezone.utc)


def stamp(moment):
    """RFC 3339 with milliseconds, as the agent writes it."""
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + f"{moment.microsecond // 1000:03d}Z"


class Session:
    """Writes a session log the way the agent does: one JSON record per line, appended as it works."""

    def __init__(self, sandbox, project="-home-user-demo", make_dir=True):
        self.id = str(uuid.uuid4())
        self.dir = os.path.join(sandbox.projects, project)
        if make_dir:
            os.makedirs(self.dir, exist_ok=True)
        self.path = os.path.join(self.dir, self.id + ".jsonl")
        self.last = None

    def record(self, kind, message, moment, **extra):
        rec = {
            "parentUuid": self.last,
            "isSidechain": False,
            "type": kind,
            "message": message,
            "uuid": str(uuid.uuid4()),
            "timestamp": stamp(moment),
            "sessionId": self.id,
            "cwd": "/home/user/demo",
            "version": "2.1.39",
        }
        rec.update(extra)
        self.last = rec["uuid"]
        return json.dumps(rec, separators=(",", ":"))

    def user(self, text, moment):
        return self.record("user", {"role": "user", "content": text}, moment)

    def assistant(self, blocks, moment, usage=None, message_id=None):
        message = {"id": message_id or "msg_" + uuid.uuid4().hex[:20], "role": "assistant",
                   "model": "claude-sonnet-4-5", "content": blocks}
        if usage is not None:
            message["usage"] = {"input_tokens": usage[0], "output_tokens": usage[1],
                                "cache_read_input_tokens": usage[2], "cache_creation_input_tokens": usage[3]}
        return self.record("assistant", message, moment)

    def tool_result(self, tool_use_id, content, moment, is_error=False):
        block = {"type": "tool_result", "tool_use_id": tool_use_id, "content": content, "is_error": is_error}
        return self.record("user", {"role": "user", "content": [block]}, moment,
                           toolUseResult={"stdout": content, "stderr": "", "interrupted": False,
                                          "isImage": False})

    def append(self, *lines):
        """Appends whole lines in one write."""
        data = "".join(line + "\n" for line in lines).encode()
        fd = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(fd, data)
        finally:
            os.close(fd)

    def append_bytes(self, data):
        fd = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(fd, data)
        finally:
            os.close(fd)


def thinking(text):
    return {"type": "thinking", "thinking": text, "signature": "c2lnbmF0dXJl"}


def text(value):
    return {"type": "text", "text": value}


def tool_use(tool_id, name, tool_input):
    return {"type": "tool_use", "id": tool_id, "name": name, "input": tool_input}


def hms(moment):
    return moment.astimezone(timezone.utc).strftime("%H:%M:%S")


def later(moment, ms):
    return moment + timedelta(milliseconds=ms)
