"""zl_cli.readers: the old name of zl.readers, kept for one more release."""
from zl._moved import moved

moved("zl_cli.readers", "zl.readers")

from zl.readers import *  # noqa: E402,F401,F403
