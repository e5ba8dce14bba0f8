#!/usr/bin/env python3
"""End-to-end tests: the whole orvik program in a real terminal (tmux), checked by what a user sees.

Usage: orvik_e2e.py ORVIK_BINARY SHARED_DIR TEST_NAME, or orvik_e2e.py --list for the test names.
"""

import ctypes
import fcntl
import json
import locale
import os
import re
import select
import signal
import struct
import subprocess
import sys
import termios
import time
import uuid

sys.dont_write_bytecode = True  # keep the source folders clean
import harness
from harness import (SKIP, SPINNER, Failure, Session, check, hms, later, run_test, text, thinking, thread_count,
                     tool_use, utc_now)

HEADER_EMPTY = " Orvik   0 sessions   0 events "


def start_dashboard(term, command="orvik 2>err.txt"):
    """Starts orvik from the shell; the line after it reports the exit status."""
    term.type(f"cd {term.sandbox.root} && {command}; echo \"exit=$?\"")
    return term.wait_text(" Orvik   ")


def coloured(code, text):
    """A pattern for `text` drawn in the foreground colour `code`, other attribute changes allowed between."""
    return rf"\x1b\[{code}m(?:\x1b\[[0-9;]*m)*{re.escape(text)}"


def row_index(screen, needle):
    for i, line in enumerate(screen.split("\n")):
        if needle in line:
            return i
    return -1


def test_first_screen_and_quit(sandbox, tmux, **_):
    term = tmux(width=100, height=30)
    term.type("echo before-orvik")
    screen = start_dashboard(term)
    screen = term.wait_text("Waiting for session events…")
    lines = screen.split("\n")
    check(lines[0].startswith(HEADER_EMPTY), "header", screen)
    check(lines[1].startswith("╭ Events (newest first) ") and lines[1].rstrip().endswith("╮"), "events box", screen)
    check("╭ Dashboard " in lines[1], "dashboard placeholder box", screen)
    check(lines[2].startswith("│") and "│Waiting for session events…" in lines[2], "placeholder text", screen)
    check(lines[28].startswith("╰") and lines[28].rstrip().endswith("╯"), "bottom borders", screen)
    check(lines[29].rstrip() == " q quit", "footer on the last row", screen)
    check("before-orvik" not in screen, "the dashboard is on the alternate screen", screen)

    term.keys("q")
    status = term.wait_exit(timeout=5)
    check(status == 0, f"q ends with status 0, not {status}", term.screen())
    screen = term.screen()
    check("before-orvik" in screen and "Orvik   0 sessions" not in screen, "the shell screen comes back", screen)
    check(sandbox.read("err.txt") == "", f"nothing on stderr: {sandbox.read('err.txt')!r}")

    # `orvik run` is the same program; Esc quits it too.
    term.type("clear")
    start_dashboard(term, "orvik run 2>err.txt")
    term.wait_text("Waiting for session events…")
    term.keys("Escape")
    status = term.wait_exit(timeout=5)
    check(status == 0, f"Esc ends with status 0, not {status}", term.screen())


def test_quit_keys(sandbox, tmux, **_):
    term = tmux(width=90, height=24)
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    for key in (["Q"], ["C-c"], ["x"], ["Enter"], ["C-z"]):
        term.keys(*key)
    time.sleep(0.6)
    screen = term.screen()
    # In raw mode Ctrl+C and Ctrl+Z are plain keys: neither stops the process.
    check(screen.startswith(HEADER_EMPTY) and "exit=" not in screen, "Q, Ctrl+C and other keys do not quit", screen)
    # q with a modifier (Alt+q arrives as Esc then q) still quits.
    term.keys("M-q")
    status = term.wait_exit(timeout=5)
    check(status == 0, f"status {status}", term.screen())


