#include "python/name_index.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "model/name_list.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/gil.hpp"
#include "python/model_object.hpp"
#include "python/numpy_c.hpp"
#include "python/type_slots.hpp"
#include "reader/names/name_map.hpp"

namespace mopsel::python {

struct ModelNameTables {
  std::array<std::unique_ptr<NameMap<uint32_t>>, 2> axes;  // rows, columns
};

void drop_name_tables(ModelNameTables* tables) noexcept { delete tables; }

namespace {

constexpr std::array<const char*, 2> kEntryParameters = {"model", "axis"};
constexpr std::array<const char*, 2> kAxisWords = {"row", "column"};

struct NameIndexObject {
  PyObject_HEAD
  PyObject* model;  // the Model, a strong reference
  int axis;         // 0 rows, 1 columns
};

NameIndexObject* as_index(PyObject* self) noexcept { return reinterpret_cast<NameIndexObject*>(self); }

ModelObject* model_of(PyObject* self) noexcept {
  return reinterpret_cast<ModelObject*>(as_index(self)->model);
}

const NameList& names_of(PyObject* self) noexcept {
  const ModelNative& native = native_of(model_of(self));
  return as_index(self)->axis == 0 ? native.row_names : native.col_names;
}

// The table of the index's axis, built on first use without the lock (the names
// are the model's, which the index keeps alive). Two threads may build it at
// once; the first to take the lock back keeps its table.
const NameMap<uint32_t>& table_of(PyObject* self) {
  ModelObject* model = model_of(self);
  if (model->name_tables == nullptr) model->name_tables = new ModelNameTables();
  const auto axis = static_cast<size_t>(as_index(self)->axis);
  std::unique_ptr<NameMap<uint32_t>>& slot = model->name_tables->axes[axis];
  if (slot) return *slot;
  const NameList& names = names_of(self);
  std::unique_ptr<NameMap<uint32_t>> built;
  {
    ReleasedLock unlocked;
    built = std::make_unique<NameMap<uint32_t>>();
    reserve_names(*built, names.size());
    // In order, so that a repeated name keeps its last position.
    for (size_t i = 0; i < names.size(); ++i) assign_name(*built, names[i], static_cast<uint32_t>(i));
  }
  if (!slot) slot = std::move(built);
  return *slot;
}

// The position of `name`, or -1.
int64_t position(const NameMap<uint32_t>& table, std::string_view name) noexcept {
  const uint32_t* found = find_name(table, name);
  return found == nullptr ? -1 : static_cast<int64_t>(*found);
}

// The UTF-8 bytes of the str names[at] (new bytes object), or null with
// TypeError naming it for anything else.
PyObject* utf8_item(PyObject* item, Py_ssize_t at) noexcept {
  if (PyUnicode_Check(item)) return PyUnicode_AsUTF8String(item);
  PyRef type_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(item)), "__name__"));
  if (!type_name) return nullptr;
  PyErr_Format(PyExc_TypeError, "argument 'names': names[%zd] is a %U, not a str", at, type_name.get());
  return nullptr;
}

std::string_view bytes_view(PyObject* bytes) noexcept {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) return {};
  return {data, static_cast<size_t>(size)};
}

// Sets KeyError "no row named 'x'" (with " (names[i])" for an item of a sequence).
void set_missing(PyObject* self, std::string_view name, Py_ssize_t at) noexcept {
  PyRef text(PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "surrogatepass"));
  if (!text) return;
  const char* word = kAxisWords[static_cast<size_t>(as_index(self)->axis)];
  PyRef message(at < 0 ? PyUnicode_FromFormat("no %s named %R", word, text.get())
                       : PyUnicode_FromFormat("no %s named %R (names[%zd])", word, text.get(), at));
  if (message) PyErr_SetObject(PyExc_KeyError, message.get());
}

// Appends the UTF-8 form of code point `c`; false for a value past U+10FFFF,
// which no str holds. Surrogates are encoded as they are: such text is no name.
bool append_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c <= 0x10FFFF) {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    return false;
  }
  return true;
}

// A new int64 array of `ndim` dimensions `dims`, or null with an error set.
PyArrayObject* new_positions(int ndim, const npy_intp* dims) noexcept {
  return reinterpret_cast<PyArrayObject*>(PyArray_SimpleNew(ndim, const_cast<npy_intp*>(dims), NPY_INT64));
}

// Fills `out` with the positions of the fixed-width UCS4 strings of a C-contiguous,
// aligned, native-order dtype-U array (NumPy pads them with NUL, which is cut).
// Returns the index of the first missing name when `missing` is none, else -1.
Py_ssize_t find_ucs4(const NameMap<uint32_t>& table, const char* data, size_t count, size_t width,
                     std::optional<int64_t> missing, int64_t* out, std::string& name) {
  const size_t chars = width / 4;
  for (size_t i = 0; i < count; ++i) {
    const auto* text = reinterpret_cast<const uint32_t*>(data + i * width);
    size_t length = chars;
    while (length > 0 && text[length - 1] == 0) --length;
    name.clear();
    bool valid = true;
    for (size_t k = 0; k < length && valid; ++k) valid = append_utf8(name, text[k]);
    const int64_t found = valid ? position(table, name) : -1;
    if (found < 0 && !missing) return static_cast<Py_ssize_t>(i);
    out[i] = found < 0 ? *missing : found;
  }
  return -1;
}

