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


def ratio_line(text, numerator, denominator, goal):
    if numerator and denominator:
        value = rate(numerator) / rate(denominator)
        verdict = "met" if value >= goal else "short by %.1fx" % (goal / value)
        print("| %s | %.2f | %.2f | %s |" % (text, value, goal, verdict))


def time_ratio(text, numerator, denominator, most):
    """A goal on time: numerator's median at most `most` times denominator's."""
    if numerator and denominator:
        value = numerator["median"] / denominator["median"]
        verdict = "met" if value <= most else "over by %.1fx" % (value / most)
        print("| %s | %.2f | at most %.2f | %s |" % (text, value, most, verdict))


def incremental_goals(rows):
    group = "incremental"
    if not any(r["group"] == group for r in rows):
        return
    print("| incremental goal | time ratio | needed | verdict |")
    print("|---|---:|---:|---|")
    time_ratio("nothing changed / cp -R", find(rows, group, "rebuild, nothing changed"),
               find(rows, group, "cp -R of the source tree"), 0.5)
    time_ratio("10 % include touched / first build",
               find(rows, group, "rebuild after touching an include of 10 % of the pages"),
               find(rows, group, "first build, no state"), 0.15)
    time_ratio("first build recording state / without",
               find(rows, group, "first build, recording state"),
               find(rows, group, "first build, no state"), 1.10)
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
    site_qfc = find(rows, "site", "qfc -j 0 -r --all")
    peers = [r for r in rows if r["group"] == "site" and r["label"].split()[0] in ("cpp", "m4", "gpp")]
    fastest = max(peers, key=rate) if peers else None
    big_peers = [r for r in rows if r["group"] == "big" and r["label"].startswith("cpp")]
    print("| goal | ratio | needed | verdict |")
    print("|---|---:|---:|---|")
    ratio_line("site: qfc -j 0 / cp -R", site_qfc, find(rows, "site", "cp -R"), 0.5)
    if fastest:
        ratio_line("site: qfc -j 0 / fastest peer (%s)" % fastest["label"].split()[0],
                   site_qfc, fastest, 10)
    big_qfc = find(rows, "big", "qfc big.src -o out")
    ratio_line("big file: qfc / cat", big_qfc, find(rows, "big", "cat big > out"), 1 / 3)
    if big_peers:
        ratio_line("big file: qfc / cpp", big_qfc, big_peers[0], 3)


if __name__ == "__main__":
    main()
