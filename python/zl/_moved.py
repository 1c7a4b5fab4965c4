"""The one warning of the package's old names (zl_cli, zl_pytest), which
stay importable for one more release as aliases of their new places."""
import sys
import warnings


def moved(old: str, new: str) -> None:
    """Warns that `old` is deprecated and what to use instead (`new`): a
    FutureWarning, which Python shows by default (a DeprecationWarning it
    shows only to the code of __main__). It is told at the line that
    imported the alias (the import system's frames between are skipped by
    warnings itself), or at the alias run as a program (python3 -m)."""
    importer = sys._getframe(1).f_globals.get("__name__") != "__main__"
    warnings.warn("%s is deprecated and goes away in the next release: use %s" % (old, new),
                  FutureWarning, stacklevel=3 if importer else 2)
