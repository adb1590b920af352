"""Helpers for the vantic-ax end-to-end checks: read one snapshot line and look records up."""
import json


def load(path):
    with open(path, "rb") as f:
        raw = f.read()
    # One line of JSON, then exactly one line feed.
    assert raw.endswith(b"\n") and raw.count(b"\n") == 1, "output is not one line: %r" % raw[:200]
    return json.loads(raw)


def records(d, role=None, label=None, value=None):
    return [e for e in d.get("elements", [])
            if (role is None or e["role"] == role)
            and (label is None or e["label"] == label)
            and (value is None or e["value"] == value)]


def one(d, role, label=None, value=None):
    found = records(d, role, label, value)
    assert found, "no %s %r %r in %s" % (role, label, value, summary(d))
    return found[0]


def has(d, role, label=None, value=None):
    return bool(records(d, role, label, value))


def summary(d):
    return "; ".join("%s %r=%r" % (e["role"], e["label"], e["value"]) for e in d.get("elements", []))


def focused(d):
    i = d.get("focused")
    return d["elements"][i - 1] if i else None
