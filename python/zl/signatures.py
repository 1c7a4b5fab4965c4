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


def stored_checksum(data: bytes) -> Optional[str]:
    """The checksum of the file's last check line (the one a run keeps), or
    None when it has none."""
    stored = None
    for line in data.splitlines(keepends=True):
        if line.startswith(CHECK):
            stored = line[len(CHECK):].rstrip(b"\r\n").decode("ascii", errors="replace")
    return stored


def verify_scenario(data: bytes) -> Tuple[str, Optional[str], str]:
    """("valid" | "altered" | "unsigned", stored, computed)."""
    stored = stored_checksum(data)
    computed = checksum(data)
    if stored is None:
        return "unsigned", None, computed
    return ("valid" if stored == computed else "altered"), stored, computed


# The digest reads a line in pieces of at most this many characters and
# leaves out every piece that begins with "#" (docs/scenario-digest.md).
PIECE = 2047


def uncovered_lines(data: bytes, section: testlog.Section) -> List[int]:
    """The file's line numbers of the lines of `section` that its signature
    does not wholly cover: a line longer than a piece one of whose later
    pieces begins with "#". The digest leaves such a piece out as it leaves
    out comments, so it could be edited without altering the signature."""
    body = data[section.start:section.end].replace(b"\r\n", b"\n")
    first = data.count(b"\n", 0, section.start) + 1
    lines = []
    for i, line in enumerate(body.split(b"\n")):
        if any(line[at:at + 1] == b"#" for at in range(PIECE, len(line), PIECE)):
            lines.append(first + i)
    return lines


def section_state(data: bytes, section: testlog.Section) -> str:
    """"valid", "altered", "unsigned" or "uncovered": whether `section` of the
    test log whose bytes are `data` still holds what its run signed.
    "uncovered" is a valid signature over a section that holds text the
    signature leaves out (uncovered_lines), so it proves less than it seems
    to. Every tool that speaks of a run's signature says this."""
    if not section.check:
        return "unsigned"
    if checksum(data[section.start:section.end]) != section.check:
        return "altered"
    return "uncovered" if uncovered_lines(data, section) else "valid"


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
        elif state == "uncovered":
            state = "valid, but the signature does not cover all of line %s" % ", ".join(
                str(n) for n in uncovered_lines(data, s))
        results.append((s.lineno, what, state))
    for lineno in log.stray:
        results.append((lineno, "text outside every run section", "altered"))
    results.sort(key=lambda r: r[0])
    return results
