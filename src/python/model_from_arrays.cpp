#include "python/model_from_arrays.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "model/model_record.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/model_object.hpp"
#include "python/numpy_c.hpp"
#include "python/numpy_types.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel::python {
namespace {

constexpr std::array<const char*, 19> kParameters = {
    "name",      "objective_name", "minimize", "obj_offset", "col_cost",  "col_lower", "col_upper", "col_integrality",
    "row_lower", "row_upper",      "start",    "index",      "value",     "col_names", "row_names",
    "hessian",   "row_hessians",   "sos",      "indicators"};
// The parts beyond a linear program may be left out (None).
constexpr size_t kRequiredParameters = 15;

// The same limits as the reader's: row indices must also fit a signed 32-bit view.
constexpr size_t kMaxRows = std::numeric_limits<int32_t>::max();
constexpr size_t kMaxCount = std::numeric_limits<uint32_t>::max();

// Copies a one-dimensional, C-contiguous array of exactly dtype T into `out`.
// False with TypeError naming the parameter otherwise.
template <class T>
bool copy_array(PyObject* value, const char* parameter, OwnedArray<T>& out) {
  auto* array = reinterpret_cast<PyArrayObject*>(value);
  if (!PyArray_Check(value) || PyArray_NDIM(array) != 1 || !PyArray_ISCARRAY_RO(array) ||
      PyArray_DESCR(array)->type_num != Element<T>::number || !PyArray_ISNOTSWAPPED(array) ||
      static_cast<size_t>(PyArray_ITEMSIZE(array)) != sizeof(T)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected a one-dimensional contiguous %s array", parameter,
                 Element<T>::name);
    return false;
  }
  const auto count = static_cast<size_t>(PyArray_DIM(array, 0));
  out.reserve(count);
  out.append(static_cast<const T*>(PyArray_DATA(array)), count);
  return true;
}

bool expect_length(size_t length, size_t expected, const char* parameter, const char* what) {
  if (length == expected) return true;
  PyErr_Format(PyExc_ValueError, "argument '%s': %zu entries, expected %zu (%s)", parameter, length, expected,
               what);
  return false;
}

// Fills `names` with `count` names: split from a bytes object of "\n"-separated
// UTF-8 names, or `prefix` followed by 1, 2, ... for None.
bool take_names(PyObject* value, size_t count, const char* parameter, const char* prefix, NameList& names) {
  if (value == Py_None) {
    names.ends.reserve(count);
    names.bytes.reserve(count * 8);
    char text[32];
    const size_t prefix_size = std::strlen(prefix);
    std::memcpy(text, prefix, prefix_size);
    for (size_t i = 0; i < count; ++i) {
      const auto end = std::to_chars(text + prefix_size, text + sizeof text, i + 1).ptr;
      names.push_back({text, static_cast<size_t>(end - text)});
    }
    return true;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!PyBytes_Check(value) || PyBytes_AsStringAndSize(value, &data, &size) != 0) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "argument '%s': expected bytes or None", parameter);
    return false;
  }
  const std::string_view blob(data, static_cast<size_t>(size));
  if (!is_valid_utf8(blob)) {
    PyErr_Format(PyExc_ValueError, "argument '%s': the names are not valid UTF-8", parameter);
    return false;
  }
  names.ends.reserve(count);
  names.bytes.reserve(blob.size());
  size_t begin = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t end = blob.find('\n', begin);
    const bool last = i + 1 == count;
    if (last != (end == std::string_view::npos)) break;  // too few or too many separators
    if (last) end = blob.size();
    names.push_back(blob.substr(begin, end - begin));
    begin = end + 1;
  }
  if (names.size() == count && (count != 0 || blob.empty())) return true;
  PyErr_Format(PyExc_ValueError, "argument '%s': expected %zu names separated by newlines", parameter, count);
  return false;
}

// The items of a tuple argument of exactly `count` items. False with TypeError otherwise.
bool tuple_items(PyObject* value, size_t count, const char* parameter, const char* what, PyObject** items) {
  if (!PyTuple_Check(value) || static_cast<size_t>(PyTuple_Size(value)) != count) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected a tuple %s", parameter, what);
    return false;
  }
  for (size_t i = 0; i < count; ++i) items[i] = PyTuple_GetItem(value, static_cast<Py_ssize_t>(i));
  return true;
}

