"""The formats and the checker on the public models: "auto" reads every file as free format
does except the one that needs fixed columns, "fixed" reads every Netlib and MIPLIB 3 file
(all written in fixed columns) as free format does, and check finds errors only where strict
reading fails."""

from __future__ import annotations

import pytest

import mopsel
from real_corpus import corpus_params, differences, raw_text, snap

# netlib/forplan has names with blanks: fixed columns read it otherwise (and as HiGHS does,
# test_real_highs.py). The other sample models use names longer than fixed columns hold.
NEEDS_FIXED = {"forplan.mps.gz"}
FREE_ONLY = {"atm_5_10_1.mps", "retail3.mps", "wedding_16.mps"}

# The files where check finds errors, by code (every other file has none); forplan has
# them only when read in free format.
CHECK_ERRORS = {
    "conic.mps": {"skipped-section"},
    "spec_sections.mps": {"skipped-section"},
}
FREE_CHECK_ERRORS = {"forplan.mps.gz": {"bad-number", "duplicate-entry", "unknown-row"}}


@pytest.mark.parametrize("path", corpus_params())
def test_formats_read_as_free_format_where_the_names_allow(path):
    text = raw_text(path)
    free = snap(mopsel.parse_file(str(path)))
    auto = snap(mopsel.read(text, format="auto"))
    fixed = snap(mopsel.read(text, format="fixed"))
    if path.name in NEEDS_FIXED:
        assert differences(auto, fixed) == [] and differences(auto, free) != []
    else:
        assert differences(auto, free) == []
    if path.name not in NEEDS_FIXED | FREE_ONLY:
        assert differences(fixed, free) == []


@pytest.mark.parametrize("path", corpus_params())
def test_check_finds_errors_only_where_strict_reading_fails(path):
    diagnostics = mopsel.check(path)
    errors = {d.code for d in diagnostics if d.severity == "error"}
    assert errors == CHECK_ERRORS.get(path.name, set())
    assert all(d.path == str(path) for d in diagnostics)
    if errors:
        with pytest.raises(mopsel.MpsError) as ei:
            mopsel.read(path, strict=True)
        assert ei.value.code in errors
    else:
        strict = snap(mopsel.read(path, strict=True))
        assert differences(strict, snap(mopsel.read(path))) == []
        if path.name not in NEEDS_FIXED:
            assert differences(strict, snap(mopsel.parse_file(str(path)))) == []
    if path.name in NEEDS_FIXED:
        assert {d.severity for d in mopsel.check(path, format="fixed")} <= {"warning", "info"}
        free_errors = {d.code for d in mopsel.check(path, format="free") if d.severity == "error"}
        assert free_errors == FREE_CHECK_ERRORS[path.name]
