#!/usr/bin/env python3
"""A scripted model for Codex's agent loop, and the vendor service, on 127.0.0.1.

    codex_model_server.py PORT_FILE LOG_FILE SCRIPT_JSON

POST /v1/responses answers as a streaming Responses API would: step N of the script, where N is
the number of tool outputs already in the request's input. A step is
  {"call": TOOL, "arguments": {...}}       call a tool of the mevrik namespace
  {"call": TOOL, "pick": {FIELD: VALUE}}   call it with the x and y of the first enabled record
                                           that matches, in the newest snapshot output
  {"say": TEXT}                            end the turn with a message
A call may also take "fields": {ARGUMENT: FIELD} (which of the picked record's fields become
arguments, default x and y), and "window": {FIELD: VALUE} with "window_fields": {ARGUMENT:
FIELD}, which fill arguments from the first matching record of the newest window list.
Each request is logged as one JSON line: the step, the call made and the previous tool output.
GET /latest.json and POST /api/installations answer as the vendor service does.
"""
import http.server
import os
import json
import sys

port_file, log_file, script = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
NAMESPACE = "mcp__mevrik"


def output_text(item):
    output = item.get("output")
    if isinstance(output, str):
        return output
    return "\n".join(part.get("text", "") for part in output or [] if isinstance(part, dict))


def last_document(texts, key):
    """The newest document with `key` inside the tool outputs (Codex puts a header before our
    text)."""
    for text in reversed(texts):
        for line in reversed(text.splitlines()):
            line = line.strip()
            if line.startswith("{"):
                try:
                    document = json.loads(line)
                except ValueError:
                    continue
                if key in document:
                    return document
    return None


def first_match(records, match, enabled=False):
    found = [r for r in records if not (enabled and r.get("disabled"))
             and all(r.get(k) == v for k, v in match.items())]
    return found[0] if found else None


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/latest.json":
            self.answer(200, {"version": "0.1.0", "download_url": "https://dl.example.test/m.deb",
                              "notes": ""})
        else:
            self.answer(404, {})

    def answer(self, status, document):
        body = json.dumps(document).encode()
        self.send_response(status)
        self.send_header("content-type", "application/json")
        self.send_header("content-length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers.get("content-length", 0))) or b"{}")
        if self.path != "/v1/responses":
            self.answer(200, {})
            return
        outputs = [i for i in body.get("input", []) if i.get("type") == "function_call_output"]
        step_number = len(outputs)
        step = script[min(step_number, len(script) - 1)]
        texts = [output_text(o) for o in outputs]
        previous = texts[-1] if texts else ""
        record = {"step": step_number, "previous_output": previous,
                  "tools": [t.get("name") for t in body.get("tools", [])]}
        if "call" in step:
            arguments = dict(step.get("arguments", {}))
            if "pick" in step:
                document = last_document(texts, "elements") or {"elements": []}
                found = first_match(document["elements"], step["pick"], enabled=True)
                for name, field in step.get("fields", {"x": "x", "y": "y"}).items():
                    if found:
                        arguments[name] = found[field]
            if "window" in step:
                document = last_document(texts, "windows") or {"windows": []}
                found = first_match(document["windows"], step["window"])
                for name, field in step["window_fields"].items():
                    if found:
                        arguments[name] = found[field]
            item = {"type": "function_call", "id": "fc_%d" % step_number,
                    "call_id": "call_%d" % step_number, "namespace": NAMESPACE,
                    "name": step["call"], "arguments": json.dumps(arguments)}
            record.update(call=step["call"], arguments=arguments)
        else:
            item = {"type": "message", "role": "assistant", "id": "msg_%d" % step_number,
                    "content": [{"type": "output_text", "text": step["say"]}]}
            record["say"] = step["say"]
        with open(log_file, "a") as log:
            log.write(json.dumps(record) + "\n")
        self.send_response(200)
        self.send_header("content-type", "text/event-stream")
        self.end_headers()
        response_id = "resp_%d" % step_number
        usage = {"input_tokens": 1, "input_tokens_details": None, "output_tokens": 1,
                 "output_tokens_details": None, "total_tokens": 2}
        for event in ({"type": "response.created", "response": {"id": response_id}},
                      {"type": "response.output_item.done", "item": item},
                      {"type": "response.completed",
                       "response": {"id": response_id, "usage": usage}}):
            self.wfile.write(("event: %s\ndata: %s\n\n" % (event["type"], json.dumps(event))).encode())

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
server.serve_forever()
