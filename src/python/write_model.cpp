#include "python/write_model.hpp"

#include <array>
#include <cerrno>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "model/model_record.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/gil.hpp"
#include "python/model_object.hpp"
#include "python/record_from_model.hpp"
#include "python/signal_watch.hpp"
#include "platform/text_buffer.hpp"
#include "writer/lp_writer.hpp"
#include "writer/mps_writer.hpp"
#include "writer/name_checks.hpp"
#include "writer/record_checks.hpp"

namespace mopsel::python {
namespace {

// _write_model's parameters; _write_lp takes the first four.
constexpr std::array<const char*, 5> kParameters = {"model", "path", "digits", "gzip", "format"};
constexpr size_t kLpParameters = 4;
constexpr std::array<const char*, 2> kBytesParameters = {"path", "data"};

// The layout from `format` into `options`: 0 free, 1 fixed columns, 2 automatic (then
// `automatic` is set, as it is decided on the record); false with ValueError set.
bool format_argument(PyObject* format, WriteOptions& options, bool& automatic) {
  const long layout = PyLong_Check(format) ? PyLong_AsLong(format) : -1;
  if (layout == -1 && PyErr_Occurred()) PyErr_Clear();
  if (layout < 0 || layout > 2) {
    PyErr_SetString(PyExc_ValueError, "argument 'format': expected 0 (free), 1 (fixed) or 2 (auto)");
    return false;
  }
  options.fixed_columns = layout == 1;
  automatic = layout == 2;
  return true;
}

// The automatic format: free when every name allows, else fixed columns when every
// name fits them; false with ValueError set, naming a name of each, otherwise.
bool choose_format(const ModelRecord& record, WriteOptions& options) {
  const std::optional<std::string> free = unwritable_name(record, false);
  if (!free) return true;
  const std::optional<std::string> fixed = unwritable_name(record, true);
  if (!fixed) {
    options.fixed_columns = true;
    return true;
  }
  set_exception(Error{ErrorKind::Unwritable, *free + ", and " + *fixed + ": nothing written"});
  return false;
}

// An error of the file as open() raises it: the OSError subclass of its number with
// the path as filename; other errors as set_exception sets them.
void set_file_exception(const Error& error, PyObject* path) {
  if (error.kind == ErrorKind::Os && error.os_error != 0) {
    errno = error.os_error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    return;
  }
  set_exception(error);
}

// The path argument as UTF-8 bytes, or nothing with TypeError set.
std::optional<std::string> path_bytes(PyObject* value) {
  PyRef encoded(utf8_argument(value, "path"));
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!encoded || PyBytes_AsStringAndSize(encoded.get(), &data, &size) != 0) return std::nullopt;
  return std::string(data, static_cast<size_t>(size));
}

PyObject* write_model(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return write_call("_write_model", args, kwargs, false);
}

PyObject* write_lp(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return write_call("_write_lp", args, kwargs, true);
}

PyObject* write_bytes(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kBytesParameters.size()> values{};
    if (!bind_arguments("_write_bytes", kBytesParameters, args, kwargs, values)) return nullptr;
    const std::optional<std::string> path = path_bytes(values[0]);
    if (!path) return nullptr;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!PyBytes_Check(values[1]) || PyBytes_AsStringAndSize(values[1], &data, &size) != 0) {
      PyErr_Clear();
      PyErr_SetString(PyExc_TypeError, "argument 'data': expected bytes");
      return nullptr;
    }
    SignalWatch watch(true);
    Status status;
    {
      // The bytes object is immutable and held by the call's arguments.
      ReleasedLock unlocked;
      status = write_bytes_to_file(std::string_view(data, static_cast<size_t>(size)), *path, watch.interruption());
    }
    if (watch.raise_caught()) return nullptr;
    if (!status) {
      set_file_exception(status.error(), values[0]);
      return nullptr;
    }
    Py_RETURN_NONE;
  });
}

}  // namespace

