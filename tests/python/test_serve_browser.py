"""The `zl serve` page in a real browser (headless Chromium, Selenium),
against the example plant: it loads cleanly, shows a value written on the
server, lets an operator answer a scenario's question (of a scenario it
started, and of a `zl run` beside it), tells when the server is gone and
recovers when it is back, tells a server that does not answer, and stops on
Ctrl-C even then."""

import json
import struct
import subprocess
import tempfile
import urllib.error
import urllib.request

import pytest

import zl
from conftest import PLANT_TAGS
from serve_browser import (BOUND_S, ServeProcess, chromium, click, quit_chromium, screenshot,
                           text_of, wait_for, zl_command)
from zl_services import Services

QUESTION_SCN = 'COMMENT ask the operator\nANSWER 1 "Is the pump running?"\nVERIFY TEMP_SP 60\n'


def logset_record(kind, ms, value=0.0, mode=0, text=b""):
    return kind + struct.pack("<IIddI", 25 + len(text), ms, value, 0.0, mode) + text + b"\0"


# A log set of two tags over two seconds.
LOGSET = b"".join([logset_record(b"_HD_", 0, mode=1796900000, text=b"levels")] + [
    logset_record(b"_TA_", ms, value, 1, tag)
    for ms in (0, 1000, 2000) for tag, value in ((b"TANK_LEVEL", 2 + ms / 1000),
                                                 (b"TANK_TEMP", 20 + ms / 100))])


@pytest.fixture(scope="module")
def plant():
    with Services(tags=[PLANT_TAGS]) as s:
        yield s


@pytest.fixture(scope="module")
def client(plant):
    c = zl.Client(plant.orb_options)
    assert c.connect("SIM") == 0
    yield c
    c.disconnect()


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    f = tmp_path_factory.mktemp("serve")
    (f / "ask.scn").write_text(QUESTION_SCN)
    (f / "levels.log").write_bytes(LOGSET)
    (f.parent / "secret.log").write_bytes(LOGSET)
    return f


@pytest.fixture(scope="module")
def runtime():
    """A runtime folder of the module's own for `zl serve` and the `zl run`
    processes beside it, so that they see no other runs."""
    with tempfile.TemporaryDirectory(prefix="zl-xdg-", dir="/tmp") as folder, \
            pytest.MonkeyPatch.context() as patch:
        patch.setenv("XDG_RUNTIME_DIR", folder)
        yield folder


@pytest.fixture(scope="module")
def serve(plant, folder, runtime):
    s = ServeProcess(plant.naming_port, folder)
    yield s
    s.stop()


@pytest.fixture(scope="module")
def page(serve):
    driver = chromium()
    driver.get(serve.url)
    yield driver
    quit_chromium(driver)


def shown_value(page, tag):
    return text_of(page, 'tr[data-tag="%s"] .value' % tag)


def test_page_loads_without_console_errors(page):
    assert wait_for(lambda: text_of(page, "#link") == "live")
    assert wait_for(lambda: text_of(page, "#server") == "server: connected")
    assert wait_for(lambda: shown_value(page, "TANK_LEVEL"))
    assert "cycle 1 s" in text_of(page, "#simstate")
    errors = [e for e in page.get_log("browser") if e["level"] == "SEVERE"]
    assert errors == []


def test_value_written_on_the_server_shows(page, client):
    assert wait_for(lambda: shown_value(page, "LEVEL_SP"))
    for value in ("3.7", "2.5"):
        assert client.setpve("LEVEL_SP", float(value)) == 1
        # The change comes through the tag-change callback, not the table's refresh.
        assert wait_for(lambda: shown_value(page, "LEVEL_SP") == value)


def test_pause_run_mode_and_force_from_the_page(page, client):
    from selenium.webdriver.common.by import By

    def click(selector):
        page.find_element(By.CSS_SELECTOR, selector).click()

    click("#pause")
    assert wait_for(lambda: text_of(page, "#simstate").startswith("paused"))
    assert client.algsrunning() is False
    click("#run")
    assert wait_for(lambda: text_of(page, "#simstate").startswith("running"))
    row = 'tr[data-tag="TEMP_SP"] '
    try:
        for button, mode, forced in (("Manual", "Manual", ""), ("Force", "Manual", "forced"),
                                     ("Unforce", "Manual", ""), ("Auto", "Auto", "")):
            assert wait_for(lambda: button in text_of(page, row + "td:last-child"))
            page.find_element(By.XPATH, '//tr[@data-tag="TEMP_SP"]//button[text()="%s"]'
                              % button).click()
            assert wait_for(lambda: (text_of(page, row + ".mode"),
                                     text_of(page, row + ".forced")) == (mode, forced))
    finally:
        client.setforce("TEMP_SP", 0)
        client.setauto("TEMP_SP")


