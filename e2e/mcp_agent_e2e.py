#!/usr/bin/python3
"""An agent's round trip through mevrik-mcp on the headless test desktop, with a Qt window.

A scripted client speaks MCP over the server's standard input and output, as Codex does: it takes
a snapshot, clicks the text field, types a Japanese sentence, presses Return (the window copies
the field into its label), and then sees the sentence in the next snapshot and, in a screenshot,
pixels that changed where the snapshot puts the label.

  mcp_agent_e2e.py --server MEVRIK_MCP --qt-app AX_QT_APP --desktop DESKTOP_SH
"""

import argparse
import base64
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_session import check, desktop_session, launch, read_png, summary  # noqa: E402
from desktop_session import wait_until  # noqa: E402

SENTENCE = "今日はいい天気ですね。散歩に行きましょう！"


class Client:
    def __init__(self, server):
        self.process = subprocess.Popen([server], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)
        self.next_id = 0

    def request(self, method, params=None):
        self.next_id += 1
        message = {"jsonrpc": "2.0", "id": self.next_id, "method": method}
        if params is not None:
            message["params"] = params
        self.process.stdin.write(json.dumps(message, ensure_ascii=False) + "\n")
        self.process.stdin.flush()
        answer = json.loads(self.process.stdout.readline())
        assert answer.get("id") == self.next_id, answer
        return answer["result"]

    def call(self, tool, **arguments):
        return self.request("tools/call", {"name": tool, "arguments": arguments})

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)


def screenshot(client, work, name):
    result = client.call("screenshot")
    assert not result["isError"], result
    image = [c for c in result["content"] if c["type"] == "image"][0]
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(base64.b64decode(image["data"]))
    return result["structuredContent"], read_png(path)


def main():
    parser = argparse.ArgumentParser()
    for name in ("--server", "--qt-app", "--desktop"):
        parser.add_argument(name, required=True)
    options = parser.parse_args()
    with desktop_session(options.desktop, "mcp-agent-e2e-") as work:
        launch(options.desktop, work, options.qt_app, name="qt")
        client = Client(options.server)
        client.request("initialize", {"protocolVersion": "2025-06-18", "capabilities": {},
                                      "clientInfo": {"name": "agent-check", "version": "0"}})
        tools = [t["name"] for t in client.request("tools/list")["tools"]]
        check({"type_text", "press_keys", "screenshot"} <= set(tools), "the server lists %s" % tools)

        first = client.call("snapshot", budget=5)["structuredContent"]
        field = [e for e in first["elements"] if e["role"] == "textfield"][0]
        before_info, (_, _, before) = screenshot(client, work, "before.png")
        client.call("click", x=field["x"], y=field["y"])
        typed = client.call("type_text", text=SENTENCE)
        pressed = client.call("press_keys", keys=["Return"])
        check(not typed["isError"] and not pressed["isError"],
              "type_text and press_keys succeed: %r, %r" % (typed["content"][0]["text"],
                                                           pressed["content"][0]["text"]))

        def labelled():
            d = client.call("snapshot", budget=5)["structuredContent"]
            return [e for e in d["elements"] if e["role"] == "text" and e["label"] == SENTENCE]

        label = wait_until(labelled, 10, 0.3)
        check(label, "the next snapshot shows the sentence in the label")
        after_info, (width, height, after) = screenshot(client, work, "after.png")
        check((width, height) == (after_info["width"] * after_info["scale"],
                                  after_info["height"] * after_info["scale"]),
              "the screenshot is %dx%d pixels at scale %s" % (width, height, after_info["scale"]))
        if label and before_info == after_info:
            e, s = label[0], after_info["scale"]
            top, bottom = int((e["y"] - e["h"] / 2 - after_info["y"]) * s), int(
                (e["y"] + e["h"] / 2 - after_info["y"]) * s)
            left, right = int((e["x"] - e["w"] / 2 - after_info["x"]) * s), int(
                (e["x"] + e["w"] / 2 - after_info["x"]) * s)
            changed = sum(before[v][u * 3:u * 3 + 3] != after[v][u * 3:u * 3 + 3]
                          for v in range(max(top, 0), min(bottom, height))
                          for u in range(max(left, 0), min(right, width)))
            check(changed > 0, "the screenshot changed where the snapshot puts the label "
                  "(%d pixels in %d,%d-%d,%d)" % (changed, left, top, right, bottom))
        client.close()
    return summary()


if __name__ == "__main__":
    sys.exit(main())
