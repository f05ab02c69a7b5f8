"""The `mopsel` command: info, check, convert, diff and spy over MPS and LP files.

Exit status: 0 when all went well; 1 when check finds errors (or warnings, with --strict),
diff finds differences, or info, convert or spy meet a file that cannot be read as MPS;
2 on bad usage or trouble (unknown options, a file that cannot be opened or written, a
missing optional package, and any failure of diff or verify to read, so that 1 always means
"they differ" or "it fails").
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import List, Optional

from mopsel._extras import is_missing_extra
from mopsel.cli import check, convert, diff, info, pictures, verify
from mopsel.cli.inputs import EXIT_TROUBLE, CommandError, os_error_text

_COMMANDS = (info, check, convert, diff, verify, pictures)


def build_parser() -> argparse.ArgumentParser:
    from mopsel import __version__

    parser = argparse.ArgumentParser(
        prog="mopsel",
        description="Look at, check, convert and compare optimisation models in MPS and LP text, and check solutions.",
        epilog="FILE may be plain or compressed (gzip, bz2, xz, zstd: told by content), or - for "
        "standard input; a name ending in .lp (.lp.gz, ...) is read as LP text, others as MPS. "
        "Exit status: 0 success, 1 errors or differences found, 2 bad usage or trouble.",
    )
    parser.add_argument("--version", action="version", version=f"mopsel {__version__}")
    # Options every subcommand takes.
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument(
        "--format",
        choices=("free", "fixed", "auto", "lp"),
        default=None,
        help="the input's format: MPS free unless the text needs fixed columns (auto), MPS with "
        "fields separated by blanks (free), the classic fixed columns (fixed: names may hold blanks), "
        "or LP text (lp); by default LP for a name ending in .lp (.lp.gz, ...), auto MPS otherwise",
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for command in _COMMANDS:
        command.register(commands, common)
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    """Runs the command line `argv` (default: sys.argv[1:]) and returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except CommandError as error:
        print(f"mopsel {args.command}: {error}", file=sys.stderr)
        return error.status
    except BrokenPipeError:
        _drop_stdout()
        return 141  # the status of a process that a closed pipe stops
    except ImportError as error:
        # An optional package that is not installed names its extra; any other ImportError (a
        # package that is there but fails to import) is a fault and goes up as it is.
        if not is_missing_extra(error):
            raise
        print(f"mopsel {args.command}: {error}", file=sys.stderr)
        return EXIT_TROUBLE
    except OSError as error:
        print(f"mopsel {args.command}: {os_error_text(error)}", file=sys.stderr)
        return EXIT_TROUBLE
    except KeyboardInterrupt:
        return 130
    finally:
        _flush_stdout()


def _flush_stdout() -> None:
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        _drop_stdout()


def _drop_stdout() -> None:
    # Output piped into a command that stops reading (mopsel check ... | head) is not an error:
    # the rest is dropped quietly, as Python's documentation on SIGPIPE advises, so that the
    # interpreter's own flush at exit does not complain.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
