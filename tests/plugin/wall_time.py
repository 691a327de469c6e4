#!/usr/bin/env python3
"""Whole-process wall time of programs, run interleaved so that load on the
machine affects all of them alike. Not part of the test suite.

usage: wall_time.py RUNS "PROGRAM [ARGS]" ...
prints per program the median and the minimum over RUNS runs."""
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    runs = int(sys.argv[1])
    programs = sys.argv[2:]
    times = {p: [] for p in programs}
    with tempfile.TemporaryDirectory() as cwd:  # the programs' data files go here
        for _ in range(runs):
            for p in programs:
                start = time.perf_counter()
                subprocess.run(p.split(), cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
                times[p].append(time.perf_counter() - start)
    for p in programs:
        print("%-60s median %8.2f ms  min %8.2f ms" % (p, statistics.median(times[p]) * 1e3, min(times[p]) * 1e3))


if __name__ == "__main__":
    main()
