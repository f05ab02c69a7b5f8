"""mopsel.from_arrays: every input form of the matrix gives the same ordinary Model, and every
rejection names the argument and the first offending position."""

import numpy as np
import pytest

import mopsel
from mopsel_testlib import PARTS_MPS, parts_snapshot, snapshot

DENSE = np.array([[1.0, 0.0, 0.0], [2.0, 3.0, 0.0]])
BASE = dict(col_cost=[1.0, 2.0, 0.0], row_lower=[1.0, -np.inf], row_upper=[np.inf, 4.0],
            a_matrix=([0, 2, 3, 3], [0, 1, 1], [1.0, 2.0, 3.0]))


def scipy_form(build):
    def make():
        sparse = pytest.importorskip("scipy.sparse")
        return build(sparse)
    return make


MATRIX_FORMS = {
    "triple": lambda: ([0, 2, 3, 3], [0, 1, 1], [1.0, 2.0, 3.0]),
    "triple with an explicit zero": lambda: (np.array([0, 2, 4, 4], np.int64), [0, 1, 1, 0], [1.0, 2.0, 3.0, 0.0]),
    "dense": lambda: DENSE,
    "dense, as lists": lambda: DENSE.tolist(),
    "SparseMatrix": lambda: mopsel.parse_str(mopsel.write_str(mopsel.from_arrays(**BASE))).a_matrix,
    "csr_array": scipy_form(lambda sp: sp.csr_array(DENSE)),
    "coo_matrix with duplicates summed and a zero": scipy_form(
        lambda sp: sp.coo_matrix(([0.5, 2.0, 0.5, 3.0, 0.0], ([0, 1, 0, 1, 0], [0, 0, 0, 1, 2])), shape=(2, 3))),
}


@pytest.mark.parametrize("form", MATRIX_FORMS.values(), ids=MATRIX_FORMS.keys())
def test_every_matrix_form_gives_the_same_model(form):
    m = mopsel.from_arrays(**dict(BASE, a_matrix=form()))
    expected = mopsel.parse_str(
        "NAME\nROWS\n N Objective\n G R1\n L R2\nCOLUMNS\n C1 Objective 1 R1 1\n C1 R2 2\n"
        " C2 Objective 2 R2 3\n C3 Objective 0\nRHS\n RHS R1 1 R2 4\nENDATA\n")
    assert snapshot(m) == snapshot(expected)
    for array in (m.col_cost, m.col_integrality, m.a_matrix.index, m.a_matrix.value):
        assert type(array.base).__name__ == "PySliceContainer"


def test_given_values_names_and_integrality_forms():
    m = mopsel.from_arrays(**BASE, col_lower=-1.0, col_upper=[5.0, np.inf, 1.0], col_integrality=[True, False, True],
                           col_names=["x", "y", "z"], row_names=["a", "b"], name="demo", objective_name="cost",
                           minimize=False, obj_offset=-2.5)
    assert (m.name, m.objective_name, m.obj_sense_minimize, m.obj_offset) == ("demo", "cost", False, -2.5)
    assert (m.col_names, m.row_names, m.col_integrality.tolist()) == (["x", "y", "z"], ["a", "b"], [1, 0, 1])
    assert m.col_lower.tolist() == [-1.0] * 3 and m.col_upper.tolist() == [5.0, np.inf, 1.0]


def bad_matrix(start=(0, 2, 3, 3), index=(0, 1, 1), value=(1.0, 2.0, 3.0)):
    return {"a_matrix": (list(start), list(index), list(value))}


