#pragma once
// The Python classes Model and SparseMatrix, and `wrap_model`, which turns a
// ModelRecord into a Model whose arrays take over the record's buffers.
#include <cstdint>
#include <new>
#include <string>

#include "model/model_record.hpp"
#include "model/name_list.hpp"
#include "python/python_c.hpp"

namespace mopsel::python {

// The tables of a Model's name lookups, made by the first lookup (python/name_index.cpp).
struct ModelNameTables;

// Frees a model's tables (null is fine); called by the Model's dealloc, defined beside
// the lookups that make them (name_index.cpp).
void drop_name_tables(ModelNameTables* tables) noexcept;

// The values a Model holds natively (exposed through getters, never changed).
struct ModelNative {
  std::string name;
  std::string objective_name;
  NameList row_names;
  NameList col_names;
  uint32_t num_row = 0;
  uint32_t num_col = 0;
  bool obj_sense_minimize = true;
  double obj_offset = 0.0;
};

// A Model instance: object slots (read-only members, each a strong reference
// set once by wrap_model) followed by the native values, constructed in place.
struct ModelObject {
  PyObject_HEAD
  PyObject* col_cost;
  PyObject* col_lower;
  PyObject* col_upper;
  PyObject* row_lower;
  PyObject* row_upper;
  PyObject* col_integrality;
  PyObject* a_matrix;  // a SparseMatrix
  // The parts beyond a linear program (None when the model has none).
  PyObject* hessian;        // a SparseMatrix or None
  PyObject* row_hessians;   // a tuple of (row, SparseMatrix) pairs, sorted by row; shown as a new dict per read
  PyObject* sos;            // a SosSets or None
  PyObject* indicators;     // an Indicators or None
  ModelNameTables* name_tables;  // made by the first name lookup (name_index.hpp); owned
  alignas(ModelNative) unsigned char native_storage[sizeof(ModelNative)];
};

struct SparseMatrixObject {
  PyObject_HEAD
  PyObject* start;
  PyObject* index;
  PyObject* value;
};

inline ModelNative& native_of(ModelObject* model) noexcept {
  return *std::launder(reinterpret_cast<ModelNative*>(model->native_storage));
}

// Borrowed references to the type objects, created on first use (module
// initialisation creates them); null with an error set on failure. Need the lock.
PyTypeObject* model_type() noexcept;
PyTypeObject* sparse_matrix_type() noexcept;

// Consumes `record` and returns a new reference to a Model, or null with a
// Python error set (MemoryError when an instance cannot be allocated). Raises
// InternalFault when an array cannot be made. Needs the lock.
PyObject* wrap_model(ModelRecord&& record);

// A new SparseMatrix over the matrix's buffers (taken over), or null with an error set.
PyObject* wrap_sparse_matrix(SparseMatrixRecord&& matrix);

}  // namespace mopsel::python
