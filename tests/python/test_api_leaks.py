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


def test_refcounts_after_successful_and_failing_calls(tmp_path):
    content, bad = _fresh(SMALL_MPS), _fresh("ROWS\n N obj\n")
    in_path, out_path = _fresh(str(tmp_path / "in.mps")), _fresh(str(tmp_path / "out.mps"))
    missing, bad_dir = _fresh(str(tmp_path / "missing.mps")), _fresh(str(tmp_path / "no" / "x.mps"))
    with open(in_path, "w") as f:
        f.write(SMALL_MPS)
    model, not_str = mm.parse_str(content), object()
    arrays = [get_array(model, p) for p in ARRAY_PATHS]
    bases = [a.base for a in arrays]
    # Heap-type instances hold a reference to their type; deallocation must drop it.
    objs = [content, bad, in_path, out_path, missing, bad_dir, not_str, model, model.a_matrix, mm.Model,
            mm.SparseMatrix, type(bases[0])] + arrays + bases
    gc.collect()
    before = _refcounts(objs)
    good = [lambda: mm.parse_str(content), lambda: mm.parse_str(content=content), lambda: mm.parse_file(in_path),
            lambda: mm.parse_file(path=in_path), lambda: mm.write_str(model), lambda: mm.write_str(model=model),
            lambda: mm.write_file(model, out_path), lambda: mm.write_file(path=out_path, model=model),
            lambda: mm.parse_str(content).a_matrix.index, lambda: repr(model.a_matrix), lambda: model.row_names]
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
    gc.collect()
    assert _refcounts(objs) == before
    # Each container is referenced by its array only (plus our two lists and the argument).
    assert [sys.getrefcount(bases[i]) for i in range(len(bases))] == [4] * len(bases)


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
        view = mm.parse_str(text).a_matrix.value[::3]  # freed with the last array, not its model
        assert np.all(np.isfinite(view))
    return body  # a leak of the arrays alone would be about 1500 * 3 * 35 kB = 150 MB


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
