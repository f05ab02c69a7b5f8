"""Pickling and copying of Model, registered with copyreg (the native class stays as it is).

A Model is reduced to its values: the nine arrays (NumPy pickles them out of band with
protocol 5 when the pickler takes a buffer_callback), the scalars, each name list as one
UTF-8 text separated by newlines (names never hold whitespace), and the parts beyond a linear
program (Hessians, SOS, indicators) as their arrays. Unpickling and copy.copy /
copy.deepcopy rebuild it through the native constructor, which copies each array once, so a
copy never shares memory with the original.
"""

from __future__ import annotations

import copyreg
from typing import Any, Callable, Optional, Tuple

import numpy as np

from mopsel import _mopsel
from mopsel._mopsel import Model


def _flat(array: np.ndarray) -> np.ndarray:
    """The elements in memory order, as the writer reads them (arrays reshaped in place)."""
    return array.ravel(order="K")


def _matrix(m: Any) -> Tuple[np.ndarray, ...]:
    return _flat(m.start), _flat(m.index), _flat(m.value)


def _parts(model: Model) -> Tuple[Any, ...]:
    """The parts beyond a linear program in the native constructor's layout (None each when
    the model has none)."""
    sos, indicators = model.sos, model.indicators
    return (None if model.hessian is None else _matrix(model.hessian),
            [(row, *_matrix(h)) for row, h in model.row_hessians.items()] or None,
            None if sos is None else (_flat(sos.type), _flat(sos.priority), _flat(sos.start), _flat(sos.index),
                                      _flat(sos.weight), "\n".join(sos.names).encode()),
            None if indicators is None else (_flat(indicators.row), _flat(indicators.column),
                                             _flat(indicators.value)))


def _reduce(model: Model) -> Tuple[Callable[..., Model], Tuple[Any, ...]]:
    a = model.a_matrix
    names = ("\n".join(model.col_names).encode(), "\n".join(model.row_names).encode())
    return _restore, (model.name, model.objective_name, model.obj_sense_minimize, model.obj_offset,
                      _flat(model.col_cost), _flat(model.col_lower), _flat(model.col_upper),
                      _flat(model.col_integrality), _flat(model.row_lower), _flat(model.row_upper),
                      _flat(a.start), _flat(a.index), _flat(a.value)) + names + _parts(model)


# The pickles hold _restore's arguments by position, in this order: it stays as it is, so that
# pickles made by earlier versions (the first fifteen, a linear model) still load.
def _restore(
    name: str, objective_name: str, minimize: bool, obj_offset: float, col_cost: np.ndarray,
    col_lower: np.ndarray, col_upper: np.ndarray, col_integrality: np.ndarray, row_lower: np.ndarray,
    row_upper: np.ndarray, start: np.ndarray, index: np.ndarray, value: np.ndarray, col_names: Optional[bytes],
    row_names: Optional[bytes], hessian: Any = None, row_hessians: Any = None, sos: Any = None,
    indicators: Any = None,
) -> Model:
    return _mopsel._model_from_arrays(
        name=name, objective_name=objective_name, minimize=minimize, obj_offset=obj_offset, col_cost=col_cost,
        col_lower=col_lower, col_upper=col_upper, col_integrality=col_integrality, row_lower=row_lower,
        row_upper=row_upper, start=start, index=index, value=value, col_names=col_names, row_names=row_names,
        hessian=hessian, row_hessians=row_hessians, sos=sos, indicators=indicators)


def register() -> None:
    copyreg.pickle(Model, _reduce)
