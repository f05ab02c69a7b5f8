// Owns the NumPy function table of the extension (see numpy_c.hpp).
#define MOPSEL_NUMPY_API_DEFINITION
#include "python/numpy_c.hpp"

#include <string>

#include "python/errors.hpp"

namespace mopsel::python {
namespace {

constexpr std::string_view kCapsuleFailure = "Failed to access NumPy array API capsule";

// The ways fetching NumPy's table can end: the table, an exception raised by
// importing NumPy (a KeyboardInterrupt, a broken installation: the caller's to
// raise), or another failure (an internal fault).
enum class Fetch { Table, ImportRaised, Failed };

// New reference to the major version of the running NumPy as a Python int, or
// null with an error set (`import_raised` tells an import's exception apart).
PyObject* numpy_major_version(bool& import_raised) {
  PyRef numpy(PyImport_ImportModule("numpy"));
  if (!numpy) {
    import_raised = true;
    return nullptr;
  }
  PyRef version(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) return nullptr;
  PyRef lib(PyImport_ImportModule("numpy.lib"));
  if (!lib) {
    import_raised = true;
    return nullptr;
  }
  PyRef parser(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
  if (!parser) return nullptr;
  PyRef parsed(PyObject_CallFunctionObjArgs(parser.get(), version.get(), nullptr));
  if (!parsed) return nullptr;
  return PyObject_GetAttrString(parsed.get(), "major");
}

// Sets `table` from the capsule; otherwise returns how it failed, with an error set.
Fetch fetch_table(void**& table) {
  bool import_raised = false;
  PyRef major(numpy_major_version(import_raised));
  if (!major) return import_raised ? Fetch::ImportRaised : Fetch::Failed;
  const long major_number = PyLong_AsLong(major.get());
  if (major_number == -1 && PyErr_Occurred()) return Fetch::Failed;
  const char* module_name = major_number >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
  PyRef module(PyImport_ImportModule(module_name));
  if (!module) return Fetch::ImportRaised;
  PyRef capsule(PyObject_GetAttrString(module.get(), "_ARRAY_API"));
  if (!capsule) return Fetch::Failed;
  if (!PyCapsule_CheckExact(capsule.get())) {
    PyErr_SetString(PyExc_TypeError, "_ARRAY_API is not a capsule");
    return Fetch::Failed;
  }
  table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (table != nullptr) return Fetch::Table;  // it lives in NumPy's extension module, never unloaded
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "_ARRAY_API holds a null pointer");
  return Fetch::Failed;
}

// With the table in place: checks that this build can use it. Returns false
// with an error set otherwise.
bool table_is_usable() {
  if (NPY_VERSION < PyArray_GetNDArrayCVersion()) {
    PyErr_Format(PyExc_RuntimeError, "built for NumPy ABI version 0x%x but the running NumPy has 0x%x",
                 static_cast<int>(NPY_VERSION), static_cast<int>(PyArray_GetNDArrayCVersion()));
    return false;
  }
  const unsigned int feature = PyArray_GetNDArrayCFeatureVersion();
  if (NPY_FEATURE_VERSION > feature) {
    PyErr_Format(PyExc_RuntimeError,
                 "built for NumPy C-API version 0x%x but the running NumPy has 0x%x",
                 static_cast<int>(NPY_FEATURE_VERSION), static_cast<int>(feature));
    return false;
  }
  if (PyArray_GetEndianness() != NPY_CPU_LITTLE && NPY_BYTE_ORDER == NPY_LITTLE_ENDIAN) {
    PyErr_SetString(PyExc_RuntimeError, "the running NumPy reports another byte order");
    return false;
  }
  PyArray_RUNTIME_VERSION = static_cast<int>(feature);
  return true;
}

}  // namespace

bool import_numpy_api(std::source_location where) {
  if (PyArray_API != nullptr) return true;
  void** table = nullptr;
  switch (fetch_table(table)) {
    case Fetch::Table: break;
    case Fetch::ImportRaised: return false;
    case Fetch::Failed: fault_from_python_error(kCapsuleFailure, where);
  }
  PyArray_API = table;
  if (!table_is_usable()) {
    PyArray_API = nullptr;
    fault_from_python_error(kCapsuleFailure, where);
  }
  return true;
}

void ensure_numpy_api(std::source_location where) {
  if (!import_numpy_api(where)) fault_from_python_error(kCapsuleFailure, where);
}

}  // namespace mopsel::python
