# The launcher's own tests use its fixtures like every other suite would.
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))

from zl_services_pytest import services, pytest_configure  # noqa: E402,F401
