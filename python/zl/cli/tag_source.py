"""Where `zl check` and `zl lsp` learn which tags exist and which arguments
a scenario runs with: the options --tags FILE, --db NAME (with --ns and
--options) and --args, and the reading of the tags they name, with the
error line and exit status of a failure (docs/tools/check.md)."""
import argparse
from typing import List, Optional, Tuple

from zl import checks, safe_text
from zl.cli import connection, errors


def add_arguments(parser: argparse.ArgumentParser,
                  when_read: str = "") -> "argparse._ArgumentGroup":
    """--tags | --db, --args and the connection options of --db;
    `when_read` is added to --db's help ("read once, at start"). Gives the
    group of the connection options."""
    tags = parser.add_mutually_exclusive_group()
    tags.add_argument("--tags", metavar="FILE",
                      help="the tags that exist: a tag definition file (as zl sim --tags "
                           "loads) or a tag file saved with savetags")
    tags.add_argument("-d", "--db", "--database", dest="db", metavar="NAME",
                      help="the tags that exist: those of this live database"
                           + (" (%s)" % when_read if when_read else ""))
    parser.add_argument("--args", metavar='"A1 A2 ..."', dest="arguments", default=None,
                        help="the arguments $1..$8 the files are run with (default: not "
                             "known, and what holds a $n is not read)")
    group = parser.add_argument_group("connection (with --db)")
    group.add_argument("--ns", metavar="ADDRESS", type=connection.naming_address,
                       help="the Naming Service: PORT (on 127.0.0.1), HOST:PORT or a "
                            "corbaloc:/corbaname:/IOR: address (default: from "
                            "$ZL_ORB_OPTIONS)")
    group.add_argument("--options", metavar="TEXT", default="",
                       help="further client options, passed to zl.Client as they are")
    return group


def known_tags(args: argparse.Namespace, command: str) -> Tuple[Optional[List[str]], int]:
    """The tags of --tags or --db (None without either), and the exit
    status of a failure to have them (errors.OK when there was none); a
    failure is told on standard error as `zl COMMAND: ...`."""
    if args.tags:
        try:
            return checks.tags_of_file(args.tags), errors.OK
        except OSError as e:
            errors.error(command, "cannot read %s: %s" % (safe_text.terminal(args.tags),
                                                         e.strerror or e))
        except checks.TagsError as e:
            errors.error(command, "--tags %s: %s" % (safe_text.terminal(args.tags),
                                                    safe_text.terminal(str(e))))
        return None, errors.FILE
    if args.db:
        try:
            client = connection.connect(args)
        except connection.Failure as failure:
            return None, connection.report(command, failure)
        with client:
            try:
                return checks.tags_of_database(client), errors.OK
            except checks.TagsError as e:
                errors.error(command, "%s: %s" % (safe_text.terminal(args.db), e))
                return None, errors.SERVER
    return None, errors.OK
