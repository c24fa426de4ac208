#!/usr/bin/python3
"""Previews a site and checks in headless Chromium that pages follow the
server's events: an edited page shows its new text by itself, a style sheet
change applies without reloading the page, a page that did not change is not
reloaded, and failures show over the page until a good build; under qfc,
the page's broken links show in a panel of their own until mended.

Usage: preview_browser_test.py PATH_OF_preview_copy_demo
       preview_browser_test.py --qfc PATH_OF_qfc
The first previews copied pages (the preview loop alone); the second a real
site under qfc --serve, whose failure is a broken include, and then also
checks that a missing page (or a new failing one) comes by itself, that a
failure many pages share is shown once with the page's own first, and that a
style sheet still swaps in place once the minute has passed while the pages
show the time.
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
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys
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


def wait_until(driver, what, condition, patience=PATIENCE):
    try:
        # A page that reloads under a look at it (the browser then reports
        # stale or foreign elements, or a script cut short) is looked at again.
        return WebDriverWait(driver, patience, poll_frequency=0.05,
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


def links_text(driver):
    return driver.execute_script(
        "const o = document.getElementById('_quillforge-links'); return o ? o.textContent : null")


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
        self.mend_part()
        self.set_text("first")
        self.write_page("other", '#include "part.inc"\n' + PAGE.format(title="other", text="other"))
        self.set_colour("rgb(255, 0, 0)")

    def command(self):
        return [self.program, "--all", self.source, "-I", self.include,
                "--out-dir", os.path.join(self.temp, "out"), "--serve=0",
                "--state", os.path.join(self.temp, "state.db"), "--check-links"]

    def set_text(self, text, link=""):
        self.write_page("index", '#include "part.inc"\n' + link + PAGE.format(title="home", text=text))

    def break_link(self):
        self.set_text("second", '<a href="nowhere.html">x</a>\n')
        return 'index.src:2: warning: broken link "nowhere.html"'

    def mend_link(self):
        self.set_text("second")

    def set_colour(self, colour):
        write(os.path.join(self.source, "site.css"), "p { color: %s }\n" % colour)

    def write_page(self, name, text):
        write(os.path.join(self.source, name + ".src"), text)

    def remove_page(self, name):
        os.remove(os.path.join(self.source, name + ".src"))

    def break_part(self):
        write(os.path.join(self.include, "part.inc"), "#bogus\n")

    def mend_part(self):
        # The shared part shows the time, which holds still while serving.
        write(os.path.join(self.include, "part.inc"), '<p id="time">_TIME_</p>\n')

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

    if hasattr(site, "break_link"):
        broken = site.break_link()
        wait_until(driver, "the links panel", lambda d: broken in (links_text(d) or ""))
        if overlay_text(driver) is not None:
            raise AssertionError("a broken link showed the failure overlay")
        site.mend_link()
        wait_until(driver, "the links panel to go", lambda d: links_text(d) is None)


def overlay_blocks(driver):
    return driver.execute_script(
        "const o = document.getElementById('_quillforge-overlay');"
        "return o ? [...o.querySelectorAll('pre')].map((p) => p.textContent) : null")


def check_missing_and_failing_pages(driver, url, site):
    """Pages that are not there yet come by themselves, failing or not."""
    driver.get(url + "new.html")
    wait_connected(driver)
    site.write_page("new", PAGE.format(title="new", text="new"))
    wait_until(driver, "the missing page to come", lambda d: text_of(d) == "new")
    driver.get(url + "new")
    wait_until(driver, "the page without .html", lambda d: text_of(d) == "new")

    driver.get(url + "bad.html")
    wait_connected(driver)
    site.write_page("bad", "#bogus\n" + PAGE.format(title="bad", text="bad"))
    wait_until(driver, "the new page's failure",
               lambda d: "bad.src:1: " in (overlay_text(d) or ""))
    site.write_page("bad", PAGE.format(title="bad", text="mended"))
    wait_until(driver, "the mended page", lambda d: text_of(d) == "mended")
    site.remove_page("bad")


def check_grouped_overlay(driver, url, site):
    """A failure many pages share shows once; the page's own come first."""
    driver.get(url + "own.html")
    wait_connected(driver)
    site.write_page("own", "#bogus\n")
    site.break_part()
    wait_until(driver, "the grouped failures", lambda d: "(and 1 other page)" in
               (overlay_text(d) or "") and "own.src:1: " in (overlay_text(d) or ""))
    blocks = overlay_blocks(driver)
    if len(blocks) != 2 or "own.src:1: " not in blocks[0]:
        raise AssertionError("the page's own failure is not first: %r" % blocks)
    if "3 failures" not in overlay_text(driver):
        raise AssertionError("no count of the failures: " + overlay_text(driver))
    ActionChains(driver).send_keys(Keys.ESCAPE).perform()
    wait_until(driver, "the overlay to be dismissed", lambda d: overlay_text(d) is None)
    site.mend_part()
    wait_until(driver, "the next build's failures", lambda d: "own.src:1: " in
               (overlay_text(d) or "") and "other page" not in (overlay_text(d) or ""))
    site.remove_page("own")


def check_style_with_the_time(driver, url, site, started):
    """With the time in every page, a style sheet still swaps in place, even
    once the minute the server started in has passed."""
    driver.get(url)
    wait_connected(driver)
    shown = driver.execute_script("return document.getElementById('time').textContent")
    wait_until(driver, "the next minute", lambda d: time.localtime().tm_min != started.tm_min,
               patience=61 + PATIENCE)
    driver.execute_script("window.notReloaded = true")
    site.set_colour("rgb(0, 128, 0)")
    wait_until(driver, "the new style", lambda d: colour_of(d) == "rgb(0, 128, 0)")
    if not driver.execute_script("return window.notReloaded === true"):
        raise AssertionError("the page was reloaded for a style sheet change")
    if driver.execute_script("return document.getElementById('time').textContent") != shown:
        raise AssertionError("the time in the page moved")


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
        started = time.localtime()
        server = subprocess.Popen(site.command(), stdout=subprocess.PIPE, text=True)
        try:
            url = serving_url(server)
            check(driver, url, site)
            if make_site is QfcSite:
                check_missing_and_failing_pages(driver, url, site)
                check_grouped_overlay(driver, url, site)
                check_style_with_the_time(driver, url, site, started)
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
