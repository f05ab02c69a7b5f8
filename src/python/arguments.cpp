#include "python/arguments.hpp"

#include <algorithm>
#include <string>

namespace mopsel::python {
namespace {

// Sets TypeError "argument '{parameter}': '{qualname of type(value)}' object
// cannot be converted to '{target}'".
void conversion_error(PyObject* value, const char* target, const char* parameter) noexcept {
  PyRef qualname(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
  if (qualname && PyUnicode_Check(qualname.get())) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", parameter,
                 qualname.get(), target);
  } else {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "argument '%s': '<unknown>' object cannot be converted to '%s'",
                 parameter, target);
  }
}

// "'a'", "'a' and 'b'", "'a', 'b' and 'c'".
std::string quoted_list(std::span<const char* const> names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

// As CPython does, the missing positional parameters are reported before the
// keyword-only ones (those from `positional` on).
bool report_missing(const char* function, std::span<const char* const> parameters,
                    std::span<PyObject*> values, size_t positional) noexcept {
  try {
    const char* missing[8];
    size_t count = 0;
    bool keyword_only = false;
    for (size_t i = 0; i < parameters.size() && count < 8; ++i) {
      if (i == positional && count > 0) break;
      if (values[i] == nullptr) {
        missing[count++] = parameters[i];
        keyword_only = i >= positional;
      }
    }
    if (count == 0) return true;
    const std::string list = quoted_list({missing, count});
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required %s %s: %s", function, count,
                 keyword_only ? "keyword-only" : "positional", count == 1 ? "argument" : "arguments",
                 list.c_str());
  } catch (...) {
    PyErr_NoMemory();
  }
  return false;
}

}  // namespace

bool bind_arguments(const char* function, std::span<const char* const> parameters, PyObject* args,
                    PyObject* kwargs, std::span<PyObject*> values, size_t positional, size_t required) noexcept {
  for (PyObject*& value : values) value = nullptr;
  positional = std::min(positional, parameters.size());

  const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
  if (given < 0) return false;
  if (static_cast<size_t>(given) > positional) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd %s given", function,
                 positional, given, given == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < given; ++i) values[static_cast<size_t>(i)] = PyTuple_GetItem(args, i);

  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", function);
        return false;
      }
      size_t slot = parameters.size();
      for (size_t i = 0; i < parameters.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(key, parameters[i]) == 0) {
          slot = i;
          break;
        }
      }
      if (slot == parameters.size()) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
        return false;
      }
      if (values[slot] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                     parameters[slot]);
        return false;
      }
      values[slot] = value;
    }
  }
  return report_missing(function, parameters.first(std::min(required, parameters.size())), values, positional);
}

PyObject* utf8_argument(PyObject* value, const char* parameter) noexcept {
  if (!PyUnicode_Check(value)) {
    conversion_error(value, "PyString", parameter);
    return nullptr;
  }
  // Strict: a lone surrogate raises UnicodeEncodeError, which passes unchanged.
  return PyUnicode_AsUTF8String(value);
}

bool instance_argument(PyObject* value, PyTypeObject* type, const char* target,
                       const char* parameter) noexcept {
  if (type == nullptr) return false;  // the type could not be created; its error is set
  if (PyObject_TypeCheck(value, type)) return true;
  conversion_error(value, target, parameter);
  return false;
}

}  // namespace mopsel::python