def test_resize_redraws(sandbox, tmux, **_):
    term = tmux(width=100, height=30)
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    for width, height in ((70, 20), (130, 36)):
        term.resize(width, height)

        def drawn(screen, width=width, height=height):
            lines = screen.split("\n")
            return (len(lines) >= height and lines[height - 1].rstrip() == " q quit"
                    and lines[1].rstrip().endswith("╮") and len(lines[1].rstrip()) == width
                    and lines[height - 2].startswith("╰"))

        screen = term.wait_for(drawn, f"a redraw at {width}x{height}", timeout=5)
        lines = screen.split("\n")
        half = width // 2
        check(lines[1][half - 1] == "╮" and lines[1][half] == "╭", f"the halves split at column {half}", screen)
    term.keys("q")
    check(term.wait_exit() == 0, "status 0", term.screen())


def test_follow_session(sandbox, tmux, **_):
    term = tmux(width=140, height=40)
    budget = 140 // 2 - 22  # the detail characters of an events row
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    # The project folder appears while orvik runs, as it does when the agent starts in a new folder.
    log = Session(sandbox)

    t0 = utc_now()
    log.append(log.user("Fix the failing test in parser.cpp", t0))
    screen = term.wait_text(" Orvik   1 sessions   1 events ")
    check(f"{hms(t0)} USER  Fix the failing test in parser.cpp" in screen, "the user row in UTC", screen)
    check(" Live session   ○ idle   1 events" in screen, "session panel idle", screen)
    check(re.search(f"[{SPINNER}] Thinking…", screen), "the Thinking row while awaiting the reply", screen)
    check("no turns yet" in screen and " session total  in=0  out=0  cache_r=0" in screen, "no usage", screen)
    check(" est. cost: $0.0000" in screen, "zero cost", screen)
    check(re.search(r"│USER +│", screen), "flow with the user step", screen)

    t1 = utc_now()
    log.append(log.assistant([thinking("The parser test fails on empty input."),
                              text("Let me run the tests first."),
                              tool_use("toolu_01", "Bash", {"command": "make test", "description": "Run the tests"})],
                             t1, usage=(1200, 300, 5000, 100), message_id="msg_01"))
    screen = term.wait_text(" Orvik   1 sessions   4 events ")
    rows = [f"{hms(t1)} ASST  Let me run the tests first.", f"{hms(t1)} TOOL▶ Bash make test",
            f"{hms(t1)} THINK The parser test fails on empty input.", f"{hms(t0)} USER  Fix the failing"]
    at = [row_index(screen, r) for r in rows]
    check(all(i > 0 for i in at) and at == sorted(at) and at[0] == 2, f"rows newest first at {at}", screen)
    check(" Live session   ● LIVE   4 events" in screen, "LIVE while the tool runs", screen)
    styled = term.styled()
    check(re.search(r"\x1b\[1m\x1b\[36m Orvik   1 sessions", styled), "the header is bold Cyan", styled)
    check(re.search(coloured(32, "   ● LIVE"), styled), "LIVE is Green", styled)
    check(re.search(f"[{SPINNER}] Bash {{9}}\\[\\d+\\.\\ds\\]", screen), "running row with spinner", screen)
    check("Thinking…" not in screen, "no Thinking row once the reply came", screen)
    check("last turn  in=1200 out=300  cache_r=5000" in screen, "gauge label", screen)
    check(" session total  in=1200  out=300  cache_r=5000" in screen, "totals", screen)
    check(" est. cost: $0.0096" in screen, "cost", screen)
    check("│USER → THINK → Bash → ASST" in screen, "flow line", screen)
    frames = {re.search(f"([{SPINNER}]) Bash", term.screen()).group(1) for _ in range(4) if not time.sleep(0.12)}
    check(len(frames) >= 2, f"the spinner turns: {frames}")

    log.append(log.tool_result("toolu_01", "12 passed, 1 failed", later(t1, 1234)))
    screen = term.wait_text(" Orvik   1 sessions   5 events ")
    check(" Live session   ○ idle   5 events" in screen, "idle after the result", screen)
    check(f"✓ {'Bash':<12} 1234ms" in screen, "finished row with its duration", screen)
    check(f"{hms(later(t1, 1234))} TOOL◀ 12 passed, 1 failed" in screen, "tool result row", screen)

    # The second turn: one response written over two lines that repeat its usage; it counts once.
    t2 = utc_now()
    log.append(log.user("Now add a guard for empty input.", t2))
    log.append(log.assistant([text("The empty-input case needs a guard.")], t2,
                             usage=(1500, 10, 6200, 0), message_id="msg_02"),
               log.assistant([tool_use("toolu_02", "Read", {"file_path": "/home/user/demo/parser.cpp", "limit": 50}),
                              tool_use("toolu_03", "Grep", {"pattern": "parse_empty", "path": "tests"})],
                             t2, usage=(1500, 420, 6200, 0), message_id="msg_02"))
    screen = term.wait_text(" Orvik   1 sessions   10 events ")
    check(" Live session   ● LIVE   10 events" in screen, "LIVE with two tools", screen)
    for name in ("Read", "Grep"):
        check(re.search(f"[{SPINNER}] {name} {{9}}\\[\\d+\\.\\ds\\]", screen), f"{name} running", screen)
    check(f"{hms(t2)} TOOL▶ Read /home/user/demo/parser.cpp" in screen, "Read row", screen)
    check(f"{hms(t2)} TOOL▶ Grep tests" in screen, "Grep row: the first string in key order", screen)
    check("│USER → THINK → Bash → ASST → USER → ASST → [Read ‖ Grep] → ASST" in screen, "flow", screen)
    check(" session total  in=2700  out=720  cache_r=11200" in screen, "the repeated usage counts once", screen)
    check("last turn  in=1500 out=420  cache_r=6200" in screen, "gauge label", screen)

    log.append(log.tool_result("toolu_02", "File does not exist.", later(t2, 250), is_error=True),
               log.tool_result("toolu_03", "tests/parser_test.cpp:12", later(t2, 75)))
    screen = term.wait_text(" Orvik   1 sessions   12 events ")
    check(" Live session   ○ idle   12 events" in screen, "idle", screen)
    finished = [f"✓ {'Grep':<12} 75ms", f"✗ {'Read':<12} 250ms", f"✓ {'Bash':<12} 1234ms"]
    at = [row_index(screen, r) for r in finished]
    check(all(i > 0 for i in at) and at == sorted(at), f"finished rows, latest finish first, at {at}", screen)
    styled = term.styled()
    check(re.search(coloured(31, "✗ "), styled) and re.search(coloured(36, "✓ "), styled), "✗ Red, ✓ Cyan", styled)

    t3 = utc_now()
    final = "Added a guard for empty input in parse_line; all thirteen tests pass now."
    log.append(log.assistant([text(final)], t3, usage=(1800, 150, 7000, 0), message_id="msg_03"))
    screen = term.wait_text(" Orvik   1 sessions   13 events ")
    check(f"{hms(t3)} ASST  {final[:budget]}…" in screen, "the row's text is cut to the panel's budget", screen)
    check(" session total  in=4500  out=870  cache_r=18200" in screen, "totals", screen)
    check(" est. cost: $0.0320" in screen, "cost", screen)
    check("last turn  in=1800 out=150  cache_r=7000" in screen, "gauge", screen)

    term.keys("q")
    check(term.wait_exit() == 0, "status 0", term.screen())
    check(sandbox.read("err.txt") == "", f"no diagnostics: {sandbox.read('err.txt')!r}")


