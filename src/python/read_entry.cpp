#include "python/read_entry.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "model/finding_code.hpp"
#include "model/model_record.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/gil.hpp"
#include "python/model_object.hpp"
#include "python/numpy_c.hpp"
#include "python/signal_watch.hpp"
#include "reader/read_mps.hpp"
#include "source/load_source.hpp"
#include "platform/text_buffer.hpp"

namespace mopsel::python {
namespace {

constexpr std::array<const char*, 7> kParameters = {"path", "text", "gzip", "format", "strict", "collect", "limit"};

// The bytes of a bytes object, or nullopt with TypeError set.
std::optional<std::string_view> bytes_of(PyObject* value, const char* parameter) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!PyBytes_Check(value) || PyBytes_AsStringAndSize(value, &data, &size) != 0) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "argument '%s': expected bytes", parameter);
    return std::nullopt;
  }
  return std::string_view(data, static_cast<size_t>(size));
}

// New reference to an int, or to None for 0 (a line number that is not known).
PyObject* lineno_object(uint64_t lineno) noexcept {
  if (lineno == 0) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(lineno);
}

// New reference to None (Py_NewRef is not in the 3.9 limited API).
PyObject* new_none() noexcept {
  Py_INCREF(Py_None);
  return Py_None;
}

// The failure tuple (see read_entry.hpp); new reference or null with an error set.
PyObject* failure_tuple(const Error& error) {
  if (error.reason == kOutOfMemory || error.kind == ErrorKind::OutOfMemory) return PyErr_NoMemory();
  std::string_view code = finding_name(error.cause);
  if (error.os_error != 0) {
    code = "os-error";
  } else if (error.cause == FindingCode::None) {
    code = "read-error";
  }
  const std::string_view reason = error.reason.empty() ? std::string_view(error.message) : error.reason;
  PyRef line(error.lineno == 0 ? new_none() : escaped_text(error.line));
  PyRef reason_text(escaped_text(reason));
  PyRef message(escaped_text(error.message));
  PyRef number(lineno_object(error.lineno));
  if (!line || !reason_text || !message || !number) return nullptr;
  return Py_BuildValue("(s#OOOiO)", code.data(), static_cast<Py_ssize_t>(code.size()), reason_text.get(),
                       number.get(), line.get(), error.os_error, message.get());
}

PyObject* findings_tuple(const CheckReport& report, size_t limit) {
  PyRef listed(PyList_New(0));
  PyRef omitted(PyList_New(0));
  if (!listed || !omitted) return nullptr;
  for (const Finding& finding : report.findings) {
    const std::string_view code = finding_name(finding.code);
    const std::string_view severity = severity_name(finding_weight(finding.code));
    PyRef number(lineno_object(finding.lineno));
    PyRef message(escaped_text(finding.message));
    if (!number || !message) return nullptr;
    PyRef item(Py_BuildValue("(Os#s#O)", number.get(), severity.data(), static_cast<Py_ssize_t>(severity.size()),
                             code.data(), static_cast<Py_ssize_t>(code.size()), message.get()));
    if (!item || PyList_Append(listed.get(), item.get()) != 0) return nullptr;
  }
  for (size_t i = 0; i < kFindingCodeCount; ++i) {
    const auto code = static_cast<FindingCode>(i);
    const uint64_t count = report.counts[i];
    if (count <= limit) continue;  // all of them are listed
    const std::string_view name = finding_name(code);
    const std::string_view severity = severity_name(finding_weight(code));
    PyRef item(Py_BuildValue("(s#s#K)", name.data(), static_cast<Py_ssize_t>(name.size()), severity.data(),
                             static_cast<Py_ssize_t>(severity.size()),
                             static_cast<unsigned long long>(count - limit)));
    if (!item || PyList_Append(omitted.get(), item.get()) != 0) return nullptr;
  }
  return PyTuple_Pack(2, listed.get(), omitted.get());
}

