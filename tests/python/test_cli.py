"""The mopsel command, run as a user runs it (a subprocess, outside the source tree): exit
statuses, standard input and compressed input, the figures of info, check's diagnostics,
convert's output, diff's differences (its engine, mopsel.diff, is also checked against a plain
dict-based reference in test_package_diff.py), and the pictures of spy and info --plot, down to
where the ink lands."""

from __future__ import annotations

import bz2
import gzip
import importlib.metadata
import json
import lzma
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
import pytest

import mopsel
from mopsel.cli.pictures import sparsity_grid
from mopsel_testlib import KINDS_MPS, KINDS_STATS, PARTS_MPS, snapshot

BASE_MPS = """\
NAME          BASE
ROWS
 N  obj
 L  r1
 G  r2
 E  r3
COLUMNS
    x  obj  1  r1  1
    x  r2  2
    y  obj  2  r1  1
    y  r3  1
    z  r2  1  r3  -1
RHS
    RHS  r1  4  r2  1
BOUNDS
 UP BND  x  4
ENDATA
"""


def mopsel_run(*args, stdin: bytes = b"", cwd=None, env=None) -> subprocess.CompletedProcess:
    """`python -m mopsel ARGS`, by default in the temporary folder: outside the source tree, so
    that the installed package runs, as the console script would."""
    return subprocess.run([sys.executable, "-m", "mopsel", *map(str, args)], input=stdin, capture_output=True,
                          cwd=cwd or tempfile.gettempdir(), env=env, timeout=120)


@pytest.fixture
def kinds(tmp_path):
    path = tmp_path / "kinds.mps"
    path.write_text(KINDS_MPS)
    return path