def test_history_read_on_first_change(sandbox, tmux, **_):
    """A log that exists at start shows nothing until it changes; then it is read from its beginning."""
    log = Session(sandbox)
    t0 = utc_now()
    log.append(log.user("written before orvik started", t0),
               log.assistant([text("an early answer")], t0, usage=(10, 20, 30, 0)))
    term = tmux(width=120, height=30)
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    time.sleep(0.5)
    check(term.screen().startswith(HEADER_EMPTY), "nothing is read at start", term.screen())
    log.append(log.user("the next prompt", utc_now()))
    screen = term.wait_text(" Orvik   1 sessions   3 events ")
    at = [row_index(screen, r) for r in ("USER  the next prompt", "ASST  an early answer", "USER  written before")]
    check(at == sorted(at) and at[0] == 2, f"the whole log, newest first, at {at}", screen)
    check(" session total  in=10  out=20  cache_r=30" in screen, "the early usage counts", screen)
    term.keys("q")
    check(term.wait_exit() == 0, "status 0", term.screen())


def test_log_text_cannot_drive_the_terminal(sandbox, tmux, **_):
    """Control sequences inside a log's texts are shown as harmless characters, never sent raw."""
    term = tmux(width=120, height=30)
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    title = term.tmux("display", "-p", "-t", "e2e", "#{pane_title}")
    log = Session(sandbox)
    hostile = "evil\x1b]2;pwned\x07 \x1b[2J\x1b[H\x1b[31mred\r\nnext\x1b[?1049l"
    log.append(log.user(hostile, utc_now()),
               log.assistant([tool_use("toolu_x", "Bash\x1b[5m", {"command": "\x1bc reset"})], utc_now()))
    screen = term.wait_text(" Orvik   1 sessions   2 events ")
    time.sleep(0.3)
    screen = term.screen()
    lines = screen.split("\n")[:30]
    check(lines[0].startswith(" Orvik   1 sessions   2 events ") and lines[29].rstrip() == " q quit",
          "the screen was neither cleared nor left", screen)
    check(all(len(line) == 120 for line in lines[:29]), "every row keeps its width", screen)
    row = lines[row_index(screen, "evil")]
    check("pwned" in row and "red" in row and "\x1b" not in row, f"the text is shown, inert: {row!r}", screen)
    check(term.tmux("display", "-p", "-t", "e2e", "#{pane_title}") == title, "the window title is unchanged")
    check(not re.search(coloured(31, "red"), term.styled()), "no colour from the log", term.styled())
    term.keys("q")
    check(term.wait_exit() == 0, "status 0", term.screen())


