"""The scenario editor of `zl serve` without a browser: which files it opens
and saves (the folder's scenarios only), what a save writes (line ends,
signature, a file changed meanwhile, text that cannot be written), where a
run's reported lines are marked, and its routes' answers to bad bodies."""

import json
import os
import stat

import pytest

from test_serve_units import fetch, serve  # noqa: F401 (the module's zl serve)
from zl.runs.places import Place, Reported
from zl.serve import editor
from zl.serve import files as serve_files
from zl.serve.plant import line_marks
from zl.signatures import signed_text, verify_scenario

TEXT = "COMMENT a\nVERIFY TEMP_SP 60\n"


@pytest.fixture
def folder(tmp_path):
    f = tmp_path / "f"
    (f / "sub").mkdir(parents=True)
    (f / "a.scn").write_text(TEXT)
    (f / "sub" / "b.scn").write_text(TEXT)
    (f / "a.tlg").write_text(TEXT)
    (tmp_path / "outside.scn").write_text(TEXT)
    os.symlink(tmp_path / "outside.scn", f / "link.scn")
    return f


@pytest.mark.parametrize("name,ok", [
    ("a.scn", True),
    ("sub/b.scn", True),
    ("a.tlg", False),          # a test log is no scenario
    ("../outside.scn", False),
    ("link.scn", False),       # a symbolic link out of the folder
    ("missing.scn", False),    # the editor saves files the page lists: no new ones
    ("", False),
])
def test_only_the_folders_scenarios_open_and_save(folder, name, ok):
    if ok:
        assert editor.open_text(str(folder), name)["text"] == TEXT
        assert editor.save(str(folder), name, "COMMENT b\n")["saved"]
        assert (folder / name).read_text() == "COMMENT b\n"
    else:
        for act in (lambda: editor.open_text(str(folder), name),
                    lambda: editor.save(str(folder), name, "COMMENT b\n")):
            with pytest.raises(serve_files.Refused):
                act()
    assert (folder.parent / "outside.scn").read_text() == TEXT


def test_a_save_keeps_crlf_line_ends_and_the_permission_bits(folder):
    path = folder / "a.scn"
    path.write_bytes(b"COMMENT a\r\nCOMMENT b\r\n")
    path.chmod(0o640)
    opened = editor.open_text(str(folder), "a.scn")
    assert opened["text"] == "COMMENT a\nCOMMENT b\n"   # as editors count lines
    editor.save(str(folder), "a.scn", opened["text"] + "COMMENT c\n", version=opened["version"])
    assert path.read_bytes() == b"COMMENT a\r\nCOMMENT b\r\nCOMMENT c\r\n"
    assert stat.S_IMODE(path.stat().st_mode) == 0o640
    assert [p.name for p in folder.iterdir() if p.name.startswith(".")] == []  # no temp left


@pytest.mark.parametrize("text,error", [
    ("COMMENT a\0b\n", "the text holds a NUL character"),
    ("COMMENT \ud800\n", "the text is not valid Unicode (a lone surrogate)"),
    ("#" * (editor.MAX_TEXT + 1), "too large for the editor (over 1048576 bytes)"),
])
def test_text_that_cannot_be_written_is_refused_and_the_file_kept(folder, text, error):
    with pytest.raises(serve_files.Refused, match=r"^%s$" % error.replace("(", r"\(")
                       .replace(")", r"\)")):
        editor.save(str(folder), "a.scn", text)
    assert (folder / "a.scn").read_text() == TEXT


def test_a_file_that_is_not_utf8_does_not_open(folder):
    (folder / "a.scn").write_bytes(b"COMMENT caf\xe9\n")
    with pytest.raises(serve_files.Refused, match="not UTF-8 text"):
        editor.open_text(str(folder), "a.scn")


def test_a_file_changed_on_disk_since_it_was_opened_is_not_overwritten(folder):
    opened = editor.open_text(str(folder), "a.scn")
    (folder / "a.scn").write_text("COMMENT written by another\n")
    with pytest.raises(editor.Changed, match="^a.scn changed on disk since it was opened"):
        editor.save(str(folder), "a.scn", TEXT + "COMMENT mine\n", version=opened["version"])
    assert (folder / "a.scn").read_text() == "COMMENT written by another\n"


@pytest.mark.parametrize("added,sign,want", [
    # not confirmed: refused, the file as it was
    ("COMMENT b\n", False, editor.Signed),
    # confirmed: written and signed again, as zl sign signs it
    ("COMMENT b\n", True, ("valid", True, "saved and signed (#$CHECK:")),
    # errors: written, not signed; the old check line stays and no longer matches
    ("NOSUCHWORD\n", True, ("altered", False, "saved, not signed: the check finds 1 error")),
    # a warning is no error: signed
    ("VERIFY TEMP_SP 60 7\n", True, ("valid", True, "saved and signed")),
])
def test_saving_a_signed_file(folder, added, sign, want):
    path = folder / "a.scn"
    path.write_bytes(signed_text(TEXT.encode())[0])
    before = path.read_bytes()
    assert editor.open_text(str(folder), "a.scn")["signed"]
    text = before.decode() + added
    if want is editor.Signed:
        with pytest.raises(editor.Signed, match="^a.scn is signed: saving re-signs it$"):
            editor.save(str(folder), "a.scn", text, sign)
        assert path.read_bytes() == before
        return
    verdict, signed, note = want
    got = editor.save(str(folder), "a.scn", text, sign)
    data = path.read_bytes()
    assert (verify_scenario(data)[0], got["signed"]) == (verdict, signed)
    assert got["note"].startswith(note), got["note"]
    assert got["text"] == data.decode() and added in got["text"]
    if signed:
        assert data == signed_text(text.encode())[0]  # the check line where it stood


