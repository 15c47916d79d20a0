#!/usr/bin/env python3
"""Writes made-up results files of a fleet, one per host, to measure and check
`ptrun merge` and `ptrun report` on many hosts without running anything.

usage: fleet-results.py DIR HOSTS RUNS_PER_HOST
Each host runs a round of one copy and one of two copies in turn, the first
of each a warm-up; every seventh run is flagged (a low processor share). The scores are a fixed function of the
host and the run, so two calls give the same files."""
import json
import os
import sys


def host_file(index, runs):
    host = f"node{index:03d}"
    call = f"{index:016x}"
    machine = {"processor": "Made-up 8-core", "processors_online": 8, "kernel": "Linux 6.1.0 x86_64",
               "memory_bytes": 34359738368, "governor": "performance", "load_average": [0.1, 0.1, 0.1]}
    build = {"path": "/usr/bin/pt", "sha256": "ab" * 32, "build": "pt 1.0 x86_64-linux-gnu GNU 12.2.0 -O2", "id": "A",
             "build_info": {"version": "1.0", "target": "x86_64-linux-gnu", "compiler": "GNU",
                            "compiler_version": "12.2.0", "flags": "-O2"}}
    doc = {"schema_version": 2, "call_id": call, "ptrun_version": "1.0", "pt_version": "1.0", "outcome": "completed",
           "started_utc": "2026-12-08T20:00:00Z", "ended_utc": "2026-12-08T21:00:00Z",
           "command_line": ["ptrun", "--copies", "1,2"], "unit": "work units per second", "higher_is_better": True,
           "host": {"id": host, "hostname": host + ".example", "label": None}, "machine": machine, "pt": build,
           "builds": [build], "hosts": [{"id": host, "hostname": host + ".example", "label": None,
                                         "machine": machine}], "runs": []}
    made, rnd = 0, 0
    while made < runs:
        rnd += 1
        for copies in (1, 2):
            if made + copies > runs:
                continue
            for copy in range(1, copies + 1):
                base = 1000 + 10 * index + 9 * ((made * 7919 + index) % 11) - (70 if copies == 2 else 0)
                score = base + (60 if rnd == 1 else 0)
                flagged = made % 7 == 6
                doc["runs"].append({"copies": copies, "round": rnd, "copy": copy, "cpu": copy - 1,
                                    "score": score, "wall_s": 40.0, "share": 0.9 if flagged else 0.99,
                                    "involuntary_switches": 10, "exit_code": 0, "error": None, "pt_messages": [],
                                    "low_share": flagged, "speed_changed": False, "flagged": flagged,
                                    "call_id": call, "host": host, "build": "A", "warmup": rnd == 1,
                                    "started_utc": "2026-12-08T20:00:00Z", "ended_utc": "2026-12-08T20:00:40Z",
                                    "messages_cut": False})
                made += 1
    return host, doc


def main():
    directory, hosts, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    os.makedirs(directory, exist_ok=True)
    for index in range(hosts):
        host, doc = host_file(index, runs)
        with open(os.path.join(directory, host + ".json"), "w", encoding="utf-8") as out:
            json.dump(doc, out)


if __name__ == "__main__":
    main()