def trend_points(page, tag):
    """The points of `tag`'s line in the page's trend (None: not trended)."""
    return page.execute_script(
        "const i = trend ? trend.tags.indexOf(arguments[0]) : -1;"
        "return i < 0 ? null : trend.columns[i].filter((v) => v !== null);", tag)


def test_trend_of_two_units(page):
    from selenium.webdriver.common.by import By
    for tag in ("TANK_LEVEL", "TANK_TEMP"):
        page.find_element(By.CSS_SELECTOR, 'tr[data-tag="%s"] input' % tag).click()
    assert wait_for(lambda: len(page.find_elements(By.CSS_SELECTOR, "#trend .u-axis")) == 3)
    assert "TANK_TEMP (degC)" in text_of(page, "#trend .u-legend")


def test_trend_of_a_tag_that_does_not_change_starts_at_the_tables_value(page):
    from selenium.webdriver.common.by import By
    assert shown_value(page, "FEED_FLOW_SP") == "30"  # constant: no change ever comes
    box = page.find_element(By.CSS_SELECTOR, 'tr[data-tag="FEED_FLOW_SP"] input')
    box.click()
    try:
        assert wait_for(lambda: trend_points(page, "FEED_FLOW_SP")), "no point drawn"
        assert set(trend_points(page, "FEED_FLOW_SP")) == {30}
    finally:
        box.click()


def test_question_answered_from_the_page(page, folder):
    from selenium.webdriver.common.by import By
    assert wait_for(lambda: page.find_elements(By.CSS_SELECTOR,
                                               '#scenario-file option[value="ask.scn"]'))
    page.find_element(By.CSS_SELECTOR, "#start button").click()
    assert wait_for(lambda: "IS THE PUMP RUNNING?" in text_of(page, ".question"))
    screenshot(page, "serve-question")
    click(page, ".question .yes")
    log = folder / "ask.tlg"
    assert wait_for(lambda: log.exists() and "Closing test log" in log.read_text())
    assert ("User Question 'IS THE PUMP RUNNING?' passed. Answer from python is 'Yes'"
            in log.read_text())
    assert wait_for(lambda: not text_of(page, ".question"))
    screenshot(page, "serve-page")
    # The finished run's report, with its verdict.
    page.find_element(By.ID, "refresh-files").click()
    assert wait_for(lambda: text_of(page, 'tr[data-name="ask.tlg"] .passed').startswith(
        "passed · 2 checks, 0 failed"))
    # It opens in a tab of its own: a whole page, no frame in the page.
    home = page.current_window_handle
    click(page, 'tr[data-name="ask.tlg"] .view')
    assert wait_for(lambda: len(page.window_handles) == 2)
    page.switch_to.window([h for h in page.window_handles if h != home][0])
    try:
        assert wait_for(lambda: "passed" in text_of(page, "body"))
        screenshot(page, "serve-report")
    finally:
        page.close()
        page.switch_to.window(home)


def test_log_set_plot_and_csv(page, serve):
    from selenium.webdriver.common.by import By
    click(page, 'tr[data-name="levels.log"] .view')
    assert wait_for(lambda: page.find_elements(By.CSS_SELECTOR, "#file-view .u-wrap"))
    assert "2 tag(s)" in text_of(page, "#file-view p")
    with urllib.request.urlopen(serve.link("api/logset.csv?file=levels.log")) as r:
        assert r.read().decode().splitlines() == [
            "time,TANK_LEVEL,TANK_TEMP", "0.000,2.0,20.0", "1.000,3.0,30.0", "2.000,4.0,40.0"]


@pytest.mark.parametrize("name", ["../secret.log", "%2e%2e/secret.log", "/etc/passwd", "",
                                  "."])
