#!/usr/bin/env python3
"""Save-to-reload latency of qfc --serve on the generated site: the time from
a file's save (a rename over the old file, as editors do) to the reload event
arriving on a page's event stream, for an edit to one page and for an edit to
an include that every page uses. Also times a full build (-B) of the same
site for comparison. Prints medians and ratios and writes them to
WORK/watch.md, with the load average.

With --soak N, then saves pages one after another N times (each awaiting its
reload event, at most --soak-seconds in all) and reports the server's
resident memory after 100 saves and after the last.

  bench/watch_latency.py QFC [--pages N] [--runs N] [--work DIR]
                             [--soak N] [--soak-seconds S]
"""
import argparse
import http.client
import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def save(path, text):
    with open(path + ".new", "w") as out:
        out.write(text)
    os.replace(path + ".new", path)


class EventStream:
    """Reads a page's event stream; counts reload events as they come."""

    def __init__(self, port):
        self.connection = http.client.HTTPConnection("127.0.0.1", port)
        self.connection.request("GET", "/_quillforge/events")
        self.response = self.connection.getresponse()
        self.socket = self.response.fp

    def wait_open(self):
        while not self.socket.readline().decode().startswith("retry"):
            pass

    def next_event(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = self.socket.readline().decode()
            if line.startswith("event: "):
                return line[len("event: "):].strip()
        raise TimeoutError("no event")


def rss_kb(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qfc")
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--work", default="/tmp/qf-bench-watch")
    parser.add_argument("--soak", type=int, default=0)
    parser.add_argument("--soak-seconds", type=float, default=900)
    args = parser.parse_args()
    qfc = os.path.abspath(args.qfc)
    work = os.path.abspath(args.work)
    site = os.path.join(work, "site")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    subprocess.run([sys.executable, os.path.join(HERE, "gen_site.py"), "site", "--pages",
                    str(args.pages), "--out", site], check=True, stdout=subprocess.DEVNULL)
    source = os.path.join(site, "qf")
    include = os.path.join(source, "inc")
    out = os.path.join(work, "out")
    state = os.path.join(work, "state.db")
    base = [qfc, "-q", "-r", "--all", source, "-I", include + "/", "--out-dir", out,
            "--state", state]

    page = os.path.join(source, open(os.path.join(site, "pages.txt")).readline().strip() + ".src")
    page_text = open(page).read()
    header = os.path.join(include, "header.inc")
    header_text = open(header).read()

    # A full build: every page compiled and written (the include changed).
    # Measured before and after the server's run, as the machine's load varies.
    full = []

    def full_builds(count):
        for i in range(count):
            save(header, header_text + "<!-- build %d -->\n" % len(full))
            start = time.monotonic()
            subprocess.run(base + ["-B"], check=True)
            full.append(time.monotonic() - start)
        save(header, header_text)
        subprocess.run(base, check=True)

    save(header, header_text + "<!-- warm -->\n")
    subprocess.run(base + ["-B"], check=True)
    full_builds(3)

    server = subprocess.Popen(base + ["--serve=0"], stdout=subprocess.PIPE, text=True)
    try:
        # Notes may come first; the line that names the address comes last.
        deadline = time.monotonic() + 60
        found = None
        while not found and time.monotonic() < deadline:
            ready, _, _ = select.select([server.stdout], [], [], deadline - time.monotonic())
            line = server.stdout.readline() if ready else ""
            if ready and not line:
                break
            found = re.search(r"http://[^/\s]*:(\d+)/", line)
        port = int(found.group(1))
        events = EventStream(port)
        events.wait_open()
    except Exception:
        server.kill()
        raise

    def measure(path, text, count):
        times = []
        for i in range(count):
            time.sleep(0.3)  # let the previous rebuild's writes settle
            start = time.monotonic()
            save(path, text + "<!-- edit %d -->\n" % i)
            while events.next_event(60) != "reload":
                pass
            times.append(time.monotonic() - start)
        return times

    def soak(count, seconds):
        pages = [os.path.join(source, line.strip() + ".src")
                 for line in open(os.path.join(site, "pages.txt")).readlines()[:10]]
        texts = [open(path).read() for path in pages]
        memory = {}
        deadline = time.monotonic() + seconds
        done = 0
        while done < count and time.monotonic() < deadline:
            which = done % len(pages)
            save(pages[which], texts[which] + "<!-- soak %d -->\n" % done)
            while events.next_event(60) != "reload":
                pass
            done += 1
            if done == 100:
                memory[100] = rss_kb(server.pid)
        memory[done] = rss_kb(server.pid)
        for path, text in zip(pages, texts):
            save(path, text)
        return memory

    memory = {}
    try:
        one_page = measure(page, page_text, args.runs)
        every_page = measure(header, header_text, max(3, args.runs // 4))
        if args.soak:
            memory = soak(args.soak, args.soak_seconds)
    finally:
        server.send_signal(signal.SIGINT)
        server.wait(timeout=60)
        save(page, page_text)
        save(header, header_text)
    full_builds(3)

    ms = lambda values: "%.1f ms" % (1000 * statistics.median(values))
    rows = [
        ("full build, every page written (%d pages)" % args.pages, ms(full)),
        ("save to reload event, one page edited", ms(one_page)),
        ("save to reload event, include of every page edited", ms(every_page)),
    ]
    table = "| measure | median |\n|---|---|\n" + "".join(
        "| %s | %s |\n" % row for row in rows)
    table += "\none page: min %.1f ms, max %.1f ms over %d saves\n" % (
        1000 * min(one_page), 1000 * max(one_page), len(one_page))
    full_median = statistics.median(full)
    table += "one page / full build: 1/%.0f; include of every page / full build: %.2f\n" % (
        full_median / statistics.median(one_page), statistics.median(every_page) / full_median)
    if len(memory) > 1:
        saves = sorted(memory)
        table += "resident memory: %d kB after %d saves, %d kB after %d (%+.1f %%)\n" % (
            memory[saves[0]], saves[0], memory[saves[-1]], saves[-1],
            100.0 * (memory[saves[-1]] - memory[saves[0]]) / memory[saves[0]])
    table += "load average: %s\n" % open("/proc/loadavg").read().strip()
    print(table)
    with open(os.path.join(work, "watch.md"), "w") as report:
        report.write(table)


if __name__ == "__main__":
    main()
