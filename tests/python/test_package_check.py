"""mopsel.check: diagnostics in file order with line, severity, code and message; errors exactly
when strict reading fails; limits, sources and the texts a check cannot read. The findings
themselves are covered one by one by the C++ suite (reader_careful_test.cpp)."""

from __future__ import annotations

import gzip

import pytest

import mopsel

HEAD = "NAME m\nROWS\n N obj\n L r1\n G r2\n"

# Text -> [(lineno, severity, code)] in file order.
CASES = {
    "clean": (HEAD + "COLUMNS\n x obj 1 r1 2\nRHS\n RHS r1 4\nENDATA\n", []),
    "no-endata": (HEAD + "COLUMNS\n x obj 1\n", [(7, "error", "no-endata")]),
    "strict-errors": (HEAD + "COLUMNS\n x obj 9/10 r9 1\nGENCONS\n g x\nENDATA\n",
                      [(7, "error", "bad-number"), (7, "error", "unknown-row"), (8, "error", "skipped-section")]),
    "warnings": (HEAD + " N spare\nCOLUMNS\n x r1 1 r2\nBOUNDS\n LO A x 5\n UP B x 3\nENDATA\n",
                 [(6, "warning", "extra-objective"), (8, "warning", "incomplete-record"),
                  (11, "warning", "several-sets"), (11, "warning", "bound-conflict")]),
    "info": (HEAD + "RHS\n RHS obj 2.5\nENDATA\n", [(7, "info", "objective-offset")]),
    "after-a-failure": (HEAD + " Z r3\nCOLUMNS\n x r3 1\nBOUNDS\n XX B x 1\n UP B x 1,5\nENDATA\n",
                        [(6, "error", "unknown-row-type"), (8, "error", "unknown-row"),
                         (10, "error", "unknown-bound-type"), (11, "error", "bad-number")]),
}


@pytest.mark.parametrize("text, want", CASES.values(), ids=list(CASES))
def test_diagnostics_in_file_order(text, want):
    got = mopsel.check(text.encode())
    assert [(d.lineno, d.severity, d.code) for d in got] == want
    assert all(isinstance(d, mopsel.Diagnostic) and d.path is None and d.message for d in got)
    # No error exactly when strict reading succeeds; otherwise it fails at the first error.
    errors = [d for d in got if d.severity == "error"]
    if not errors:
        mopsel.read(text.encode(), strict=True)
    else:
        with pytest.raises(mopsel.MpsError) as ei:
            mopsel.read(text.encode(), strict=True)
        assert (ei.value.lineno, ei.value.code, ei.value.reason) == (errors[0].lineno, errors[0].code,
                                                                    errors[0].message)


def test_a_diagnostic_reads_like_a_compiler_message(tmp_path):
    path = tmp_path / "m.mps.gz"
    path.write_bytes(gzip.compress((HEAD + "COLUMNS\n x r1 1,5\nENDATA\n").encode()))
    (d,) = mopsel.check(path)
    assert d == mopsel.Diagnostic(7, "error", "bad-number",
                                  "'1,5' is not a number (a decimal comma or digit separator): read as 0", str(path))
    assert str(d) == f"{path}:7: error: {d.message} [bad-number]"
    assert str(mopsel.Diagnostic(None, "info", "x", "whole file")) == "<text>: info: whole file [x]"


def test_limit_lists_the_first_and_counts_the_rest():
    text = HEAD + "COLUMNS\n" + " x r9 1\n" * 250 + "ENDATA\n"
    got = mopsel.check(text.encode(), limit=10)
    assert [d.lineno for d in got[:10]] == list(range(7, 17))
    assert got[10] == mopsel.Diagnostic(None, "error", "unknown-row", "240 more unknown-row findings are not listed (limit 10)")
    assert len(mopsel.check(text.encode())) == 101


def test_formats_and_sources():
    fixed = "ROWS\n N  COST\n L  LIM 1\nENDATA\n".encode()
    free = mopsel.check(fixed, format="free")
    assert [(d.lineno, d.code) for d in free] == [(3, "extra-fields")]
    assert free[0].message.endswith('(names with blanks? a fixed-format file reads with format="fixed")')
    assert mopsel.check(fixed, format="fixed") == []
    assert [(d.lineno, d.severity, d.code) for d in mopsel.check(fixed, format="auto")] == [(3, "info", "fixed-format")]
    assert mopsel.check(fixed) == mopsel.check(fixed, format="auto")  # as read() reads by default
    cut = gzip.compress(fixed)[:-4]
    assert [(d.lineno, d.code) for d in mopsel.check(cut)] == [(None, "compressed-data")]
