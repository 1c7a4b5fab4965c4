"""The scenario editor of the `zl serve` page in a real browser (headless
Chromium, Selenium), against the example plant: a typo is marked on its
line as it is typed, a completion is accepted, help shows on a keyword, a
save writes the file (re-signing a signed one once the user confirms), and
a run started from the editor marks its running line and its failing and
erroring lines."""

import tempfile

import pytest

from serve_browser import (ServeProcess, chromium, click, quit_chromium, screenshot, text_of,
                           wait_for)
from test_serve_browser import post_json
from zl.signatures import verify_scenario

EDIT_SCN = "COMMENT edit me\nVERIFY TEMP_SP 60\n"


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    return tmp_path_factory.mktemp("editor")


@pytest.fixture(scope="module")
def serve(plant, folder):
    with tempfile.TemporaryDirectory(prefix="zl-xdg-", dir="/tmp") as runtime, \
            pytest.MonkeyPatch.context() as patch:
        patch.setenv("XDG_RUNTIME_DIR", runtime)  # no runs of other tests shown
        s = ServeProcess(plant.naming_port, folder)
        yield s
        s.stop()


@pytest.fixture(scope="module")
def page(serve):
    driver = chromium()
    driver.get(serve.url)
    yield driver
    quit_chromium(driver)


def open_in_editor(page, folder, name, text):
    """Writes scenario `name` into the folder and opens it in the editor."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
    (folder / name).write_text(text)
    click(page, "#refresh-files")
    option = '#editor-file option[value="%s"]' % name
    assert wait_for(lambda: page.find_elements(By.CSS_SELECTOR, option)), name
    Select(page.find_element(By.ID, "editor-file")).select_by_value(name)
    shown = text_of(page, "#editor-file-state")  # "NAME · signed · modified"
    page.execute_script("document.querySelector('#editor-panel').scrollIntoView();")
    click(page, "#editor-open")
    if shown.endswith("modified"):  # the page asks before it drops unsaved changes
        assert wait_for(lambda: alert_text(page)) == "Discard the changes to %s?" % (
            shown.split(" ")[0])
        page.switch_to.alert.accept()
    assert wait_for(lambda: editor_text(page) == text.split("\n")), page.get_log("browser")


def alert_text(page):
    """The text of the dialog the page shows, None when none."""
    from selenium.common.exceptions import NoAlertPresentException
    try:
        return page.switch_to.alert.text
    except NoAlertPresentException:
        return None


def editor_text(page):
    """The lines the editor shows."""
    return page.execute_script(
        "return [...document.querySelectorAll('#editor .cm-line')].map((l) => l.textContent);")


def type_at_end(page, keys):
    """Types `keys` at the end of the editor's text."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    content = page.find_element(By.CSS_SELECTOR, "#editor .cm-content")
    content.click()
    content.send_keys(Keys.CONTROL, Keys.END)
    content.send_keys(*keys)


def line_of(page, start):
    """The selector of the editor's line that begins with `start` (as an
    XPath), for the marks on it."""
    return '//div[contains(@class, "cm-line") and starts-with(., "%s")]' % start


def has(page, xpath):
    from selenium.webdriver.common.by import By
    return bool(page.find_elements(By.XPATH, xpath))


@pytest.mark.parametrize("line,message", [
    ("VERIFI TEMP_SP 60", "Unknown scenario keyword, 'VERIFI'"),
    ("VERIFY TEMP_SPX 60", "Tag <TEMP_SPX> not found"),      # the database's tags
    ("GOTO :NOWHERE", "Label ':NOWHERE' not found for GOTO"),
])
def test_a_typo_is_marked_on_its_line_as_it_is_typed(page, folder, line, message):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    open_in_editor(page, folder, "typo.scn", EDIT_SCN)
    assert not page.find_elements(By.CSS_SELECTOR, "#editor .cm-lintRange-error")
    type_at_end(page, [Keys.ENTER, line, Keys.ESCAPE])
    mark = line_of(page, line) + '//*[contains(@class, "cm-lintRange-error")]'
    assert wait_for(lambda: has(page, mark)), editor_text(page)
    # only there: the lines before it are clean
    assert len(page.find_elements(By.CSS_SELECTOR, "#editor .cm-lintRange-error")) == 1
    ActionChains(page).move_to_element(page.find_element(By.XPATH, mark)).perform()
    assert wait_for(lambda: message in text_of(page, ".cm-tooltip-lint"))
    screenshot(page, "serve-editor-typo", "#editor-panel")
    # Mended, the mark goes.
    type_at_end(page, [Keys.SHIFT, Keys.HOME, Keys.NULL, Keys.BACKSPACE])
    assert wait_for(lambda: not page.find_elements(By.CSS_SELECTOR,
                                                   "#editor .cm-lintRange-error"))


def completion_options(page):
    """The options the completion list shows: (label, detail) each."""
    return [tuple(o) for o in page.execute_script(
        "return [...document.querySelectorAll('.cm-tooltip-autocomplete li')].map((o) => ["
        "o.querySelector('.cm-completionLabel').textContent,"
        "(o.querySelector('.cm-completionDetail') || {}).textContent || '']);")]


