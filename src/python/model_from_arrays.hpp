#pragma once
// The private module function `_model_from_arrays`: a Model from arrays that
// the package has already validated (mopsel.from_arrays, unpickling,
// mopsel.from_highs). Each array is copied once into a native buffer, and the
// record is wrapped like a parsed one, so the result is an ordinary Model.
#include "python/python_c.hpp"

namespace mopsel::python {

// _model_from_arrays(*, name, objective_name, minimize, obj_offset, col_cost,
//                    col_lower, col_upper, col_integrality, row_lower,
//                    row_upper, start, index, value, col_names, row_names,
//                    hessian=None, row_hessians=None, sos=None, indicators=None)
//
// The last four are the parts beyond a linear program, each None (the model has
// none) or in the record's own layout: hessian (start, index, value) of the
// objective's lower triangle; row_hessians a sequence of (row, start, index, value),
// rows ascending; sos (type, priority, start, index, weight, names) with uint8,
// int32, uint32, uint32 and float64 arrays and names as col_names (None: SOS1,
// SOS2, ...); indicators (row, column, value) with uint32, uint32 and uint8 arrays.
// Their codes (SOS types 1 or 2, indicator values 0 or 1) and lengths are checked;
// positions and indices are taken as they are. A part without entries is left out.
//
// All keyword-only; the first fifteen required.
// Checks only what native code needs to stay inside its buffers and keep the
// record's names valid UTF-8: every array is a one-dimensional, C-contiguous
// NumPy array of its exact dtype (float64, uint8 for col_integrality, uint32
// for start and index), the lengths agree (num_col from col_cost, num_row from
// row_lower, start one longer than the columns, index as long as value), the
// counts fit (rows below 2^31, columns and entries below 2^32), and each name
// list is None (names C1, C2, ... and R1, R2, ... are made up) or bytes holding
// exactly that many UTF-8 names separated by "\n". TypeError or ValueError
// otherwise. Values (starts, row indices, codes, NaN) are taken as they are,
// like the arrays of a Model edited in place. Needs the lock.
extern PyMethodDef kModelFromArraysMethod;

}  // namespace mopsel::python
