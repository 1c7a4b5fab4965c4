"""python3 -m zl_cli: the zl command under its old name, for one more release."""
import sys

from zl._moved import moved

moved("python3 -m zl_cli", "the zl command, or python3 -m zl.cli")

from zl.cli import main  # noqa: E402

sys.exit(main())