def corpus_model(files):
    """What the dashboard should end with after reading `files` in order: sessions, held events, and the
    newest session's event count and token totals (each response's usage counted once, its last one)."""
    order, counts, usage_by_id, loose = [], {}, {}, {}
    total_events = 0
    for path in files:
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if not line:
                    continue
                rec = json.loads(line)
                message = rec.get("message")
                if rec.get("type") not in ("user", "assistant") or not isinstance(message, dict):
                    continue
                content = message.get("content")
                blocks = [{"type": "text"}] if isinstance(content, str) else (content or [])
                kinds = [b.get("type") if isinstance(b, dict) else b[0] for b in blocks]
                if rec["type"] == "user":
                    n = sum(k in ("text", "tool_result") for k in kinds)
                else:
                    usage = message.get("usage")
                    n = sum(k in ("tool_use", "thinking") for k in kinds)
                    n += 1 if ("text" in kinds or usage is not None) else 0
                if n == 0:
                    continue
                sid = str(uuid.UUID(rec["sessionId"]))
                if sid not in counts:
                    order.append(sid)
                    counts[sid] = 0
                    usage_by_id[sid] = {}
                    loose[sid] = [0, 0, 0]
                counts[sid] += n
                total_events += n
                if rec["type"] == "assistant" and message.get("usage") is not None:
                    u = message["usage"]
                    value = [u.get("input_tokens") or 0, u.get("output_tokens") or 0,
                             u.get("cache_read_input_tokens") or 0]
                    if isinstance(message.get("id"), str):
                        usage_by_id[sid][message["id"]] = value
                    else:
                        loose[sid] = [a + b for a, b in zip(loose[sid], value)]
    latest = order[-1]
    totals = list(loose[latest])
    for value in usage_by_id[latest].values():
        totals = [a + b for a, b in zip(totals, value)]
    return len(order), min(total_events, 500), counts[latest], totals


