#!/usr/bin/env python3
"""Checks of scripts/test-fleet.sh on what the fleet recipes left behind.

usage: fleet_check.py stub FILE HOST REASON
         FILE is exactly the stub of HOST: no results, because REASON
       fleet_check.py listed REPORT_MD HOST REASON
         the Markdown report lists HOST as without results, saying REASON,
         on one line or in the host's own section
Exits 1 with the reason when a check fails."""
import json
import re
import sys


def stub(path, host, reason):
    doc = json.load(open(path, encoding="utf-8"))
    call_id = doc.pop("call_id", "")
    if not re.fullmatch("[0-9a-f]{16}", call_id):
        return f"{path}: call_id {call_id!r} is not 16 hex digits"
    want = {"schema_version": 2, "outcome": "no results", "no_results_reason": reason,
            "host": {"id": host, "hostname": host, "label": None}, "runs": []}
    return None if doc == want else f"{path}: {doc} is not the stub {want}"


def listed(path, host, reason):
    text = open(path, encoding="utf-8").read()
    for line in text.splitlines():
        if host in line and "no results" in line and reason in line:
            return None
    section = re.search(rf"^#+ Host {re.escape(host)}\n(.*?)(?=^#+ |\Z)", text, re.M | re.S)
    if section and "no results" in section.group(1) and reason in section.group(1):
        return None
    return f"{path} does not list {host} as without results ({reason})"


def main():
    what, args = sys.argv[1], sys.argv[2:]
    failure = {"stub": stub, "listed": listed}[what](*args)
    if failure:
        sys.exit(failure)


if __name__ == "__main__":
    main()
