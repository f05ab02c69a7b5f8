"""The README's Python examples, run from the project's folder as a user would run them: each
line `print(...)  # text` must print that text, and every extra the README or the package names
(`mopsel[name]`) must be one the installed package declares."""

import importlib.metadata
import re
import subprocess
import sys
from pathlib import Path

import pytest

import mopsel
from real_corpus import DATA_DIR

ROOT = Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text()
EXAMPLES = re.findall(r"^```python\n(.*?)^```", README, re.MULTILINE | re.DOTALL)
SCIPY_PART = "# Needs SciPy"


def run_example(code: str, tmp_path: Path) -> None:
    """Runs `code` as a script in the project's folder and compares what it prints with the
    comments of its print lines."""
    expected = re.findall(r"^\s*print\(.*\)  # (.*)$", code, re.MULTILINE)
    script = tmp_path / "example.py"
    script.write_text(code)
    run = subprocess.run([sys.executable, str(script)], cwd=ROOT, capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stderr
    assert [line.strip() for line in run.stdout.splitlines()] == [line.strip() for line in expected]


def test_first_example(tmp_path):
    code = EXAMPLES[0]
    assert "examples/demo.mps" in code and SCIPY_PART in code
    try:
        import scipy  # noqa: F401
    except ImportError:
        code = code[: code.index(SCIPY_PART)]  # the lines marked as needing SciPy are left out
    run_example(code, tmp_path)


@pytest.mark.skipif(not (DATA_DIR / "miplib3").is_dir(), reason=f"MIPLIB 3 files not found in {DATA_DIR}")
def test_reading_a_corpus_in_parallel(tmp_path):
    (code,) = [example for example in EXAMPLES if "ProcessPoolExecutor" in example]
    run_example(code, tmp_path)


def test_every_extra_named_is_declared():
    package = Path(mopsel.__file__).parent
    texts = [README] + [path.read_text() for path in package.glob("*.py")]
    named = {name for text in texts for name in re.findall(r"mopsel\[(\w+)\]", text)}
    declared = set(importlib.metadata.metadata("mopsel").get_all("Provides-Extra") or [])
    assert named and named <= declared, f"named but not declared: {sorted(named - declared)}"