// A lower triangle of `cols` columns from (start, index, value).
bool take_lower(PyObject* value, size_t cols, const char* parameter, SparseMatrixRecord& out) {
  PyObject* items[3];
  if (!tuple_items(value, 3, parameter, "(start, index, value)", items) ||
      !copy_array(items[0], "start", out.start) || !copy_array(items[1], "index", out.index) ||
      !copy_array(items[2], "value", out.value)) {
    return false;
  }
  if (out.value.size() > kMaxCount) {
    PyErr_Format(PyExc_ValueError, "argument '%s': too many entries (at most 2**32 - 1)", parameter);
    return false;
  }
  return expect_length(out.start.size(), cols + 1, parameter, "starts: one per column and one more") &&
         expect_length(out.index.size(), out.value.size(), parameter, "indices: one per value");
}

// One-byte codes from `low` to `high`. ValueError naming the first other one.
bool codes_within(const OwnedArray<uint8_t>& codes, uint8_t low, uint8_t high, const char* parameter) {
  for (size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] < low || codes[i] > high) {
      PyErr_Format(PyExc_ValueError, "argument '%s': code %u at %zu, expected %u to %u", parameter,
                   static_cast<unsigned>(codes[i]), i, static_cast<unsigned>(low), static_cast<unsigned>(high));
      return false;
    }
  }
  return true;
}

// A part without entries is no part, as reading gives none for it.
void drop_empty_parts(ModelRecord& record) {
  if (record.hessian && record.hessian->value.empty()) record.hessian.reset();
  std::erase_if(record.row_hessians, [](const RowHessianRecord& row) { return row.matrix.value.empty(); });
  if (record.sos && record.sos->type.empty()) record.sos.reset();
  if (record.indicators && record.indicators->row.empty()) record.indicators.reset();
}

// The parts beyond a linear program, each None or in the record's own layout:
// hessian (start, index, value); row_hessians a sequence of (row, start, index,
// value) with rows ascending; sos (type, priority, start, index, weight, names);
// indicators (row, column, value).
bool take_extra_parts(const std::array<PyObject*, kParameters.size()>& v, ModelRecord& record) {
  const size_t cols = record.num_col;
  const auto given = [](PyObject* value) { return value != nullptr && value != Py_None; };
  if (given(v[15]) && !take_lower(v[15], cols, "hessian", record.hessian.emplace())) return false;
  if (given(v[16])) {
    PyRef rows(PySequence_Tuple(v[16]));
    if (!rows) return false;
    const Py_ssize_t count = PyTuple_Size(rows.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* items[4];
      if (!tuple_items(PyTuple_GetItem(rows.get(), i), 4, "row_hessians", "(row, start, index, value) per row",
                       items)) {
        return false;
      }
      const unsigned long row = PyLong_AsUnsignedLong(items[0]);
      if (PyErr_Occurred()) return false;
      if (row >= record.num_row || (!record.row_hessians.empty() && row <= record.row_hessians.back().row)) {
        PyErr_Format(PyExc_ValueError, "argument 'row_hessians': row %lu is not a row above the one before", row);
        return false;
      }
      RowHessianRecord& out = record.row_hessians.emplace_back();
      out.row = static_cast<uint32_t>(row);
      PyRef matrix(PyTuple_GetSlice(PyTuple_GetItem(rows.get(), i), 1, 4));
      if (!matrix || !take_lower(matrix.get(), cols, "row_hessians", out.matrix)) return false;
    }
  }
  if (given(v[17])) {
    PyObject* items[6];
    SosRecord& sos = record.sos.emplace();
    if (!tuple_items(v[17], 6, "sos", "(type, priority, start, index, weight, names)", items) ||
        !copy_array(items[0], "sos type", sos.type) || !copy_array(items[1], "sos priority", sos.priority) ||
        !copy_array(items[2], "sos start", sos.start) || !copy_array(items[3], "sos index", sos.index) ||
        !copy_array(items[4], "sos weight", sos.weight) || !codes_within(sos.type, 1, 2, "sos type")) {
      return false;
    }
    const size_t sets = sos.type.size();
    if (sets > kMaxCount || sos.index.size() > kMaxCount) {
      PyErr_SetString(PyExc_ValueError, "argument 'sos': too many sets or members (at most 2**32 - 1)");
      return false;
    }
    if (!expect_length(sos.priority.size(), sets, "sos priority", "one per set") ||
        !expect_length(sos.start.size(), sets + 1, "sos start", "one per set and one more") ||
        !expect_length(sos.weight.size(), sos.index.size(), "sos weight", "one per member") ||
        !take_names(items[5], sets, "sos names", "SOS", sos.names)) {
      return false;
    }
  }
  if (given(v[18])) {
    PyObject* items[3];
    IndicatorRecord& indicators = record.indicators.emplace();
    if (!tuple_items(v[18], 3, "indicators", "(row, column, value)", items) ||
        !copy_array(items[0], "indicators row", indicators.row) ||
        !copy_array(items[1], "indicators column", indicators.column) ||
        !copy_array(items[2], "indicators value", indicators.value) ||
        !codes_within(indicators.value, 0, 1, "indicators value")) {
      return false;
    }
    const size_t count = indicators.row.size();
    if (count > kMaxCount) {
      PyErr_SetString(PyExc_ValueError, "argument 'indicators': too many indicators (at most 2**32 - 1)");
      return false;
    }
    if (!expect_length(indicators.column.size(), count, "indicators column", "one per row") ||
        !expect_length(indicators.value.size(), count, "indicators value", "one per row")) {
      return false;
    }
  }
  drop_empty_parts(record);
  return true;
}

