"""Running the zl command inside a test's own process."""
import io
import sys

from zl import cli


def zl(*argv):
    """Runs the zl command in this process: (exit status, stdout, stderr)."""
    out, err = io.StringIO(), io.StringIO()
    saved = sys.stdout, sys.stderr
    sys.stdout, sys.stderr = out, err
    try:
        status = cli.main([str(a) for a in argv])
    finally:
        sys.stdout, sys.stderr = saved
    return status, out.getvalue(), err.getvalue()
