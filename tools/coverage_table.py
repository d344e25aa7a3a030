#!/usr/bin/env python3
"""Line and branch coverage per product folder from gcovr's JSON summary (tools/ by tool)."""
import json
import sys

folders = {}
for f in json.load(open(sys.argv[1]))["files"]:
    parts = f["filename"].split("/")
    folder = "/".join(parts[:2]) if parts[0] == "tools" else parts[0]
    row = folders.setdefault(folder, [0, 0, 0, 0])
    for i, key in enumerate(("line_covered", "line_total", "branch_covered", "branch_total")):
        row[i] += f[key]
total = [sum(row[i] for row in folders.values()) for i in range(4)]


def pct(done, of):
    return f"{100 * done / of:5.1f} %" if of else "    - "


print(f"{'folder':22} {'lines':>15} {'':7} {'branches':>15}")
for name, row in sorted(folders.items()) + [("total", total)]:
    print(f"{name:22} {row[0]:6} / {row[1]:6} {pct(row[0], row[1])}"
          f" {row[2]:6} / {row[3]:6} {pct(row[2], row[3])}")
