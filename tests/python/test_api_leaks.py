"""No reference or memory leaks: argument, type and array reference counts are unchanged
after many successful and failing calls, and the resident set stays bounded over thousands
of parse/write calls (the arrays' buffers are freed with their last array)."""

import gc
import os
import sys

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import ARRAY_PATHS, SMALL_MPS, generated_mps, get_array, raises_panic, rss_bytes


def _fresh(s: str) -> str:
    # A new, non-interned string object with a reference count of its own.
    return "".join([s[: len(s) // 2], s[len(s) // 2:]])


def _refcounts(objs):
    return [sys.getrefcount(o) for o in objs]


def test_argument_refcounts_after_successful_and_failing_calls(tmp_path):
    content, bad = _fresh(SMALL_MPS), _fresh("ROWS\n N obj\n")
    in_path, out_path = _fresh(str(tmp_path / "in.mps")), _fresh(str(tmp_path / "out.mps"))
    missing, bad_dir = _fresh(str(tmp_path / "missing.mps")), _fresh(str(tmp_path / "no" / "x.mps"))
    with open(in_path, "w") as f:
        f.write(SMALL_MPS)
    model, not_str = mm.parse_str(content), object()
    objs = [content, bad, in_path, out_path, missing, bad_dir, not_str, model, model.col_cost,
            model.col_integrality, model.a_matrix, model.a_matrix.value]
    before = _refcounts(objs)
    good = [lambda: mm.parse_str(content), lambda: mm.parse_str(content=content), lambda: mm.parse_file(in_path),
            lambda: mm.parse_file(path=in_path), lambda: mm.write_str(model), lambda: mm.write_str(model=model),
            lambda: mm.write_file(model, out_path), lambda: mm.write_file(path=out_path, model=model)]
    failing = [
        (ValueError, lambda: mm.parse_str(bad)), (ValueError, lambda: mm.parse_file(missing)),
        (OSError, lambda: mm.write_file(model, bad_dir)), (TypeError, lambda: mm.parse_str(not_str)),
        (TypeError, lambda: mm.write_file(model, not_str)), (TypeError, lambda: mm.write_file(not_str, missing)),
        (TypeError, lambda: mm.parse_str(bad, content=bad)), (TypeError, lambda: mm.write_str(model, extra=not_str)),
        (TypeError, lambda: mm.write_file(model, missing, model)),
    ]
    for _ in range(200):
        for call in good:
            call()
        for exc_type, call in failing:
            with pytest.raises(exc_type):
                call()
    model.col_integrality[0] = 9
    for _ in range(200):
        with pytest.raises(ValueError):
            mm.write_str(model)
    model.col_integrality[0] = 0
    assert _refcounts(objs) == before


def test_type_and_array_refcounts(small_model):
    # Heap-type instances hold a reference to their type; deallocation must drop it.
    types = [mm.Model, mm.SparseMatrix, type(small_model.col_cost.base)]
    arrays = [get_array(small_model, p) for p in ARRAY_PATHS]
    bases = [a.base for a in arrays]
    gc.collect()
    before = _refcounts(types) + _refcounts(arrays) + _refcounts(bases)
    for _ in range(300):
        m = mm.parse_str(SMALL_MPS)
        kept = m.a_matrix.index
        del m, kept
        mm.write_str(small_model)
        repr(small_model.a_matrix)
        small_model.row_names
        with pytest.raises(ValueError):
            mm.parse_str("")
    gc.collect()
    assert _refcounts(types) + _refcounts(arrays) + _refcounts(bases) == before
    # Each container is referenced by its array only (plus our list and the argument).
    assert [sys.getrefcount(bases[i]) for i in range(len(bases))] == [3] * len(bases)


def _succeeding(tmp_path):
    text = generated_mps(500, 100)  # about 40 kB of text, 35 kB of arrays per model
    path = tmp_path / "m.mps"
    path.write_text(text)

    def body():
        m = mm.parse_str(text)
        mm.write_str(m)
        m2 = mm.parse_file(str(path))
        mm.write_file(m2, os.devnull)  # the file sink without the file system's cost
        m2.col_names, m2.row_names
    return body  # a leak of the arrays alone would be about 1500 * 2 * 35 kB = 100 MB


def _failing(tmp_path):
    bad = "ROWS\n N obj\nCOLUMNS\n" + "    x obj 1\n" * 2_000  # 24 kB, no ENDATA
    bad_gz = tmp_path / "bad.gz"
    bad_gz.write_bytes(b"\x1f\x8b\x08\x00" + b"\0" * 6 + b"\xff" * 1000)
    model = mm.parse_str(generated_mps(500, 100))
    model.a_matrix.index[-1] = 10**6

    def body():
        for call, arg in ((mm.parse_str, bad), (mm.parse_file, str(bad_gz))):
            with pytest.raises(ValueError):
                call(arg)
        with raises_panic():
            mm.write_str(model)
    return body  # leaking the text of each failed parse alone would be about 36 MB


@pytest.mark.parametrize("make_body", [_succeeding, _failing])
def test_rss_bounded_over_thousands_of_calls(make_body, tmp_path):
    body = make_body(tmp_path)
    for _ in range(150):  # warm the allocator
        body()
    gc.collect()
    start = rss_bytes()
    for _ in range(1500):
        body()
    gc.collect()
    growth = rss_bytes() - start
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