def test_real_logs(sandbox, tmux, shared_dir, **_):
    real = os.path.join(shared_dir, "corpus", "real")
    if not os.path.isdir(real):
        print(f"skipped: no real logs at {real}")
        return SKIP
    # Smallest first: the longest session, with the largest totals, comes last and is the one on screen.
    files = sorted((os.path.join(real, d, f) for d in os.listdir(real) if os.path.isdir(os.path.join(real, d))
                    for f in os.listdir(os.path.join(real, d)) if f.endswith(".jsonl")), key=os.path.getsize)
    sessions, held, count, (tin, tout, tcache) = corpus_model(files)

    # The folder is there before the watch: one made later is walked in directory order, not in the order
    # the logs were moved in, and the newest session would be another.
    target = os.path.join(sandbox.projects, "replay")
    staging = sandbox.path("staging")
    os.makedirs(staging)
    os.makedirs(target)
    term = tmux(width=120, height=40)
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    # Each log appears whole (written aside, then moved in), so no read can meet a half-written line.
    for i, path in enumerate(files):
        with open(path, "rb") as src, open(os.path.join(staging, "log.jsonl"), "wb") as dst:
            dst.write(src.read())
        os.rename(os.path.join(staging, "log.jsonl"), os.path.join(target, f"{i:02d}-{os.path.basename(path)}"))
    header = f" Orvik   {sessions} sessions   {held} events "
    totals = f" session total  in={tin}  out={tout}  cache_r={tcache}"
    screen = term.wait_for(lambda s: header in s and totals in s, f"{header!r} and {totals!r}", timeout=30)
    check(re.search(f"(LIVE|idle)   {count} events", screen), f"the newest session's {count} events", screen)
    term.keys("q")
    check(term.wait_exit() == 0, "status 0", term.screen())
    err = sandbox.read("err.txt")
    check("skipping unparseable line" not in err, f"every real line reads: {err[:2000]}")
    check(err == "", f"no diagnostics at all: {err[:2000]}")


def wait_stderr(sandbox, predicate, timeout=5.0):
    deadline = time.monotonic() + timeout
    err = sandbox.read("err.txt") or ""
    while not predicate(err) and time.monotonic() < deadline:
        time.sleep(0.05)
        err = sandbox.read("err.txt") or ""
    return err


def test_diagnostics_on_stderr(sandbox, tmux, **_):
    term = tmux(width=100, height=30)
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    log = Session(sandbox)
    log.append(log.user("hello", utc_now()))
    term.wait_text(" Orvik   1 sessions   1 events ")
    log.append('{"type":"user",}')
    log.append(log.user("still following", utc_now()))
    screen = term.wait_text("USER  still following")
    check(" 1 sessions   2 events " in screen, "the good lines still count", screen)
    # A log that is not UTF-8, moved in whole so that it is read once.
    bad = os.path.join(log.dir, "broken.jsonl")
    with open(sandbox.path("broken.jsonl"), "wb") as f:
        f.write(b'{"type":"user","message":{"content":"caf\xe9"}}\n')
    os.rename(sandbox.path("broken.jsonl"), bad)
    skipped = "skipping unparseable line: invalid field 'line': trailing comma at line 1 column 16"
    unreadable = f"parse error for {bad}: stream did not contain valid UTF-8"
    lines = wait_stderr(sandbox, lambda err: unreadable in err).split("\n")
    check(lines[0] == skipped and lines[-1] == "" and len(lines) >= 3 and set(lines[1:-1]) == {unreadable},
          f"stderr holds {lines!r}")
    term.keys("q")
    check(term.wait_exit() == 0, "status 0", term.screen())


