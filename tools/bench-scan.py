#!/usr/bin/python3
"""The locator's in-memory scan against memchr, from the benchmarks' JSON:
one line per run of BM_FindManifestVersion and BM_ImageScanChunked with its
x_memchr counter (best times of both, taken in the same run) and the limit.

    tools/bench-scan.py BENCHMARKS.json [LIMIT]
"""
import json
import sys

path = sys.argv[1]
limit = float(sys.argv[2]) if len(sys.argv) > 2 else 1.5
with open(path) as f:
    runs = json.load(f)["benchmarks"]
seen = 0
for b in runs:
    if b["name"].split("/")[0] in ("BM_FindManifestVersion", "BM_ImageScanChunked") and "x_memchr" in b:
        r = b["x_memchr"]
        print(f"scan {b['name']}: {r:.2f}x memchr (limit {limit:.2f}, {'ok' if r <= limit else 'OVER'})")
        seen += 1
if seen == 0:
    sys.exit("bench-scan: no scan benchmarks in " + path)
