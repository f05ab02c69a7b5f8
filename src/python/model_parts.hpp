#pragma once
// The Python classes of a Model's parts beyond a linear program: SosSets (the special
// ordered sets) and Indicators, read-only views over NumPy arrays like SparseMatrix,
// and the making of them from record parts.
#include <cstdint>
#include <new>

#include "model/model_record.hpp"
#include "model/name_list.hpp"
#include "python/python_c.hpp"

namespace mopsel::python {

// SosSets: arrays type (uint8, 1 or 2 per set), priority (int32 per set), start
// (uint32, sets + 1), index (uint32 columns), weight (float64), and the set names
// (a new list per read, like Model.col_names); len() is the number of sets.
struct SosObject {
  PyObject_HEAD
  PyObject* type;
  PyObject* priority;
  PyObject* start;
  PyObject* index;
  PyObject* weight;
  alignas(NameList) unsigned char names_storage[sizeof(NameList)];
};

inline NameList& names_of(SosObject* sos) noexcept {
  return *std::launder(reinterpret_cast<NameList*>(sos->names_storage));
}

// Indicators: arrays row (uint32), column (uint32), value (uint8, 0 or 1); len() is
// their number.
struct IndicatorsObject {
  PyObject_HEAD
  PyObject* row;
  PyObject* column;
  PyObject* value;
};

// Borrowed references to the type objects, created on first use; null with an error
// set on failure. Need the lock.
PyTypeObject* sos_sets_type() noexcept;
PyTypeObject* indicators_type() noexcept;

// New references made from record parts, which they take over (the arrays take over
// the buffers); null with a Python error set. Raise InternalFault when an array cannot
// be made. Need the lock.
PyObject* wrap_sos(SosRecord&& sos);
PyObject* wrap_indicators(IndicatorRecord&& indicators);

}  // namespace mopsel::python
