"""Where the language server's documents live and how their findings
become the protocol's diagnostics.

A document is known by its URI. Only file: URIs name a file that can be
checked (its subtests are found beside it, on disk); a document of another
scheme (an editor's unsaved "untitled:" buffer) still gets completion and
hover, but no diagnostics.

The findings of one check may fall in several files: the document itself
and the subtests it calls (checked with the arguments of their `@` lines).
A finding in a subtest is published on the subtest's URI, at its own line,
with the caller named; a subtest open in the editor also has its own
findings, and several open documents may call it: `Diagnostics` keeps what
each checked document says about each URI and publishes, for a URI, the
union. Used from the server's one thread.
"""
import os
import pathlib
import urllib.parse
from typing import Any, Callable, Dict, List, Optional, Set, Tuple

SOURCE = "zl check"
SEVERITY = {"error": 1, "warning": 2}

Diagnostic = Dict[str, Any]
Publish = Callable[[str, List[Diagnostic]], None]


def path_of(uri: str) -> Optional[str]:
    """The local path a file: URI names (file:///a/b.scn, file://localhost/...),
    or None for any other URI."""
    parts = urllib.parse.urlsplit(uri)
    if parts.scheme.lower() != "file" or parts.netloc not in ("", "localhost"):
        return None
    path = urllib.parse.unquote(parts.path)
    return path if path.startswith("/") else None


def uri_of(path: str) -> str:
    return pathlib.Path(os.path.abspath(path)).as_uri()


def _range(line: int, start: int, end: int) -> Dict[str, Any]:
    return {"start": {"line": line, "character": start},
            "end": {"line": line, "character": end}}


def calling_line(text: str, path: str) -> int:
    """The first line (from 0) of `text` that calls the subtest at `path`
    by name ("@SUB.SCN ..." for sub.scn, names compared without regard to
    case, as a run finds them); 0 when none does (a subtest called by a
    subtest)."""
    name = os.path.basename(path).upper()
    for number, line in enumerate(text.split("\n")):
        words = line.split()
        if line.startswith("@") and words and \
                os.path.basename(words[0][1:]).upper() == name:
            return number
    return 0


def as_diagnostic(finding: Dict[str, Any], caller: str, text: str) -> Diagnostic:
    """A finding of zl.authoring.diagnostics as the protocol's Diagnostic.
    A finding in a subtest (not "here") is marked on its whole line (the
    finding has no column there) and names `caller`, the URI of the document
    whose check found it, at the line of `text` (the caller's) that calls
    the subtest."""
    diagnostic: Diagnostic = {
        "range": _range(finding["line"], finding["start"], finding["end"]),
        "severity": SEVERITY.get(finding["severity"], 1),
        "code": finding["code"],
        "source": SOURCE,
        "message": finding["message"],
    }
    if not finding["here"]:
        name = os.path.basename(path_of(caller) or caller)
        diagnostic["range"] = {"start": {"line": finding["line"], "character": 0},
                               "end": {"line": finding["line"] + 1, "character": 0}}
        diagnostic["message"] += " (as %s calls it)" % name
        line = calling_line(text, finding["file"])
        diagnostic["relatedInformation"] = [{
            "location": {"uri": caller, "range": _range(line, 0, 0)},
            "message": "checked as %s calls it" % name}]
    return diagnostic


class Diagnostics:
    """What each checked document says about each URI, and its publication.
    `publish(uri, diagnostics)` sends the union of a URI's diagnostics (an
    empty list clears them in the editor)."""

    def __init__(self, publish: Publish) -> None:
        self._publish = publish
        # {URI marked: {URI of the checked document: its diagnostics there}}
        self._by_uri: Dict[str, Dict[str, List[Diagnostic]]] = {}

    def replace(self, checked: str, findings: List[Tuple[str, Diagnostic]]) -> None:
        """Sets what the document `checked` says: (URI, diagnostic) pairs.
        Publishes every URI whose diagnostics changed, and always `checked`
        itself (an editor expects an answer to each change)."""
        fresh: Dict[str, List[Diagnostic]] = {}
        for uri, diagnostic in findings:
            fresh.setdefault(uri, []).append(diagnostic)
        touched: Set[str] = {checked}
        for uri, sources in self._by_uri.items():
            if checked in sources and sources[checked] != fresh.get(uri):
                touched.add(uri)
        for uri, marks in fresh.items():
            if self._by_uri.get(uri, {}).get(checked) != marks:
                touched.add(uri)
        for sources in self._by_uri.values():
            sources.pop(checked, None)
        for uri, marks in fresh.items():
            self._by_uri.setdefault(uri, {})[checked] = marks
        for uri in sorted(touched):
            self._send(uri)

    def forget(self, checked: str) -> None:
        """Drops what the document `checked` says (it was closed) and
        publishes the URIs concerned, `checked` itself included."""
        touched = {checked} | {uri for uri, sources in self._by_uri.items() if checked in sources}
        for sources in self._by_uri.values():
            sources.pop(checked, None)
        for uri in sorted(touched):
            self._send(uri)

    def _send(self, uri: str) -> None:
        union: List[Diagnostic] = []
        for marks in self._by_uri.get(uri, {}).values():
            union.extend(d for d in marks if d not in union)
        if not union:
            self._by_uri.pop(uri, None)
        self._publish(uri, union)
