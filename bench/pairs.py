#!/usr/bin/python3
"""Interleaved rounds: every program once a round, in an order shuffled anew.

    pairs.py ROUNDS OUT.json SPEC.json

SPEC is a list of {"name", "argv", "copy": [source, target]}: before each of
its runs a program's target is restored from source (not timed), so each run
starts from the freshly written file a host leaves. A round's runs follow one
another within milliseconds, so the ratio of two programs' times in one round
is free of whatever the machine did in between; the median of those ratios
over many rounds is the figure, and the same program run twice under two
names shows what noise alone makes of 1. OUT gets every run's wall time and
CPU time (user + system) in seconds: {"names", "wall": [[...]], "cpu": [[...]]}.
Run with /usr/bin/python3.
"""
import json
import os
import random
import shutil
import sys
import time


def run(argv):
    """Wall and CPU seconds of one run; its output goes nowhere."""
    with open(os.devnull, "wb") as null:
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null.fileno(), 1)])
        _, status, usage = os.wait4(pid, 0)
        wall = (time.perf_counter_ns() - start) / 1e9
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("pairs.py: %s failed" % argv[0])
    return wall, usage.ru_utime + usage.ru_stime


def main():
    rounds, out, spec = int(sys.argv[1]), sys.argv[2], json.load(open(sys.argv[3]))
    wall, cpu = [[] for _ in spec], [[] for _ in spec]
    order = list(range(len(spec)))
    shuffle = random.Random(17).shuffle
    for _ in range(rounds + 1):  # the first round warms the caches and is dropped
        shuffle(order)
        for i in order:
            shutil.copyfile(*spec[i]["copy"])
            w, c = run(spec[i]["argv"])
            wall[i].append(w)
            cpu[i].append(c)
    json.dump({"names": [p["name"] for p in spec], "wall": [w[1:] for w in wall],
               "cpu": [c[1:] for c in cpu]}, open(out, "w"))


if __name__ == "__main__":
    main()
