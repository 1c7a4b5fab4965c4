"""Answers to operator questions for unattended runs (--zl-answers FILE).

The file holds one answer a line, `QUESTION = ANSWER`, split at the last
` = `; blank lines and lines starting with `#` are skipped. QUESTION is
compared with the question as the scenario asks it (upper case) without
regard to case or runs of blanks, and may be a shell pattern (`*` answers
every question not answered by an earlier line). The first matching line
wins.

    IS THE PUMP RUNNING? = yes
    IS THE HEATER * = no
"""
import fnmatch
import re
from typing import Iterable, List, Optional, Tuple


class AnswersError(ValueError):
    """The answers file cannot be read or has a line that is not an answer."""


def _normal(text: str) -> str:
    return re.sub(r"\s+", " ", text.strip()).upper()


class Answers:
    def __init__(self, rules: Iterable[Tuple[str, str]] = (), source: str = "") -> None:
        self.rules = list(rules)  # (normalised pattern, answer)
        self.source = source

    @classmethod
    def read(cls, path: str) -> "Answers":
        try:
            with open(path, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except OSError as e:
            raise AnswersError("answers file %s: %s" % (path, e.strerror or e)) from None
        rules: List[Tuple[str, str]] = []
        for number, line in enumerate(lines, start=1):
            if not line.strip() or line.startswith("#"):
                continue
            question, eq, answer = line.rpartition(" = ")
            if not eq or not question.strip():
                raise AnswersError("answers file %s, line %d: not QUESTION = ANSWER: %r"
                                   % (path, number, line))
            rules.append((_normal(question), answer.strip()))
        return cls(rules, str(path))

    def lookup(self, question: str) -> Optional[str]:
        """The answer to `question`, None when no line answers it."""
        asked = _normal(question)
        for pattern, answer in self.rules:
            if fnmatch.fnmatchcase(asked, pattern):
                return answer
        return None
