"""The scenario editor of a `zl serve` page: opening a scenario file of the
folder as text, checking, completing and explaining the unsaved text
(zl.authoring answers those, as it does for `zl lsp`), and saving it.

Only scenario files the page lists are opened and saved (files.scenario:
`*.scn` inside the folder, symbolic links resolved, nothing outside it).
A save replaces the whole file through a new file renamed over it, so a
failed write leaves the old one; it writes text that came as a JSON text
only, UTF-8, with the line ends the file had.

Saving a signed file (one with a "#$CHECK:" line) re-signs it, as `zl sign`
does, and only when the caller confirmed that (`sign`): without it the save
is refused with Signed, so the page can ask its user first. Text the check
finds errors in is saved, but not signed (as `zl sign` refuses to sign such
a file): the answer says so, and the file's old check line then no longer
matches (`zl verify` says "altered") until it is signed.

Stateless; every function here reads or writes files and may block: the
web server calls them on its default executor.
"""
import hashlib
import os
from typing import Any, Dict, Iterable, List, Optional

import zl
from zl import authoring, checks, replace_file
from zl.serve import files
from zl.signatures import signed_text, stored_checksum

MAX_TEXT = 1024 * 1024  # bytes of a file the editor opens or saves, at most

Json = Dict[str, Any]


class Signed(Exception):
    """A save of a signed file that the caller did not confirm re-signing."""


class Changed(Exception):
    """A save over a file that changed on disk since the editor opened it."""


def valid_text(text: str) -> str:
    """`text` when it can be written as UTF-8 and read by the check;
    files.Refused for a NUL character or a lone surrogate (which JSON can
    carry), too large a text."""
    if "\0" in text:
        raise files.Refused("the text holds a NUL character")
    try:
        size = len(text.encode("utf-8"))
    except UnicodeEncodeError:
        raise files.Refused("the text is not valid Unicode (a lone surrogate)") from None
    if size > MAX_TEXT:
        raise files.Refused("too large for the editor (over %d bytes)" % MAX_TEXT)
    return text


def version_of(data: bytes) -> str:
    """What names one content of a file (its SHA-256, hex): a save may say
    which content it replaces."""
    return hashlib.sha256(data).hexdigest()


def _read(path: str) -> bytes:
    with open(path, "rb") as f:
        data = f.read(MAX_TEXT + 1)
    if len(data) > MAX_TEXT:
        raise files.Refused("too large for the editor (over %d bytes)" % MAX_TEXT)
    return data


def open_text(folder: str, name: str) -> Json:
    """A scenario file of the folder for the editor: {"file", "text" (line
    ends as "\\n"), "signed", "version"}. files.Refused for a name the page
    does not list, a file that is not UTF-8 text or is too large."""
    path = files.scenario(folder, name)
    data = _read(path)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        raise files.Refused("not UTF-8 text: the editor opens UTF-8 files only") from None
    return {"file": name, "text": text.replace("\r\n", "\n"),
            "signed": stored_checksum(data) is not None, "version": version_of(data)}


def check(folder: str, name: str, text: str, tags: Optional[Iterable[str]] = None,
          args: Optional[str] = None) -> List[Json]:
    """The check's findings on the unsaved `text` of scenario `name`
    (zl.authoring.diagnostics), its signature's own findings left out: a
    save settles them. A finding in a subtest the text calls is put on the
    "@" line that calls it (the first such line; "line" 0 when no line of
    the text names that file), its message beginning with the subtest's
    place ("sub.scn:1: ..."). files.Refused for a name the page does not
    list."""
    path = files.scenario(folder, name)
    found = [d for d in authoring.diagnostics(path, valid_text(text), tags=tags, args=args)
             if d["code"] not in checks.CHECKSUM_CODES]
    for d in found:
        if not d["here"]:
            place = "%s:%d" % (_named(folder, d["file"]), d["line"] + 1)
            d.update(_call_of(text, d["file"]), message="%s: %s" % (place, d["message"]))
    return found


def _named(folder: str, file: str) -> str:
    """A file as the folder names it; its own name when outside."""
    root, real = os.path.realpath(folder), os.path.realpath(file)
    if os.path.commonpath([root, real]) == root:
        return os.path.relpath(real, root).replace(os.sep, "/")
    return file


def _call_of(text: str, file: str) -> Json:
    """Where `text` calls the subtest `file`: "line", "start" and "end" of
    the first "@NAME" word naming it (without regard to case, as a run
    matches names), else line 0 from 0 to 0."""
    base = os.path.basename(file).upper()
    for number, line in enumerate(text.split("\n")):
        word = line.split(" ", 1)[0].rstrip("\r")
        if word.startswith("@") and os.path.basename(word[1:]).upper() == base:
            return {"line": number, "start": 0, "end": len(word.encode("utf-16-le")) // 2}
    return {"line": 0, "start": 0, "end": 0}


def save(folder: str, name: str, text: str, sign: bool = False,
         version: Optional[str] = None) -> Json:
    """Writes `text` over scenario `name`; re-signs a signed file (only
    with `sign`, else Signed) unless the check finds errors in the text.
    With `version`, Changed when the file on disk is no longer that
    content. Gives {"saved": True, "signed": bool, "version", "text" (what
    the file now holds: with its new check line), "note": a line for the
    user}. files.Refused for a name the page does not list or a text
    valid_text refuses; OSError when it cannot be written."""
    path = files.scenario(folder, name)
    valid_text(text)
    old = _read(path)
    if version is not None and version != version_of(old):
        raise Changed("%s changed on disk since it was opened: open it again" % name)
    signed = stored_checksum(old) is not None
    if signed and not sign:
        raise Signed("%s is signed: saving re-signs it" % name)
    data = text.replace("\r\n", "\n")
    if b"\r\n" in old:
        data = data.replace("\n", "\r\n")
    new = data.encode("utf-8")
    note = "saved"
    if signed:
        # What `zl sign` weighs: the check without tags and arguments, the
        # signature's own findings aside (signing settles them).
        problems = checks.errors_of(d for d in zl.checkscenario(path, text=text)
                                    if d.code not in checks.CHECKSUM_CODES)
        if problems:
            note = ("saved, not signed: the check finds %s; the file's #$CHECK line no "
                    "longer matches" % checks.count_text(problems))
            signed = False
        else:
            new, sum_ = signed_text(new)
            note = "saved and signed (#$CHECK:%s)" % sum_
    replace_file.write_replacing(path, new)
    return {"saved": True, "signed": signed, "version": version_of(new),
            "text": new.decode("utf-8").replace("\r\n", "\n"), "note": note}

