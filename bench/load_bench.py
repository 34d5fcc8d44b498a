#!/usr/bin/env python3
"""The 100,000-tag session load against Python's csv.reader on the same file,
in the same run, measured both ways on both sides: the load alone, and the
load with its rows freed. Medians of 20 (ours) and of 10 (Python).
Usage: bench/load_bench.py [BUILD_DIR]"""
import csv
import os
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build")
bench = os.path.join(build, "bench", "bench_journal")
with tempfile.TemporaryDirectory() as work:
    path = os.path.join(work, "session.csv")
    subprocess.run([bench, "--write-session", path], check=True)
    ours_load, ours_freed = map(float, subprocess.run(
        [bench, "--load", path], check=True, capture_output=True, text=True).stdout.split())
    loads, freed = [], []
    for _ in range(10):
        t0 = time.perf_counter()
        with open(path, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        t1 = time.perf_counter()
        assert len(rows) == 100001
        del rows  # freed here, not by the next round's assignment
        t2 = time.perf_counter()
        loads.append((t1 - t0) * 1000)
        freed.append((t2 - t0) * 1000)
    py_load, py_freed = statistics.median(loads), statistics.median(freed)
    print(f"100,000-tag session ({os.path.getsize(path) / 1e6:.1f} MB):\n"
          f"  load alone:      Rucktag {ours_load:.2f} ms, Python csv.reader {py_load:.1f} ms: "
          f"{py_load / ours_load:.1f}x faster\n"
          f"  load and free:   Rucktag {ours_freed:.2f} ms, Python csv.reader {py_freed:.1f} ms: "
          f"{py_freed / ours_freed:.1f}x faster")
