#include "python/model_object.hpp"

#include <cstddef>
#include <string>

#include "python/errors.hpp"
#include "python/model_parts.hpp"
#include "python/numpy_c.hpp"
#include "python/numpy_types.hpp"
#include "python/slice_container.hpp"
#include "python/type_slots.hpp"

namespace mopsel::python {
namespace {

// ---- value conversions ------------------------------------------------------

// New str from stored UTF-8 text (strict: stored names are always UTF-8).
PyObject* text_to_str(std::string_view text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyObject* names_to_list(const NameList& names) noexcept {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(names.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    PyObject* item = text_to_str(names[i]);
    if (item == nullptr) return nullptr;
    // Steals `item`.
    if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item) != 0) return nullptr;
  }
  return list.release();
}

ModelObject* as_model(PyObject* self) noexcept { return reinterpret_cast<ModelObject*>(self); }

// ---- Model -----------------------------------------------------------------

void model_dealloc(PyObject* self) noexcept {
  ModelObject* model = as_model(self);
  Py_CLEAR(model->col_cost);
  Py_CLEAR(model->col_lower);
  Py_CLEAR(model->col_upper);
  Py_CLEAR(model->row_lower);
  Py_CLEAR(model->row_upper);
  Py_CLEAR(model->col_integrality);
  Py_CLEAR(model->a_matrix);
  Py_CLEAR(model->hessian);
  Py_CLEAR(model->row_hessians);
  Py_CLEAR(model->sos);
  Py_CLEAR(model->indicators);
  drop_name_tables(model->name_tables);
  model->name_tables = nullptr;
  native_of(model).~ModelNative();
  free_instance(self);
}

PyObject* model_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    const ModelNative& native = native_of(as_model(self));
    std::string text = "Model(name=";
    text += native.name;
    text += ", num_row=" + std::to_string(native.num_row);
    text += ", num_col=" + std::to_string(native.num_col);
    text += native.obj_sense_minimize ? ", sense=min)" : ", sense=max)";
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  });
}

PyObject* get_name(PyObject* self, void*) noexcept { return text_to_str(native_of(as_model(self)).name); }
PyObject* get_num_row(PyObject* self, void*) noexcept {
  return PyLong_FromUnsignedLong(native_of(as_model(self)).num_row);
}
PyObject* get_num_col(PyObject* self, void*) noexcept {
  return PyLong_FromUnsignedLong(native_of(as_model(self)).num_col);
}
PyObject* get_obj_sense_minimize(PyObject* self, void*) noexcept {
  return PyBool_FromLong(native_of(as_model(self)).obj_sense_minimize ? 1 : 0);
}
PyObject* get_obj_offset(PyObject* self, void*) noexcept {
  return PyFloat_FromDouble(native_of(as_model(self)).obj_offset);
}
PyObject* get_objective_name(PyObject* self, void*) noexcept {
  return text_to_str(native_of(as_model(self)).objective_name);
}
PyObject* get_col_names(PyObject* self, void*) noexcept { return names_to_list(native_of(as_model(self)).col_names); }
PyObject* get_row_names(PyObject* self, void*) noexcept { return names_to_list(native_of(as_model(self)).row_names); }

// A new dict {row: SparseMatrix} per read, like the name lists: the model's own pairs
// cannot be changed, the matrices' arrays can (in place, as a_matrix's).
PyObject* get_row_hessians(PyObject* self, void*) noexcept {
  PyObject* pairs = as_model(self)->row_hessians;
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  const Py_ssize_t count = PyTuple_Size(pairs);
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* pair = PyTuple_GetItem(pairs, i);  // borrowed
    if (pair == nullptr ||
        PyDict_SetItem(dict.get(), PyTuple_GetItem(pair, 0), PyTuple_GetItem(pair, 1)) != 0) {
      return nullptr;
    }
  }
  return dict.release();
}

