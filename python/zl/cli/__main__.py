"""python3 -m zl_cli: the same as the zl command."""
import sys

from zl_cli.cli import main

sys.exit(main())
