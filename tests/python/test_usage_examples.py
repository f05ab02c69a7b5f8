"""The examples of the user guide's sections on comparing, summarising, looking up, tables,
solutions and corpora, run in order as one script, as a reader following the guide would: each
line `print(...)  # text` must print that text."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

from real_corpus import DATA_DIR, MISSING_REASON

ROOT = Path(__file__).resolve().parents[2]
FIRST, LAST = "## Comparing models: diff and equal", "## Errors"


@pytest.mark.skipif(not DATA_DIR.is_dir(), reason=MISSING_REASON)
def test_the_examples_print_what_the_guide_says(tmp_path):
    pytest.importorskip("pandas", reason="pandas (extra mopsel[pandas]) is not installed")
    guide = (ROOT / "docs" / "usage.md").read_text()
    part = guide[guide.index(FIRST) : guide.index(LAST)]
    # The blocks that print something; those that need a cluster (dask, Ray) only show how.
    blocks = [b for b in re.findall(r"^```python\n(.*?)^```", part, re.M | re.S) if "  # " in b and "print(" in b]
    code = "\n".join(blocks)
    expected = re.findall(r"^\s*print\(.*\)\s+# (.*)$", code, re.M)
    assert len(blocks) == 6 and len(expected) > 15
    # A folder of its own, where the guide's relative paths lead to the project's examples and
    # to the shared models.
    work = tmp_path / "project"
    work.mkdir()
    (work / "examples").symlink_to(ROOT / "examples")
    (tmp_path / "shared").symlink_to(DATA_DIR.parent)
    (work / "example.py").write_text(code)
    run = subprocess.run([sys.executable, "example.py"], cwd=work, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert [line.strip() for line in run.stdout.splitlines()] == [line.strip() for line in expected]
