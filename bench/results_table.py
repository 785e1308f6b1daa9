#!/usr/bin/env python3
"""Turns one benchmark run (JSON) and the memory driver's lines into the
results table of the README: every ratio beside its target."""
import json
import re
import sys

TARGETS = {
    "write_package": ("Application::write into a vector", 1.10),
    "read_span": ("Application::read from a span", 1.15),
    "read_stream": ("Application::read from a stream", 1.10),
    "validate_share": ("Application::validate, share of a write", 0.05),
    "tile_image_all": ("tile_image of every tile vs plain copies", 1.20),
    "profile_report": ("Application::profile_report vs plain loop", 1.50),
    "report_write": ("ProfileReport::write into a vector", 1.10),
    "report_read_span": ("ProfileReport::read from a span", 1.15),
}
MEMORY_TARGETS = {"write": ("peak memory of one write into a vector", 3.1),
                  "read": ("peak memory of one read from a span", 2.1)}


def main(bench_json, memory_lines):
    rows = []
    with open(bench_json) as f:
        run = json.load(f)
    for b in run["benchmarks"]:
        name = b["name"].split("/")
        if name[0] not in TARGETS or "ratio" not in b:
            continue
        what, target = TARGETS[name[0]]
        digits = 2 if b["lib_ms"] < 10 else 1
        rows.append((what, name[1], f'{b["lib_ms"]:.{digits}f}', f'{b["floor_ms"]:.1f}', b["ratio"], target))
    growth = [b for b in run["benchmarks"]
              if b["name"].startswith("validate_growth/W2/") and "ns_per_segment" in b]
    if growth:
        per_segment = ", ".join(f'{b["ns_per_segment"] * 1e9:.1f}' for b in growth)
        tiles = ", ".join(b["name"].split("/")[-1] for b in growth)
        rows.append((f"Application::validate, ns per segment at {tiles} tiles", "W2", per_segment, "", None, None))
    with open(memory_lines) as f:
        for line in f:
            m = re.match(r"(\w+) peak_MiB=([\d.]+) idle_MiB=([\d.]+) package_MiB=([\d.]+) ratio=([\d.]+)", line)
            if m:
                what, target = MEMORY_TARGETS[m.group(1)]
                rows.append((what, "W1", f"{float(m.group(2)) - float(m.group(3)):.0f} MiB",
                             f"{m.group(4)} MiB stored", float(m.group(5)), target))
    print("| Operation | Workload | Library (median ms) | Floor (median ms) | Ratio | Target | |")
    print("|---|---|---|---|---|---|---|")
    for what, workload, lib, floor, ratio, target in rows:
        if ratio is None:
            print(f"| {what} | {workload} | {lib} | | | n log n at most | ok |")
            continue
        verdict = "ok" if ratio <= target else "over"
        print(f"| {what} | {workload} | {lib} | {floor} | {ratio:.3f} | ≤ {target} | {verdict} |")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
