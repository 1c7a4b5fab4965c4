"""The static check of scenario files as the tools use it: `zl check`, the
check `zl run` and `zl sign` make first, and the pytest plugin's check
before it takes a server (docs/authoring.md).

The check itself is the extension's (`zl.checkscenario`: the engine's own
reading of every line, no server). What is here: where the tags that exist
come from (a tag definition file, a saved tag file, a live database), the
strict reading that makes warnings errors, and the forms the findings are
shown in: a line per finding as editors and CI problem matchers read it,
JSON, and SARIF 2.1.0 for code-scanning views.

Stateless; safe from any thread.
"""
from __future__ import annotations

import os
import urllib.parse
from typing import TYPE_CHECKING, Any, Dict, Iterable, List, Optional, Sequence, Union

import zl
from zl import safe_text
from zl.readers import tag_definitions, tag_file
from zl.readers.record_file import FormatError

if TYPE_CHECKING:
    # The extension's type, named here for the annotations only: the file
    # tools import this module (through zl.cli) where no extension is built.
    from zl import ScenarioDiagnostic as Diagnostic

Arguments = Union[str, Sequence[str], None]

# The codes of the findings about a file's stored checksum ("#$CHECK:"),
# which signing the file settles.
CHECKSUM_CODES = frozenset({"no-checksum", "bad-checksum", "stale-checksum"})

# What each code means, in one line (SARIF's rule descriptions; the table of
# docs/authoring.md gives an example of each).
CODES: Dict[str, str] = {
    "unknown-keyword": "a keyword the engine does not know",
    "missing-operand": "a statement without an operand it needs",
    "bad-number": "an operand that does not read as a number",
    "window-order": "a time window that ends before it starts",
    "missing-label": "a GOTO to a label the file does not have",
    "missing-subtest": "a subtest that cannot be found",
    "nest-too-deep": "subtests nested deeper than the engine allows",
    "no-checksum": "SAFETY asks for a stored checksum the file does not have",
    "bad-checksum": "SAFETY checks a stored checksum that does not match",
    "unknown-tag": "a tag that does not exist",
    "bad-expression": "a condition whose parentheses do not pair",
    "subtest-cycle": "a subtest that calls itself",
    "missing-argument": "a $n beyond the arguments given",
    "logset-command": "a ZLCMD line the log set commands refuse",
    "unreadable": "a file that cannot be read",
    "unreachable": "a line no run reaches",
    "stale-checksum": "a stored checksum that no longer matches the file",
    "incomplete": "subtests not followed: too many lines",
    "extra-operand": "words after the last operand, which the statement ignores",
    "tag-list-comma": "a blank beside a comma of a tag list, which ends the list",
    "tag-list-gap": "an empty item, which ends a tag list",
    "cut-operand": "an operand longer than the engine reads",
    "no-effect": "a statement that does nothing without its operand",
    "glued-group": "a parenthesis group right after a number's digit",
    "fraction-cut": "a fraction the statement cuts off",
    "ignored-value": "a value the statement ignores",
    "flag-word": "a flag word that is neither yes nor no",
    "safety-word": "a SAFETY word that names no check",
    "carriage-return": "a CR LF line end, whose CR the last word holds",
}


class TagsError(Exception):
    """The tags that exist cannot be had; the text says why."""


def tags_of_file(path: Union[str, "os.PathLike[str]"]) -> List[str]:
    """The tag names of a tag definition file (what the stand-in loads) or
    of a saved tag file (`savetags`). Raises OSError when the file cannot be
    read, TagsError when it is neither or holds no tag."""
    try:
        records = tag_file.read(path)
    except FormatError:
        records = None  # not a saved tag file: definition lines
    if records is not None:
        names = [t.name for t in (tag_file.parse_tag(r.payload) for r in records
                                  if r.kind == "STAG") if t is not None]
        if not names:
            raise TagsError("a tag file without tags this reader knows")
        return names
    try:
        definitions = tag_definitions.read(path)
    except tag_definitions.DefinitionError as e:
        raise TagsError("not a tag definition file or a saved tag file (%s)" % e) from None
    if not definitions:
        raise TagsError("no tag defined")
    return [d.name for d in definitions]


