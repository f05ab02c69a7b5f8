"""Every public test model reads, keeps the record invariants, reads the same from gzip
and from text, and matches the published MIPLIB 3 catalogue."""

from __future__ import annotations

import re

import numpy as np
import pytest

import mopsel
from real_corpus import (
    DATA_DIR,
    MISSING_REASON,
    Snapshot,
    corpus_params,
    invariant_problems,
    model_differences,
    raw_text,
)


SECTION_WORDS = {"NAME", "OBJSENSE", "ROWS", "COLUMNS", "RHS", "RANGES", "BOUNDS", "ENDATA"}


def rows_section_facts(text: str) -> tuple[str, int]:
    """Model name and number of constraint rows, by a plain scan of the NAME line and the
    ROWS section (every corpus file starts its section lines in the first column)."""
    name, rows, in_rows = "", 0, False
    for line in text.splitlines():
        words = line.split()
        if not words or line[0] in "*$":
            continue
        if not line[0].isspace() and words[0].upper() in SECTION_WORDS:
            keyword = words[0].upper()
            if keyword == "NAME":
                name = words[1] if len(words) > 1 else ""
            elif keyword in ("COLUMNS", "ENDATA"):
                break
            in_rows = keyword == "ROWS"
        elif in_rows and len(words) >= 2 and words[0][0] in "EGL":
            rows += 1
    return name, rows


@pytest.mark.parametrize("path", corpus_params())
def test_every_file_reads_with_record_invariants(path):
    model = mopsel.parse_file(str(path))
    assert invariant_problems(model) == []
    name, rows = rows_section_facts(raw_text(path).decode("utf-8"))
    assert (model.name, model.num_row) == (name, rows)
    assert model.num_col > 0 and len(model.a_matrix.value) > 0


@pytest.mark.parametrize("path", corpus_params())
def test_parse_file_equals_parse_str_of_the_decompressed_text(path):
    # For .gz files the text comes from Python's gzip module, an independent inflater.
    from_file = Snapshot(mopsel.parse_file(str(path)))
    from_text = Snapshot(mopsel.parse_str(raw_text(path).decode("utf-8")))
    assert model_differences(from_file, from_text) == []


# --- MIPLIB 3 catalogue --------------------------------------------------------------

CATALOGUE = DATA_DIR / "miplib3" / "miplib3.cat"


def read_catalogue() -> dict[str, tuple[int, int, int, int, int]]:
    """Part A of the catalogue: name -> (rows, columns, integer, binary, continuous).
    Rows exclude the objective; "ALL" in the 0/1 column means every integer column is
    binary (integer with bounds [0, 1])."""
    part_a = CATALOGUE.read_text().split("INDEX - PART B")[0]
    entries = {}
    for line in part_a.splitlines():
        m = re.match(r"\s*(\S+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(ALL|\d+)\s+(\d+)\s", line)
        if m:
            name, rows, cols, ints, binary, cont = m.groups()
            entries[name] = (int(rows), int(cols), int(ints),
                             int(ints) if binary == "ALL" else int(binary), int(cont))
    return entries


def test_catalogue_parses_into_plausible_entries():
    if not CATALOGUE.exists():
        pytest.skip(MISSING_REASON)
    entries = read_catalogue()
    assert len(entries) >= 60
    assert entries["p0033"] == (16, 33, 33, 33, 0)
    for rows, cols, ints, binary, cont in entries.values():
        assert ints + cont == cols and binary <= ints


@pytest.mark.parametrize("path", corpus_params(lambda p: p.parent.name == "miplib3"))
def test_miplib3_counts_match_the_catalogue(path):
    entry = read_catalogue().get(path.name.removesuffix(".gz"))
    assert entry is not None, f"{path.name} has no catalogue entry"
    model = mopsel.parse_file(str(path))
    integer = model.col_integrality == mopsel.INTEGER
    binary = integer & (model.col_lower == 0.0) & (model.col_upper == 1.0)
    counts = (model.num_row, model.num_col, int(integer.sum()), int(binary.sum()),
              int(np.count_nonzero(model.col_integrality == mopsel.CONTINUOUS)))
    assert counts == entry