PyObject* find_in_unicode_array(PyObject* self, PyArrayObject* array, std::optional<int64_t> missing) {
  const NameMap<uint32_t>& table = table_of(self);
  PyRef result(reinterpret_cast<PyObject*>(new_positions(PyArray_NDIM(array), PyArray_DIMS(array))));
  if (!result) return nullptr;
  const auto count = static_cast<size_t>(PyArray_SIZE(array));
  const auto width = static_cast<size_t>(PyArray_ITEMSIZE(array));
  auto* out = static_cast<int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
  const char* data = static_cast<const char*>(PyArray_DATA(array));
  std::string name;
  Py_ssize_t first_missing = -1;
  {
    ReleasedLock unlocked;
    first_missing = find_ucs4(table, data, count, width, missing, out, name);
  }
  if (first_missing >= 0) {
    set_missing(self, name, first_missing);
    return nullptr;
  }
  return result.release();
}

// Positions of the str objects items[0..count), into an int64 array of `ndim`
// dimensions `dims`.
PyObject* find_objects(PyObject* self, PyObject* const* items, size_t count, int ndim, const npy_intp* dims,
                       std::optional<int64_t> missing) {
  const NameMap<uint32_t>& table = table_of(self);
  PyRef result(reinterpret_cast<PyObject*>(new_positions(ndim, dims)));
  if (!result) return nullptr;
  auto* out = static_cast<int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
  for (size_t i = 0; i < count; ++i) {
    const auto at = static_cast<Py_ssize_t>(i);
    if (items[i] == nullptr) {  // an object array that was never filled
      PyErr_Format(PyExc_TypeError, "argument 'names': names[%zd] is None, not a str", at);
      return nullptr;
    }
    PyRef encoded(utf8_item(items[i], at));
    if (!encoded) return nullptr;
    const std::string_view name = bytes_view(encoded.get());
    const int64_t found = position(table, name);
    if (found < 0 && !missing) {
      set_missing(self, name, at);
      return nullptr;
    }
    out[i] = found < 0 ? *missing : found;
  }
  return result.release();
}

PyObject* find_in_array(PyObject* self, PyObject* names, std::optional<int64_t> missing) {
  auto* given = reinterpret_cast<PyArrayObject*>(names);
  const int type = PyArray_TYPE(given);
  if (type == NPY_UNICODE) {
    // In native byte order, C-contiguous and aligned (a copy only when it is not so).
    PyArray_Descr* native = PyArray_DescrNewByteorder(PyArray_DESCR(given), NPY_NATIVE);
    if (native == nullptr) return nullptr;
    PyRef array(PyArray_FromAny(names, native, 0, 0, NPY_ARRAY_CARRAY_RO, nullptr));  // steals `native`
    if (!array) return nullptr;
    return find_in_unicode_array(self, reinterpret_cast<PyArrayObject*>(array.get()), missing);
  }
  if (type == NPY_OBJECT) {
    PyRef array(PyArray_FromAny(names, nullptr, 0, 0, NPY_ARRAY_CARRAY_RO, nullptr));
    if (!array) return nullptr;
    auto* contiguous = reinterpret_cast<PyArrayObject*>(array.get());
    return find_objects(self, static_cast<PyObject* const*>(PyArray_DATA(contiguous)),
                        static_cast<size_t>(PyArray_SIZE(contiguous)), PyArray_NDIM(contiguous),
                        PyArray_DIMS(contiguous), missing);
  }
  PyRef dtype(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(given))));
  if (!dtype) return nullptr;
  PyErr_Format(PyExc_TypeError, "argument 'names': expected an array of str, got dtype %U", dtype.get());
  return nullptr;
}

PyObject* find_in_sequence(PyObject* self, PyObject* names, std::optional<int64_t> missing) {
  PyRef list(PySequence_List(names));
  if (!list) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyRef type_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(names)), "__name__"));
      if (!type_name) return nullptr;
      PyErr_Format(PyExc_TypeError, "argument 'names': expected a str or a sequence of str, got %U",
                   type_name.get());
    }
    return nullptr;
  }
  const Py_ssize_t count = PyList_Size(list.get());
  if (count < 0) return nullptr;
  // The limited API has no direct view of a list's items: each is borrowed in turn.
  std::unique_ptr<PyObject*[]> items(new PyObject*[static_cast<size_t>(count) + 1]);
  for (Py_ssize_t i = 0; i < count; ++i) items[static_cast<size_t>(i)] = PyList_GetItem(list.get(), i);
  const npy_intp dims[1] = {static_cast<npy_intp>(count)};
  return find_objects(self, items.get(), static_cast<size_t>(count), 1, dims, missing);
}