# Each case: the arguments changed from BASE, the exception and its whole message.
REJECTED = {
    "cost not 1-D": ({"col_cost": [[1.0, 2.0, 0.0]]}, ValueError,
                     "col_cost: expected a one-dimensional array, got shape (1, 3)"),
    "row_upper length": ({"row_upper": [1.0, 2.0, 3.0]}, ValueError,
                         "row_upper: 3 entries, expected 2 (one per row, as row_lower)"),
    "NaN bound": ({"col_lower": [0.0, np.nan, 0.0]}, ValueError, "col_lower[1] is NaN"),
    "NaN offset": ({"obj_offset": float("nan")}, ValueError, "obj_offset is NaN"),
    "integrality code": ({"col_integrality": [0, 1, 7]}, ValueError, "col_integrality[2] is 7, expected a code 0-3 "
                         "(CONTINUOUS, INTEGER, SEMI_CONTINUOUS, SEMI_INTEGER)"),
    "start not from 0": (bad_matrix(start=(1, 2, 3, 3)), ValueError, "a_matrix start[0] is 1, expected 0"),
    "start falls": (bad_matrix(start=(0, 2, 1, 3)), ValueError, "a_matrix start[2] is 1, less than start[1] = 2"),
    "start short of the entries": (bad_matrix(start=(0, 1, 2, 2)), ValueError,
                                   "a_matrix start[3] is 2, expected the number of entries 3"),
    "row out of range": (bad_matrix(index=(0, 2, 1)), ValueError, "a_matrix index[1] is 2, not a row (there are 2)"),
    "row repeated, ascending check": (bad_matrix(index=(1, 1, 0)), ValueError,
                                      "a_matrix index[1] is 1, a row that column 0 already has at index[0]"),
    "row repeated, unsorted column": (bad_matrix(start=(0, 0, 3, 3), index=(1, 0, 1)), ValueError,
                                      "a_matrix index[2] is 1, a row that column 1 already has at index[0]"),
    "NaN coefficient": (bad_matrix(value=(1.0, 2.0, np.nan)), ValueError, "a_matrix value[2] is NaN"),
    "dense shape": ({"a_matrix": np.ones((3, 3))}, ValueError,
                    "a_matrix: shape (3, 3), expected (2, 3) (rows from row_lower, columns from col_cost)"),
    "no matrix": ({"a_matrix": "A"}, TypeError, "a_matrix: expected a scipy.sparse matrix or array, a (start, index, "
                  "value) tuple, a SparseMatrix or a two-dimensional array of numbers, got str"),
    "name not str": ({"col_names": ["x", 2, "z"]}, TypeError, "col_names[1]: expected str, got int"),
    "empty name": ({"row_names": ["a", ""]}, ValueError, "row_names[1] is empty"),
    "no-break space in a name": ({"row_names": ["a\u00a0", "b"]}, ValueError, "row_names[0] 'a\\xa0' contains whitespace"),
    "lone surrogate": ({"col_names": ["x", "y", "\ud800"]}, ValueError,
                       "col_names[2] '\\ud800' is not encodable as UTF-8"),
    "repeated name": ({"col_names": ["x", "y", "x"]}, ValueError, "col_names[2] 'x' repeats col_names[0]"),
    "row named as the objective": ({"row_names": ["Objective", "b"]}, ValueError,
                                   "row_names[0] 'Objective' is the objective row's name"),
    "row named 'MARKER'": ({"row_names": ["a", "'MARKER'"]}, ValueError,
                           "row_names[1] \"'MARKER'\" is reserved for integer markers"),
    "objective named as a made-up row": ({"objective_name": "R2"}, ValueError,
                                         "objective_name 'R2' is also the name of a generated row"),
    "sense not a bool": ({"minimize": "max"}, TypeError, "minimize: expected a bool, got str"),
}


@pytest.mark.parametrize("change, error, message", REJECTED.values(), ids=REJECTED.keys())
def test_rejections_name_the_argument_and_position(change, error, message):
    with pytest.raises(error) as caught:
        mopsel.from_arrays(**dict(BASE, **change))
    assert str(caught.value) == message


@pytest.mark.parametrize("argument, value, error, message", [
    ("col_cost", np.zeros(3, np.float32), TypeError,
     "argument 'col_cost': expected a one-dimensional contiguous float64 array"),
    ("start", np.array([0, 3], np.uint32), ValueError,
     "argument 'start': 2 entries, expected 4 (one per column and one more)"),
    ("col_names", b"x\ny", ValueError, "argument 'col_names': expected 3 names separated by newlines"),
    ("row_names", b"\xff\nb", ValueError, "argument 'row_names': the names are not valid UTF-8"),
    ("obj_offset", "0", TypeError, "must be real number, not str"),
])
def test_the_native_constructor_checks_what_it_relies_on(argument, value, error, message):
    values = dict(name="n", objective_name="obj", minimize=True, obj_offset=0.0, col_cost=np.zeros(3),
                  col_lower=np.zeros(3), col_upper=np.zeros(3), col_integrality=np.zeros(3, np.uint8),
                  row_lower=np.zeros(2), row_upper=np.zeros(2), start=np.array([0, 1, 1, 1], np.uint32),
                  index=np.array([5], np.uint32), value=np.ones(1), col_names=None, row_names=None)
    model = mopsel._mopsel._model_from_arrays(**values)  # a row index past the rows is the writer's fault
    assert (model.num_col, model.num_row, model.col_names) == (3, 2, ["C1", "C2", "C3"])
    values[argument] = value
    with pytest.raises(error) as caught:
        mopsel._mopsel._model_from_arrays(**values)
    assert str(caught.value) == message