def test_special_files_named_like_logs(sandbox, tmux, **_):
    """A FIFO, an endless device and a socket named like logs are reported, never read; q still quits at once."""
    import socket
    term = tmux(width=100, height=30)
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    log = Session(sandbox)
    log.append(log.user("first", utc_now()))
    term.wait_text("USER  first")
    specials = [os.path.join(log.dir, name) for name in ("fifo.jsonl", "zero.jsonl", "random.jsonl", "sock.jsonl")]
    os.mkfifo(specials[0])
    os.symlink("/dev/zero", specials[1])
    os.symlink("/dev/urandom", specials[2])
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(specials[3])
    sock.close()
    expected = "".join(f"parse error for {path}: not a regular file\n" for path in specials)
    err = wait_stderr(sandbox, lambda e: e == expected)
    check(err == expected, f"stderr {err!r}")
    log.append(log.user("still following", utc_now()))
    term.wait_text("USER  still following")
    term.keys("q")
    quit_at = time.monotonic()
    check(term.wait_exit(timeout=5) == 0, "status 0", term.screen())
    check(time.monotonic() - quit_at < 1.0, f"q took {time.monotonic() - quit_at:.2f} s")


def test_no_home_directory(sandbox, tmux, **_):
    """Without HOME and without a password entry the watcher reports and ends; the dashboard goes on."""
    if os.geteuid() != 0:
        print("skipped: needs root to run as a user without a password entry")
        return SKIP
    os.chmod(sandbox.root, 0o777)
    term = tmux(width=100, height=30)
    start_dashboard(term, "env -u HOME setpriv --reuid=54321 --regid=54321 --clear-groups orvik 2>err.txt")
    term.wait_text("Waiting for session events…")
    deadline = time.monotonic() + 5
    while not sandbox.read("err.txt") and time.monotonic() < deadline:
        time.sleep(0.05)
    check(sandbox.read("err.txt") == "watcher error: could not locate ~/.claude directory\n",
          f"stderr {sandbox.read('err.txt')!r}")
    time.sleep(0.3)
    check(term.screen().startswith(HEADER_EMPTY), "the dashboard still runs", term.screen())
    term.keys("q")
    check(term.wait_exit(timeout=3) == 0, "status 0", term.screen())


def run(args, env, timeout=10, **kwargs):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=timeout, **kwargs)


def write_stub(folder, name, body):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)
    return path


def test_detached(sandbox, **_):
    # A stub emulator records its arguments and whether it was started with SIGPIPE ignored.
    stubs = sandbox.path("stubs")
    record = sandbox.path("launched.txt")
    write_stub(stubs, "xterm", f'printf "%s\\n" "$@" > {record}.tmp\n'
                               f"/bin/grep SigIgn /proc/$$/status >> {record}.tmp\n/bin/mv {record}.tmp {record}\n")
    write_stub(stubs, "kitty", f"echo kitty > {sandbox.path('kitty.txt')}\n")
    env = sandbox.env(PATH=stubs)
    result = run([sandbox.binary, "run", "--detached"], env)
    check(result.returncode == 0, f"status {result.returncode}, stderr {result.stderr!r}")
    check(result.stdout == "Orvik launched in a new xterm window.\n", f"stdout {result.stdout!r}")
    deadline = time.monotonic() + 5
    while sandbox.read("launched.txt") is None and time.monotonic() < deadline:
        time.sleep(0.02)
    launched = (sandbox.read("launched.txt") or "").split("\n")
    check(launched[:2] == ["-e", sandbox.binary], f"the emulator runs the program itself: {launched}")
    sig_ign = int(launched[2].split()[1], 16)
    check(not sig_ign & (1 << (signal.SIGPIPE - 1)), f"the emulator starts with SIGPIPE at its default: {launched[2]}")
    check(sandbox.read("kitty.txt") is None, "only the first emulator found is started")

    result = run([sandbox.binary, "run", "-d"], sandbox.env(PATH=sandbox.path("empty")))
    check(result.returncode == 1, f"status {result.returncode}")
    check(result.stdout == "", f"nothing on stdout: {result.stdout!r}")
    check(result.stderr == "Error: no supported terminal emulator found (tried: gnome-terminal, xterm, konsole, "
                           "alacritty, kitty). Run `orvik run` directly instead.\n", f"stderr {result.stderr!r}")