bool truth(PyObject* value, bool& out) noexcept {
  const int result = PyObject_IsTrue(value);
  if (result < 0) return false;
  out = result != 0;
  return true;
}

PyObject* read_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 7> v{};
    if (!bind_arguments("_read", kParameters, args, kwargs, v)) return nullptr;
    const bool from_path = v[0] != Py_None;
    if (from_path == (v[1] != Py_None)) {
      PyErr_SetString(PyExc_TypeError, "_read() takes exactly one of path and text");
      return nullptr;
    }
    const std::optional<std::string_view> source = bytes_of(from_path ? v[0] : v[1], from_path ? "path" : "text");
    if (!source) return nullptr;
    ReadOptions options;
    bool gzip = false;
    if (!truth(v[2], gzip) || !truth(v[4], options.strict) || !truth(v[5], options.collect)) return nullptr;
    const long format = PyLong_AsLong(v[3]);
    if (format == -1 && PyErr_Occurred()) return nullptr;
    if (format < 0 || format > 2) {
      PyErr_SetString(PyExc_ValueError, "_read(): format must be 0 (free), 1 (fixed) or 2 (auto)");
      return nullptr;
    }
    options.format = static_cast<Format>(format);
    const size_t limit = PyLong_AsSize_t(v[6]);
    if (limit == static_cast<size_t>(-1) && PyErr_Occurred()) return nullptr;
    options.limit = limit;

    if (!import_numpy_api()) return nullptr;  // Ctrl-C during the import raises as itself

    // The path is copied so that it can be used without the lock; a bytes text is
    // immutable and held by the call's arguments, so it is read in place.
    const std::string path = from_path ? std::string(*source) : std::string();
    std::optional<Result<ModelRecord>> record;
    std::optional<CheckReport> report;
    std::optional<Error> load_failure;
    SignalWatch watch(true);
    {
      ReleasedLock unlocked;
      std::optional<Result<ByteBuffer>> loaded;
      std::string_view text = *source;
      if (from_path && gzip && options.is_default()) {
        // The default read of gzip text may read it while it is inflated.
        record.emplace(read_mps_file(path, true, watch.interruption()));
      } else if (from_path) {
        loaded.emplace(load_source(path, gzip, watch.interruption()));
        if (loaded->ok()) {
          text = loaded->value().empty() ? std::string_view() : as_view(loaded->value());
        } else {
          load_failure.emplace(loaded->error());
        }
      }
      if (!load_failure && !record) {
        if (options.collect) {
          report.emplace(check_mps(text, options, ReaderLimits{}, watch.interruption()));
        } else {
          record.emplace(read_mps(text, options, ReaderLimits{}, watch.interruption()));
        }
      }
      // Neither the model nor the findings hold a view into the text.
      if (loaded && loaded->ok()) keep_text_buffer(std::move(loaded->value()));
    }  // the loaded text is released here, before the lock is taken back
    if (watch.raise_caught()) return nullptr;

    PyRef model;
    PyRef failure;
    PyRef findings;
    if (load_failure) {
      failure.reset(failure_tuple(*load_failure));
      if (!failure) return nullptr;
    } else if (report) {
      findings.reset(findings_tuple(*report, options.limit));
      if (!findings) return nullptr;
    } else if (record->ok()) {
      model.reset(wrap_model(std::move(*record).value()));
      if (!model) return nullptr;
    } else {
      failure.reset(failure_tuple(record->error()));
      if (!failure) return nullptr;
    }
    auto or_none = [](PyRef& ref) { return ref ? ref.release() : new_none(); };
    PyRef a(or_none(model)), b(or_none(failure)), c(or_none(findings));
    return PyTuple_Pack(3, a.get(), b.get(), c.get());
  });
}

}  // namespace

PyMethodDef kReadMethod = {
    "_read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_entry)), METH_VARARGS | METH_KEYWORDS,
    "_read(path, text, gzip, format, strict, collect, limit)\n--\n\n"};

}  // namespace mopsel::python
