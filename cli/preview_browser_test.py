#!/usr/bin/python3
"""Previews a site and checks in headless Chromium that pages follow the
server's events: an edited page shows its new text by itself, a style sheet
change applies without reloading the page, a page that did not change is not
reloaded, and failures show over the page until a good build.

Usage: preview_browser_test.py PATH_OF_preview_copy_demo
       preview_browser_test.py --qfc PATH_OF_qfc
The first previews copied pages (the preview loop alone); the second a real
site under qfc --serve, whose failure is a broken include.
Exit 77 (skipped) only when the browser cannot start at all.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.support.ui import WebDriverWait

SKIPPED = 77
PATIENCE = 15  # seconds for anything that must happen

PAGE = """<html><head><title>{title}</title><link rel="stylesheet" href="site.css"></head>
<body><p id="text">{text}</p></body></html>
"""


def write(path, text):
    with open(path + ".new", "w") as out:
        out.write(text)
    os.replace(path + ".new", path)  # saved by rename, as many editors do


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--user-data-dir=" + profile):
        options.add_argument(argument)
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    return webdriver.Chrome(service=Service(driver_path), options=options)


def serving_url(demo):
    ready, _, _ = select.select([demo.stdout], [], [], PATIENCE)
    if not ready:
        raise AssertionError("no line telling the address was printed")
    line = demo.stdout.readline().strip()
    found = re.search(r"(?:serving | at )(http://127\.0\.0\.1:\d+/)", line)
    if not found:
        raise AssertionError("unexpected first line: " + line)
    return found.group(1)


def wait_until(driver, what, condition):
    try:
        # A page that reloads under a look at it (the browser then reports
        # stale or foreign elements, or a script cut short) is looked at again.
        return WebDriverWait(driver, PATIENCE, poll_frequency=0.05,
                             ignored_exceptions=(WebDriverException,)).until(
                                 lambda d: condition(d))
    except Exception as error:
        raise AssertionError("timed out waiting for %s (%s)" % (what, error)) from None


def wait_connected(driver):
    wait_until(driver, "the event stream", lambda d: d.execute_script(
        "return window._quillforgeConnected === true"))


def text_of(driver):
    return driver.execute_script(
        "const p = document.getElementById('text'); return p ? p.textContent : null")


def colour_of(driver):
    return driver.execute_script(
        "return getComputedStyle(document.getElementById('text')).color")


def overlay_text(driver):
    return driver.execute_script(
        "const o = document.getElementById('_quillforge-overlay'); return o ? o.textContent : null")


class CopiedSite:
    """Pages and a style sheet that preview_copy_demo copies as they are."""

    def __init__(self, program, temp):
        self.program = program
        self.source = os.path.join(temp, "src")
        self.output = os.path.join(temp, "out")
        os.mkdir(self.source)
        os.mkdir(self.output)
        self.set_text("first")
        write(os.path.join(self.source, "other.html"), PAGE.format(title="other", text="other"))
        self.set_colour("rgb(255, 0, 0)")

    def command(self):
        return [self.program, self.source, self.output]

    def set_text(self, text):
        write(os.path.join(self.source, "index.html"), PAGE.format(title="home", text=text))

    def set_colour(self, colour):
        write(os.path.join(self.source, "site.css"), "p { color: %s }\n" % colour)

    def break_build(self):
        failure = "index.src:3: no such file: part.inc"
        write(os.path.join(self.source, "failures.txt"), failure + "\n")
        return failure

    def mend_build(self):
        os.remove(os.path.join(self.source, "failures.txt"))


class QfcSite:
    """Sources with an include, built and served by qfc --serve."""

    def __init__(self, program, temp):
        self.program = program
        self.temp = temp
        self.source = os.path.join(temp, "site")
        self.include = os.path.join(temp, "inc")
        os.mkdir(self.source)
        os.mkdir(self.include)
        write(os.path.join(self.include, "part.inc"), "<!-- a part -->\n")
        self.set_text("first")
        write(os.path.join(self.source, "other.src"), PAGE.format(title="other", text="other"))
        self.set_colour("rgb(255, 0, 0)")

    def command(self):
        return [self.program, "--all", self.source, "-I", self.include,
                "--out-dir", os.path.join(self.temp, "out"), "--serve=0",
                "--state", os.path.join(self.temp, "state.db")]

    def set_text(self, text):
        write(os.path.join(self.source, "index.src"),
              '#include "part.inc"\n' + PAGE.format(title="home", text=text))

    def set_colour(self, colour):
        write(os.path.join(self.source, "site.css"), "p { color: %s }\n" % colour)

    def break_build(self):
        os.rename(os.path.join(self.include, "part.inc"), os.path.join(self.temp, "part.inc"))
        return 'index.src:1: Error: #include file "part.inc" not found.'

    def mend_build(self):
        os.rename(os.path.join(self.temp, "part.inc"), os.path.join(self.include, "part.inc"))


def check(driver, url, site):
    driver.get(url)
    wait_connected(driver)
    first_tab = driver.current_window_handle
    driver.switch_to.new_window("tab")
    driver.get(url + "other.html")
    wait_connected(driver)
    driver.execute_script("window.untouched = true")
    driver.switch_to.window(first_tab)
    if text_of(driver) != "first":
        raise AssertionError("page shows " + text_of(driver))

    site.set_text("second")
    wait_until(driver, "the new text", lambda d: text_of(d) == "second")
    wait_connected(driver)
    second_tab = [h for h in driver.window_handles if h != first_tab][0]
    driver.switch_to.window(second_tab)
    if not driver.execute_script("return window.untouched === true"):
        raise AssertionError("a page that did not change was reloaded")
    driver.switch_to.window(first_tab)

    driver.execute_script("window.notReloaded = true")
    site.set_colour("rgb(0, 0, 255)")
    wait_until(driver, "the new style", lambda d: colour_of(d) == "rgb(0, 0, 255)")
    if not driver.execute_script("return window.notReloaded === true"):
        raise AssertionError("the page was reloaded for a style sheet change")

    failure = site.break_build()
    wait_until(driver, "the failure overlay", lambda d: failure in (overlay_text(d) or ""))
    site.mend_build()
    wait_until(driver, "the overlay to go", lambda d: overlay_text(d) is None)
    if not driver.execute_script("return window.notReloaded === true"):
        raise AssertionError("the page was reloaded for a build that changed nothing")


def main():
    if sys.argv[1] == "--qfc":
        make_site, program, name = QfcSite, sys.argv[2], "qfc --serve"
    else:
        make_site, program, name = CopiedSite, sys.argv[1], "the demo"
    with tempfile.TemporaryDirectory(prefix="quillforge-browser-") as temp:
        site = make_site(program, temp)
        try:
            driver = start_browser(os.path.join(temp, "profile"))
        except Exception as error:
            print("SKIPPED: the browser cannot start here:", str(error).strip().splitlines()[0:1])
            return SKIPPED
        server = subprocess.Popen(site.command(), stdout=subprocess.PIPE, text=True)
        try:
            check(driver, serving_url(server), site)
        finally:
            driver.quit()
            server.send_signal(signal.SIGINT)
            try:
                status = server.wait(timeout=PATIENCE)
            except subprocess.TimeoutExpired:
                server.kill()
                raise AssertionError(name + " did not stop on SIGINT")
        if status != -signal.SIGINT:
            raise AssertionError("%s ended with %d, not by SIGINT" % (name, status))
    print("browser preview checks passed for", name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
