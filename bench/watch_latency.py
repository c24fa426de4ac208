#!/usr/bin/env python3
"""Save-to-reload latency of qfc --serve on the generated site: the time from
a file's save (a rename over the old file, as editors do) to the reload event
arriving on a page's event stream, for an edit to one page and for an edit to
an include that every page uses. Also times a full build (-B) of a copy of
the site (its own output and state) for comparison: one after each save of the
include, so that both see the same load on a shared machine. Prints medians,
ratios of the medians and the median of each pair's ratio, in wall-clock and
in processor time (the server's from the save until 1.5 s after the reload,
its writes of the state included; the build's whole process), and writes them to
WORK/watch.md, with the load average. --extra passes options to both runs.

With --soak N, then saves pages one after another N times (each awaiting its
reload event, at most --soak-seconds in all) and reports the server's
resident memory after 100 saves and after the last.

  bench/watch_latency.py QFC [--pages N] [--runs N] [--work DIR]
                             [--soak N] [--soak-seconds S] [--extra=OPTIONS]
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


def cpu_seconds(pid):
    """The processor time (user and system) a running process has used."""
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed_run(command, log):
    """Runs command, its errors to log; returns its wall-clock and processor seconds."""
    start = time.monotonic()
    child = subprocess.Popen(command, stderr=log)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise subprocess.CalledProcessError(child.returncode, command)
    return wall, usage.ru_utime + usage.ru_stime


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
    parser.add_argument("--extra", default="", help="more qfc options, e.g. --check-links")
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
    extra = args.extra.split()
    base = [qfc, "-q", "-r", "--all", source, "-I", include + "/", "--out-dir", out,
            "--state", state] + extra
    # The full builds work on a copy, beside the server's site.
    copy = os.path.join(work, "copy")
    shutil.copytree(site, copy)
    copy_source = os.path.join(copy, "qf")
    copy_base = [qfc, "-q", "-r", "--all", copy_source, "-I",
                 os.path.join(copy_source, "inc") + "/", "--out-dir",
                 os.path.join(work, "copy-out"), "--state", os.path.join(work, "copy-state.db")]
    copy_base += extra
    copy_header = os.path.join(copy_source, "inc", "header.inc")

    page = os.path.join(source, open(os.path.join(site, "pages.txt")).readline().strip() + ".src")
    page_text = open(page).read()
    header = os.path.join(include, "header.inc")
    header_text = open(header).read()

    # A full build: every page compiled and written (the include changed).
    full = []
    full_cpu = []
    # Warnings (broken links) go to files, not the terminal.
    full_log = open(os.path.join(work, "full.log"), "w")
    server_log = open(os.path.join(work, "server.log"), "w")

    def full_build():
        save(copy_header, header_text + "<!-- build %d -->\n" % len(full))
        wall, cpu = timed_run(copy_base + ["-B"], full_log)
        full.append(wall)
        full_cpu.append(cpu)

    for command in (base + ["-B"], copy_base + ["-B"]):
        subprocess.run(command, stderr=full_log, check=True)

    server = subprocess.Popen(base + ["--serve=0"], stdout=subprocess.PIPE, stderr=server_log,
                              text=True)
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

    def measure(path, text, count, paired=False):
        times = []
        cpu = []
        for i in range(count):
            time.sleep(0.3)  # let the previous rebuild's writes settle
            before = cpu_seconds(server.pid)
            start = time.monotonic()
            save(path, text + "<!-- edit %d -->\n" % i)
            while events.next_event(60) != "reload":
                pass
            times.append(time.monotonic() - start)
            if paired:
                # The server writes its state once the saves pause (a second),
                # or at once after the reload (older servers).
                time.sleep(1.5)
                cpu.append(cpu_seconds(server.pid) - before)
                full_build()
        return times, cpu

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
        one_page, _ = measure(page, page_text, args.runs)
        every_page, every_page_cpu = measure(header, header_text, max(3, args.runs // 4), True)
        if args.soak:
            memory = soak(args.soak, args.soak_seconds)
    finally:
        server.send_signal(signal.SIGINT)
        server.wait(timeout=60)
        save(page, page_text)
        save(header, header_text)

    ms = lambda values: "%.1f ms" % (1000 * statistics.median(values))
    pair = lambda a, b: statistics.median([x / y for x, y in zip(a, b)])
    rows = [
        ("full build, every page written (%d pages)" % args.pages, ms(full), ms(full_cpu)),
        ("save to reload event, one page edited", ms(one_page), ""),
        ("save to reload event, include of every page edited", ms(every_page),
         ms(every_page_cpu)),
    ]
    table = "qfc %s\n\n| measure | median | processor time |\n|---|---|---|\n" % " ".join(
        [args.qfc] + extra)
    table += "".join("| %s | %s | %s |\n" % row for row in rows)
    table += "\none page: min %.1f ms, max %.1f ms over %d saves\n" % (
        1000 * min(one_page), 1000 * max(one_page), len(one_page))
    full_median = statistics.median(full)
    table += "one page / full build: 1/%.0f\n" % (full_median / statistics.median(one_page))
    table += ("include of every page / full build: %.2f (median of pairs %.2f); "
              "processor time: %.2f (median of pairs %.2f)\n") % (
        statistics.median(every_page) / full_median, pair(every_page, full),
        statistics.median(every_page_cpu) / statistics.median(full_cpu),
        pair(every_page_cpu, full_cpu))
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
