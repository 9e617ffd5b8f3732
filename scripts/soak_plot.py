#!/usr/bin/env python3
"""Plots a soak run: RSS, open descriptors and threads, and CPU over time,
with each fault marked. Usage: soak_plot.py soak.csv faults.csv out.png"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(samples_path, faults_path, png_path):
    with open(samples_path, newline="") as f:
        rows = list(csv.DictReader(f))
    with open(faults_path, newline="") as f:
        faults = list(csv.DictReader(f))
    t = [float(r["elapsed_s"]) / 60.0 for r in rows]
    rss = [int(r["rss_kb"]) / 1024.0 for r in rows]
    fds = [int(r["fds"]) for r in rows]
    threads = [int(r["threads"]) for r in rows]
    # CPU share of one core over each sample interval, and polls per second.
    cpu, rate, tc = [], [], []
    for a, b in zip(rows, rows[1:]):
        dt = float(b["elapsed_s"]) - float(a["elapsed_s"])
        if dt <= 0:
            continue
        # At the middle of the interval the figure stands for.
        tc.append((float(a["elapsed_s"]) + dt / 2.0) / 60.0)
        cpu.append(100.0 * (float(b["cpu_s"]) - float(a["cpu_s"])) / dt)
        rate.append((int(b["polls"]) - int(a["polls"])) / dt)

    fig, axes = plt.subplots(4, 1, figsize=(11, 10), sharex=True)
    axes[0].plot(t, rss, color="tab:blue")
    axes[0].set_ylabel("RSS (MiB)")
    axes[1].plot(t, fds, label="descriptors", color="tab:green")
    axes[1].plot(t, threads, label="threads", color="tab:purple")
    axes[1].set_ylabel("count")
    axes[1].legend(loc="upper right")
    axes[2].plot(tc, cpu, color="tab:red")
    axes[2].set_ylabel("CPU (% of a core)")
    axes[3].plot(tc, rate, color="tab:gray")
    axes[3].set_ylabel("polls / s")
    axes[3].set_xlabel("minutes")
    colours = {}
    palette = plt.get_cmap("tab10")
    for fault in faults:
        start = float(fault["start_s"]) / 60.0
        end = float(fault["end_s"]) / 60.0
        if end < start:
            continue
        name = fault["fault"]
        colour = colours.setdefault(name, palette(len(colours) % 10))
        for ax in axes:
            ax.axvspan(start, max(end, start + 0.05), color=colour, alpha=0.2, lw=0)
    handles = [matplotlib.patches.Patch(color=c, alpha=0.4, label=n) for n, c in colours.items()]
    if handles:
        axes[0].legend(handles=handles, loc="upper left", ncol=len(handles), fontsize="small", title="faults")
    fig.suptitle("kvsetup against kvsim: soak with faults")
    fig.tight_layout()
    fig.savefig(png_path, dpi=100)


if __name__ == "__main__":
    main(*sys.argv[1:4])
