"""Pickling and copying a Model: equal bit for bit, sharing no memory with the original,
out-of-band buffers with protocol 5, and models returned from worker processes."""

import copy
import pickle
from concurrent.futures import ProcessPoolExecutor

import numpy as np
import pytest

import mopsel
from mopsel_testlib import (ARRAY_PATHS, PARTS_MPS, SMALL_MPS, WRITER_MPS, generated_mps, get_array, set_strides,
                            snapshot)

MODELS = {"small": SMALL_MPS, "writer": WRITER_MPS, "empty": "ROWS\nCOLUMNS\nENDATA\n",
          "generated": generated_mps(500, 60), "quadratic, SOS and indicators": PARTS_MPS}


def edited(text):
    """A parsed model with NaN, -0.0 and a column-major 2-D view of an array, as editing in
    place can leave it."""
    m = mopsel.parse_str(text)
    if m.num_col:
        m.col_cost[0], m.col_lower[-1] = np.nan, -0.0
    if m.num_row == 4:
        m.row_upper.shape = (2, 2)
        set_strides(m.row_upper, (8, 16))  # Fortran order over the same memory
    return m


COPIES = {
    **{f"pickle protocol {p}": (lambda m, p=p: pickle.loads(pickle.dumps(m, protocol=p))) for p in range(6)},
    "copy.copy": copy.copy,
    "copy.deepcopy": copy.deepcopy,
}


@pytest.mark.parametrize("how", COPIES.values(), ids=COPIES.keys())
@pytest.mark.parametrize("text", MODELS.values(), ids=MODELS.keys())
def test_copies_are_equal_and_independent(text, how):
    original = edited(text)
    before = snapshot(original)
    twin = how(original)
    assert type(twin) is mopsel.Model and twin is not original
    assert mopsel.write_str(twin) == mopsel.write_str(original)
    assert snapshot(original) == before
    for path in ARRAY_PATHS:
        assert not np.shares_memory(get_array(twin, path), get_array(original, path)), path
    if original.num_col:
        twin.col_cost[0] = 42.0
        assert np.isnan(original.col_cost[0])


def test_protocol_5_sends_the_arrays_out_of_band():
    m = mopsel.parse_str(generated_mps(500, 60))
    buffers = []
    data = pickle.dumps(m, protocol=5, buffer_callback=buffers.append)
    assert len(buffers) == len(ARRAY_PATHS)
    assert len(data) < sum(memoryview(b).nbytes for b in buffers) / 4  # the arrays are not in the stream
    assert snapshot(pickle.loads(data, buffers=buffers)) == snapshot(m)


def test_models_come_back_from_worker_processes():
    texts = [SMALL_MPS, WRITER_MPS, generated_mps(300, 40)]
    with ProcessPoolExecutor(max_workers=2) as pool:
        models = list(pool.map(mopsel.parse_str, texts))
        written = list(pool.map(mopsel.write_str, models))  # and go there as arguments
    assert [snapshot(m) for m in models] == [snapshot(mopsel.parse_str(t)) for t in texts]
    assert written == [mopsel.write_str(m) for m in models]
