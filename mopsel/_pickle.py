"""Pickling and copying of Model, registered with copyreg (the native class stays as it is).

A Model is reduced to its values: the nine arrays (NumPy pickles them out of band with
protocol 5 when the pickler takes a buffer_callback), the scalars, and each name list as one
UTF-8 text separated by newlines (names never hold whitespace). Unpickling and copy.copy /
copy.deepcopy rebuild it through the native constructor, which copies each array once, so a
copy never shares memory with the original.
"""

from __future__ import annotations

import copyreg

import numpy as np

from mopsel import _mopsel
from mopsel._mopsel import Model


def _flat(array: np.ndarray) -> np.ndarray:
    """The elements in memory order, as the writer reads them (arrays reshaped in place)."""
    return array.ravel(order="K")


def _reduce(model: Model) -> tuple:
    a = model.a_matrix
    names = ("\n".join(model.col_names).encode(), "\n".join(model.row_names).encode())
    return _restore, (model.name, model.objective_name, model.obj_sense_minimize, model.obj_offset,
                      _flat(model.col_cost), _flat(model.col_lower), _flat(model.col_upper),
                      _flat(model.col_integrality), _flat(model.row_lower), _flat(model.row_upper),
                      _flat(a.start), _flat(a.index), _flat(a.value)) + names


def _restore(*values) -> Model:
    return _mopsel._model_from_arrays(*values)


def register() -> None:
    copyreg.pickle(Model, _reduce)
