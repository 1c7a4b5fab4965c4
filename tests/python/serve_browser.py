"""A `zl serve` process and a headless Chromium driven by Selenium, for the
browser tests of the page (and the screenshots of its documentation)."""

import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import urllib.parse

from conftest import REPO

BOUND_S = 20.0   # every wait of the browser tests is bounded by this
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync")


def wait_for(done, bound=BOUND_S, slice_s=0.02):
    """Polls `done` in short slices until it gives a true value (which is
    returned) or the bound passes (then its last answer)."""
    end = time.monotonic() + bound
    while True:
        value = done()
        if value or time.monotonic() > end:
            return value
        time.sleep(slice_s)


def zl_command(*argv):
    """The command line of `zl ARGV...`, run by the interpreter itself (so
    that the child's pid is the command's)."""
    command = os.environ.get("ZL_CLI") or str(REPO / "build" / "bin" / "zl")
    return ["/usr/bin/python3", command, *[str(a) for a in argv]]


class ServeProcess:
    """`zl serve --port 0` in a child process: `url` is the URL it printed
    (with its access token), `base` the same without the token, `port` its
    port; `lines` and `errors` are what it wrote on standard output and
    standard error so far."""

    def __init__(self, naming_port, folder, extra=()):
        self.popen = subprocess.Popen(
            zl_command("serve", "--port", "0", "--folder", folder, "--ns", naming_port, *extra),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.errors = []
        self._printed = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=self._read_errors, daemon=True).start()
        if not self._printed.wait(BOUND_S):
            self.stop()
            raise RuntimeError("zl serve printed no URL: %s" % "\n".join(self.errors))
        self.url = self.lines[0].split(" ", 2)[2]
        self.base, _, self.token = self.url.partition("?token=")
        self.port = urllib.parse.urlsplit(self.url).port

    def link(self, path):
        """The URL of `path` (with its query, if any) with the token."""
        return "%s%s%stoken=%s" % (self.base, path, "&" if "?" in path else "?", self.token)

    def _read(self):
        for line in self.popen.stdout:
            self.lines.append(line.rstrip("\n"))
            if line.startswith("zl serve: http"):
                self._printed.set()

    def _read_errors(self):
        for line in self.popen.stderr:
            self.errors.append(line.rstrip("\n"))

    def interrupt(self):
        """SIGINT, as Ctrl-C; gives the exit status (None when it hung)."""
        self.popen.send_signal(signal.SIGINT)
        try:
            return self.popen.wait(BOUND_S)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.popen.poll() is None and self.interrupt() is None:
            self.popen.kill()
            self.popen.wait()


def chromium():
    """A headless Chromium with a new empty profile that keeps the page's
    console messages; quit() it (the profile goes with the driver's
    `profile_dir`)."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    profile = tempfile.mkdtemp(prefix="zl-chromium-")
    options = webdriver.ChromeOptions()
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + profile)
    options.add_argument("--window-size=1400,1000")
    options.binary_location = "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    # A sanitizer build's tests preload the sanitizer's run-time: not into the browser.
    env = {k: v for k, v in os.environ.items()
           if k != "LD_PRELOAD" and not k.endswith("SAN_OPTIONS")}
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver", env=env),
                              options=options)
    driver.profile_dir = profile
    return driver


def quit_chromium(driver):
    try:
        driver.quit()
    finally:
        shutil.rmtree(driver.profile_dir, ignore_errors=True)


def click(driver, selector, by="css selector"):
    """Clicks the element matching `selector` once the page shows it; the
    page re-renders its tables on each refresh, so an element found just
    before a refresh is looked up again (bounded) rather than failing."""
    from selenium.common.exceptions import (NoSuchElementException,
                                            StaleElementReferenceException)

    def clicked():
        try:
            driver.find_element(by, selector).click()
            return True
        except (NoSuchElementException, StaleElementReferenceException):
            return False
    if not wait_for(clicked):
        raise AssertionError("nothing to click at %r" % selector)


def text_of(driver, selector):
    """The text of the first element matching `selector`, "" when none."""
    from selenium.webdriver.common.by import By
    found = driver.find_elements(By.CSS_SELECTOR, selector)
    try:
        return found[0].text if found else ""
    except Exception:  # noqa: BLE001 (the page replaced the element meanwhile)
        return ""


def screenshot(driver, name, selector=None):
    """Saves the page (or only the element matching the CSS `selector`) as
    NAME.png into $ZL_SCREENSHOT_DIR, when it is set."""
    folder = os.environ.get("ZL_SCREENSHOT_DIR")
    if not folder:
        return
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name + ".png")
    if selector:
        driver.find_element("css selector", selector).screenshot(path)
    else:
        driver.save_screenshot(path)
    try:
        from PIL import Image  # python3-pil, with python3-matplotlib
    except ImportError:
        return
    with Image.open(path) as image:  # 256 colours: a third of the size, same look
        small = image.convert("RGB").quantize(256)
    small.save(path, optimize=True)
