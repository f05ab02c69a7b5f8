#include "python/record_from_model.hpp"

#include <string>
#include <vector>

#include "model/fault.hpp"
#include "python/array_borrows.hpp"
#include "python/model_object.hpp"
#include "python/model_parts.hpp"
#include "python/numpy_c.hpp"
#include "python/numpy_types.hpp"

namespace mopsel::python {
namespace {

// One shared borrow of an array's memory range, given back on destruction.
class SharedBorrow {
 public:
  SharedBorrow(const void* begin, size_t length) : begin_(begin), length_(length) {
    const MopselArrayBorrows& registry = array_borrows();
    const int outcome = registry.acquire_shared(registry.state, begin, length);
    if (outcome == MOPSEL_BORROW_REFUSED) raise_fault("AlreadyBorrowed");
    if (outcome != MOPSEL_BORROW_GRANTED) raise_fault("the array borrow registry failed");
  }
  SharedBorrow(SharedBorrow&& other) noexcept
      : begin_(other.begin_), length_(other.length_), held_(std::exchange(other.held_, false)) {}
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  SharedBorrow& operator=(SharedBorrow&&) = delete;
  ~SharedBorrow() {
    if (!held_) return;
    const MopselArrayBorrows& registry = array_borrows();
    (void)registry.release(registry.state, begin_, length_, 0);
  }

 private:
  const void* begin_;
  size_t length_;
  bool held_ = true;
};

// The bytes an array's elements occupy, from the lowest to just past the highest
// element address (strides may be negative). Empty arrays span nothing.
struct Extent {
  const char* begin;
  size_t length;
};

Extent extent_of(PyArrayObject* array) noexcept {
  const char* data = static_cast<const char*>(PyArray_DATA(array));
  const npy_intp* dims = PyArray_DIMS(array);
  const npy_intp* strides = PyArray_STRIDES(array);
  npy_intp low = 0;
  npy_intp high = static_cast<npy_intp>(PyArray_ITEMSIZE(array));
  for (int d = 0; d < PyArray_NDIM(array); ++d) {
    if (dims[d] == 0) return {data, 0};
    const npy_intp reach = strides[d] * (dims[d] - 1);
    if (reach < 0) low += reach;
    else high += reach;
  }
  return {data + low, static_cast<size_t>(high - low)};
}

// The elements of one array, checked, while its borrow is held.
struct CheckedArray {
  const void* data;
  size_t count;
};

// Takes a shared borrow of `object` (kept in `borrows`), then checks layout and
// dtype. None with TypeError set when a check fails.
template <class T>
std::optional<CheckedArray> open_array(PyObject* object, std::vector<SharedBorrow>& borrows) {
  // The slots of a Model are set once by wrap_model and cannot be reassigned.
  if (object == nullptr || !PyArray_Check(object)) raise_fault("a Model slot does not hold a NumPy array");
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  const Extent extent = extent_of(array);
  borrows.emplace_back(extent.begin, extent.length);

  const int flags = PyArray_FLAGS(array);
  if ((flags & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS)) == 0 || PyArray_DATA(array) == nullptr) {
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
    return std::nullopt;
  }
  // Python code can reinterpret the dtype in place (arr.dtype = ...); the element
  // count then no longer matches this element type, and copying it would read past
  // the data. Such arrays (and byte-swapped ones) are refused.
  PyArray_Descr* descr = PyArray_DESCR(array);
  if (descr->type_num != Element<T>::number || !PyArray_ISNOTSWAPPED(array) ||
      static_cast<size_t>(PyArray_ITEMSIZE(array)) != sizeof(T)) {
    PyErr_Format(PyExc_TypeError, "The given array does not have dtype %s", Element<T>::name);
    return std::nullopt;
  }
  const size_t count = element_count(object);
  // A contiguous array's elements fill exactly its extent: the copy stays inside.
  if (count != 0 && count * sizeof(T) != extent.length) raise_fault("array extent does not match its element count");
  return CheckedArray{PyArray_DATA(array), count};
}

// Copies a whole array with one block copy. False with TypeError set on failure.
template <class T>
bool copy_array(PyObject* object, OwnedArray<T>& out, std::vector<SharedBorrow>& borrows) {
  const std::optional<CheckedArray> checked = open_array<T>(object, borrows);
  if (!checked) return false;
  out.reserve(checked->count);
  out.append(static_cast<const T*>(checked->data), checked->count);
  return true;
}

// Copies and validates the integrality codes under a borrow of their own, given
// back as soon as the codes are taken.
bool copy_integrality(PyObject* object, OwnedArray<uint8_t>& out) {
  std::vector<SharedBorrow> borrow;
  borrow.reserve(1);
  const std::optional<CheckedArray> checked = open_array<uint8_t>(object, borrow);
  if (!checked) return false;
  const auto* codes = static_cast<const uint8_t*>(checked->data);
  out.reserve(checked->count);
  for (size_t i = 0; i < checked->count; ++i) {
    const uint8_t code = codes[i];
    if (code > 3) {
      PyErr_Format(PyExc_ValueError, "invalid integrality code: %u (expected 0..=3)",
                   static_cast<unsigned>(code));
      return false;
    }
    out.push_back(code);
  }
  return true;
}

// Copies and validates one-byte codes (SOS types, indicator values) under the
// borrows of the other arrays: ValueError "invalid {what}: {} (expected {allowed})"
// for a code outside [low, high].
bool copy_codes(PyObject* object, OwnedArray<uint8_t>& out, std::vector<SharedBorrow>& borrows, uint8_t low,
                uint8_t high, const char* what, const char* allowed) {
  if (!copy_array(object, out, borrows)) return false;
  for (const uint8_t code : out) {
    if (code < low || code > high) {
      PyErr_Format(PyExc_ValueError, "invalid %s: %u (expected %s)", what, static_cast<unsigned>(code), allowed);
      return false;
    }
  }
  return true;
}

// The three arrays of a SparseMatrix.
bool copy_matrix(PyObject* object, SparseMatrixRecord& out, std::vector<SharedBorrow>& borrows) {
  PyTypeObject* matrix_type = sparse_matrix_type();
  if (matrix_type == nullptr || object == nullptr || !PyObject_TypeCheck(object, matrix_type)) {
    raise_fault("a Model slot does not hold a SparseMatrix");
  }
  auto* matrix = reinterpret_cast<SparseMatrixObject*>(object);
  return copy_array(matrix->start, out.start, borrows) && copy_array(matrix->index, out.index, borrows) &&
         copy_array(matrix->value, out.value, borrows);
}

void copy_names(const NameList& from, NameList& to);

// The parts beyond a linear program, from the slots wrap_model (or _model_from_arrays)
// set: None, or objects of the parts' classes.
bool copy_extra_parts(ModelObject* model, ModelRecord& record, std::vector<SharedBorrow>& borrows) {
  if (model->hessian != Py_None) {
    record.hessian.emplace();
    if (!copy_matrix(model->hessian, *record.hessian, borrows)) return false;
  }
  if (model->row_hessians == nullptr || !PyTuple_Check(model->row_hessians)) {
    raise_fault("the row_hessians slot of a Model does not hold a tuple");
  }
  const Py_ssize_t rows = PyTuple_Size(model->row_hessians);
  record.row_hessians.resize(static_cast<size_t>(rows));
  for (Py_ssize_t i = 0; i < rows; ++i) {
    PyObject* pair = PyTuple_GetItem(model->row_hessians, i);
    RowHessianRecord& row = record.row_hessians[static_cast<size_t>(i)];
    row.row = static_cast<uint32_t>(PyLong_AsUnsignedLong(PyTuple_GetItem(pair, 0)));
    if (PyErr_Occurred()) return false;
    if (!copy_matrix(PyTuple_GetItem(pair, 1), row.matrix, borrows)) return false;
  }
  if (model->sos != Py_None) {
    PyTypeObject* type = sos_sets_type();
    if (type == nullptr || !PyObject_TypeCheck(model->sos, type)) raise_fault("the sos slot of a Model does not hold SosSets");
    auto* sos = reinterpret_cast<SosObject*>(model->sos);
    SosRecord& out = record.sos.emplace();
    if (!copy_codes(sos->type, out.type, borrows, 1, 2, "SOS type", "1 or 2") ||
        !copy_array(sos->priority, out.priority, borrows) || !copy_array(sos->start, out.start, borrows) ||
        !copy_array(sos->index, out.index, borrows) || !copy_array(sos->weight, out.weight, borrows)) {
      return false;
    }
    copy_names(names_of(sos), out.names);
  }
  if (model->indicators != Py_None) {
    PyTypeObject* type = indicators_type();
    if (type == nullptr || !PyObject_TypeCheck(model->indicators, type)) {
      raise_fault("the indicators slot of a Model does not hold Indicators");
    }
    auto* indicators = reinterpret_cast<IndicatorsObject*>(model->indicators);
    IndicatorRecord& out = record.indicators.emplace();
    if (!copy_array(indicators->row, out.row, borrows) || !copy_array(indicators->column, out.column, borrows) ||
        !copy_codes(indicators->value, out.value, borrows, 0, 1, "indicator value", "0 or 1")) {
      return false;
    }
  }
  return true;
}

void copy_names(const NameList& from, NameList& to) {
  to.bytes.append(from.bytes.data(), from.bytes.size());
  to.ends.append(from.ends.data(), from.ends.size());
}

}  // namespace