def test_the_parts_pass_through_in_their_own_layout():
    m = mopsel.parse_str(PARTS_MPS)
    s = m.sos
    as_given = dict(col_cost=m.col_cost, a_matrix=m.a_matrix, row_lower=m.row_lower, row_upper=m.row_upper,
                    col_lower=m.col_lower, col_upper=m.col_upper, col_integrality=m.col_integrality,
                    col_names=m.col_names, row_names=m.row_names, name=m.name, objective_name=m.objective_name)
    built = mopsel.from_arrays(**as_given, hessian=m.hessian, row_hessians=m.row_hessians, sos=s,
                               indicators=m.indicators)
    assert snapshot(built) == snapshot(m)
    plain = mopsel.from_arrays(**as_given, hessian=(list(m.hessian.start), list(m.hessian.index),
                                                     list(m.hessian.value)),
                               row_hessians={r: (h.start, h.index, h.value) for r, h in m.row_hessians.items()},
                               sos=dict(type=s.type, start=s.start, index=s.index, weight=s.weight),
                               indicators=(m.indicators.row, m.indicators.column, m.indicators.value))
    assert parts_snapshot(plain)[:2] == parts_snapshot(m)[:2]
    assert (plain.sos.priority.tolist(), plain.sos.names) == ([0, 0], ["SOS1", "SOS2"])
    assert parts_snapshot(mopsel.from_arrays(**BASE, hessian=([0, 1, 1, 1], [0], [0.0]))) == (None, (), None, None)


# H = [[2, 1, 0], [1, 4, -1], [0, -1, 6]] in every form from_arrays takes: each gives its lower
# triangle, column by column, rows ascending.
H = np.array([[2.0, 1.0, 0.0], [1.0, 4.0, -1.0], [0.0, -1.0, 6.0]])
H_LOWER = ([0, 2, 4, 5], [0, 1, 1, 2, 2], [2.0, 1.0, 4.0, -1.0, 6.0])
HESSIAN_FORMS = {
    "triple, a Model's layout": lambda: H_LOWER,
    "triple, rows descending": lambda: ([0, 2, 4, 5], [1, 0, 2, 1, 2], [1.0, 2.0, -1.0, 4.0, 6.0]),
    "triple, upper triangle": lambda: ([0, 1, 3, 5], [0, 0, 1, 1, 2], [2.0, 1.0, 4.0, -1.0, 6.0]),
    "triple, both halves, a zero": lambda: ([0, 3, 6, 8], [0, 1, 2, 0, 1, 2, 1, 2], [2, 1, 0, 1, 4, -1, -1, 6.0]),
    "dense": lambda: H,
    "dense, as lists": lambda: H.tolist(),
    "dense, lower triangle": lambda: np.tril(H),
    "dense, upper triangle": lambda: np.triu(H),
    "dict, lower triangle": lambda: {(0, 0): 2.0, (1, 0): 1, (1, 1): 4.0, (2, 1): -1.0, (2, 2): 6.0},
    "dict, both halves": lambda: {(0, 0): 2.0, (0, 1): 1.0, (1, 0): 1.0, (1, 1): 4.0, (1, 2): -1.0, (2, 1): -1.0,
                                  (2, 2): np.float32(6.0)},
    "csr_array": scipy_form(lambda sp: sp.csr_array(H)),
    "upper triangle, csc_matrix": scipy_form(lambda sp: sp.triu(H, format="csc")),
    "coo with duplicates summed": scipy_form(lambda sp: sp.coo_matrix(
        ([1.5, 1.0, 4.0, -1.0, 6.0, 0.5], ([0, 1, 1, 2, 2, 0], [0, 0, 1, 1, 2, 0])), shape=(3, 3))),
}


