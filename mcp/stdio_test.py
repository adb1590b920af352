#!/usr/bin/env python3
"""Drives the real mevrik-mcp over a pipe: a session with malformed lines, a notification, an
over-long line and tool calls that run the real tools (here without a desktop), checking that
standard output carries exactly one JSON-RPC answer per request, in order, and nothing else."""
import json
import os
import subprocess
import sys

server = sys.argv[1]
env = dict(os.environ)
env.pop("DISPLAY", None)  # the tools must fail cleanly, and say so, without a desktop
lines = [
    '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18",'
    '"capabilities":{},"clientInfo":{"name":"t","version":"0"}}}',
    '{"jsonrpc":"2.0","method":"notifications/initialized"}',
    "{not json",
    '{"jsonrpc":"2.0","id":2,"method":"tools/list"}',
    "x" * (5 * 1024 * 1024),
    '{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"snapshot","arguments":{}}}',
    '{"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"click","arguments":{"x":5,"y":5}}}',
    '{"jsonrpc":"2.0","id":5,"method":"bogus"}',
    '{"jsonrpc":"2.0","id":6,"method":"ping"}',
]
done = subprocess.run([server], input="\n".join(lines) + "\n", capture_output=True, text=True,
                      env=env, timeout=60)
answers = [json.loads(line) for line in done.stdout.splitlines()]
expected = [(1, None), (None, -32700), (2, None), (None, -32700), (3, None), (4, None),
            (5, -32601), (6, None)]
got = [(a.get("id"), a.get("error", {}).get("code")) for a in answers]
assert done.returncode == 0, done
assert got == expected, got
assert answers[0]["result"]["protocolVersion"] == "2025-06-18"
assert [t["name"] for t in answers[2]["result"]["tools"]] == [
    "snapshot", "click", "request_access", "type_text", "press_keys", "screenshot",
    "list_windows", "focus_window", "launch_app", "window_at", "press", "set_text"]
# Without a display both tools fail; the failure is a tool error that names it.
for answer in answers[4:6]:
    assert answer["result"]["isError"] is True, answer
    assert answer["result"]["content"][0]["text"], answer
print("ok:", len(answers), "answers")

# The server's own scratch folder, under a TMPDIR with spaces, is gone when the server ends: at
# the end of its input, and on SIGTERM while a tool runs, which gets SIGTERM itself first.
import shutil
import signal
import tempfile
import time

with tempfile.TemporaryDirectory() as scratch:
    tools = os.path.join(scratch, "bin")
    os.mkdir(tools)
    shutil.copy(server, tools)
    with open(os.path.join(tools, "vantic-shot"), "w") as f:
        f.write('#!/bin/sh\nprintf PNG > "$1"\n'
                'echo "pid=1 file=$1 x=0 y=0 width=1 height=1 image=1x1 scale=1"\n')
    with open(os.path.join(tools, "vantic-type"), "w") as f:
        f.write('#!/bin/sh\nif [ "$1" = --restore ]; then echo restored=0; : > "$0.restored"; exit 0; fi\n'
                "trap 'echo stopped > \"$0.term\"; exit 0' TERM\nsleep 30 & wait\n")
    for tool in ("vantic-shot", "vantic-type"):
        os.chmod(os.path.join(tools, tool), 0o755)
    tmpdir = os.path.join(scratch, "temp dir")
    os.mkdir(tmpdir)
    env = dict(os.environ, TMPDIR=tmpdir)
    copy = os.path.join(tools, os.path.basename(server))
    shot = '{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"screenshot"}}\n'
    done = subprocess.run([copy], input=shot, capture_output=True, text=True, env=env, timeout=60)
    answer = json.loads(done.stdout)
    assert answer["result"]["content"][1]["data"] == "UE5H", answer
    assert os.listdir(tmpdir) == [], os.listdir(tmpdir)
    # A killed typing run's leftovers are undone before the server's first tool runs.
    assert os.path.exists(os.path.join(tools, "vantic-type.restored"))

    running = subprocess.Popen([copy], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                               text=True)
    running.stdin.write(shot)
    running.stdin.flush()
    running.stdout.readline()
    assert len(os.listdir(tmpdir)) == 1
    running.stdin.write('{"jsonrpc":"2.0","id":2,"method":"tools/call",'
                        '"params":{"name":"type_text","arguments":{"text":"x"}}}\n')
    running.stdin.flush()
    time.sleep(1)
    running.send_signal(signal.SIGTERM)
    assert running.wait(timeout=10) == -signal.SIGTERM, running.returncode
    assert os.path.exists(os.path.join(tools, "vantic-type.term"))
    assert os.listdir(tmpdir) == [], os.listdir(tmpdir)
print("ok: scratch folder removed at the end of input and on SIGTERM")
