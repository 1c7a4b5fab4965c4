"""The "#$CHECK:" lines of scenario files and test logs: signing a
scenario file, and checking a scenario file or a run of a test log against
its stored checksum. `zl sign`, `zl verify`, `zl report` and zl serve's page
say a run's signature by `section_state`.

The checksum is the scenario digest as a run computes it over a file
(docs/scenario-digest.md), taken from the extension module (`zl.checksum`):
it leaves out every line that begins with "#", so the check line itself and
comments may change without changing it. A scenario file's check line is
written in place of an existing one (all of them, when a file holds
several), otherwise appended at the end, after a line end is added to a last
line that has none (the checksum is taken after that, since a line end is
data).
"""
from typing import List, Optional, Tuple

from zl.readers import testlog

CHECK = testlog.CHECK_PREFIX


def checksum(data: bytes) -> str:
    """The checksum a run computes over a file whose bytes are `data`.
    ImportError where the extension module cannot be had (the readers run
    from the sources alone): no signature can be checked there."""
    from zl._zl import checksum as digest  # the one digest the runs use
    return digest(data)


def is_test_log(path: str, data: Optional[bytes] = None) -> bool:
    """A test log: named ".tlg", or (given its bytes) beginning with a run's
    "Starting test" line, which no scenario statement looks like."""
    if path.lower().endswith(".tlg"):
        return True
    if data is None:
        return False
    first = data.split(b"\n", 1)[0].decode("utf-8", errors="replace").rstrip("\r")
    return testlog.is_starting_line(first)


def _line_end(data: bytes) -> bytes:
    return b"\r\n" if b"\r\n" in data else b"\n"


def signed_text(data: bytes) -> Tuple[bytes, str]:
    """The bytes of a scenario file with its check line written, and the sum."""
    lines = data.splitlines(keepends=True)
    if not any(line.startswith(CHECK) for line in lines):
        if data and not data.endswith(b"\n"):
            data += _line_end(data)
        sum_ = checksum(data)
        return data + CHECK + sum_.encode("ascii") + _line_end(data), sum_
    sum_ = checksum(data)
    out = []
    for line in lines:
        if line.startswith(CHECK):
            end = line[len(line.rstrip(b"\r\n")):]
            line = CHECK + sum_.encode("ascii") + end
        out.append(line)
    return b"".join(out), sum_



def storedchecksum(data: bytes) -> Optional[str]:
    """The checksum of the file's last check line (the one a run keeps), or
    None when it has none."""
    stored = None
    for line in data.splitlines(keepends=True):
        if line.startswith(CHECK):
            stored = line[len(CHECK):].rstrip(b"\r\n").decode("ascii", errors="replace")
    return stored


def verify_scenario(data: bytes) -> Tuple[str, Optional[str], str]:
    """("valid" | "altered" | "unsigned", stored, computed)."""
    stored = storedchecksum(data)
    computed = checksum(data)
    if stored is None:
        return "unsigned", None, computed
    return ("valid" if stored == computed else "altered"), stored, computed


def section_state(data: bytes, section: testlog.Section) -> str:
    """"valid", "altered" or "unsigned": whether `section` of the test log
    whose bytes are `data` still holds what its run signed. Every tool that
    speaks of a run's signature says this."""
    if not section.check:
        return "unsigned"
    return "valid" if checksum(data[section.start:section.end]) == section.check else "altered"


def verify_test_log(data: bytes) -> List[Tuple[int, str, str]]:
    """[(line, description, "valid" | "altered" | "unsigned")] for each section,
    then an "altered" entry for each line outside every section."""
    log = testlog.parse(data)
    results = []
    for s in log.sections:
        what = "run %s" % s.title
        state = section_state(data, s)
        if state == "unsigned" and s.aborted:
            state += " (aborted)"
        results.append((s.lineno, what, state))
    for lineno in log.stray:
        results.append((lineno, "text outside every run section", "altered"))
    results.sort(key=lambda r: r[0])
    return results