def test_files_outside_the_folder_are_refused(serve, name):
    with pytest.raises(urllib.error.HTTPError) as e:
        urllib.request.urlopen(serve.link("api/logset.csv?file=" + name))
    assert e.value.code == 404


def test_only_scenario_files_start(serve, folder):
    # A test log holds whatever its run wrote, a forged line of SYSTEM too.
    marker = folder / "forged-ran"
    (folder / "forged.tlg").write_text("SYSTEM touch %s\n" % marker)
    got = post_json(serve.link("api/scenario/start"), {"file": "forged.tlg"})
    assert got == {"error": "not a scenario of the folder (*.scn): 'forged.tlg'"}
    assert get_json(serve.link("api/runs"))["runs"] == []
    assert not marker.exists()


@pytest.mark.parametrize("name", ["../SIM", "NOPE", ""])
def test_only_listed_databases_connect(page, serve, name):
    # A name the Naming Service does not list would be read from ./NAME.txt.
    got = post_json(serve.link("api/connect"), {"database": name})
    assert got == {"error": "not a database the Naming Service lists: %r" % name}
    assert post_json(serve.link("api/connect"), {"database": "SIM"}) == {"connected": True}
    assert wait_for(lambda: text_of(page, "#server") == "server: connected")


def get_json(url):
    with urllib.request.urlopen(url, timeout=BOUND_S) as r:
        return json.load(r)


