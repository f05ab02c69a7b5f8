"""No reference or memory leaks: argument and type reference counts are unchanged after
many successful and failing calls, and the resident set stays bounded over thousands of
parse/write calls (the arrays' buffers are freed with their last array)."""

import gc
import os
import sys

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import ARRAY_PATHS, SMALL_MPS, WRITER_MPS, generated_mps, get_array, rss_bytes


def _fresh(s: str) -> str:
    # A new, non-interned string object with a refcount of its own.
    return "".join([s[: len(s) // 2], s[len(s) // 2 :]])


def _refcounts(objs):
    return [sys.getrefcount(o) for o in objs]


def test_argument_refcounts_after_successful_calls(tmp_path):
    content = _fresh(SMALL_MPS)
    in_path = _fresh(str(tmp_path / "in.mps"))
    out_path = _fresh(str(tmp_path / "out.mps"))
    with open(in_path, "w") as f:
        f.write(SMALL_MPS)
    model = mm.parse_str(content)
    objs = [content, in_path, out_path, model, model.col_cost, model.a_matrix, model.a_matrix.value]
    before = _refcounts(objs)
    for _ in range(200):
        mm.parse_str(content)
        mm.parse_str(content=content)
        mm.parse_file(in_path)
        mm.parse_file(path=in_path)
        mm.write_str(model)
        mm.write_str(model=model)
        mm.write_file(model, out_path)
        mm.write_file(path=out_path, model=model)
    assert _refcounts(objs) == before


def test_argument_refcounts_after_failing_calls(tmp_path):
    bad = _fresh("ROWS\n N obj\n")
    missing = _fresh(str(tmp_path / "missing.mps"))
    bad_dir = _fresh(str(tmp_path / "no" / "x.mps"))
    not_str = object()
    model = mm.parse_str(WRITER_MPS)
    objs = [bad, missing, bad_dir, not_str, model, model.col_integrality]
    before = _refcounts(objs)
    calls = [
        (ValueError, lambda: mm.parse_str(bad)),
        (ValueError, lambda: mm.parse_file(missing)),
        (OSError, lambda: mm.write_file(model, bad_dir)),
        (TypeError, lambda: mm.parse_str(not_str)),
        (TypeError, lambda: mm.write_file(model, not_str)),
        (TypeError, lambda: mm.write_file(not_str, missing)),
        (TypeError, lambda: mm.parse_str(bad, content=bad)),
        (TypeError, lambda: mm.write_str(model, extra=not_str)),
        (TypeError, lambda: mm.write_file(model, missing, model)),
    ]
    for _ in range(300):
        for exc_type, call in calls:
            try:
                call()
            except exc_type:
                pass
    model.col_integrality[0] = 9
    for _ in range(300):
        try:
            mm.write_str(model)
        except ValueError:
            pass
    model.col_integrality[0] = 0
    assert _refcounts(objs) == before


def test_type_refcounts_follow_instances():
    # Heap-type instances hold a reference to their type; deallocation must drop it.
    sample = mm.parse_str(SMALL_MPS)
    types = [mm.Model, mm.SparseMatrix, type(sample.col_cost.base)]
    del sample
    gc.collect()
    before = _refcounts(types)
    for _ in range(300):
        m = mm.parse_str(SMALL_MPS)
        kept = m.a_matrix.index
        del m
        del kept
    for _ in range(100):
        try:
            mm.parse_str("")
        except ValueError:
            pass
    gc.collect()
    assert _refcounts(types) == before


def test_array_refcounts_and_bases(small_model):
    arrays = [get_array(small_model, p) for p in ARRAY_PATHS]
    bases = [a.base for a in arrays]
    before = _refcounts(arrays) + _refcounts(bases)
    for _ in range(200):
        mm.write_str(small_model)
        repr(small_model.a_matrix)
        small_model.row_names
    assert _refcounts(arrays) + _refcounts(bases) == before
    # Each container is referenced by its array only (plus our list and the argument).
    counts = [sys.getrefcount(bases[i]) for i in range(len(bases))]
    assert counts == [3] * len(bases)


def _rss_growth(rounds: int, body) -> int:
    for _ in range(max(50, rounds // 10)):  # warm the allocator
        body()
    gc.collect()
    start = rss_bytes()
    for _ in range(rounds):
        body()
    gc.collect()
    return rss_bytes() - start


def test_rss_bounded_over_thousands_of_calls(tmp_path):
    text = generated_mps(500, 100)  # about 40 kB of text, 35 kB of arrays per model
    path = str(tmp_path / "m.mps")
    with open(path, "w") as f:
        f.write(text)
    out = os.devnull  # the file sink without the file system's cost

    def body():
        m = mm.parse_str(text)
        mm.write_str(m)
        m2 = mm.parse_file(path)
        mm.write_file(m2, out)
        m2.col_names
        m2.row_names

    growth = _rss_growth(1500, body)
    # A leak of the arrays alone would be about 1500 * 2 * 35 kB = 100 MB.
    assert growth < 16 * 2**20, growth


def test_rss_bounded_for_failing_calls(tmp_path):
    bad = "ROWS\n N obj\nCOLUMNS\n" + "    x obj 1\n" * 2_000  # 24 kB, no ENDATA
    bad_gz = tmp_path / "bad.gz"
    bad_gz.write_bytes(b"\x1f\x8b\x08\x00" + b"\0" * 6 + b"\xff" * 1000)
    model = mm.parse_str(generated_mps(500, 100))
    model.a_matrix.index[-1] = 10**6

    def body():
        for call in (
            lambda: mm.parse_str(bad),
            lambda: mm.parse_file(str(bad_gz)),
        ):
            try:
                call()
            except ValueError:
                pass
        try:
            mm.write_str(model)
        except BaseException as exc:  # noqa: B902 - the internal fault
            assert type(exc).__name__ == "PanicException"

    growth = _rss_growth(1500, body)
    # Leaking the text of each failed parse alone would be about 36 MB.
    assert growth < 16 * 2**20, growth


@pytest.mark.slow
def test_buffers_are_freed_with_their_last_array():
    text = generated_mps(300_000, 2000)
    m = mm.parse_str(text)
    del m
    gc.collect()
    base = rss_bytes()
    for _ in range(10):
        m = mm.parse_str(text)
        kept = m.a_matrix.value
        view = kept[::3]
        del m, kept
        assert np.all(np.isfinite(view))
        del view
        gc.collect()
    growth = rss_bytes() - base
    # One model's arrays are about 300_000 * 4 * 8 + 900_000 * 12 bytes, some 20 MB.
    assert growth < 40 * 2**20, growth
