"""Pickling and copying a Model: equal bit for bit, sharing no memory with the original,
out-of-band buffers with protocol 5, and models returned from worker processes."""

import copy
import pickle
from concurrent.futures import ProcessPoolExecutor

import numpy as np
import pytest

import mopsel
from mopsel_testlib import (ARRAY_PATHS, PARTS_MPS, SMALL_MPS, WRITER_MPS, generated_mps, get_array, parts_snapshot,
                            set_strides, snapshot)

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
    assert parts_snapshot(twin) == parts_snapshot(original)
    for ours, theirs in zip(part_arrays(twin), part_arrays(original)):
        assert not np.shares_memory(ours, theirs)
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


def part_arrays(m) -> list:
    """The arrays of the parts beyond a linear program, in a fixed order."""
    matrices = ([m.hessian] if m.hessian is not None else []) + [m.row_hessians[r] for r in sorted(m.row_hessians)]
    arrays = [a for h in matrices for a in (h.start, h.index, h.value)]
    if m.sos is not None:
        arrays += [m.sos.type, m.sos.priority, m.sos.start, m.sos.index, m.sos.weight]
    if m.indicators is not None:
        arrays += [m.indicators.row, m.indicators.column, m.indicators.value]
    return arrays


def test_protocol_5_sends_the_arrays_of_the_parts_out_of_band():
    m = mopsel.parse_str(PARTS_MPS)
    buffers = []
    data = pickle.dumps(m, protocol=5, buffer_callback=buffers.append)
    assert len(buffers) == len(ARRAY_PATHS) + len(part_arrays(m)) == 9 + 17
    back = pickle.loads(data, buffers=buffers)
    assert snapshot(back) == snapshot(m)
    assert [a.tobytes() for a in part_arrays(back)] == [a.tobytes() for a in part_arrays(m)]


def test_models_come_back_from_worker_processes():
    texts = [SMALL_MPS, WRITER_MPS, generated_mps(300, 40), PARTS_MPS]
    with ProcessPoolExecutor(max_workers=2) as pool:
        models = list(pool.map(mopsel.parse_str, texts))
        written = list(pool.map(mopsel.write_str, models))  # and go there as arguments
    assert [snapshot(m) for m in models] == [snapshot(mopsel.parse_str(t)) for t in texts]
    assert written == [mopsel.write_str(m) for m in models]