def post_json(url, body):
    request = urllib.request.Request(url, data=json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(request, timeout=BOUND_S) as r:
            return json.load(r)
    except urllib.error.HTTPError as e:
        return json.load(e)


class ZlRun:
    """`zl run` of a scenario file of `folder` beside zl serve, with no
    input (its questions wait for an answer from zl serve)."""

    def __init__(self, plant, folder, name, text):
        self.scenario = folder / name
        self.scenario.write_text(text)
        self.log = self.scenario.with_suffix(".tlg")
        self.popen = subprocess.Popen(
            zl_command("run", self.scenario, "--ns", plant.naming_port),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def shown(self, serve, ready):
        """This run as serve's /api/runs lists it once ready(run) holds."""
        def find():
            for run in get_json(serve.link("api/runs"))["runs"]:
                if run["pid"] == self.popen.pid and ready(run):
                    return run
            return None
        return wait_for(find)

    def end(self):
        """Waits for the end: (exit status, stdout, stderr)."""
        try:
            out, err = self.popen.communicate(timeout=BOUND_S)
        finally:
            if self.popen.poll() is None:
                self.popen.kill()
                self.popen.communicate()
        return self.popen.returncode, out, err


ASK_RUN_SCN = 'COMMENT ask from zl run\nANSWER 1 "Is the valve open?"\nVERIFY TEMP_SP 60\n'
PASSED_LINE = "User Question 'IS THE VALVE OPEN?' passed. Answer from python is 'Yes'"


def test_zl_run_beside_serve_answered_and_stopped_through_its_api(serve, plant, folder):
    # Answered: the question waits (no input, and zl serve reads the run)
    # until the answer comes through zl serve, and the test log names it.
    run = ZlRun(plant, folder, "zl_run_api.scn", ASK_RUN_SCN)
    shown = run.shown(serve, lambda r: r["asked"])
    assert shown, run.end()
    assert (shown["database"], shown["line"], shown["question"]) == (
        "SIM", "2", "IS THE VALVE OPEN?")
    asked = shown["asked"]
    answer = {"run": shown["pid"], "sid": asked["sid"], "number": asked["number"],
              "answer": "Yes"}
    assert post_json(serve.link("api/answer"), answer) == {"took": 1}
    status, out, err = run.end()
    assert status == 0, out + err
    assert "(answered from zl serve: Yes)" in out
    assert PASSED_LINE in run.log.read_text()
    # A run that has ended answers nothing more, and leaves the list.
    assert post_json(serve.link("api/answer"), answer) == {"error": "the run has ended"}
    assert wait_for(lambda: get_json(serve.link("api/runs"))["runs"] == [])

    # Stopped: as Ctrl-C would stop it, but the status of a run that did not pass.
    run = ZlRun(plant, folder, "zl_run_stop.scn", "DELAY 60000\nVERIFY TEMP_SP 60\n")
    shown = run.shown(serve, lambda r: r["line"] == "1")
    assert shown, run.end()
    assert post_json(serve.link("api/scenario/stop"),
                     {"run": shown["pid"], "id": shown["id"]}) == {"stopping": True}
    status, out, err = run.end()
    assert status == 1, out + err
    assert "zl run: stopping scenario %d (stopped from zl serve)" % shown["id"] in err
    assert out.rstrip().endswith("STOPPED")
    assert "Scenario was aborted by StopScenario()" in run.log.read_text()


def test_answer_through_the_api_writes_one_line(serve, plant, folder):
    # An answer that would add a passed check after its own line.
    run = ZlRun(plant, folder, "zl_run_forged.scn", ASK_RUN_SCN)
    shown = run.shown(serve, lambda r: r["asked"])
    assert shown, run.end()
    asked = shown["asked"]
    answer = {"run": shown["pid"], "sid": asked["sid"], "number": asked["number"],
              "answer": "Yes'\n00:00:09.000\t  Verification <SP> = 9 passed"}
    assert post_json(serve.link("api/answer"), answer) == {"took": 1}
    status, out, err = run.end()
    assert status == 0, out + err
    log = run.log.read_text()
    assert PASSED_LINE + r"\n00:00:09.000\t  Verification <SP> = 9 passed'" + "\n" in log
    assert "\t  Verification <SP>" not in log


def test_zl_run_beside_serve_answered_from_the_page(page, serve, plant, folder):
    from selenium.webdriver.common.by import By
    run = ZlRun(plant, folder, "zl_run_page.scn", ASK_RUN_SCN)
    try:
        row = 'tr[data-run="%d"]' % run.popen.pid
        assert wait_for(lambda: "IS THE VALVE OPEN?" in text_of(page, row)), run.end()
        assert text_of(page, row + " .from") == "zl run %d · SIM" % run.popen.pid
        question = '.question[data-run="%d"]' % run.popen.pid
        assert wait_for(lambda: "IS THE VALVE OPEN?" in text_of(page, question))
        screenshot(page, "serve-run")
        click(page, question + " .yes")
    finally:
        status, out, err = run.end()
    assert status == 0, out + err
    assert "(answered from zl serve: Yes)" in out
    assert PASSED_LINE in run.log.read_text()
    assert wait_for(lambda: not text_of(page, question) and not text_of(page, row))


def test_failing_lines_show_at_their_scenario_lines(page, serve, plant, folder):
    """The runs zl serve watches, a zl run beside it and a scenario of its
    own, list their failure and error lines at their scenario lines while
    they run; the report of a test log says what zl verify says of it."""
    run = ZlRun(plant, folder, "zl_run_lines.scn", "VERIFY TEMP_SP 61\nDELAY 60000\n")
    own = None
    try:
        row = 'tr[data-run="%d"] + tr.reported' % run.popen.pid
        assert wait_for(lambda: text_of(page, row).endswith(
            "zl_run_lines.scn:1: Verification <TEMP_SP> = 61.000000 FAILED Value is "
            "60.000000")), text_of(page, "#scenarios")
        (folder / "own_lines.scn").write_text("COMMENT own\nNOSUCHWORD\nDELAY 60000\n")
        own = post_json(serve.link("api/scenario/start"), {"file": "own_lines.scn"})["id"]
        assert own > 0
        mine = 'tr[data-id="%d"]:not([data-run]) + tr.reported' % own
        # named from the folder zl serve shows
        assert wait_for(lambda: text_of(page, mine) ==
                        "own_lines.scn:2: Unknown scenario keyword, 'NOSUCHWORD'"), \
            text_of(page, "#scenarios")
    finally:
        shown = run.shown(serve, lambda r: True)
        if shown:
            post_json(serve.link("api/scenario/stop"), {"run": shown["pid"], "id": shown["id"]})
        run.end()
        if own:
            post_json(serve.link("api/scenario/stop"), {"id": own})
    with urllib.request.urlopen(serve.link("api/report?file=zl_run_lines.tlg")) as r:
        report = r.read().decode()
    assert "unsigned; aborted" in report  # a stopped run is not signed
    assert "zl_run_lines.scn:1</td>" in report  # the stopped line, where it stood


# Whatever is wider than its box: the page, a panel, a table.
OVERFLOWING = """
const wide = [];
for (const e of [document.documentElement, ...document.querySelectorAll("section, table")]) {
  const box = e === document.documentElement ? window.innerWidth : e.clientWidth;
  if (e.scrollWidth > box + 1) wide.push(`${e.id || e.tagName}: ${e.scrollWidth} > ${box}`);
}
return wide;
"""
LONG_QUESTION = ("Is the outlet valve of the feed tank open, and has the operator checked "
                 "the level gauge against the level transmitter before the step?")


@pytest.mark.parametrize("width", [1280, 1400, 1920])
def test_page_reads_at_desktop_widths(page, serve, plant, folder, width):
    # Filled as in use: a run of a long path asking a long question, test
    # logs and a log set in the files.
    sub = folder / "a_folder_with_a_rather_long_name" / "and_another_one_below_it"
    sub.mkdir(parents=True, exist_ok=True)
    run = ZlRun(plant, sub, "a_scenario_with_a_long_name_for_the_layout.scn",
                'ANSWER 1 "%s"\n' % LONG_QUESTION)
    try:
        row = 'tr[data-run="%d"]' % run.popen.pid
        assert wait_for(lambda: "IS THE OUTLET VALVE" in text_of(page, row)), run.end()
        page.set_window_size(width, 1000)
        assert wait_for(lambda: page.execute_script("return window.innerWidth") <= width)
        assert wait_for(lambda: page.execute_script(OVERFLOWING) == []), \
            page.execute_script(OVERFLOWING)
        screenshot(page, "serve-layout-%d" % width)
    finally:
        page.set_window_size(1400, 1000)
        post_json(serve.link("api/scenario/stop"), {"run": run.popen.pid, "id": 1})
        run.end()


def test_stopped_server_shows_disconnected_and_recovers(page, plant, client):
    assert client.setpve("LEVEL_SP", 4.75) == 1
    assert wait_for(lambda: shown_value(page, "LEVEL_SP") == "4.75")
    plant.stop_sim()
    assert wait_for(lambda: text_of(page, "#server") == "server: disconnected")
    plant.start_sim()
    assert wait_for(lambda: text_of(page, "#server") == "server: connected")
    # The server started again has its own values: 2.5, not the old 4.75,
    # though no change of the tag comes.
    assert wait_for(lambda: shown_value(page, "LEVEL_SP") == "2.5")
    assert wait_for(lambda: client.connect("SIM") == 0)
    assert client.setpve("LEVEL_SP", 4.25) == 1
    assert wait_for(lambda: shown_value(page, "LEVEL_SP") == "4.25")


def test_server_that_does_not_answer_and_ctrl_c(page, plant, serve):
    plant.pause_sim()  # accepts calls, never answers
    try:
        assert wait_for(lambda: text_of(page, "#server") == "server: not answering")
        # Ctrl-C does not wait for the calls in flight (up to the call time-out).
        assert serve.interrupt() == 0
        assert serve.lines[-1] == "zl serve: stopped (the server does not answer)"
        assert wait_for(lambda: text_of(page, "#link") == "view disconnected")
    finally:
        plant.resume_sim()


def test_a_page_of_a_server_started_again_says_to_open_its_new_url(plant, folder, runtime):
    from selenium.webdriver.common.by import By
    first = ServeProcess(plant.naming_port, folder)
    driver = chromium()
    try:
        driver.get(first.url)
        assert wait_for(lambda: text_of(driver, "#link") == "live")
        assert not driver.find_element(By.ID, "denied").is_displayed()
        assert first.interrupt() == 0
        assert wait_for(lambda: text_of(driver, "#link") == "view disconnected")
        second = ServeProcess(plant.naming_port, folder, ["--port", first.port])
        try:
            assert second.token != first.token
            assert wait_for(lambda: "zl serve refuses this page" in text_of(driver, "#denied"))
            driver.refresh()  # the old URL: a page that says what to do
            assert wait_for(lambda: "A zl serve started again has a new token" in
                            text_of(driver, "body"))
            driver.get(second.url)
            assert wait_for(lambda: text_of(driver, "#link") == "live")
        finally:
            second.stop()
    finally:
        quit_chromium(driver)
        first.stop()
