"""What an editor of scenario files asks while its user types: the findings
of the static check on the unsaved text, completion at the cursor and help
on a keyword. `zl serve`'s editor and `zl lsp` both answer from here, so
the browser and any other editor say the same (docs/authoring.md).

Positions are those of editors: a line from 0 and a character offset in
UTF-16 code units from 0 (what JavaScript strings and the language server
protocol count). The check itself counts bytes; the conversion is here.

The keyword rows are read once from the extension (the engine's own table);
otherwise stateless and safe from any thread.
"""
import functools
import os
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

import zl

Arguments = Union[str, Sequence[str], None]

# At most this many tag names are offered at once: a database of 30,000
# tags would otherwise send them all for the first letter.
MAX_TAG_ITEMS = 200


@functools.lru_cache(maxsize=1)
def keywords() -> Tuple["zl.ScenarioKeyword", ...]:
    """Every statement keyword, in the order a run matches them."""
    return tuple(zl.scenariokeywords())


def keyword_of(word: str) -> Optional["zl.ScenarioKeyword"]:
    """The statement that a line's first word runs as (upper-cased, as a
    run reads it): the first row it matches, a prefix row matching every
    word that begins with its name; None for an unknown word."""
    upper = word.upper()
    for row in keywords():
        if upper == row.name or (row.prefix and upper.startswith(row.name)):
            return row
    return None


def _utf16_length(text: str) -> int:
    return len(text.encode("utf-16-le")) // 2


def _character(line: str, byte_column: int) -> int:
    """The UTF-16 offset (from 0) of the check's byte column (from 1) in
    `line`."""
    before = line.encode("utf-8")[:max(byte_column - 1, 0)]
    return _utf16_length(before.decode("utf-8", errors="ignore"))


def _index(line: str, character: int) -> int:
    """The index into the str `line` of a UTF-16 offset."""
    count = 0
    for i, c in enumerate(line):
        if count >= character:
            return i
        count += 2 if ord(c) > 0xFFFF else 1
    return len(line)


def _word_around(line: str, index: int) -> Tuple[int, int]:
    """The start and end (str indices) of the blank-separated word that
    holds `index`, or touches it from the left."""
    start = index
    while start > 0 and not line[start - 1].isspace():
        start -= 1
    end = index
    while end < len(line) and not line[end].isspace():
        end += 1
    return start, end


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.abspath(a) == os.path.abspath(b)


def diagnostics(path: Union[str, "os.PathLike[str]"], text: str,
                tags: Optional[Iterable[str]] = None,
                args: Arguments = None) -> List[Dict[str, Any]]:
    """The check's findings on `text`, the unsaved content of the scenario
    at `path` (its subtests are read from disk), as editors mark them: each
    a dict with "line" (from 0), "start" and "end" (the word concerned,
    UTF-16 offsets in that line), "severity", "code", "message" and "file".
    "here" is False for a finding in another file (a subtest the text
    calls): its "file" and "message" say where, its "line" is that file's
    and "start" and "end" are 0."""
    path = os.fspath(path)
    lines = text.split("\n")
    marks: List[Dict[str, Any]] = []
    for d in zl.checkscenario(path, tags=tags, args=args, text=text):
        here = _same_file(d.file, path)
        line = d.line - 1
        start = end = 0
        if here and 0 <= line < len(lines):
            start = _character(lines[line], d.column)
            index = _index(lines[line], start)
            end = start + _utf16_length(lines[line][index:_word_around(lines[line], index)[1]])
            if end == start:  # a finding at the end of the line: mark its last character
                start = max(start - 1, 0)
        marks.append({"line": max(line, 0), "start": start, "end": end,
                      "severity": d.severity, "code": d.code, "message": d.message,
                      "file": d.file, "here": here})
    return marks


def _labels(text: str) -> List[str]:
    """The labels the text defines (":NAME" lines), upper-cased as a run
    reads them, each once."""
    found: List[str] = []
    for line in text.split("\n"):
        word = line.strip().split(" ")[0].upper() if line.strip() else ""
        if line.startswith(":") and len(word) > 1 and word not in found:
            found.append(word)
    return found


def completions(text: str, line: int, character: int,
                tags: Iterable[str] = ()) -> Dict[str, Any]:
    """What may be typed at the cursor: {"start": UTF-16 offset where the
    word being typed begins, "items": [{"label", "kind" ("keyword", "tag" or
    "label"), "detail", "documentation"}]}. The first word of a line is a
    keyword; a word that begins with ':' a label of the file; any other word
    a tag of `tags` (at most MAX_TAG_ITEMS), matched without regard to case.
    A comment line offers nothing."""
    lines = text.split("\n")
    current = lines[line] if 0 <= line < len(lines) else ""
    index = _index(current, character)
    start, _ = _word_around(current, index)
    typed = current[start:index].upper()
    result: Dict[str, Any] = {"start": _utf16_length(current[:start]), "items": []}
    if current.startswith("#"):
        return result
    items: List[Dict[str, str]] = result["items"]
    if not current[:start].strip():
        for row in keywords():
            if row.name.startswith(typed):
                items.append({"label": row.name, "kind": "keyword", "detail": row.form,
                              "documentation": row.help})
    elif typed.startswith(":"):
        items.extend({"label": label, "kind": "label", "detail": "label", "documentation": ""}
                     for label in _labels(text) if label.startswith(typed))
    else:
        for name in tags:
            if name.upper().startswith(typed):
                items.append({"label": name, "kind": "tag", "detail": "tag",
                              "documentation": ""})
                if len(items) == MAX_TAG_ITEMS:
                    break
    return result


def hover(text: str, line: int, character: int) -> Optional[Dict[str, Any]]:
    """Help on the keyword under the cursor: {"start", "end" (UTF-16
    offsets of the word), "name", "form", "help"}, or None where the cursor
    is not on a line's keyword."""
    lines = text.split("\n")
    current = lines[line] if 0 <= line < len(lines) else ""
    if current.startswith("#") or current.startswith(":"):
        return None
    index = _index(current, character)
    start, end = _word_around(current, index)
    if start == end or current[:start].strip():
        return None
    row = keyword_of(current[start:end])
    if row is None:
        return None
    return {"start": _utf16_length(current[:start]), "end": _utf16_length(current[:end]),
            "name": row.name, "form": row.form, "help": row.help}
