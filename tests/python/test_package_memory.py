"""mopsel.release_memory: the buffer of the last large text, kept for the next call from the
second large text of a process on, is given back on request; a single large read keeps nothing."""

import gzip

import pytest

import mopsel
from mopsel_testlib import SMALL_MPS

KEPT_FROM = 64 << 20  # kKeptTextMin: smaller texts are never kept


@pytest.fixture(scope="module")
def large_text():
    # Comment lines around a small model: a text past the size that is kept, read quickly.
    padding = "* " + "x" * 76 + "\n"
    return (padding * (KEPT_FROM // len(padding) + 1000) + SMALL_MPS).encode()


@pytest.mark.parametrize("suffix", [".mps", ".mps.gz"])
def test_release_memory_gives_back_the_kept_buffer(large_text, suffix, tmp_path):
    path = tmp_path / ("large" + suffix)
    path.write_bytes(gzip.compress(large_text, compresslevel=1) if suffix.endswith(".gz") else large_text)
    small = tmp_path / "small.mps"
    small.write_text(SMALL_MPS)
    expected = mopsel.parse_str(SMALL_MPS)
    mopsel.release_memory()  # as in a fresh process
    # (reads, what release_memory gives back after them)
    steps = [
        ([path], 0),                 # a single large read keeps nothing
        ([path, small, path], len(large_text)),  # the second large text is kept, small ones between
        ([], 0),                     # released: nothing is left
        ([path], 0),                 # after a release the next large text is a first again
    ]
    for reads, released in steps:
        for source in reads:
            model = mopsel.parse_file(str(source))
            assert (model.num_row, model.num_col, model.col_names) == (
                expected.num_row, expected.num_col, expected.col_names)
        got = mopsel.release_memory()
        if released:
            # The room the text had: a file's text is reserved at its size.
            assert got == released, reads
        else:
            assert got == 0, reads
