"""The mopsel command on the public models: info's counts against the MIPLIB 3 catalogue and
its coefficient ranges against HiGHS's log, check, convert and diff on real files, and spy."""

from __future__ import annotations

import json
import re
import subprocess
import sys
import tempfile

import numpy as np
import pytest

import mopsel
from mopsel.cli.info import magnitude_text
from real_corpus import DATA_DIR, MISSING_REASON, catalogue, raw_text

pytestmark = pytest.mark.skipif(not DATA_DIR.is_dir(), reason=MISSING_REASON)

# Netlib and MIPLIB 3 files of every shape: many rows, a long COLUMNS section, general
# integers, ranges, free rows in the file, bounds of every kind, fixed columns (forplan).
# (All 126 of them agreed when this was written; these run every time.)
SAMPLE = ("netlib/afiro.mps.gz", "netlib/pilot87.mps.gz", "netlib/boeing1.mps.gz", "netlib/maros-r7.mps.gz",
          "netlib/forplan.mps.gz", "miplib3/nw04.gz", "miplib3/bell5.gz", "miplib3/gesa2.gz", "miplib3/arki001.gz")


def mopsel_run(*args) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "mopsel", *map(str, args)], capture_output=True,
                          cwd=tempfile.gettempdir(), timeout=300)


def test_info_counts_match_the_miplib3_catalogue():
    files = sorted((DATA_DIR / "miplib3").glob("*.gz"))
    done = mopsel_run("info", "--json", *files)
    assert done.returncode == 0, done.stderr
    records = json.loads(done.stdout)
    assert len(records) == len(files) == 35
    for path, r in zip(files, records):
        kinds = r["column_kinds"]
        got = (r["rows"], r["columns"], kinds["integer"] + kinds["binary"], kinds["binary"], kinds["continuous"])
        assert got == catalogue()[path.name.removesuffix(".gz")], path.name


@pytest.mark.highs
@pytest.mark.parametrize("name", SAMPLE)
def test_coefficient_ranges_read_as_highs_prints_them(name, tmp_path, capfd):
    highspy = pytest.importorskip("highspy", reason="highspy (optional test peer) is not installed")

    plain = tmp_path / "model.mps"  # HiGHS's wheels read no gzip
    plain.write_bytes(raw_text(DATA_DIR / name))
    h = highspy.Highs()
    h.setOptionValue("time_limit", 0.0)
    h.readModel(str(plain))
    capfd.readouterr()
    h.run()
    log = capfd.readouterr().out
    # "  Bound   [1e+00, 1e+04] (non-continuous)": for a MIP, one line for each kind of column.
    # (HiGHS's "Cost ... (effective)", its own scaled costs, has no counterpart.)
    fields = {"Matrix": "matrix", "Cost": "cost", "RHS": "rhs", "Bound": "bounds",
              "Bound continuous": "bounds_continuous", "Bound non-continuous": "bounds_non_continuous"}
    printed = {f"{what} {kind}".strip(): text for what, text, kind in
               re.findall(r"^\s+(Matrix|Cost|Bound|RHS)\s+(\[.*?\])(?: \((\S+)\))?$", log, re.M)}
    printed = {key: text for key, text in printed.items() if key in fields}
    # The automatic format reads forplan in fixed columns, as HiGHS does, and the others freely.
    ranges = mopsel.stats(mopsel.read(DATA_DIR / name, format="auto")).ranges
    # HiGHS prints [0e+00, 0e+00] where there is no value; mopsel prints "-".
    ours = {key: "[0e+00, 0e+00]" if ranges[fields[key]] is None else magnitude_text(ranges[fields[key]])
            for key in printed}
    assert ours == printed and {"Matrix", "Cost", "RHS"} <= set(printed)


def test_check_convert_and_diff_on_real_files(tmp_path):
    nw04, pilot = DATA_DIR / "miplib3/nw04.gz", DATA_DIR / "netlib/pilot87.mps.gz"
    done = mopsel_run("check", nw04, pilot)
    assert done.returncode == 0 and done.stdout.decode().splitlines()[-1] == "2 files: 0 errors, 0 warnings, 0 infos"
    rounded = tmp_path / "pilot87-6.mps"
    assert mopsel_run("convert", "--digits", "6", pilot, rounded).returncode == 0
    done = mopsel_run("diff", "--json", pilot, rounded)
    kinds = {d["kind"] for d in json.loads(done.stdout)["differences"]}
    assert done.returncode == 1 and "matrix values" in kinds and kinds <= {"matrix values", "row bounds",
                                                                         "column bounds", "column costs"}
    assert mopsel_run("diff", "--rtol", "1e-5", pilot, rounded).returncode == 0
    assert mopsel_run("diff", nw04, nw04).stdout.decode().splitlines()[-1] == "no differences"


def test_spy_of_a_real_model(tmp_path):
    image = pytest.importorskip("matplotlib.image")
    done = mopsel_run("spy", DATA_DIR / "miplib3/nw04.gz", "-o", tmp_path / "nw04.png", "--size", "400")
    assert done.returncode == 0, done.stderr
    pixels = image.imread(tmp_path / "nw04.png")[..., :3]
    orange = (pixels[..., 0] - pixels[..., 2] > 0.25)  # every column of nw04 is binary
    assert orange.sum() > 5000 and pixels.shape[1] > 400
