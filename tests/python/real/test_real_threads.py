"""Every real model reads the same, bit for bit, when its COLUMNS section is split into
pieces read by several threads (the tests' hook lowers the size that takes that path)."""

from __future__ import annotations

import pytest

import mopsel
from mopsel import _mopsel
from real_corpus import corpus_params, differences, snap

# (threads, smallest COLUMNS text in bytes, bytes per piece; 0: the usual size)
PLANS = ((2, 0, 0), (2, 0, 4096), (3, 0, 997))


@pytest.fixture
def reading_threads():
    yield _mopsel._use_reading_threads
    _mopsel._use_reading_threads(None)


@pytest.mark.parametrize("path", corpus_params())
def test_real_model_reads_alike_with_threads(path, reading_threads):
    reading_threads((1, 0, 0))
    one_thread = snap(mopsel.parse_file(str(path)))
    for plan in PLANS:
        reading_threads(plan)
        assert differences(one_thread, snap(mopsel.parse_file(str(path)))) == [], plan


def test_the_hook_checks_its_argument(reading_threads):
    with pytest.raises(TypeError):
        reading_threads((2, 0))
    with pytest.raises(TypeError):
        reading_threads("2")