@pytest.mark.parametrize("form", HESSIAN_FORMS.values(), ids=HESSIAN_FORMS.keys())
def test_every_hessian_form_gives_the_lower_triangle(form):
    given = form()
    before = given.nnz if hasattr(given, "nnz") else None
    m = mopsel.from_arrays(**BASE, hessian=given, row_hessians={1: given, "R1": given})
    for h in (m.hessian, m.row_hessians[0], m.row_hessians[1]):
        assert (h.start.tolist(), h.index.tolist(), h.value.tolist()) == H_LOWER
    assert before is None or given.nnz == before  # the caller's matrix is left as it was


def test_simple_forms_of_sos_and_indicators():
    as_records = mopsel.from_arrays(**BASE, col_integrality=[0, 1, 0], sos=[(1, [0, 2]), (2, [2, 1, 0], [1, 2, 4.5])],
                                    indicators=[(0, 1, 1), (1, 1, 0)])
    as_arrays = mopsel.from_arrays(**BASE, col_integrality=[0, 1, 0], sos=dict(
        type=[1, 2], start=[0, 2, 5], index=[0, 2, 2, 1, 0], weight=[1.0, 2.0, 1.0, 2.0, 4.5]),
        indicators=(np.array([0, 1]), np.array([1, 1]), np.array([1, 0])))
    assert parts_snapshot(as_records) == parts_snapshot(as_arrays)
    assert as_records.sos.names == ["SOS1", "SOS2"] and as_records.sos.weight.tolist() == [1, 2, 1, 2, 4.5]
    named = mopsel.from_arrays(**BASE, row_names=["a", "b"], row_hessians={"b": H, 0: np.eye(3)})
    assert sorted(named.row_hessians) == [0, 1] and named.row_hessians[1].value.tolist() == H_LOWER[2]
    as_bools = mopsel.from_arrays(**BASE, col_integrality=[0, 1, 0], indicators=[(0, 1, True), (1, 1, False)])
    assert as_bools.indicators.value.tolist() == [1, 0]
    empty = mopsel.from_arrays(**BASE, sos=[], indicators=[])
    assert (empty.sos, empty.indicators) == (None, None)


