#!/usr/bin/python3
"""The services launcher, run from the sources: the module
python/zl/services.py of this repository (installed, the same launcher is
the command `zl sim`). See that file for its use.

As a command it is that module's command line; imported as `zl_services`
it is that module, with REPO_ROOT, the root of this repository, beside its
names. The module is loaded from its file, so that the sources' launcher
works without the package on the Python path (the tests, the demo and the
benchmarks run it that way) and whatever zl the path holds.
"""
import importlib.util
import sys
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parent.parent

_spec = importlib.util.spec_from_file_location(
    "zl_services", REPO_ROOT / "python" / "zl" / "services.py")
assert _spec is not None and _spec.loader is not None
_launcher = importlib.util.module_from_spec(_spec)
_launcher.REPO_ROOT = REPO_ROOT
# `import zl_services` gives the launcher module itself.
sys.modules["zl_services"] = _launcher
_spec.loader.exec_module(_launcher)
_launcher.PROGRAM = "zl_services"  # its lines' prefix, as before

if __name__ == "__main__":
    sys.exit(_launcher.launch())