// Declared in the order of the Model attribute table; CPython keeps members and
// properties in two tables, so the two lists each follow that order.
PyGetSetDef g_model_getset[] = {
    {"name", get_name, nullptr, "", nullptr},
    {"num_row", get_num_row, nullptr, "", nullptr},
    {"num_col", get_num_col, nullptr, "", nullptr},
    {"obj_sense_minimize", get_obj_sense_minimize, nullptr, "", nullptr},
    {"obj_offset", get_obj_offset, nullptr, "", nullptr},
    {"objective_name", get_objective_name, nullptr, "", nullptr},
    {"col_names", get_col_names, nullptr, "", nullptr},
    {"row_names", get_row_names, nullptr, "", nullptr},
    {"row_hessians", get_row_hessians, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef g_model_members[] = {
    {"col_cost", T_OBJECT_EX, offsetof(ModelObject, col_cost), READONLY, ""},
    {"col_lower", T_OBJECT_EX, offsetof(ModelObject, col_lower), READONLY, ""},
    {"col_upper", T_OBJECT_EX, offsetof(ModelObject, col_upper), READONLY, ""},
    {"row_lower", T_OBJECT_EX, offsetof(ModelObject, row_lower), READONLY, ""},
    {"row_upper", T_OBJECT_EX, offsetof(ModelObject, row_upper), READONLY, ""},
    {"col_integrality", T_OBJECT_EX, offsetof(ModelObject, col_integrality), READONLY, ""},
    {"a_matrix", T_OBJECT_EX, offsetof(ModelObject, a_matrix), READONLY, ""},
    {"hessian", T_OBJECT_EX, offsetof(ModelObject, hessian), READONLY, ""},
    {"sos", T_OBJECT_EX, offsetof(ModelObject, sos), READONLY, ""},
    {"indicators", T_OBJECT_EX, offsetof(ModelObject, indicators), READONLY, ""},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot g_model_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(model_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(model_repr)},
    {Py_tp_members, g_model_members},
    {Py_tp_getset, g_model_getset},
    {0, nullptr},
};

PyType_Spec g_model_spec = {"mopsel._mopsel.Model", sizeof(ModelObject), 0, Py_TPFLAGS_DEFAULT,
                            g_model_slots};

// ---- SparseMatrix ----------------------------------------------------------

void sparse_matrix_dealloc(PyObject* self) noexcept {
  auto* matrix = reinterpret_cast<SparseMatrixObject*>(self);
  Py_CLEAR(matrix->start);
  Py_CLEAR(matrix->index);
  Py_CLEAR(matrix->value);
  free_instance(self);
}

PyObject* sparse_matrix_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    auto* matrix = reinterpret_cast<SparseMatrixObject*>(self);
    const size_t starts = element_count(matrix->start);
    const size_t num_col = starts == 0 ? 0 : starts - 1;
    const std::string text = "SparseMatrix(num_col=" + std::to_string(num_col) +
                             ", nnz=" + std::to_string(element_count(matrix->value)) + ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyMemberDef g_sparse_members[] = {
    {"start", T_OBJECT_EX, offsetof(SparseMatrixObject, start), READONLY, ""},
    {"index", T_OBJECT_EX, offsetof(SparseMatrixObject, index), READONLY, ""},
    {"value", T_OBJECT_EX, offsetof(SparseMatrixObject, value), READONLY, ""},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot g_sparse_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(sparse_matrix_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(sparse_matrix_repr)},
    {Py_tp_members, g_sparse_members},
    {0, nullptr},
};

PyType_Spec g_sparse_spec = {"mopsel._mopsel.SparseMatrix", sizeof(SparseMatrixObject), 0,
                             Py_TPFLAGS_DEFAULT, g_sparse_slots};

// A new SparseMatrix holding the three arrays (taken from the references), or null
// with an error set.
PyObject* sparse_matrix_of(PyRef& start, PyRef& index, PyRef& value) noexcept {
  PyTypeObject* type = sparse_matrix_type();
  if (type == nullptr) return nullptr;
  PyObject* instance = allocate_instance(type);
  if (instance == nullptr) return nullptr;
  auto* sparse = reinterpret_cast<SparseMatrixObject*>(instance);
  sparse->start = start.release();
  sparse->index = index.release();
  sparse->value = value.release();
  return instance;
}

// The Model slots of the parts beyond a linear program, made from the record's parts
// (None, or an empty tuple, for those it does not have): hessian, row_hessians, sos,
// indicators. False with a Python error set.
bool wrap_extra_parts(ModelRecord& record, PyRef (&parts)[4]) {
  parts[0].reset(record.hessian ? wrap_sparse_matrix(std::move(*record.hessian)) : new_none());
  parts[1].reset(PyTuple_New(static_cast<Py_ssize_t>(record.row_hessians.size())));
  if (!parts[0] || !parts[1]) return false;
  for (size_t i = 0; i < record.row_hessians.size(); ++i) {
    RowHessianRecord& row = record.row_hessians[i];
    PyRef matrix(wrap_sparse_matrix(std::move(row.matrix)));
    PyRef number(PyLong_FromUnsignedLong(row.row));
    if (!matrix || !number) return false;
    PyObject* pair = PyTuple_Pack(2, number.get(), matrix.get());
    // Steals `pair`.
    if (pair == nullptr || PyTuple_SetItem(parts[1].get(), static_cast<Py_ssize_t>(i), pair) != 0) return false;
  }
  parts[2].reset(record.sos ? wrap_sos(std::move(*record.sos)) : new_none());
  parts[3].reset(record.indicators ? wrap_indicators(std::move(*record.indicators)) : new_none());
  return parts[2] && parts[3];
}

PyTypeObject* g_model_type = nullptr;   // created once under the lock, never released
PyTypeObject* g_sparse_type = nullptr;  // likewise

}  // namespace

PyTypeObject* model_type() noexcept {
  if (g_model_type == nullptr) g_model_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&g_model_spec));
  return g_model_type;
}

