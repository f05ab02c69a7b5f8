"""Every real model reads the same, bit for bit, when its COLUMNS, RHS and BOUNDS sections
are split into pieces read by several threads, and when its plain text is loaded in parts by
several threads (the tests' hook lowers the sizes that take those paths)."""

from __future__ import annotations

import gzip

import pytest

import mopsel
from mopsel import _mopsel
from real_corpus import corpus_params, differences, snap

# (threads, smallest COLUMNS, RHS or BOUNDS text in bytes, bytes per piece; 0: the usual size)
PLANS = ((2, 0, 0), (2, 0, 4096), (3, 0, 997))


@pytest.fixture
def reading_threads():
    yield _mopsel._use_reading_threads
    _mopsel._use_reading_threads(None)


@pytest.mark.parametrize("path", corpus_params())
def test_real_model_reads_alike_with_threads(path, reading_threads, tmp_path):
    reading_threads((1, 0, 0))
    one_thread = snap(mopsel.parse_file(str(path)))
    for plan in PLANS:
        reading_threads(plan)
        assert differences(one_thread, snap(mopsel.parse_file(str(path)))) == [], plan
    plain = tmp_path / "model.mps"
    plain.write_bytes(gzip.decompress(path.read_bytes()) if path.suffix == ".gz" else path.read_bytes())
    # (threads, ..., smallest plain file loaded in parts by threads)
    for plan in ((2, 1 << 62, 0, 1), (3, 0, 997, 1)):
        reading_threads(plan)
        assert differences(one_thread, snap(mopsel.parse_file(str(plain)))) == [], plan


def test_the_hook_checks_its_argument(reading_threads):
    with pytest.raises(TypeError):
        reading_threads((2, 0))
    with pytest.raises(TypeError):
        reading_threads((2, 0, 0, 1, 5))
    with pytest.raises(TypeError):
        reading_threads("2")
