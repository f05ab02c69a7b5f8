#include "python/write_model.hpp"

#include <array>
#include <optional>
#include <string>
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

namespace mopsel::python {
namespace {

constexpr std::array<const char*, 4> kParameters = {"model", "path", "digits", "gzip"};

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

namespace {

PyObject* write_model(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return write_call("_write_model", args, kwargs, false);
}

PyObject* write_lp(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return write_call("_write_lp", args, kwargs, true);
}

}  // namespace

PyObject* write_call(const char* function, PyObject* args, PyObject* kwargs, bool lp) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kParameters.size()> values{};
    if (!bind_arguments(function, kParameters, args, kwargs, values, 1)) return nullptr;
    if (!instance_argument(values[0], model_type(), "Model", "model")) return nullptr;
    std::optional<std::string> path;
    if (values[1] != Py_None) {
      PyRef encoded(utf8_argument(values[1], "path"));
      char* data = nullptr;
      Py_ssize_t size = 0;
      if (!encoded || PyBytes_AsStringAndSize(encoded.get(), &data, &size) != 0) return nullptr;
      path.emplace(data, static_cast<size_t>(size));
    }
    const std::optional<WriteOptions> options = write_options_argument(values[2], values[3]);
    if (!options) return nullptr;
    // A failure here happens before the file is opened: an existing file stays.
    std::optional<ModelRecord> record = record_from_model(values[0]);
    if (!record) return nullptr;
    if (lp) {
      if (const std::optional<std::string> refused = lp_unwritable_name(*record)) {
        PyErr_SetString(PyExc_ValueError, refused->c_str());
        return nullptr;
      }
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
    if (set_call_exception(status, watch)) return nullptr;
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
    "_write_model(model, *, path, digits, gzip)\n--\n\nThe writer with options. Use mopsel.write.",
};

PyMethodDef kWriteLpMethod = {
    "_write_lp",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_lp)),
    METH_VARARGS | METH_KEYWORDS,
    "_write_lp(model, *, path, digits, gzip)\n--\n\nThe LP writer with options. Use mopsel.write.",
};

}  // namespace mopsel::python