def test_the_console_script_and_every_help(tmp_path):
    try:
        importlib.metadata.distribution("mopsel")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("mopsel is not installed (the console script comes with the installation)")
    script = shutil.which("mopsel", path=os.path.dirname(sys.executable))
    assert script, "pip install placed no mopsel script beside the interpreter"
    done = subprocess.run([script, "--version"], capture_output=True, text=True, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (0, f"mopsel {mopsel.__version__}\n")
    for command in ("info", "check", "convert", "diff", "spy"):
        done = mopsel_run(command, "--help", cwd=tmp_path)
        assert done.returncode == 0 and b"--format" in done.stdout, command


@pytest.mark.parametrize("args", [
    [], ["info"], ["frobnicate", "x"], ["info", "--format", "loose", "x"], ["convert", "--digits", "0", "a", "b"],
    ["convert", "--exact", "--digits", "3", "a", "b"], ["diff", "-", "-"], ["diff", "--rtol", "-1", "a", "b"],
    ["diff", "--atol", "inf", "a", "b"], ["diff", "--show", "-1", "a", "b"],
    ["info", "--plot", "p.png", "a", "b"], ["spy", "a"], ["spy", "a", "-o", "a.png", "--size", "10001"],
    ["check", "--limit", "-1", "a"],
    ["info", "--json", "--table", "a"],
], ids=lambda a: " ".join(a) or "nothing")
def test_bad_usage_exits_2(args, tmp_path):
    for name in ("a", "b"):  # files that read, so that only the usage can fail
        (tmp_path / name).write_text(BASE_MPS)
    done = mopsel_run(*args, cwd=tmp_path)
    assert done.returncode == 2 and done.stderr and not done.stdout


def test_info_counts_the_parts_and_convert_carries_them(tmp_path):
    parts, base = tmp_path / "parts.mps", tmp_path / "base.mps"
    parts.write_text(PARTS_MPS)
    base.write_text(BASE_MPS)
    done = mopsel_run("info", parts, base)
    lines = done.stdout.decode().splitlines()
    wanted = ["  quadratic    3 Hessian entries in the objective, 2 rows with a Hessian", "  sos          2 sets",
              "  indicators   2"]
    assert [line for line in lines if line in wanted] == wanted  # only in the block of parts.mps
    (record, plain) = json.loads(mopsel_run("info", "--json", parts, base).stdout)
    assert {k: record[k] for k in ("hessian_nonzeros", "quadratic_rows", "sos_sets", "indicators")} == {
        "hessian_nonzeros": 3, "quadratic_rows": 2, "sos_sets": 2, "indicators": 2}
    assert "sos_sets" not in plain
    for args in (["--exact"], ["--digits", "5"]):
        assert mopsel_run("convert", *args, parts, tmp_path / "out.mps.gz").returncode == 0
        assert mopsel.equal(mopsel.read(tmp_path / "out.mps.gz"), mopsel.read(parts))


def test_info_json_gives_every_figure(kinds):
    done = mopsel_run("info", "--json", kinds)
    assert done.returncode == 0, done.stderr
    (record,) = json.loads(done.stdout)
    assert record["file"] == str(kinds)
    assert {k: record[k] for k in KINDS_STATS} == KINDS_STATS
    assert record["read"]["bytes"] == len(KINDS_MPS) and record["read"]["compression"] is None


def test_info_block_and_table(kinds, tmp_path):
    done = mopsel_run("info", kinds)
    lines = done.stdout.decode().splitlines()
    for want in ("rows         5: 2 E, 1 L, 1 G, 1 ranged; 1 empty",
                 "columns      8: 5 continuous, 1 integer, 1 binary, 1 semi-continuous; 1 empty",
                 "|matrix|     [5e-01, 4e+00]", "|bounds|     [3e+00, 4e+01] continuous, [1e+00, 7e+00] non-continuous"):
        assert "  " + want in lines
    other = tmp_path / "base.mps"
    other.write_text(BASE_MPS)
    done = mopsel_run("info", "--table", kinds, other)
    heading, *rows = done.stdout.decode().splitlines()
    assert heading.split()[:4] == ["file", "rows", "columns", "nonzeros"]
    assert [r.split()[:4] for r in rows] == [[str(kinds), "5", "8", "9"], [str(other), "3", "3", "6"]]


COMPRESSORS = {"plain": lambda b: b, "gzip": gzip.compress, "bz2": bz2.compress, "xz": lzma.compress}


@pytest.mark.parametrize("kind", COMPRESSORS)
@pytest.mark.parametrize("via_stdin", [False, True], ids=["path", "stdin"])
def test_every_compression_from_a_path_or_standard_input(kind, via_stdin, tmp_path):
    data = COMPRESSORS[kind](KINDS_MPS.encode())
    path = tmp_path / "model"
    path.write_bytes(data)
    done = mopsel_run("info", "--json", "-" if via_stdin else path, stdin=data if via_stdin else b"")
    (record,) = json.loads(done.stdout)
    assert record["nonzeros"] == 9 and record["file"] == ("<stdin>" if via_stdin else str(path))
    assert record["read"]["compression"] == (None if kind == "plain" else kind)


FIXED_MPS = ("NAME          F\nROWS\n N  OBJ\n L  R1\n L  R2\nCOLUMNS\n"
             "    MY COL    R1        1.0            R2        2.0\nENDATA\n")


def test_format_decides_how_names_with_blanks_read(tmp_path):
    # Fixed columns: the column "MY COL" has entries in rows R1 and R2. Read freely, the line
    # names a column MY with an entry in an unknown row COL.
    path = tmp_path / "fixed.mps"
    path.write_text(FIXED_MPS)
    nonzeros = {fmt: json.loads(mopsel_run("info", "--json", "--format", fmt, path).stdout)[0]["nonzeros"]
                for fmt in ("free", "fixed", "auto")}
    assert nonzeros == {"free": 0, "fixed": 2, "auto": 2}


def test_info_on_files_that_cannot_be_read(kinds, tmp_path):
    bad = tmp_path / "bad.mps"
    bad.write_text("ROWS\n N obj\n X r1\nENDATA\n")
    done = mopsel_run("info", kinds, bad)
    assert done.returncode == 1 and b"KINDS" in done.stdout
    assert done.stderr.decode().startswith(f"{bad}:3: error: unknown row type 'X' in ROWS [unknown-row-type]\n")
    done = mopsel_run("info", tmp_path / "missing.mps", kinds)
    assert done.returncode == 2 and b"No such file" in done.stderr and b"KINDS" in done.stdout


HEAD = "NAME m\nROWS\n N obj\n L r1\n"
# Text, arguments -> exit status and the (line, severity, code) of each diagnostic.
CHECKS = {
    "clean": (HEAD + "COLUMNS\n x obj 1 r1 2\nENDATA\n", [], 0, []),
    "error": (HEAD + "COLUMNS\n x obj 1,5\nENDATA\n", [], 1, [(6, "error", "bad-number")]),
    "warning": (HEAD + "COLUMNS\n x r1 1 r1\nENDATA\n", [], 0, [(6, "warning", "incomplete-record")]),
    "warning, strict": (HEAD + "COLUMNS\n x r1 1 r1\nENDATA\n", ["--strict"], 1, [(6, "warning", "incomplete-record")]),
    "info, strict": (HEAD + "RHS\n RHS obj 2\nENDATA\n", ["--strict"], 0, [(6, "info", "objective-offset")]),
    "failure": (HEAD + " X r2\nENDATA\n", [], 1, [(5, "error", "unknown-row-type")]),
}


@pytest.mark.parametrize("text, args, status, want", CHECKS.values(), ids=list(CHECKS))
def test_check_exit_status_and_compiler_style_lines(text, args, status, want, tmp_path):
    path = tmp_path / "m.mps"
    path.write_text(text)
    done = mopsel_run("check", *args, path)
    assert done.returncode == status
    *found, summary = done.stdout.decode().splitlines()
    assert [line.split(": ")[:2] for line in found] == [[f"{path}:{n}", s] for n, s, _ in want]
    assert [line.rsplit(" ", 1)[1] for line in found] == [f"[{c}]" for _, _, c in want]
    errors = sum(s == "error" for _, s, _ in want)
    assert summary.startswith(f"{path}: {errors} error")
    (record,) = json.loads(mopsel_run("check", "--json", path).stdout)
    assert [(d["line"], d["severity"], d["code"]) for d in record["diagnostics"]] == want


def test_check_counts_what_the_limit_leaves_out_and_reads_standard_input(tmp_path):
    text = (HEAD + "COLUMNS\n" + " x r9 1\n" * 30 + "ENDATA\n").encode()
    done = mopsel_run("check", "--limit", "5", "-", stdin=gzip.compress(text))
    lines = done.stdout.decode().splitlines()
    assert done.returncode == 1 and len(lines) == 7 and lines[0].startswith("<stdin>:6: error: ")
    assert lines[5] == "<stdin>: error: 25 more unknown-row findings are not listed (limit 5) [unknown-row]"
    assert lines[6] == "<stdin>: 30 errors, 0 warnings, 0 infos"
    done = mopsel_run("check", tmp_path / "missing.mps")
    assert done.returncode == 2 and b"No such file" in done.stderr


def test_convert_writes_gzip_exactly_or_rounded(tmp_path):
    model = mopsel.from_arrays(col_cost=[0.1 + 0.2, 1.0], a_matrix=np.array([[1 / 3, 2.0]]),
                               row_lower=[-np.inf], row_upper=[1.0], col_integrality=[0, 1], col_upper=[1.0, 5.0])
    source = tmp_path / "in.mps.bz2"
    source.write_bytes(bz2.compress(mopsel.write_str(model).encode()))
    mopsel.write(model, tmp_path / "exact-in.mps", digits=None)
    assert mopsel_run("convert", "--exact", tmp_path / "exact-in.mps", tmp_path / "out.mps.gz").returncode == 0
    assert (tmp_path / "out.mps.gz").read_bytes()[:2] == b"\x1f\x8b"
    back = mopsel.read(tmp_path / "out.mps.gz")
    assert back.col_cost[0] == 0.1 + 0.2 and back.a_matrix.value[0] == 1 / 3
    done = mopsel_run("convert", "--digits", "3", source, "-")
    assert done.returncode == 0 and mopsel.read(done.stdout).col_cost.tolist() == [0.3, 1.0]
    assert b"3.33e-1" in done.stdout and not done.stdout.startswith(b"\x1f\x8b")


def test_convert_failures_leave_no_output(tmp_path):
    bad = tmp_path / "bad.mps"
    bad.write_text("ROWS\n N obj\n")
    done = mopsel_run("convert", bad, tmp_path / "out.mps")
    assert done.returncode == 1 and b"no ENDATA line [no-endata]" in done.stderr
    assert not (tmp_path / "out.mps").exists()
    bad.write_text(BASE_MPS)
    done = mopsel_run("convert", bad, tmp_path / "no" / "such" / "dir.mps")
    assert done.returncode == 2 and b"No such file or directory" in done.stderr
    # A name no format carries (a row called 'MARKER' reads as a marker line): nothing written.
    bad.write_text("ROWS\n N obj\n L 'MARKER'\nCOLUMNS\n x obj 1 'MARKER' 2\nENDATA\n")
    done = mopsel_run("convert", bad, tmp_path / "out.mps")
    assert done.returncode == 1 and done.stderr.decode() == (
        f"{bad}: the row name ''MARKER'' would read as a marker, which free MPS cannot carry, and the row name "
        "''MARKER'' would read as a marker, which fixed MPS cannot carry: nothing written\n")
    assert not (tmp_path / "out.mps").exists()


def test_convert_writes_names_with_blanks_in_fixed_columns(tmp_path):
    source = tmp_path / "fixed.mps"
    source.write_text(FIXED_MPS)
    assert mopsel_run("convert", source, tmp_path / "out.mps").returncode == 0
    assert b"    MY COL    R1        1              R2        2\n" in (tmp_path / "out.mps").read_bytes()
    assert snapshot(mopsel.read(tmp_path / "out.mps")) == snapshot(mopsel.read(source))


@pytest.mark.parametrize("ending, magic", [(".gz", b"\x1f\x8b"), (".bz2", b"BZh"), (".xz", b"\xfd7zXZ\x00")])
def test_convert_compresses_as_the_ending_says(tmp_path, ending, magic):
    source = tmp_path / "in.mps"
    source.write_text(BASE_MPS)
    out = tmp_path / ("out.mps" + ending)
    assert mopsel_run("convert", source, out).returncode == 0
    assert out.read_bytes().startswith(magic) and snapshot(mopsel.read(out)) == snapshot(mopsel.read(source))


def test_info_and_convert_say_the_warnings_on_standard_error(tmp_path):
    source = tmp_path / "w.mps"
    source.write_text(HEAD + " N spare\nCOLUMNS\n x obj 1 r1 1,5\nENDATA\n")
    for done in (mopsel_run("info", source), mopsel_run("convert", source, tmp_path / "out.mps")):
        assert done.returncode == 0
        assert done.stderr.decode().splitlines() == [
            f"{source}:5: warning: 1 N row besides the objective was dropped with its entries (free_rows=\"keep\" keeps "
            f"it), at line 5: 'spare'; run `mopsel check {source}` for every line [extra-objective]",
            f"{source}:7: warning: 1 malformed number was read as 0, at line 7: '1,5'; run `mopsel check {source}` for "
            "every line [bad-number]"]


def test_info_in_other_processes_says_the_warnings_too(tmp_path):
    sources = [tmp_path / "a.mps", tmp_path / "b.mps"]
    for source in sources:
        source.write_text(HEAD + "COLUMNS\n x obj 1 r1 1,5\nENDATA\n")
    done = mopsel_run("info", "--jobs", "2", "--table", *sources)
    assert done.returncode == 0
    assert [line.split(": warning: ")[0] for line in done.stderr.decode().splitlines()] == [
        f"{sources[0]}:6", f"{sources[1]}:6"]


def test_spy_names_the_picture_types_it_writes(tmp_path):
    pytest.importorskip("matplotlib")
    source = tmp_path / "in.mps"
    source.write_text(BASE_MPS)
    done = mopsel_run("spy", source, "-o", tmp_path / "out.xyz")
    assert done.returncode == 2 and len(done.stderr.splitlines()) == 1
    assert done.stderr.decode().startswith(f"mopsel spy: {tmp_path / 'out.xyz'}: the picture type follows the ending; "
                                           "supported: ")
    assert "png, ps," in done.stderr.decode() and not (tmp_path / "out.xyz").exists()


# Edits of BASE_MPS -> the kinds of difference diff reports, with their counts.
DIFFS = {
    "same": ([], [], {}),
    "value": ([("x  r2  2", "x  r2  2.5")], [], {"matrix values": 1}),
    "value within rtol": ([("x  r2  2", "x  r2  2.5")], ["--rtol", "0.25"], {}),
    "value within atol": ([("x  r2  2", "x  r2  2.5")], ["--atol", "0.5"], {}),
    "entry added": ([("y  r3  1", "y  r3  1  r2  7")], [], {"matrix entries added": 1}),
    "entry removed": ([("z  r2  1  r3  -1", "z  r3  -1")], [], {"matrix entries removed": 1}),
    "column renamed": ([("    z  ", "    w  ")], [], {"columns removed": 1, "columns added": 1}),
    "rows reordered": ([(" L  r1\n G  r2", " G  r2\n L  r1")], [], {"rows in another order": 2}),
    "row added": ([(" E  r3", " E  r3\n L  r4"), ("x  r2  2", "x  r2  2  r4  1")], [], {"rows added": 1}),
    "bound": ([("x  4", "x  5")], [], {"column bounds": 1}),
    "cost": ([("y  obj  2", "y  obj  3")], [], {"column costs": 1}),
    "rhs": ([("RHS  r1  4  r2  1", "RHS  r1  4  r2  3")], [], {"row bounds": 1}),
    "sense": ([("ROWS", "OBJSENSE\n    MAX\nROWS")], [], {"sense": 1}),
    "constant": ([("r2  1\n", "r2  1\n    RHS  obj  5\n")], [], {"objective constant": 1}),
    "integrality": ([("    y  obj", "    MARKER  'MARKER'  'INTORG'\n    y  obj"),
                     ("    z  r2", "    MARKER  'MARKER'  'INTEND'\n    z  r2")], [],
                    {"integrality": 1, "column bounds": 1}),
    "names": ([("BASE", "OTHER")], [], {"model name": 1}),
}


# Edits of PARTS_MPS (Hessians, SOS sets, indicators) -> the kinds of difference.
PART_DIFFS = {
    "same parts": ([], [], {}),
    "Hessian value": ([("z  z  4", "z  z  5")], [], {"Hessian values": 1}),
    "Hessian entry removed": ([("    x  z  -0.5\n", "")], [], {"Hessian entries removed": 1}),
    "row Hessian value": ([("QSECTION  c2\n    z  z  3", "QSECTION  c2\n    z  z  3.5")], [],
                          {"row Hessian values": 1}),
    "row Hessian within rtol": ([("QSECTION  c2\n    z  z  3", "QSECTION  c2\n    z  z  3.5")], ["--rtol", "0.2"],
                                {}),
    "SOS weight": ([("    x  2.5", "    x  2.7")], [], {"SOS weights": 1}),
    "SOS weight within atol": ([("    x  2.5", "    x  2.7")], ["--atol", "0.3"], {}),
    "SOS type and priority": ([(" S2 second  5", " S1 second  6")], [], {"SOS types": 1, "SOS priorities": 1}),
    "SOS members": ([("    z  1\n    x  2.5", "    x  1\n    z  2.5")], [], {"SOS members": 1}),
    "SOS set renamed": ([(" S1 first", " S1 one")], [], {"SOS sets removed": 1, "SOS sets added": 1}),
    "SOS set removed": ([(" S1 first\n    x  1\n    z  2\n", "")], [], {"SOS sets removed": 1}),
    "indicator value": ([(" IF c1  y  0", " IF c1  y  1")], [], {"indicators removed": 1, "indicators added": 1}),
    "indicators in another order": ([(" IF c3  y  1\n IF c1  y  0", " IF c1  y  0\n IF c3  y  1")], [], {}),
    "indicator removed": ([(" IF c1  y  0\n", "")], [], {"indicators removed": 1}),
}
ALL_DIFFS = {**{k: (BASE_MPS,) + v for k, v in DIFFS.items()}, **{k: (PARTS_MPS,) + v for k, v in PART_DIFFS.items()}}


@pytest.mark.parametrize("base, edits, args, want", ALL_DIFFS.values(), ids=list(ALL_DIFFS))
def test_diff_reports_each_kind_of_difference(base, edits, args, want, tmp_path):
    text = base
    for old, new in edits:
        assert old in text
        text = text.replace(old, new)
    (tmp_path / "a.mps").write_text(base)
    (tmp_path / "b.mps.gz").write_bytes(gzip.compress(text.encode()))
    done = mopsel_run("diff", "--json", *args, "a.mps", "b.mps.gz", cwd=tmp_path)
    assert done.returncode == (1 if want else 0), done.stderr
    found = json.loads(done.stdout)["differences"]
    assert {d["kind"]: d["count"] for d in found} == want


def test_diff_text_names_what_differs(tmp_path):
    (tmp_path / "a.mps").write_text(BASE_MPS)
    text = BASE_MPS.replace("x  r2  2", "x  r2  2.5").replace("    z  ", "    w  ")
    done = mopsel_run("diff", "a.mps", "-", stdin=text.encode(), cwd=tmp_path)
    assert done.returncode == 1
    assert done.stdout.decode().splitlines() == [
        "--- a.mps", "+++ <stdin>", "columns removed: 1", "    z", "columns added: 1", "    w",
        "matrix values: 1 of 4", "    (r2, x): 2.0 -> 2.5", "3 kinds of difference"]
    (tmp_path / "bad.mps").write_text("ROWS\n")
    done = mopsel_run("diff", "a.mps", "bad.mps", cwd=tmp_path)
    assert done.returncode == 2 and b"bad.mps:1: error: no ENDATA line" in done.stderr


# Pictures ----------------------------------------------------------------------------------


def test_sparsity_grid_keeps_every_entry_in_its_bin():
    rng = np.random.default_rng(3)
    dense = (rng.random((7, 11)) < 0.4).astype(float)
    model = mopsel.from_arrays(col_cost=np.zeros(11), a_matrix=dense, row_lower=np.zeros(7), row_upper=1.0,
                               col_integrality=np.arange(11) % 2)
    counts, integer = sparsity_grid(model, 3, 4)
    rows, cols = np.nonzero(dense)
    want = np.zeros((3, 4), dtype=int)
    np.add.at(want, (rows * 3 // 7, cols * 4 // 11), 1)
    assert counts.tolist() == want.tolist()
    want_int = np.zeros((3, 4), dtype=int)
    odd = cols % 2 == 1
    np.add.at(want_int, (rows[odd] * 3 // 7, cols[odd] * 4 // 11), 1)
    assert integer.tolist() == want_int.tolist()


def ink(path):
    """Masks of the pixels inside the matrix's frame (below its top edge, the first row of the
    image with a long dark line, so the legend above it is left out) that are drawn in blue
    (continuous columns) or orange (integer columns)."""
    image = pytest.importorskip("matplotlib.image").imread(path)[..., :3]
    dark = np.cumsum(image.max(axis=2) < 0.6, axis=1)
    frame_top = np.flatnonzero((dark[:, 40:] - dark[:, :-40] == 40).any(axis=1))[0]
    image = image.copy()
    image[: frame_top + 1] = 1.0
    r, g, b = image[..., 0], image[..., 1], image[..., 2]
    return (b - r > 0.25), (r - b > 0.25) & (g < 0.8)


def spy(tmp_path, dense, size, integrality=None):
    model = mopsel.from_arrays(col_cost=np.zeros(dense.shape[1]), a_matrix=dense, row_lower=np.zeros(dense.shape[0]),
                               row_upper=9.0, col_integrality=integrality)
    mopsel.write(model, tmp_path / "m.mps.gz")
    done = mopsel_run("spy", "m.mps.gz", "-o", "m.png", "--size", size, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    return tmp_path / "m.png"


def test_spy_draws_the_identity_on_the_diagonal(tmp_path):
    pytest.importorskip("matplotlib")
    blue, orange = ink(spy(tmp_path, np.eye(60), 60))
    ys, xs = np.nonzero(blue)
    assert not orange.any() and 55 <= ys.max() - ys.min() <= 61 and 55 <= xs.max() - xs.min() <= 61
    assert np.abs((xs - xs.min()) - (ys - ys.min())).max() <= 1  # every ink pixel on the diagonal


def test_spy_draws_a_dense_row_as_a_band_and_colours_integer_columns(tmp_path):
    pytest.importorskip("matplotlib")
    dense = np.zeros((10, 50))
    dense[3, :] = 1.0
    dense[0, 0] = dense[9, 49] = 1.0  # the corners mark the matrix's extent
    integrality = (np.arange(50) >= 25).astype(int)
    blue, orange = ink(spy(tmp_path, dense, 200, integrality))
    every = blue | orange
    ys, xs = np.nonzero(every)
    top, height = ys.min(), ys.max() - ys.min() + 1  # 50 pixels: the 10:50 shape drawn 1:4
    band = np.flatnonzero(every.sum(axis=1) > 150)
    assert 49 <= height <= 51 and band.min() >= top + 15 - 1 and band.max() <= top + 20
    # Continuous columns (the left half) in blue, integer columns in orange.
    middle = (xs.min() + xs.max()) / 2
    assert (np.nonzero(blue)[1] <= middle + 1).all() and (np.nonzero(orange)[1] >= middle - 1).all()
    assert blue.sum() > 400 and orange.sum() > 400


def test_spy_size_and_a_histogram_that_decodes(tmp_path, kinds):
    image = pytest.importorskip("matplotlib.image")
    widths = {size: image.imread(spy(tmp_path, np.eye(30), size)).shape[:2] for size in (300, 600)}
    assert np.subtract(widths[600], widths[300]).tolist() == [300, 300]
    done = mopsel_run("info", "--plot", tmp_path / "h.png", kinds)
    assert done.returncode == 0 and image.imread(tmp_path / "h.png").shape[2] in (3, 4)


# A matplotlib that stands in for the installed one: its __init__.py -> the exit status and the
# last line of standard error. Only one that is not there names the extra; one that is there but
# fails to import is a fault, whose traceback the command shows.
MATPLOTLIB_STAND_INS = {
    "not-installed": ("raise ModuleNotFoundError(\"No module named 'matplotlib'\", name='matplotlib')", 2,
                      "mopsel spy: drawing pictures (mopsel spy, info --plot) needs matplotlib, which is not installed: "
                      "pip install 'mopsel[plot]'"),
    "broken": ("raise ImportError('matplotlib is broken for this test')", 1,
               "ImportError: matplotlib is broken for this test"),
    "dependency-missing": ("import mopsel_no_such_module", 1, "ModuleNotFoundError: No module named 'mopsel_no_such_module'"),
}


@pytest.mark.parametrize("init, status, last_line", MATPLOTLIB_STAND_INS.values(), ids=MATPLOTLIB_STAND_INS.keys())
def test_pictures_name_the_extra_only_without_matplotlib(init, status, last_line, tmp_path, kinds):
    blocker = tmp_path / "blocker" / "matplotlib"
    blocker.mkdir(parents=True)
    (blocker / "__init__.py").write_text(init + "\n")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(blocker.parent), os.environ.get("PYTHONPATH", "")])}
    done = mopsel_run("spy", kinds, "-o", tmp_path / "m.png", env=env)
    assert (done.returncode, done.stderr.decode().splitlines()[-1]) == (status, last_line)
    assert not (tmp_path / "m.png").exists()
