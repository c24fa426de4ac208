#!/usr/bin/env python3
"""Turns the benchmark's hyperfine results into the table of docs/performance.md.

Reads WORK/results.tsv: one line per measurement with its group, label, the
hyperfine JSON file, the unit of work ("pages" or "bytes") and its amount.
"""

import json
import os
import sys


def load(work):
    rows = []
    with open(os.path.join(work, "results.tsv")) as f:
        for line in f:
            group, label, path, unit, amount = line.rstrip("\n").split("\t")
            with open(path) as j:
                result = json.load(j)["results"][0]
            rows.append({"group": group, "label": label, "unit": unit, "amount": float(amount),
                         "median": result["median"], "runs": len(result["times"])})
    return rows


def rate(row):
    if row["unit"] == "pages":
        return row["amount"] / row["median"]
    return row["amount"] / row["median"] / 1e6


def table(rows, group, unit_name, extra=None):
    print("| %s | median s | %s | runs |" % (group, unit_name))
    print("|---|---:|---:|---:|")
    for row in rows:
        if row["group"] == group:
            print("| %s | %.3f | %.1f | %d |" % (row["label"], row["median"], rate(row), row["runs"]))
    print()


def find(rows, group, label):
    for row in rows:
        if row["group"] == group and row["label"] == label:
            return row
    return None


def time_ratio(text, numerator, denominator, most=None):
    """One line of the goal table: numerator's median time over denominator's,
    and, for a goal, whether it is at most `most`."""
    if not (numerator and denominator):
        return
    value = numerator["median"] / denominator["median"]
    if most is None:
        print("| %s | %.2f | | |" % (text, value))
        return
    verdict = "met" if value <= most else "over by %.1fx" % (value / most)
    print("| %s | %.2f | at most %.2f | %s |" % (text, value, most, verdict))


# (goal, numerator's label, denominator's label, at most)
INCREMENTAL_GOALS = (
    ("nothing changed / cp -R into an existing copy", "rebuild, nothing changed",
     "cp -R of the source tree into an existing copy", 0.1),
    ("first build recording state / cp -R into a fresh folder", "first build, recording state",
     "cp -R of the source tree", 2),
    ("-B, outputs unchanged / cp -R into a fresh folder",
     "rebuild of every page (-B), outputs unchanged", "cp -R of the source tree", 1),
    ("10 % include touched / first build",
     "rebuild after touching an include of 10 % of the pages", "first build, no state", 0.15),
    ("first build recording state / without", "first build, recording state",
     "first build, no state", 1.10),
)


def incremental_goals(rows):
    group = "incremental"
    if not any(r["group"] == group for r in rows):
        return
    print("| incremental goal | time ratio | needed | verdict |")
    print("|---|---:|---:|---|")
    for text, numerator, denominator, most in INCREMENTAL_GOALS:
        time_ratio(text, find(rows, group, numerator), find(rows, group, denominator), most)
    print()


def main():
    work = sys.argv[1]
    rows = load(work)
    for group, unit in (("site", "pages/s"), ("big", "MB/s"), ("scaling", "pages/s"),
                        ("discovery", "files/s"), ("definitions", "MB/s"),
                        ("incremental", "pages/s")):
        if any(r["group"] == group for r in rows):
            table(rows, group, unit)
    incremental_goals(rows)
    site_qfc = find(rows, "site", "qfc -j 2 -r --all")
    peers = [r for r in rows if r["group"] == "site" and r["label"].split()[0] in ("cpp", "m4", "gpp")]
    fastest = min(peers, key=lambda r: r["median"]) if peers else None
    big_qfc = find(rows, "big", "qfc big.src -o out")
    big_cpp = next((r for r in rows if r["group"] == "big" and r["label"].startswith("cpp")), None)
    print("| time ratio (same run) | ratio | at most | verdict |")
    print("|---|---:|---:|---|")
    time_ratio("big file: qfc / cpp", big_qfc, big_cpp, 0.33)
    time_ratio("big file: qfc / ceiling program", big_qfc, find(rows, "big", "ceiling program"), 1.3)
    time_ratio("site: qfc -j 2 / cp -R", site_qfc, find(rows, "site", "cp -R"), 4)
    for jobs in (2, 1):
        time_ratio("site: qfc -j %d --check-links / without" % jobs,
                   find(rows, "site", "qfc -j %d -r --all --check-links" % jobs),
                   find(rows, "site", "qfc -j %d -r --all" % jobs), 1.15)
    time_ratio("big file: qfc / cat", big_qfc, find(rows, "big", "cat big > out"))
    if fastest:
        time_ratio("site: qfc -j 2 / fastest peer (%s, one process per page)"
                   % fastest["label"].split()[0], site_qfc, fastest)


if __name__ == "__main__":
    main()
