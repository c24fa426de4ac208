#!/usr/bin/python3
"""Previews a directory with preview_copy_demo and checks in headless
Chromium that pages follow the server's events: an edited page shows its new
text by itself, a style sheet change applies without reloading the page, a
page that did not change is not reloaded, and failures show over the page
until a good build.

Usage: preview_browser_test.py PATH_OF_preview_copy_demo
Exit 77 (skipped) only when the browser cannot start at all.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
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
        raise AssertionError("the demo printed no Serving line")
    line = demo.stdout.readline().strip()
    if not line.startswith("Serving ") or " at http://127.0.0.1:" not in line:
        raise AssertionError("unexpected first line: " + line)
    return line.rsplit(" at ", 1)[1]


def wait_until(driver, what, condition):
    try:
        return WebDriverWait(driver, PATIENCE, poll_frequency=0.05).until(lambda d: condition(d))
    except Exception:
        raise AssertionError("timed out waiting for " + what) from None


def wait_connected(driver):
    wait_until(driver, "the event stream", lambda d: d.execute_script(
        "return window._quillforgeConnected === true"))


def text_of(driver):
    return driver.find_element(By.ID, "text").text


def colour_of(driver):
    return driver.execute_script(
        "return getComputedStyle(document.getElementById('text')).color")


def overlay_text(driver):
    return driver.execute_script(
        "const o = document.getElementById('_quillforge-overlay'); return o ? o.textContent : null")


def check(driver, url, source):
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

    write(os.path.join(source, "index.html"), PAGE.format(title="home", text="second"))
    wait_until(driver, "the new text", lambda d: text_of(d) == "second")
    wait_connected(driver)
    second_tab = [h for h in driver.window_handles if h != first_tab][0]
    driver.switch_to.window(second_tab)
    if not driver.execute_script("return window.untouched === true"):
        raise AssertionError("a page that did not change was reloaded")
    driver.switch_to.window(first_tab)

    driver.execute_script("window.notReloaded = true")
    write(os.path.join(source, "site.css"), "p { color: rgb(0, 0, 255) }\n")
    wait_until(driver, "the new style", lambda d: colour_of(d) == "rgb(0, 0, 255)")
    if not driver.execute_script("return window.notReloaded === true"):
        raise AssertionError("the page was reloaded for a style sheet change")

    failure = "index.src:3: no such file: part.inc"
    write(os.path.join(source, "failures.txt"), failure + "\n")
    wait_until(driver, "the failure overlay", lambda d: failure in (overlay_text(d) or ""))
    os.remove(os.path.join(source, "failures.txt"))
    wait_until(driver, "the overlay to go", lambda d: overlay_text(d) is None)
    if not driver.execute_script("return window.notReloaded === true"):
        raise AssertionError("the page was reloaded for a build that changed nothing")


def main():
    demo_path = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="quillforge-browser-") as temp:
        source = os.path.join(temp, "src")
        output = os.path.join(temp, "out")
        os.mkdir(source)
        os.mkdir(output)
        write(os.path.join(source, "index.html"), PAGE.format(title="home", text="first"))
        write(os.path.join(source, "other.html"), PAGE.format(title="other", text="other"))
        write(os.path.join(source, "site.css"), "p { color: rgb(255, 0, 0) }\n")
        try:
            driver = start_browser(os.path.join(temp, "profile"))
        except Exception as error:
            print("SKIPPED: the browser cannot start here:", str(error).strip().splitlines()[0:1])
            return SKIPPED
        demo = subprocess.Popen([demo_path, source, output], stdout=subprocess.PIPE, text=True)
        try:
            check(driver, serving_url(demo), source)
        finally:
            driver.quit()
            demo.send_signal(signal.SIGINT)
            try:
                status = demo.wait(timeout=PATIENCE)
            except subprocess.TimeoutExpired:
                demo.kill()
                raise AssertionError("the demo did not stop on SIGINT")
        if status != -signal.SIGINT:
            raise AssertionError("the demo ended with %d, not by SIGINT" % status)
    print("browser preview checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