PARTS_REJECTED = {
    "hessian not symmetric": ({"hessian": H + np.diag([0.0, 0.0, 0.0]) + np.eye(3, k=-2)}, ValueError,
                              "hessian is not symmetric: [2, 0] is 1.0 but [0, 2] is 0.0 (give one triangle, or both "
                              "halves equal)"),
    "hessian halves differ in value": ({"hessian": {(1, 0): 1.0, (0, 1): 2.0, (2, 0): 3.0, (0, 2): 3.0}}, ValueError,
                                       "hessian is not symmetric: [1, 0] is 1.0 but [0, 1] is 2.0 (give one triangle, "
                                       "or both halves equal)"),
    "hessian triple both halves differ": ({"hessian": ([0, 2, 3, 3], [0, 1, 0], [1.0, 2.0, 3.0])}, ValueError,
                                          "hessian is not symmetric: [1, 0] is 2.0 but [0, 1] is 3.0 (give one "
                                          "triangle, or both halves equal)"),
    "hessian shape": ({"hessian": np.eye(2)}, ValueError,
                      "hessian: shape (2, 2), expected (3, 3) (a row and a column per column of the model)"),
    "hessian dict key past the columns": ({"hessian": {(0, 3): 1.0}}, ValueError,
                                          "hessian: the key (0, 3) is not a pair of columns (there are 3)"),
    "hessian dict key not a pair": ({"hessian": {0: 1.0}}, TypeError,
                                    "hessian: the key 0 is not a pair (row, column) of column positions"),
    "hessian dense NaN": ({"hessian": np.diag([1.0, np.nan, 0.0])}, ValueError, "hessian[1, 1] is NaN"),
    "hessian triple repeats a row": ({"hessian": ([0, 2, 2, 2], [1, 1], [1.0, 1.0])}, ValueError,
                                     "hessian index[1] is 1, a row that column 0 already has at index[0]"),
    "hessian NaN": ({"hessian": ([0, 1, 1, 1], [0], [np.nan])}, ValueError, "hessian value[0] is NaN"),
    "hessian not a matrix": ({"hessian": [1, 2]}, TypeError,
                             "hessian: expected a (start, index, value) tuple, a SparseMatrix, a scipy.sparse matrix "
                             "or array, a two-dimensional array of numbers or a dict {(row, column): value}, got list"),
    "hessian tuple of two": ({"hessian": ([0], [1])}, TypeError, "hessian: a tuple must be (start, index, value), "
                             "got 2 items"),
    "row Hessian of no row": ({"row_hessians": {2: ([0, 0, 0, 0], [], [])}}, ValueError,
                              "row_hessians: 2 is not a row (there are 2)"),
    "row Hessian with a short start": ({"row_hessians": {1: ([0, 0], [], [])}}, ValueError,
                                       "row_hessians[1] start: 2 entries, expected 4 (one per column and one more)"),
    "row Hessian of no row name": ({"row_hessians": {"R9": H}}, ValueError, "row_hessians: no row is called 'R9'"),
    "row Hessian given twice": ({"row_hessians": {1: H, "R2": H}}, ValueError, "row_hessians: 'R2' is row 1 again"),
    "SOS set not a pair": ({"sos": [(1, [0, 1]), [2]]}, TypeError,
                           "sos[1]: expected (type, columns) or (type, columns, weights), got [2]"),
    "SOS set weights": ({"sos": [(1, [0, 1], [1.0])]}, ValueError,
                        "sos[0] weights: 1 entries, expected 2 (one per column)"),
    "SOS type": ({"sos": dict(type=[3], start=[0, 0], index=[], weight=[])}, ValueError,
                 "sos type[0] is 3, expected 1 or 2"),
    "SOS member not a column": ({"sos": dict(type=[1], start=[0, 1], index=[3], weight=[1.0])}, ValueError,
                                "sos index[0] is 3, not a column (there are 3)"),
    "SOS names": ({"sos": dict(type=[1], start=[0, 0], index=[], weight=[], names=["a b"])}, ValueError,
                  "sos names[0] 'a b' contains whitespace"),
    "indicator value": ({"indicators": ([0], [1], [2])}, ValueError, "indicators value[0] is 2, expected 0 to 1"),
    "indicator row": ({"indicators": ([2], [1], [1])}, ValueError, "indicators row[0] is 2, expected 0 to 1"),
    "indicator lengths": ({"indicators": ([0, 1], [1], [1])}, ValueError,
                          "indicators: 2 rows, 1 columns and 1 values"),
    "indicator records as lists": ({"indicators": [[0, 1, 1]]}, TypeError,
                                   "indicators[0]: expected a (row, column, value) tuple, got [0, 1, 1] (give three "
                                   "arrays as a tuple)"),
    "indicator record column": ({"indicators": [(0, 1, 1), (1, 3, 0)]}, ValueError,
                                "indicators column[1] is 3, expected 0 to 2"),
    "indicator value a fraction": ({"indicators": [(0, 1, 0.5)]}, TypeError,
                                   "indicators value: expected integers, got an array of dtype float64"),
    "SOS type a fraction": ({"sos": [(1.5, [0, 1])]}, TypeError,
                            "sos type: expected integers, got an array of dtype float64"),
    "row Hessian of a made-up name past the rows": ({"row_hessians": {"R3": H}}, ValueError,
                                                    "row_hessians: no row is called 'R3'"),
    "row Hessian of R0": ({"row_hessians": {"R0": H}}, ValueError, "row_hessians: no row is called 'R0'"),
    "row Hessian of a made-up name when the rows have names": ({"row_names": ["a", "b"], "row_hessians": {"R1": H}},
                                                              ValueError, "row_hessians: no row is called 'R1'"),
}


@pytest.mark.parametrize("change, error, message", PARTS_REJECTED.values(), ids=PARTS_REJECTED.keys())
def test_rejected_parts_name_the_argument_and_position(change, error, message):
    with pytest.raises(error) as caught:
        mopsel.from_arrays(**dict(BASE, **change))
    assert str(caught.value) == message