def test_exit_statuses(sandbox, tmux, **_):
    term = tmux(width=150, height=40)
    cases = [
        ("orvik --version", 0, "orvik 0.1.0"),
        ("orvik -d", 2, "error: unexpected argument '-d' found"),
        ("orvik runn", 2, "tip: a similar subcommand exists: 'run'"),
        (f"PATH=/nonexistent {sandbox.binary} run --detached", 1, "Error: no supported terminal emulator found"),
        ("TOKIO_WORKER_THREADS=abc orvik --version", 101,
         'fatal error: TOKIO_WORKER_THREADS must be a whole number above zero, not "abc"'),
        ("TOKIO_WORKER_THREADS=0 orvik", 101, "fatal error: TOKIO_WORKER_THREADS must be a whole number"),
        ("TOKIO_WORKER_THREADS=3 orvik --version", 0, "orvik 0.1.0"),
    ]
    for command, status, output in cases:
        term.type("clear")
        term.wait_for(lambda s: s.strip() == "$", "a clear screen")
        term.type(f'{command}; echo "exit=$?"')
        got = term.wait_exit()
        screen = term.screen()
        check(got == status, f"{command}: status {got}, expected {status}", screen)
        check(output in screen, f"{command}: expected {output!r}", screen)


def test_worker_threads(sandbox, **_):
    """The idle workers follow TOKIO_WORKER_THREADS; a runtime that cannot be built is fatal."""
    counts = {}
    for workers in (2, 6):
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
        proc = subprocess.Popen([sandbox.binary], stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                                env=sandbox.env(TOKIO_WORKER_THREADS=str(workers), TERM="xterm"),
                                start_new_session=True)
        os.close(slave)
        try:
            deadline = time.monotonic() + 5
            seen = b""
            while b"Orvik" not in seen and time.monotonic() < deadline:
                if select.select([master], [], [], 0.1)[0]:
                    try:
                        seen += os.read(master, 65536)
                    except OSError:  # the program has ended and closed the terminal
                        break
            check(b"Orvik" in seen, f"the dashboard did not start: {seen[-300:]!r}")
            time.sleep(0.3)
            counts[workers] = thread_count(proc.pid)
            os.write(master, b"q")
            status = proc.wait(timeout=5)
            check(status == 0, f"status {status}")
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            os.close(master)
    check(counts[6] - counts[2] == 4, f"thread counts {counts}")

    # Not enough address space for the workers' stacks.
    result = run(["sh", "-c", f"ulimit -v 60000; exec {sandbox.binary} --version"],
                 sandbox.env(TOKIO_WORKER_THREADS="64"))
    check(result.returncode == 101, f"status {result.returncode}, stderr {result.stderr!r}")
    check(re.fullmatch(r"fatal error: Failed building the Runtime: .* \(os error \d+\)\n", result.stderr),
          f"stderr {result.stderr!r}")
    check(result.stdout == "", "the command line was not read")


def test_no_terminal(sandbox, **_):
    out, err = sandbox.path("out"), sandbox.path("err")
    started = time.monotonic()
    result = run(["sh", "-c", f"exec {sandbox.binary} </dev/null >{out} 2>{err}"], sandbox.env(),
                 start_new_session=True)
    took = time.monotonic() - started
    check(result.returncode == 1, f"status {result.returncode}")
    report = sandbox.read("err")
    check(report.startswith("Error: ") and report.endswith("\n"), f"stderr {report!r}")
    check(sandbox.read("out") == "", f"nothing on stdout: {sandbox.read('out')!r}")
    check(took < 3, f"ended at once, without waiting for the watcher ({took:.1f}s)")


