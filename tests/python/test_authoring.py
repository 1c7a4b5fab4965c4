"""zl.authoring: what the editors (zl serve's page, zl lsp) show while a
scenario is typed: the check's findings on unsaved text at editor
positions, completion and keyword help."""

import pytest

from zl import authoring

TAGS = ["TANK_LEVEL", "TANK_TEMP", "TEMP_SP", "FEED_FLOW"]


def test_findings_of_unsaved_text_at_editor_positions(tmp_path):
    path = tmp_path / "fill.scn"
    path.write_text("COMMENT on disk\n")  # the editor's text wins over the file
    text = "# fill\nVERFY TEMP_SP 60\n\nVERIFY TEMP_SPP 60\n"
    marks = authoring.diagnostics(path, text, tags=TAGS)
    by_code = {m["code"]: m for m in marks}
    assert set(by_code) >= {"unknown-keyword", "unknown-tag"}
    assert {k: by_code["unknown-keyword"][k] for k in ("line", "start", "end", "here")} == {
        "line": 1, "start": 0, "end": 5, "here": True}
    assert (by_code["unknown-tag"]["line"], by_code["unknown-tag"]["start"],
            by_code["unknown-tag"]["end"]) == (3, 7, 15)
    assert by_code["unknown-keyword"]["message"] == "Unknown scenario keyword, 'VERFY'"


def test_columns_count_utf16_units_not_bytes(tmp_path):
    # e-acute is 2 bytes and 1 unit; the emoji 4 bytes and 2 units.
    text = "COMMENT \u00e9\U0001F600\nVERFY\u00e9 1\n"
    marks = authoring.diagnostics(tmp_path / "u.scn", text)
    assert [(m["line"], m["start"], m["end"]) for m in marks
            if m["code"] == "unknown-keyword"] == [(1, 0, 6)]


def test_findings_in_a_subtest_say_their_file(tmp_path):
    (tmp_path / "STEP.SCN").write_text("VERFY X 1\n")
    marks = authoring.diagnostics(tmp_path / "main.scn", "@STEP.SCN\n")
    assert [(m["here"], m["code"]) for m in marks] == [(False, "unknown-keyword")]
    assert marks[0]["file"].upper().endswith("STEP.SCN")


@pytest.mark.parametrize("text, line, character, kinds, labels", [
    ("VER", 0, 3, {"keyword"}, {"VERIFY", "VERIFY_GT", "VERIFY_LT"}),
    ("  ver", 0, 5, {"keyword"}, {"VERIFY", "VERIFY_GT", "VERIFY_LT"}),
    ("VERIFY tank_", 0, 12, {"tag"}, {"TANK_LEVEL", "TANK_TEMP"}),
    ("GOTO :D\n:DONE\n:DRAIN\n:END", 0, 7, {"label"}, {":DONE", ":DRAIN"}),
    ("# VER", 0, 5, set(), set()),
])
def test_completion_by_position(text, line, character, kinds, labels):
    got = authoring.completions(text, line, character, tags=TAGS)
    assert {i["kind"] for i in got["items"]} == kinds
    assert {i["label"] for i in got["items"]} == labels


def test_keyword_completion_shows_the_form_and_help():
    got = authoring.completions("verify TEMP_SP 60\nTVER", 1, 4)
    assert got["start"] == 0
    item = {i["label"]: i for i in got["items"]}["TVERIFY"]
    assert item["detail"] == "TVERIFY taglist value [start [end]]"
    assert item["documentation"].endswith(".")


def test_tag_completion_is_bounded():
    many = ["T%05d" % i for i in range(5000)]
    assert len(authoring.completions("VERIFY T", 0, 8, tags=many)["items"]) == \
        authoring.MAX_TAG_ITEMS


@pytest.mark.parametrize("line, character, name", [
    ("verify TEMP_SP 60", 3, "VERIFY"),
    ("TOGGLE_PUMP X", 2, "TOGGLE"),      # a prefix row
    ("VERIFY TEMP_SP 60", 9, None),      # an operand
    ("VERFY TEMP_SP 60", 2, None),       # unknown
    ("#VERIFY", 2, None),                # a comment
])
def test_hover_on_keywords(line, character, name):
    got = authoring.hover(line, 0, character)
    assert (got["name"] if got else None) == name
    if got:
        assert got["start"] == 0 and got["form"].startswith(name)
