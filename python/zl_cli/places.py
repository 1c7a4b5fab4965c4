"""zl_cli.places: the old name of zl.runs.places, kept for one more release."""
from zl._moved import moved

moved("zl_cli.places", "zl.runs.places")

from zl.runs.places import *  # noqa: E402,F401,F403