std::optional<ModelRecord> record_from_model(PyObject* object) {
  ensure_numpy_api();
  auto* model = reinterpret_cast<ModelObject*>(object);
  const ModelNative& native = native_of(model);
  ModelRecord record;

  if (!copy_integrality(model->col_integrality, record.col_integrality)) return std::nullopt;

  record.name = native.name;
  record.num_row = native.num_row;
  record.num_col = native.num_col;
  record.obj_sense_minimize = native.obj_sense_minimize;
  record.obj_offset = native.obj_offset;
  record.objective_name = native.objective_name;

  // Borrows of the other eight arrays are held until the extraction ends.
  std::vector<SharedBorrow> borrows;
  borrows.reserve(8);
  if (!copy_array(model->col_cost, record.col_cost, borrows)) return std::nullopt;
  if (!copy_array(model->col_lower, record.col_lower, borrows)) return std::nullopt;
  if (!copy_array(model->col_upper, record.col_upper, borrows)) return std::nullopt;
  if (!copy_array(model->row_lower, record.row_lower, borrows)) return std::nullopt;
  if (!copy_array(model->row_upper, record.row_upper, borrows)) return std::nullopt;

  if (!copy_matrix(model->a_matrix, record.a_matrix, borrows)) return std::nullopt;
  if (!copy_extra_parts(model, record, borrows)) return std::nullopt;

  copy_names(native.col_names, record.col_names);
  copy_names(native.row_names, record.row_names);
  return record;
}

}  // namespace mopsel::python
