"""python -m mopsel: the mopsel command."""

import sys

from mopsel.cli import main

sys.exit(main())