PyObject* index_find(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* names = nullptr;
    PyObject* missing_argument = Py_None;
    // One positional argument, the common call, is taken without parsing.
    if (args != nullptr && PyTuple_Size(args) == 1 && (kwargs == nullptr || PyDict_Size(kwargs) == 0)) {
      names = PyTuple_GetItem(args, 0);
    } else {
      static const char* keywords[] = {"names", "missing", nullptr};
      if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:find", const_cast<char**>(keywords), &names,
                                       &missing_argument)) {
        return nullptr;
      }
    }
    std::optional<int64_t> missing;
    if (missing_argument != Py_None) {
      if (!PyLong_Check(missing_argument)) {
        PyErr_SetString(PyExc_TypeError, "argument 'missing': expected None or an int");
        return nullptr;
      }
      const long long value = PyLong_AsLongLong(missing_argument);
      if (value == -1 && PyErr_Occurred()) return nullptr;
      missing = value;
    }
    if (PyUnicode_Check(names)) {
      PyRef encoded(PyUnicode_AsUTF8String(names));
      if (!encoded) return nullptr;
      const std::string_view name = bytes_view(encoded.get());
      const int64_t found = position(table_of(self), name);
      if (found >= 0) return PyLong_FromLongLong(found);
      if (missing) return PyLong_FromLongLong(*missing);
      set_missing(self, name, -1);
      return nullptr;
    }
    ensure_numpy_api();
    if (PyArray_Check(names)) return find_in_array(self, names, missing);
    if (PyBytes_Check(names) || PyByteArray_Check(names)) {
      PyErr_SetString(PyExc_TypeError, "argument 'names': expected a str or a sequence of str, got bytes");
      return nullptr;
    }
    return find_in_sequence(self, names, missing);
  });
}

Py_ssize_t index_length(PyObject* self) noexcept { return static_cast<Py_ssize_t>(names_of(self).size()); }

int index_contains(PyObject* self, PyObject* name) noexcept {
  if (!PyUnicode_Check(name)) return 0;
  PyRef encoded(PyUnicode_AsUTF8String(name));
  if (!encoded) return -1;
  try {
    return position(table_of(self), bytes_view(encoded.get())) >= 0 ? 1 : 0;
  } catch (...) {
    PyErr_NoMemory();
    return -1;
  }
}

PyObject* index_repr(PyObject* self) noexcept {
  const char* word = kAxisWords[static_cast<size_t>(as_index(self)->axis)];
  return PyUnicode_FromFormat("_NameIndex(%s, %zd names)", word, index_length(self));
}

void index_dealloc(PyObject* self) noexcept {
  Py_CLEAR(as_index(self)->model);
  free_instance(self);
}

PyMethodDef g_index_methods[] = {
    {"find", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(index_find)),
     METH_VARARGS | METH_KEYWORDS, "find(names, missing=None)\n--\n\nPositions of names (see mopsel.names)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_index_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(index_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(index_repr)},
    {Py_tp_methods, g_index_methods},
    {Py_sq_length, reinterpret_cast<void*>(index_length)},
    {Py_sq_contains, reinterpret_cast<void*>(index_contains)},
    {0, nullptr},
};

PyType_Spec g_index_spec = {"mopsel._mopsel._NameIndex", sizeof(NameIndexObject), 0, Py_TPFLAGS_DEFAULT,
                            g_index_slots};

PyTypeObject* g_index_type = nullptr;  // created once under the lock, never released

PyTypeObject* name_index_type() noexcept {
  if (g_index_type == nullptr) g_index_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&g_index_spec));
  return g_index_type;
}

PyObject* name_index(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> values{};
    if (!bind_arguments("_name_index", kEntryParameters, args, kwargs, values)) return nullptr;
    if (!instance_argument(values[0], model_type(), "Model", "model")) return nullptr;
    const long axis = PyLong_Check(values[1]) ? PyLong_AsLong(values[1]) : -1;
    if (axis != 0 && axis != 1) {
      PyErr_Clear();
      PyErr_SetString(PyExc_ValueError, "argument 'axis': expected 0 (rows) or 1 (columns)");
      return nullptr;
    }
    PyTypeObject* type = name_index_type();
    if (type == nullptr) return nullptr;
    PyObject* instance = allocate_instance(type);
    if (instance == nullptr) return nullptr;
    Py_INCREF(values[0]);
    as_index(instance)->model = values[0];
    as_index(instance)->axis = static_cast<int>(axis);
    return instance;
  });
}

}  // namespace

PyMethodDef kNameIndexMethod = {
    "_name_index",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(name_index)),
    METH_VARARGS | METH_KEYWORDS,
    "_name_index(model, axis)\n--\n\nLookups of row (0) or column (1) names. Use mopsel.names.",
};

}  // namespace mopsel::python
