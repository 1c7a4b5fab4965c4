"""The files a `zl serve` page may show: test logs and log set files in one
folder (and its subfolders), and scenario files to start from it.

Every name the page sends is taken relative to that folder and resolved
(symbolic links included) before use; a name that ends outside the folder,
or is not a regular file, is refused. Nothing is written here.
"""
import os
import time
from typing import Any, Dict, List, Optional

from zl_cli import testlog

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
    going (a `zl run` beside the page): its verdict is "running"."""
    try:
        sections = testlog.read(path).sections
    except OSError:
        return {"verdict": ""}
    if not sections:
        return {"verdict": ""}
    last = sections[-1]
    verdict = testlog.judge(last)
    outcome = verdict.outcome
    now = time.time() if now is None else now
    if not last.closed and not last.aborted and now - mtime < LIVE_S:
        outcome = "running"
    return {"verdict": outcome, "checks": len(last.cases), "failures": verdict.failures,
            "errors": verdict.errors}