def test_broken_pipe(sandbox, **_):
    """A write to a closed pipe fails as an error; it does not kill the process."""
    for args in (["--version"], ["--help"], ["-d"]):
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            result = subprocess.run([sandbox.binary, *args], stdout=write_end, stderr=write_end,
                                    env=sandbox.env(), timeout=10)
        finally:
            os.close(write_end)
        expected = 2 if args == ["-d"] else 0
        check(result.returncode == expected, f"{args}: status {result.returncode}, expected {expected}")


def tmux_columns(line):
    """The column where each character of a captured row starts, counted as tmux 3.3 counts: every code point
    by the C library's width, except one after U+200D, which joins the one before it."""
    libc = ctypes.CDLL(None)
    libc.wcwidth.restype = ctypes.c_int
    locale.setlocale(locale.LC_ALL, "C.UTF-8")
    col, out, joined = 0, [], False
    for ch in line:
        out.append(col)
        if not joined:
            col += max(libc.wcwidth(ctypes.c_wchar(ch)), 0)
        joined = ch == "\u200d"
    return out


def test_wide_and_joined_characters_keep_the_borders(sandbox, tmux, **_):
    """Texts whose widths terminals count differently, run up to every border: each border stays in its
    column, on the first frame and after the next change."""
    term = tmux(width=100, height=30)
    texts = ["\u1100" * 5, "\u0d4e中", "👍🏽🏽🏽", "👍🏽", "🇯🇵", "👩\u200d💻", "⚠\ufe0f"]
    # The columns below are counted the way this tmux counts them; another tmux may count otherwise.
    for i, t in enumerate(texts):
        term.tmux("new-window", "-d", "-n", f"probe{i}", f"printf '\\033[H%s' '{t}x'; sleep 10")
    time.sleep(0.5)
    for i, t in enumerate(texts):
        drawn = int(term.tmux("display", "-p", "-t", f"probe{i}", "#{cursor_x}"))
        if drawn != tmux_columns(t + "x")[-1] + 1:
            print(f"skipped: this tmux draws {t!r} {drawn - 1} columns wide, unlike tmux 3.3")
            return SKIP
    start_dashboard(term)
    term.wait_text("Waiting for session events…")
    names = [prefix + t * 40 for t in texts for prefix in ("", "x")]
    log = Session(sandbox)
    now = utc_now()
    log.append(log.user("".join(texts) * 10, now),
               log.assistant([tool_use(f"toolu_{i}", name, {"command": name}) for i, name in enumerate(names)], now))
    def check_borders(screen, when):
        for y, line in enumerate(screen.split("\n")[1:29], start=1):
            cols = tmux_columns(line)
            at = dict(zip(cols, line))
            sides = [c for c, ch in at.items() if ch in "│╭╮╰╯"]
            # The events box on every row; the dashboard's boxes on every row but the blank one under the tokens.
            expected = [0, 49, 50, 99] if at.get(50) != " " else [0, 49]
            check(sides == expected and max(cols) <= 99, f"{when}: row {y} has its borders at {sides}", screen)

    total = 1 + len(names)
    screen = term.wait_text(f" Orvik   1 sessions   {total} events ")
    time.sleep(0.3)
    check_borders(term.screen(), "first frame")
    log.append(log.user("next", utc_now()))
    term.wait_text(f" Orvik   1 sessions   {total + 1} events ")
    time.sleep(0.3)
    check_borders(term.screen(), "after the next change")
    term.keys("q")
    check(term.wait_exit() == 0, "status 0", term.screen())


TESTS = {name[len("test_"):]: fn for name, fn in globals().items() if name.startswith("test_")}


def main():
    return harness.main(TESTS, __doc__)


if __name__ == "__main__":
    sys.exit(main())
