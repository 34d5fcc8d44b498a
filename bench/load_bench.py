#!/usr/bin/env python3
"""The 100,000-tag session load against Python's csv.reader on the same file,
in the same run: medians of 20 (ours, freeing included) and of 10 (Python).
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
    ours = float(subprocess.run([bench, "--load", path], check=True, capture_output=True,
                                text=True).stdout)
    runs = []
    for _ in range(10):
        t0 = time.perf_counter()
        with open(path, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        runs.append((time.perf_counter() - t0) * 1000)
        assert len(rows) == 100001
    py = statistics.median(runs)
    print(f"100,000-tag session ({os.path.getsize(path) / 1e6:.1f} MB): Rucktag {ours:.2f} ms, "
          f"Python csv.reader {py:.1f} ms: {py / ours:.1f}x faster")