@pytest.mark.parametrize("typed,option,detail,line", [
    # a keyword, with its operand shape from the table
    ("verify_g", "VERIFY_GT", "VERIFY_GT taglist value", "VERIFY_GT"),
    # a tag of the database attached now
    ("VERIFY TEMP_S", "TEMP_SP", "tag", "VERIFY TEMP_SP"),
    # a label of the text
    ("GOTO :T", ":TOP", "label", "GOTO :TOP"),
])
def test_a_completion_is_accepted(page, folder, typed, option, detail, line):
    open_in_editor(page, folder, "complete.scn", ":TOP\nCOMMENT complete me\n")
    type_at_end(page, [typed])
    assert wait_for(lambda: (option, detail) in completion_options(page)), \
        completion_options(page)
    screenshot(page, "serve-editor-completion", "#editor-panel")
    click(page, '//*[contains(@class, "cm-tooltip-autocomplete")]//li[.//*[contains(@class, '
                '"cm-completionLabel") and text()="%s"]]' % option, by="xpath")
    assert wait_for(lambda: editor_text(page)[-1] == line), editor_text(page)


def test_help_on_a_keyword(page, folder):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    open_in_editor(page, folder, "help.scn", "VERIFY TEMP_SP 60\n")
    keyword = page.find_element(By.XPATH, line_of(page, "VERIFY") + "/span[1]")
    ActionChains(page).move_to_element(keyword).perform()
    assert wait_for(lambda: text_of(page, ".cm-zl-help").startswith(
        "VERIFY taglist value\nChecks that each tag equals the value"))


def save(page):
    from selenium.webdriver.common.keys import Keys
    type_at_end(page, [Keys.CONTROL, "s"])


def test_a_save_writes_the_file(page, folder):
    open_in_editor(page, folder, "save.scn", EDIT_SCN)
    type_at_end(page, ["COMMENT saved"])
    assert wait_for(lambda: text_of(page, "#editor-file-state") == "save.scn · unsigned · modified")
    save(page)
    assert wait_for(lambda: (folder / "save.scn").read_text() == EDIT_SCN + "COMMENT saved")
    assert text_of(page, "#editor-status") == "saved"
    assert text_of(page, "#editor-file-state") == "save.scn · unsigned"


def signed(text):
    """`text` signed as zl sign signs it."""
    from zl.signatures import signed_text
    return signed_text(text.encode())[0].decode()


@pytest.mark.parametrize("line,confirm,verdict,status", [
    # confirmed: saved and signed again, the editor shows the new check line
    ("COMMENT more", True, "valid", "saved and signed (#$CHECK:"),
    # declined: nothing written
    ("COMMENT more", False, "valid", "not saved"),
    # text the check finds an error in: saved, not signed (as zl sign refuses)
    ("NOSUCHWORD", True, "altered", "saved, not signed: the check finds 1 error; the file's "
                                    "#$CHECK line no longer matches"),
])
def test_saving_a_signed_file_asks_and_signs_it_again(page, folder, line, confirm, verdict,
                                                      status):
    path = folder / "signed.scn"
    original = signed(EDIT_SCN)
    open_in_editor(page, folder, "signed.scn", original)
    assert text_of(page, "#editor-file-state") == "signed.scn · signed"
    type_at_end(page, [line])
    save(page)
    assert wait_for(lambda: alert_text(page)) == (
        "signed.scn is signed. Saving re-signs it: its #$CHECK line gets the checksum of the "
        "new text. Save and re-sign?")
    if confirm:
        page.switch_to.alert.accept()
    else:
        page.switch_to.alert.dismiss()
    assert wait_for(lambda: text_of(page, "#editor-status").startswith(status)), \
        text_of(page, "#editor-status")
    on_disk = path.read_text()
    assert verify_scenario(on_disk.encode())[0] == verdict
    assert (line in on_disk) is confirm
    if confirm:
        assert editor_text(page) == on_disk.split("\n")  # with its check line as written


RUN_SCN = "COMMENT run me\nVERIFY TEMP_SP 61\n@sub.scn\nDELAY 60000\n"


def test_a_run_from_the_editor_marks_its_lines(page, serve, folder):
    (folder / "sub.scn").write_text("NOSUCHWORD\n")
    open_in_editor(page, folder, "run.scn", RUN_SCN)
    # The check already marks the subtest's error at the line that calls it.
    assert wait_for(lambda: has(page, line_of(page, "@sub.scn") +
                                '//*[contains(@class, "cm-lintRange-error")]'))
    assert not has(page, '//*[contains(@class, "cm-lintRange-error")]'
                         '[not(ancestor::div[starts-with(., "@sub.scn")])]')
    click(page, "#editor-run")
    assert wait_for(lambda: text_of(page, "#editor-status").startswith("started as "))
    sid = int(text_of(page, "#editor-status").split()[-1])
    try:
        failed = line_of(page, "VERIFY TEMP_SP 61") + '[contains(@class, "cm-zl-failed")]'
        # the subtest's error, at the line that calls it
        erred = line_of(page, "@sub.scn") + '[contains(@class, "cm-zl-error")]'
        running = line_of(page, "DELAY 60000") + '[contains(@class, "cm-zl-running")]'
        assert wait_for(lambda: has(page, failed) and has(page, erred) and has(page, running)), \
            text_of(page, "#editor-marks")
        assert text_of(page, "#editor-marks").split("\n") == [
            "line 2: Verification <TEMP_SP> = 61.000000 FAILED Value is 60.000000",
            "line 3: Unknown scenario keyword, 'NOSUCHWORD' (in sub.scn:1)"]
        assert text_of(page, "#editor-run-state") == (
            "run %d at line 4 · 1 failed, 1 error(s)" % sid)
        screenshot(page, "serve-editor", "#editor-panel")
    finally:
        post_json(serve.link("api/scenario/stop"), {"id": sid})
    # Ended: no running line; what failed stays marked.
    assert wait_for(lambda: text_of(page, "#editor-run-state").startswith("run %d ended" % sid))
    assert not has(page, '//div[contains(@class, "cm-zl-running")]')
    assert has(page, failed) and has(page, erred)
