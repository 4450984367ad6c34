#!/usr/bin/python3
"""The plot of docs/performance.md: one whole run's median time and peak
memory against the rows, per program and engine.

    plot.py RESULTS PNG
"""
import glob
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402 (the backend is chosen first)
from matplotlib.ticker import FormatStrFormatter  # noqa: E402

PROGRAMS = ["floor", "durable floor", "kelvorin", "python"]
ENGINES = [("sqlite", "SQLite", "-"), ("pg", "PostgreSQL", "--")]


def main():
    results, png = sys.argv[1:3]
    peaks = {}
    for line in open(results + "/memory.txt"):
        engine, program, rows, kib = line.split()
        peaks.setdefault((engine, program.replace("_", " ")), []).append((int(rows), int(kib)))
    figure, (times, memory) = plt.subplots(1, 2, figsize=(12, 4.5))
    for engine, name, style in ENGINES:
        medians = {}
        for path in glob.glob("%s/rows-%s-*.json" % (results, engine)):
            for r in json.load(open(path))["results"]:
                medians.setdefault(r["command"], []).append(
                    (int(path.rsplit("-", 1)[1][:-5]), r["median"] * 1000))
        for color, program in enumerate(PROGRAMS):
            label = "%s, %s" % (program, name)
            times.plot(*zip(*sorted(medians[program])), style, color="C%d" % color, marker="o",
                       label=label)
            memory.plot(*zip(*sorted((n, kib / 1024) for n, kib in peaks[(engine, program)])),
                        style, color="C%d" % color, marker="o", label=label)
    for axes, title in ((times, "median time of one run (ms)"), (memory, "peak memory (MiB)")):
        axes.set_xscale("log")
        axes.xaxis.set_major_formatter(FormatStrFormatter("%g"))
        axes.set_xlabel("rows merged (about 200 bytes each)")
        axes.set_title(title)
        axes.grid(True, which="both", alpha=0.3)
    times.set_yscale("log")
    times.yaxis.set_major_formatter(FormatStrFormatter("%g"))
    times.legend(fontsize=7)
    figure.tight_layout()
    figure.savefig(png, dpi=100)


if __name__ == "__main__":
    main()
