#pragma once
// Lookups of a Model's row and column names by name, behind mopsel.names: the
// private class `_NameIndex` and the private module function `_name_index`.
//
// The hash table of an axis is built once from the model's own name list, the
// first time a lookup needs it, and kept with the model (a model's names never
// change), so every later lookup of that axis, from any `_NameIndex`, costs one
// probe. The table stores positions and points into the model's name bytes; a
// `_NameIndex` keeps its model alive, and the model owns the tables, so there is
// no reference cycle and nothing outlives what it points into.
#include "python/python_c.hpp"

namespace mopsel::python {

// _name_index(model, axis): a new `_NameIndex` over the row names (axis 0) or the
// column names (axis 1) of `model`. TypeError for anything but a Model, ValueError
// for another axis.
//
// `_NameIndex.find(names, missing=None)`:
// - `names` a str: its position, an int. A name given twice in the model gives
//   its last position, the one later MPS records refer to.
// - `names` a NumPy array of str (dtype U, any shape; looked up without the
//   interpreter lock) or of objects, or any other sequence of str: an int64 array
//   of positions, of the array's shape (one dimension for other sequences).
// A name the model does not have raises KeyError "no {row|column} named 'x'"
// (with its position in `names` for a sequence) when `missing` is None; an int
// `missing` is given for it instead (e.g. -1). TypeError names the first item
// that is not a str. `len(index)` is the number of names (repeats counted) and
// `name in index` tells whether a str is one of them.
extern PyMethodDef kNameIndexMethod;

}  // namespace mopsel::python
