#!/usr/bin/python3
"""The scenario editor of the `zl serve` page: keystroke-to-mark latency.

Starts its own services (the example plant, database SIM), a `zl serve` of
a temporary folder holding scenarios of several lengths, and a headless
Chromium showing the page. For each scenario it opens the file in the
editor and, --samples times, types one letter on the empty last line (an
unknown keyword: the check marks it) and then deletes it (the mark goes).
The latency of a sample is the time from the keystroke's keydown event in
the page to the moment the mark is in the editor's DOM (a MutationObserver
notes performance.now(); both in the page's clock): the editor's pause
before it checks, the request, the check on the server with the
database's tags, the answer and CodeMirror's drawing.

Usage: bench/editor_bench.py [--build DIR] [--samples 40] [--lines 20,200,2000]
"""

import argparse
import os
import signal
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
# Notes when a key goes down in the editor and when the first error mark
# appears after it.
OBSERVER = """
const editor = document.querySelector('#editor');
window.__marks = [];
let down = null;
editor.addEventListener('keydown', () => { down = performance.now(); }, true);
new MutationObserver(() => {
  if (down !== null && editor.querySelector('.cm-lintRange-error')) {
    window.__marks.push(performance.now() - down);
    down = null;
  }
}).observe(editor, {childList: true, subtree: true, attributes: true});
"""
LINES = ("COMMENT step {0}", "SETPVE LEVEL_SP 2.5", "VERIFY TEMP_SP 60",
         "DELAY 100 (TANK_LEVEL > 1)", "MONITOR_LT TANK_TEMP 95")


def scenario(lines):
    return "".join(LINES[i % len(LINES)].format(i) + "\n" for i in range(lines))


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


def measure(driver, wait_for, name, samples):
    """Opens `name` in the editor and gives the latencies (ms) of `samples`
    keystrokes."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
    assert wait_for(lambda: driver.find_elements(
        By.CSS_SELECTOR, '#editor-file option[value="%s"]' % name))
    Select(driver.find_element(By.ID, "editor-file")).select_by_value(name)
    driver.find_element(By.ID, "editor-open").click()
    assert wait_for(lambda: name in driver.find_element(By.ID, "editor-file-state").text)
    content = driver.find_element(By.CSS_SELECTOR, "#editor .cm-content")
    content.click()
    content.send_keys(Keys.CONTROL, Keys.END)
    driver.execute_script("window.__marks = [];")

    def marked():
        return driver.find_elements(By.CSS_SELECTOR, "#editor .cm-lintRange-error")

    for i in range(samples):
        content.send_keys("X")
        assert wait_for(lambda: len(driver.execute_script("return window.__marks")) > i)
        content.send_keys(Keys.BACKSPACE)
        assert wait_for(lambda: not marked())
    return driver.execute_script("return window.__marks")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZL_BUILD_DIR", "build"))
    parser.add_argument("--samples", type=int, default=40)
    parser.add_argument("--lines", default="20,200,2000")
    args = parser.parse_args()
    build = (REPO / args.build).resolve()
    os.environ["OMNIORB_CONFIG"] = "/dev/null"
    os.environ.setdefault("Zelvik_Interface", "127.0.0.1")
    os.environ["PYTHONPATH"] = str(build / "python")
    os.environ["ZL_CLI"] = str(build / "bin" / "zl")
    sys.path[:0] = [str(build / "python"), str(REPO / "tools"), str(REPO / "tests" / "python")]
    from serve_browser import ServeProcess, chromium, quit_chromium, wait_for
    from zl_services import Services

    sizes = [int(n) for n in args.lines.split(",")]
    with Services(sim=build / "sim" / "zelvik-sim",
                  tags=[str(REPO / "examples" / "plant.tags")]) as services, \
            tempfile.TemporaryDirectory(prefix="zl-editor-bench-") as folder:
        for n in sizes:
            Path(folder, "lines%d.scn" % n).write_text(scenario(n))
        serve = ServeProcess(services.naming_port, folder)
        driver = chromium()
        try:
            driver.get(serve.url)
            assert wait_for(lambda: driver.execute_script(
                "return document.querySelector('#server').textContent") == "server: connected")
            driver.execute_script(OBSERVER)
            for n in sizes:
                got = measure(driver, wait_for, "lines%d.scn" % n, args.samples)
                print("%5d lines: keystroke to mark median %.0f ms, p95 %.0f ms, max %.0f ms "
                      "(%d samples)" % (n, percentile(got, 50), percentile(got, 95), max(got),
                                        len(got)), flush=True)
        finally:
            quit_chromium(driver)
            serve.popen.send_signal(signal.SIGINT)
            serve.popen.wait(20)
    return 0


if __name__ == "__main__":
    sys.exit(main())