def tags_of_database(client: "zl.Client") -> List[str]:
    """The tag names of the database `client` is connected to, in one call.
    Raises TagsError when the server does not give them."""
    listing = client.searchtags(".", "TAGS")
    names = [n for n in listing.split(",") if n]
    if not names and client.tagcount() != 0:
        raise TagsError("the database did not list its tags")
    return names


def check(path: Union[str, "os.PathLike[str]"], tags: Optional[Iterable[str]] = None,
          args: Arguments = None, strict: bool = False) -> List[Diagnostic]:
    """The findings of zl.checkscenario for the scenario at `path`; with
    `strict` every warning is an error."""
    found = zl.checkscenario(path, tags=tags, args=args)
    if strict:
        found = [zl.ScenarioDiagnostic((d.file, d.line, d.column, "error", d.code, d.message))
                 if d.severity == "warning" else d for d in found]
    return found


def errors_of(found: Iterable[Diagnostic]) -> List[Diagnostic]:
    return [d for d in found if d.severity == "error"]


def count_text(found: Sequence[Diagnostic]) -> str:
    """How many errors and warnings: "2 errors and 1 warning", "1 error",
    "no finding"."""
    errors = len(errors_of(found))
    warnings = len(found) - errors
    parts = ["%d %s" % (n, word + ("" if n == 1 else "s"))
             for n, word in ((errors, "error"), (warnings, "warning")) if n]
    return " and ".join(parts) or "no finding"


def text_line(d: Diagnostic, file: Optional[str] = None) -> str:
    """One finding as compilers write them, for editors and problem
    matchers: "FILE:LINE:COL: error: MESSAGE" (`file` instead of d.file when
    given), its texts escaped for a terminal."""
    return "%s:%d:%d: %s: %s" % (safe_text.terminal(file if file is not None else d.file),
                                 d.line, d.column, d.severity, safe_text.terminal(d.message))


def as_json(found: Iterable[Diagnostic]) -> List[Dict[str, Any]]:
    """The findings as JSON objects with the fields of zl.ScenarioDiagnostic."""
    fields = ("file", "line", "column", "severity", "code", "message")
    return [dict(zip(fields, d)) for d in found]


def _uri(path: str) -> str:
    """A SARIF artifact location: a relative path as a relative URI, an
    absolute one as a file URI."""
    posix = path.replace(os.sep, "/")
    if os.path.isabs(path):
        return "file://" + urllib.parse.quote(posix)
    return urllib.parse.quote(posix)


class _Lines:
    """The lines of the files the findings name, read once each, to turn a
    byte column into the UTF-16 column SARIF counts in."""

    def __init__(self) -> None:
        self.files: Dict[str, List[bytes]] = {}

    def utf16_column(self, path: str, line: int, column: int) -> int:
        if path not in self.files:
            try:
                with open(path, "rb") as f:
                    self.files[path] = f.read().split(b"\n")
            except OSError:
                self.files[path] = []
        lines = self.files[path]
        if not 1 <= line <= len(lines):
            return column
        before = lines[line - 1][:column - 1].decode("utf-8", errors="replace")
        return len(before.encode("utf-16-le")) // 2 + 1


def as_sarif(found: Iterable[Diagnostic]) -> Dict[str, Any]:
    """The findings as a SARIF 2.1.0 log of one run of the tool "zl check",
    with a rule per code that occurs."""
    lines = _Lines()
    results: List[Dict[str, Any]] = []
    codes: List[str] = []
    for d in found:
        if d.code not in codes:
            codes.append(d.code)
        results.append({
            "ruleId": d.code,
            "ruleIndex": codes.index(d.code),
            "level": d.severity,
            "message": {"text": d.message},
            "locations": [{"physicalLocation": {
                "artifactLocation": {"uri": _uri(d.file)},
                "region": {"startLine": d.line,
                           "startColumn": lines.utf16_column(d.file, d.line, d.column)},
            }}],
        })
    rules = [{"id": code, "shortDescription": {"text": CODES.get(code, code)}}
             for code in codes]
    return {
        "$schema": "https://json.schemastore.org/sarif-2.1.0.json",
        "version": "2.1.0",
        "runs": [{
            "tool": {"driver": {"name": "zl check", "version": zl.__version__,
                                "rules": rules}},
            "columnKind": "utf16CodeUnits",
            "results": results,
        }],
    }
