"""Every real model reads the same, bit for bit, when its COLUMNS, RHS and BOUNDS sections
are split into pieces read by several threads and its ROWS names enter the row map from
several threads, when its plain text is loaded in parts by
several threads (the tests' hook lowers the sizes that take those paths), and when its gzip
text is read while a second thread inflates it."""

from __future__ import annotations

import gzip

import pytest

import mopsel
from mopsel import _mopsel
from real_corpus import corpus_params, differences, raw_text, snap

# (threads, smallest COLUMNS, RHS or BOUNDS text in bytes, bytes per piece; 0: the usual size).
# A smallest text of 0 also builds the column map for the names the text after the first
# BOUNDS header uses, on one thread too.
PLANS = ((2, 0, 0), (2, 0, 4096), (3, 0, 997), (1, 0, 0))

# One thread and every size that takes another path out of reach: the plain reader.
PLAIN = (1, 1 << 62, 0)


# (smallest text, largest text, bytes published at a time) of the gzip stream hook
STREAM_PLANS = ((0, 1 << 62, 4093), (0, 1 << 62, 1 << 17))
# Thread plans of the streamed reads: the usual one, and COLUMNS cut into pieces as
# its lines arrive (read by the reading thread alone until the text is complete, or
# with a helper from the start), RHS and BOUNDS in pieces once it is.
STREAM_THREADS = (None, (2, 0, 4096), (4, 0, 997))


@pytest.fixture
def gzip_stream():
    yield _mopsel._use_gzip_stream
    _mopsel._use_gzip_stream(None)


@pytest.fixture
def reading_threads():
    yield _mopsel._use_reading_threads
    _mopsel._use_reading_threads(None)


@pytest.mark.parametrize("path", corpus_params())
def test_real_model_reads_alike_with_threads(path, reading_threads, tmp_path):
    reading_threads(PLAIN)
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


@pytest.mark.parametrize("path", corpus_params())
def test_real_model_reads_alike_while_inflated(path, reading_threads, gzip_stream, tmp_path):
    if not path.name.endswith(".gz"):
        packed = tmp_path / (path.name + ".gz")
        packed.write_bytes(gzip.compress(raw_text(path), compresslevel=1))
        path = packed
    reading_threads((1, 0, 0))  # no second thread: the text is inflated first
    whole = snap(mopsel.parse_file(str(path)))
    for threads in STREAM_THREADS:
        reading_threads(threads)
        for plan in STREAM_PLANS:
            streamed = gzip_stream(plan)
            assert differences(whole, snap(mopsel.parse_file(str(path)))) == [], (plan, threads)
            # The package's reader takes the same path in free format (and in the automatic
            # one, which forplan's blanks in names send to fixed columns after).
            assert differences(whole, snap(mopsel.read(path, format="free"))) == [], (plan, threads)
            assert gzip_stream(plan) == streamed + 2, "not both reads streamed"


def test_the_stream_hook_checks_its_argument(gzip_stream):
    for wrong in ((0, 1), "0", (0, 1, 0)):
        with pytest.raises(TypeError):
            gzip_stream(wrong)
