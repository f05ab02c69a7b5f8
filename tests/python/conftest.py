"""Fixtures of the Python tests; the shared helpers are in tests/support/mopsel_testlib.py."""

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, WRITER_MPS


@pytest.fixture
def small_model():
    return mm.parse_str(SMALL_MPS)


@pytest.fixture
def writer_model():
    return mm.parse_str(WRITER_MPS)