std::optional<WriteOptions> write_options_argument(PyObject* digits, PyObject* gzip) {
  WriteOptions options;
  const long count = PyLong_Check(digits) ? PyLong_AsLong(digits) : -1;
  if (count == -1 && PyErr_Occurred()) PyErr_Clear();
  if (!PyLong_Check(digits) || count < 0 || count > kMaxDigits) {
    PyErr_Format(PyExc_ValueError, "argument 'digits': expected an int from 0 to %d", kMaxDigits);
    return std::nullopt;
  }
  options.digits = static_cast<int>(count);
  const int compress = PyObject_IsTrue(gzip);
  if (compress < 0) return std::nullopt;
  options.gzip = compress != 0;
  return options;
}

PyObject* write_call(const char* function, PyObject* args, PyObject* kwargs, bool lp) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kParameters.size()> values{};
    const std::span<const char* const> parameters(kParameters.data(), lp ? kLpParameters : kParameters.size());
    if (!bind_arguments(function, parameters, args, kwargs, std::span<PyObject*>(values.data(), parameters.size()),
                        1)) {
      return nullptr;
    }
    if (!instance_argument(values[0], model_type(), "Model", "model")) return nullptr;
    std::optional<std::string> path;
    if (values[1] != Py_None) {
      path = path_bytes(values[1]);
      if (!path) return nullptr;
    }
    std::optional<WriteOptions> options = write_options_argument(values[2], values[3]);
    if (!options) return nullptr;
    bool automatic = false;
    if (!lp && !format_argument(values[4], *options, automatic)) return nullptr;
    // A failure here happens before the file is opened: an existing file stays.
    std::optional<ModelRecord> record = record_from_model(values[0]);
    if (!record) return nullptr;
    // Arrays edited into an impossible state are said as such, not as an internal fault.
    if (const std::optional<std::string> wrong = inconsistency(*record)) {
      PyErr_SetString(PyExc_ValueError, wrong->c_str());
      return nullptr;
    }
    if (lp) {
      if (const std::optional<std::string> refused = lp_unwritable_name(*record)) {
        PyErr_SetString(PyExc_ValueError, refused->c_str());
        return nullptr;
      }
    } else if (automatic && !choose_format(*record, *options)) {
      return nullptr;
    }
    SignalWatch watch(true);
    ByteBuffer text;
    Status status;
    {
      ReleasedLock unlocked;
      if (lp) {
        status = path ? write_lp_to_file(*record, *path, *options, watch.interruption())
                      : write_lp_to_buffer(*record, text, *options, watch.interruption());
      } else {
        status = path ? write_mps_to_file(*record, *path, *options, watch.interruption())
                      : write_mps_to_buffer(*record, text, *options, watch.interruption());
      }
      record.reset();
    }
    if (watch.raise_caught()) return nullptr;
    if (!status) {
      set_file_exception(status.error(), values[1]);
      return nullptr;
    }
    if (path) Py_RETURN_NONE;
    PyObject* bytes = PyBytes_FromStringAndSize(text.empty() ? "" : text.data(), static_cast<Py_ssize_t>(text.size()));
    keep_text_buffer(std::move(text));  // the bytes are a copy
    return bytes;
  });
}

PyMethodDef kWriteModelMethod = {
    "_write_model",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_model)),
    METH_VARARGS | METH_KEYWORDS,
    "_write_model(model, *, path, digits, gzip, format)\n--\n\nThe writer with options. Use mopsel.write.",
};

PyMethodDef kWriteLpMethod = {
    "_write_lp",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_lp)),
    METH_VARARGS | METH_KEYWORDS,
    "_write_lp(model, *, path, digits, gzip)\n--\n\nThe LP writer with options. Use mopsel.write.",
};

PyMethodDef kWriteBytesMethod = {
    "_write_bytes",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_bytes)),
    METH_VARARGS | METH_KEYWORDS,
    "_write_bytes(path, data)\n--\n\nWrites bytes as write_file writes text. Use mopsel.write.",
};

}  // namespace mopsel::python
