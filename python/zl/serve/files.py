"""The files a `zl serve` page may show: test logs and log set files in one
folder (and its subfolders), and scenario files to start from it.

Every name the page sends is taken relative to that folder and resolved
(symbolic links included) before use; a name that ends outside the folder,
or is not a regular file, is refused; a scenario to start must also be one
the listing shows as a scenario. Nothing is written here.
"""
import os
import posixpath
import time
from typing import Any, Dict, List, Optional

from zl.readers import testlog

MAX_DEPTH = 4          # subfolder levels listed
MAX_FILES = 500        # entries listed at most
LIVE_S = 30.0          # a test log written this recently may belong to a run going on
KINDS = {".tlg": "testlog", ".scn": "scenario"}
LOGSET_KINDS = (b"_HD_", b"_FO_", b"_DE_", b"_TA_")  # how a log set file begins


class Refused(Exception):
    """A name outside the folder, or not a readable regular file."""


def resolve(folder: str, name: str) -> str:
    """The real path of `name` inside `folder`; Refused when it is not one."""
    root = os.path.realpath(folder)
    if not name or "\0" in name or os.path.isabs(name):
        raise Refused("not a file of the folder: %r" % name)
    path = os.path.realpath(os.path.join(root, name))
    if os.path.commonpath([root, path]) != root or path == root:
        raise Refused("not a file of the folder: %r" % name)
    if not os.path.isfile(path):
        raise Refused("no such file: %r" % name)
    return path


def scenario(folder: str, name: str) -> str:
    """The real path of a scenario file the listing shows (`*.scn`, at most
    MAX_DEPTH folders down, none of them hidden); Refused for any other
    name, so that the page starts scenarios only, never a test log or
    another file of the folder."""
    parts = posixpath.normpath(name.replace(os.sep, "/")).split("/")
    folders = parts[:-1]
    if (os.path.splitext(name)[1].lower() != ".scn" or len(folders) > MAX_DEPTH
            or any(p.startswith(".") for p in folders)):
        raise Refused("not a scenario of the folder (*.scn): %r" % name)
    return resolve(folder, name)


def kind_of(path: str) -> Optional[str]:
    """"testlog", "scenario", "logset" or None, from the name and, for log
    sets (whatever their name), the first record's kind."""
    ext = os.path.splitext(path)[1].lower()
    if ext in KINDS:
        return KINDS[ext]
    try:
        with open(path, "rb") as f:
            head = f.read(4)
    except OSError:
        return None
    return "logset" if head in LOGSET_KINDS else None


def listing(folder: str) -> List[Dict[str, Any]]:
    """The test logs, log sets and scenarios of the folder: dicts with name
    (relative, "/" separated), kind, size, mtime and, for a test log, the
    verdict and counts of its last run (last_run)."""
    root = os.path.realpath(folder)
    found: List[Dict[str, Any]] = []
    for here, dirs, files in os.walk(root):
        depth = os.path.relpath(here, root).count(os.sep) + (here != root)
        dirs[:] = sorted(d for d in dirs if not d.startswith(".")) if depth < MAX_DEPTH else []
        for name in sorted(files):
            path = os.path.join(here, name)
            if not os.path.isfile(path):
                continue
            kind = kind_of(path)
            if kind is None:
                continue
            st = os.stat(path)
            entry: Dict[str, Any] = {"name": os.path.relpath(path, root).replace(os.sep, "/"),
                                     "kind": kind, "size": st.st_size, "mtime": st.st_mtime}
            if kind == "testlog":
                entry.update(last_run(path, st.st_mtime))
            found.append(entry)
            if len(found) >= MAX_FILES:
                return found
    return found


def last_run(path: str, mtime: float, now: Optional[float] = None) -> Dict[str, Any]:
    """The verdict of the last run of a test log ("" when it holds none),
    and its counts of checks, failures and errors. A run without its
    closing line whose log was written in the last LIVE_S seconds is still
    going (a `zl run` beside the page): its verdict is "running", and the
    closing line it has not written yet is no error."""
    try:
        sections = testlog.read(path).sections
    except OSError:
        return {"verdict": ""}
    if not sections:
        return {"verdict": ""}
    last = sections[-1]
    now = time.time() if now is None else now
    if not last.closed and not last.aborted and now - mtime < LIVE_S:
        cases = [c for c in last.cases if not _not_ended(c)]
        return {"verdict": "running", "checks": len(cases),
                "failures": sum(1 for c in cases if c.outcome == "failure"),
                "errors": sum(1 for c in cases if c.outcome == "error")}
    verdict = testlog.judge(last)
    return {"verdict": verdict.outcome, "checks": len(last.cases),
            "failures": verdict.failures, "errors": verdict.errors}


def _not_ended(case: testlog.Case) -> bool:
    """Whether `case` is the error the reader adds for a run without its
    closing line (it stands for no line of the file: its `line` is empty)."""
    return case.name == testlog.NOT_ENDED and not case.line