def test_the_signatures_own_findings_are_not_shown_while_editing(folder):
    (folder / "a.scn").write_bytes(signed_text(TEXT.encode())[0])
    changed = signed_text(TEXT.encode())[0].decode() + "COMMENT b\n"  # its sum is stale now
    assert editor.check(str(folder), "a.scn", changed) == []
    assert [d["code"] for d in editor.check(str(folder), "a.scn", changed + "NOPE\n")] == [
        "unknown-keyword"]


@pytest.mark.parametrize("text,want", [
    # at the line that calls it, named without regard to case
    ("COMMENT a\n@SUB/B.SCN\n", (1, 0, 10, "sub/b.scn:1: Unknown scenario keyword, 'NOPE'")),
    # called by a subtest of the text: no line of the text names it
    ("@c.scn\n", (0, 0, 0, "sub/b.scn:1: Unknown scenario keyword, 'NOPE'")),
])
def test_a_subtests_finding_is_marked_where_the_text_calls_it(folder, text, want):
    (folder / "sub" / "b.scn").write_text("NOPE\n")
    (folder / "c.scn").write_text("@sub/b.scn\n")
    found = editor.check(str(folder), "a.scn", text)
    assert [(d["line"], d["start"], d["end"], d["message"]) for d in found] == [want]


MAIN = "/f/run.scn"


def reported(file, line, callers=(), level="WARNING", text="FAILED"):
    return Reported(level, text, Place(file, line, tuple(callers)), 1)


@pytest.mark.parametrize("given,want", [
    ([reported(MAIN, 2)], [(2, "")]),                                   # its own line
    ([reported("/f/sub.scn", 1, ["/f/run.scn:3"])], [(3, "sub.scn:1")]),  # at the call
    ([reported("/f/deep.scn", 4, ["/f/run.scn:5", "/f/sub.scn:2"])], [(5, "deep.scn:4")]),
    ([reported(MAIN, 0)], []),                  # the file as a whole: no line to mark
    ([reported("/f/other.scn", 2)], []),        # another file's run
    ([reported("/f/sub.scn", 1, ["/f/other.scn:3"])], []),
])
def test_reported_lines_are_marked_in_the_main_file(given, want):
    marks = line_marks(given, MAIN, "/f/")
    assert [(m["line"], m["in"]) for m in marks] == want


@pytest.mark.parametrize("path,body,error", [
    ("/api/editor/check", '{"file": "a.tlg", "text": ""}',
     "not a scenario of the folder (*.scn): 'a.tlg'"),
    ("/api/editor/check", '{"file": "a.scn", "text": 7}', "text: not a text"),
    ("/api/editor/check", '{"file": "a.scn", "text": "\\u0000"}',
     "the text holds a NUL character"),
    ("/api/editor/complete", '{"text": "VER", "line": -1, "character": 0}', "no line"),
    ("/api/editor/complete", '{"text": "VER", "line": 0}', "no character"),
    ("/api/editor/hover", '{"text": "\\ud800", "line": 0, "character": 0}',
     "the text is not valid Unicode (a lone surrogate)"),
    ("/api/editor/save", '{"file": "../a.scn", "text": "x"}',
     "not a scenario of the folder (*.scn): '../a.scn'"),
    ("/api/editor/save", '{"file": "a.scn", "text": "x", "sign": "yes"}', "sign: true or false"),
    ("/api/editor/save", '{"file": "a.scn", "text": "x", "version": 1}', "version: not a text"),
    ("/api/editor/save", '[', "the body is not JSON"),
], ids=lambda v: str(v)[:40])
def test_bad_editor_requests_get_400_with_one_line(serve, path, body, error):  # noqa: F811
    got, _, text = fetch(serve, "POST", path + "?token=" + serve.token,
                         headers={"Content-Type": "application/json"}, body=body.encode())
    assert (got, json.loads(text)) == (400, {"error": error})
    assert not [line for line in serve.errors if "Traceback" in line]


def test_the_editor_opens_and_saves_through_the_pages_access_checks(serve):  # noqa: F811
    # Without the token, from another site's page, under another name: refused.
    for headers, host, status in (({}, None, 403),
                                  ({"Origin": "http://evil.example"}, None, 403),
                                  ({}, "rebind.example:{port}", 421)):
        token = "" if status == 403 and not headers else "?token=" + serve.token
        got, _, _ = fetch(serve, "POST", "/api/editor/save" + token,
                          host and host.format(port=serve.port),
                          {"Content-Type": "application/json", **headers},
                          b'{"file": "a.scn", "text": "SYSTEM touch x\\n"}')
        assert got == status
    got, _, text = fetch(serve, "GET", "/api/editor/file?file=a.scn&token=" + serve.token)
    assert (got, json.loads(text)["text"]) == (200, "COMMENT a\n")