PyTypeObject* sparse_matrix_type() noexcept {
  if (g_sparse_type == nullptr) g_sparse_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&g_sparse_spec));
  return g_sparse_type;
}

PyObject* wrap_model(ModelRecord&& record) {
  // The integrality codes move into a buffer of exactly their length; the record's
  // own (possibly over-reserved) buffer goes with the record.
  OwnedArray<uint8_t> integrality;
  integrality.append(record.col_integrality.data(), record.col_integrality.size());

  // Each array takes over its record buffer; on a fault the arrays made so far are
  // dropped with their buffers and the record frees the rest.
  PyRef start(array_from_buffer(std::move(record.a_matrix.start)));
  PyRef index(array_from_buffer(std::move(record.a_matrix.index)));
  PyRef value(array_from_buffer(std::move(record.a_matrix.value)));
  PyRef col_cost(array_from_buffer(std::move(record.col_cost)));
  PyRef col_lower(array_from_buffer(std::move(record.col_lower)));
  PyRef col_upper(array_from_buffer(std::move(record.col_upper)));
  PyRef row_lower(array_from_buffer(std::move(record.row_lower)));
  PyRef row_upper(array_from_buffer(std::move(record.row_upper)));
  PyRef col_integrality(array_from_buffer(std::move(integrality)));

  PyRef matrix(sparse_matrix_of(start, index, value));
  if (!matrix) return nullptr;

  PyRef parts[4];
  if (!wrap_extra_parts(record, parts)) return nullptr;

  PyTypeObject* type = model_type();
  if (type == nullptr) return nullptr;
  PyObject* instance = allocate_instance(type);
  if (instance == nullptr) return nullptr;
  ModelObject* model = as_model(instance);
  // Moves only: nothing below can fail, so the instance is complete before anyone sees it.
  new (model->native_storage) ModelNative{std::move(record.name), std::move(record.objective_name),
                                          std::move(record.row_names), std::move(record.col_names),
                                          record.num_row, record.num_col, record.obj_sense_minimize,
                                          record.obj_offset};
  model->col_cost = col_cost.release();
  model->col_lower = col_lower.release();
  model->col_upper = col_upper.release();
  model->row_lower = row_lower.release();
  model->row_upper = row_upper.release();
  model->col_integrality = col_integrality.release();
  model->a_matrix = matrix.release();
  model->hessian = parts[0].release();
  model->row_hessians = parts[1].release();
  model->sos = parts[2].release();
  model->indicators = parts[3].release();
  record.col_integrality = OwnedArray<uint8_t>();
  return instance;
}

PyObject* wrap_sparse_matrix(SparseMatrixRecord&& matrix) {
  PyRef start(array_from_buffer(std::move(matrix.start)));
  PyRef index(array_from_buffer(std::move(matrix.index)));
  PyRef value(array_from_buffer(std::move(matrix.value)));
  return sparse_matrix_of(start, index, value);
}

}  // namespace mopsel::python
