"""Every public test model reads, keeps the record invariants, reads the same from gzip
and from text, and matches the published MIPLIB 3 catalogue."""

from __future__ import annotations

import numpy as np
import pytest

import mopsel
from real_corpus import CATALOGUE, MISSING_REASON, catalogue, check_invariants, corpus_params, differences, raw_text, snap

SECTIONS = {"NAME", "OBJSENSE", "ROWS", "COLUMNS", "RHS", "RANGES", "BOUNDS", "ENDATA"}


def name_and_row_count(text: str) -> tuple[str, int]:
    """NAME word and number of constraint rows, by a plain scan (every corpus file starts
    its section lines in the first column)."""
    name, rows, section = "", 0, None
    for line in text.splitlines():
        words = line.split()
        if not words or line[0] in "*$":
            continue
        if not line[0].isspace() and words[0].upper() in SECTIONS:
            section = words[0].upper()
            if section == "NAME":
                name = words[1] if len(words) > 1 else ""
            elif section in ("COLUMNS", "ENDATA"):
                break
        elif section == "ROWS" and len(words) >= 2 and words[0][0] in "EGL":
            rows += 1
    return name, rows


@pytest.mark.parametrize("path", corpus_params())
def test_every_file_reads_with_invariants_and_equals_its_inflated_text(path):
    model = mopsel.parse_file(str(path))
    check_invariants(model)
    text = raw_text(path).decode("utf-8")
    assert (model.name, model.num_row) == name_and_row_count(text)
    assert model.num_col > 0 and len(model.a_matrix.value) > 0
    # For .gz files the text comes from Python's gzip module, an independent inflater.
    assert differences(snap(model), snap(mopsel.parse_str(text))) == []


def test_catalogue_parses_into_plausible_entries():
    if not CATALOGUE.exists():
        pytest.skip(MISSING_REASON)
    assert len(catalogue()) >= 60 and catalogue()["p0033"] == (16, 33, 33, 33, 0)
    assert all(i + c == n and b <= i for _, n, i, b, c in catalogue().values())


@pytest.mark.parametrize("path", corpus_params(lambda p: p.parent.name == "miplib3"))
def test_miplib3_counts_match_the_catalogue(path):
    m = mopsel.parse_file(str(path))
    integer = m.col_integrality == mopsel.INTEGER
    binary = integer & (m.col_lower == 0.0) & (m.col_upper == 1.0)
    continuous = int(np.count_nonzero(m.col_integrality == mopsel.CONTINUOUS))
    assert (m.num_row, m.num_col, int(integer.sum()), int(binary.sum()), continuous) == \
        catalogue().get(path.name.removesuffix(".gz"))