std::optional<std::string> text_argument(PyObject* value, const char* parameter) {
  PyRef encoded(utf8_argument(value, parameter));
  if (!encoded) return std::nullopt;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(encoded.get(), &data, &size) != 0) return std::nullopt;
  return std::string(data, static_cast<size_t>(size));
}

// Builds the record from the bound arguments, in parameter order; none with a
// Python error set on the first failure.
std::optional<ModelRecord> record_from_arguments(const std::array<PyObject*, kParameters.size()>& v) {
  ModelRecord record;
  std::optional<std::string> name = text_argument(v[0], "name");
  if (!name) return std::nullopt;
  std::optional<std::string> objective = text_argument(v[1], "objective_name");
  if (!objective) return std::nullopt;
  record.name = std::move(*name);
  record.objective_name = std::move(*objective);
  const int minimize = PyObject_IsTrue(v[2]);
  if (minimize < 0) return std::nullopt;
  record.obj_sense_minimize = minimize != 0;
  record.obj_offset = PyFloat_AsDouble(v[3]);
  if (record.obj_offset == -1.0 && PyErr_Occurred()) return std::nullopt;

  if (!copy_array(v[4], "col_cost", record.col_cost) || !copy_array(v[5], "col_lower", record.col_lower) ||
      !copy_array(v[6], "col_upper", record.col_upper) ||
      !copy_array(v[7], "col_integrality", record.col_integrality) ||
      !copy_array(v[8], "row_lower", record.row_lower) || !copy_array(v[9], "row_upper", record.row_upper) ||
      !copy_array(v[10], "start", record.a_matrix.start) ||
      !copy_array(v[11], "index", record.a_matrix.index) ||
      !copy_array(v[12], "value", record.a_matrix.value)) {
    return std::nullopt;
  }
  const size_t cols = record.col_cost.size();
  const size_t rows = record.row_lower.size();
  const size_t entries = record.a_matrix.value.size();
  if (cols > kMaxCount || rows > kMaxRows || entries > kMaxCount) {
    PyErr_SetString(PyExc_ValueError,
                    "too many rows, columns or entries (at most 2**31 - 1 rows, 2**32 - 1 of the others)");
    return std::nullopt;
  }
  if (!expect_length(record.col_lower.size(), cols, "col_lower", "one per column") ||
      !expect_length(record.col_upper.size(), cols, "col_upper", "one per column") ||
      !expect_length(record.col_integrality.size(), cols, "col_integrality", "one per column") ||
      !expect_length(record.row_upper.size(), rows, "row_upper", "one per row") ||
      !expect_length(record.a_matrix.start.size(), cols + 1, "start", "one per column and one more") ||
      !expect_length(record.a_matrix.index.size(), entries, "index", "one per value")) {
    return std::nullopt;
  }
  record.num_col = static_cast<uint32_t>(cols);
  record.num_row = static_cast<uint32_t>(rows);
  if (!take_names(v[13], cols, "col_names", "C", record.col_names) ||
      !take_names(v[14], rows, "row_names", "R", record.row_names) || !take_extra_parts(v, record)) {
    return std::nullopt;
  }
  return record;
}

PyObject* model_from_arrays(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kParameters.size()> values{};
    if (!bind_arguments("_model_from_arrays", kParameters, args, kwargs, values, 0, kRequiredParameters)) {
      return nullptr;
    }
    ensure_numpy_api();
    std::optional<ModelRecord> record = record_from_arguments(values);
    if (!record) return nullptr;
    return wrap_model(std::move(*record));
  });
}

}  // namespace

PyMethodDef kModelFromArraysMethod = {
    "_model_from_arrays",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(model_from_arrays)),
    METH_VARARGS | METH_KEYWORDS,
    "_model_from_arrays(*, name, objective_name, minimize, obj_offset, col_cost, col_lower, col_upper, "
    "col_integrality, row_lower, row_upper, start, index, value, col_names, row_names, hessian=None, "
    "row_hessians=None, sos=None, indicators=None)\n--\n\n"
    "A Model from validated arrays (each copied once). Use mopsel.from_arrays.",
};

}  // namespace mopsel::python
