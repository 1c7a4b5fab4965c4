"""zl_cli.services: the old name of zl.services, kept for one more release."""
from zl._moved import moved

moved("zl_cli.services", "zl.services")

from zl.services import *  # noqa: E402,F401,F403
