"""python3 -m zl.cli: the same as the zl command."""
import sys

from zl.cli import main

sys.exit(main())
