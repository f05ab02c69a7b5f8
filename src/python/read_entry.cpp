#include "python/read_entry.hpp"

#include <array>
#include <cerrno>
#include <optional>
#include <span>
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
#include "lp/read_lp.hpp"
#include "reader/read_mps.hpp"
#include "source/load_source.hpp"
#include "platform/text_buffer.hpp"

namespace mopsel::python {
namespace {

// Every entry takes path, text, name and gzip first, all keyword-only; the MPS entries
// add "format"; _read and _read_lp add "strict", _read then the reading rules, _check and
// _check_lp "limit".
constexpr std::array<const char*, 9> kReadParameters = {"path",   "text", "name",     "gzip",     "format",
                                                        "strict", "sets", "repeated", "free_rows"};
constexpr std::array<const char*, 6> kCheckParameters = {"path", "text", "name", "gzip", "format", "limit"};
constexpr std::array<const char*, 5> kReadLpParameters = {"path", "text", "name", "gzip", "strict"};
constexpr std::array<const char*, 5> kCheckLpParameters = {"path", "text", "name", "gzip", "limit"};

// What to read and how, from the arguments both entries share.
struct Request {
  std::string_view source;  // the path or the text (a view into the bytes argument)
  bool from_path = false;
  bool gzip = false;
  PyObject* name = nullptr;  // borrowed: str or None, the name failures carry
  ReadOptions options;
  bool lp = false;  // LP text (options.strict and options.collect apply; format does not)
};

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

bool truth(PyObject* value, bool& out) noexcept {
  const int result = PyObject_IsTrue(value);
  if (result < 0) return false;
  out = result != 0;
  return true;
}

// Fills `request` from path, text, name and gzip (the first four values), and for
// MPS text from format (the fifth); false with TypeError or ValueError set.
bool bind_request(const char* function, std::span<PyObject* const> v, Request& request) {
  request.from_path = v[0] != Py_None;
  if (request.from_path == (v[1] != Py_None)) {
    PyErr_Format(PyExc_TypeError, "%s() takes exactly one of path and text", function);
    return false;
  }
  const std::optional<std::string_view> source =
      bytes_of(request.from_path ? v[0] : v[1], request.from_path ? "path" : "text");
  if (!source) return false;
  request.source = *source;
  if (v[2] != Py_None && !PyUnicode_Check(v[2])) {
    PyErr_SetString(PyExc_TypeError, "argument 'name': expected str or None");
    return false;
  }
  request.name = v[2];
  if (!truth(v[3], request.gzip)) return false;
  if (request.lp) return true;
  const long format = PyLong_AsLong(v[4]);
  if (format == -1 && PyErr_Occurred()) return false;
  if (format < 0 || format > 2) {
    PyErr_Format(PyExc_ValueError, "%s(): format must be 0 (free), 1 (fixed) or 2 (auto)", function);
    return false;
  }
  request.options.format = static_cast<Format>(format);
  return true;
}

// What reading gave: a failure to load the file, the model (or its failure) and what
// the read passed over, or the findings.
struct Outcome {
  std::optional<Error> load_failure;
  std::optional<Result<ModelRecord>> record;
  ReadNotices notices;
  std::optional<CheckReport> report;
};

// A keyword value that must be one of the two texts `a` (false) and `b` (true); false
// with ValueError set otherwise.
bool choice(PyObject* value, const char* parameter, const char* a, const char* b, bool& out) {
  if (PyUnicode_Check(value)) {
    for (const bool second : {false, true}) {
      if (PyUnicode_CompareWithASCIIString(value, second ? b : a) == 0) {
        out = second;
        return true;
      }
    }
  }
  PyErr_Format(PyExc_ValueError, "%s: expected '%s' or '%s', got %R", parameter, a, b, value);
  return false;
}

// Sets the reading rules from "sets", "repeated" and "free_rows"; false with ValueError set.
bool bind_rules(std::span<PyObject* const> v, ReadOptions& options) {
  bool first_set = false;
  bool first_bound = false;
  if (!choice(v[0], "sets", "all", "first", first_set) || !choice(v[1], "repeated", "last", "first", first_bound) ||
      !choice(v[2], "free_rows", "drop", "keep", options.keep_free_rows)) {
    return false;
  }
  options.sets = first_set ? Sets::First : Sets::All;
  options.repeated = first_bound ? Repeated::First : Repeated::Last;
  return true;
}

// The list of (code, count, lineno, first) of what a read passed over; new reference.
PyObject* notices_list(const ReadNotices& notices) {
  PyRef list(PyList_New(0));
  if (!list) return nullptr;
  for (const ReadNotice& notice : notices) {
    const std::string_view code = finding_name(notice.code);
    PyRef first(escaped_text(notice.first));
    if (!first) return nullptr;
    PyRef item(Py_BuildValue("(s#KKO)", code.data(), static_cast<Py_ssize_t>(code.size()),
                             static_cast<unsigned long long>(notice.count),
                             static_cast<unsigned long long>(notice.lineno), first.get()));
    if (!item || PyList_Append(list.get(), item.get()) != 0) return nullptr;
  }
  return list.release();
}

// Loads and reads (or checks) without the lock; nullopt with the exception of a
// caught signal set.
std::optional<Outcome> run(const Request& request) {
  // The path is copied so that it can be used without the lock; a bytes text is
  // immutable and held by the call's arguments, so it is read in place.
  const std::string path = request.from_path ? std::string(request.source) : std::string();
  const ReadOptions& options = request.options;
  Outcome outcome;
  SignalWatch watch(true);
  {
    ReleasedLock unlocked;
    std::optional<Result<ByteBuffer>> loaded;
    std::string_view text = request.source;
    if (request.from_path && request.gzip && options.default_reader() && !request.lp) {
      // The default read of gzip text may read it while it is inflated.
      outcome.record.emplace(read_mps_file(path, true, options, watch.interruption(), &outcome.notices));
    } else if (request.from_path) {
      loaded.emplace(load_source(path, request.gzip, watch.interruption()));
      if (loaded->ok()) {
        text = loaded->value().empty() ? std::string_view() : as_view(loaded->value());
      } else {
        outcome.load_failure.emplace(loaded->error());
      }
    }
    if (!outcome.load_failure && !outcome.record && request.lp) {
      if (options.collect) {
        outcome.report.emplace(check_lp(text, options.limit, ReaderLimits{}, watch.interruption()));
      } else {
        outcome.record.emplace(read_lp(text, LpReadOptions{options.strict}, ReaderLimits{}, watch.interruption()));
      }
    } else if (!outcome.load_failure && !outcome.record) {
      if (options.collect) {
        outcome.report.emplace(check_mps(text, options, ReaderLimits{}, watch.interruption()));
      } else {
        outcome.record.emplace(read_mps(text, options, ReaderLimits{}, watch.interruption(), &outcome.notices));
      }
    }
    // Neither the model nor the findings hold a view into the text.
    if (loaded && loaded->ok()) keep_text_buffer(std::move(loaded->value()));
  }  // the loaded text is released here, before the lock is taken back
  if (watch.raise_caught()) return std::nullopt;
  return outcome;
}

// New reference to an int, or to None for 0 (a line number that is not known).
PyObject* lineno_object(uint64_t lineno) noexcept {
  if (lineno == 0) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(lineno);
}

// Raises mopsel.MpsError(reason, path=name, lineno=..., line=..., code=...), the
// package's class, made by its own constructor (which adds the note with the line);
// for LP text mopsel.LpError with the column too.
void raise_read_error(const Error& error, std::string_view code, PyObject* name, bool lp) {
  std::string reason = error.reason.empty() ? error.message : error.reason;
  if (error.cause == FindingCode::CompressedData) reason.insert(0, "gzip data cannot be decompressed: ");
  PyRef errors(PyImport_ImportModule("mopsel._errors"));
  if (!errors) return;
  PyRef type(PyObject_GetAttrString(errors.get(), lp ? "LpError" : "MpsError"));
  PyRef reason_text(escaped_text(reason));
  PyRef number(lineno_object(error.lineno));
  PyRef line;
  if (error.lineno == 0) {
    Py_INCREF(Py_None);  // Py_NewRef is not in the 3.9 limited API
    line.reset(Py_None);
  } else {
    line.reset(escaped_text(error.line));
  }
  if (!type || !reason_text || !number || !line) return;
  PyRef positional(PyTuple_Pack(1, reason_text.get()));
  PyRef keywords(Py_BuildValue("{s:O,s:O,s:O,s:s#}", "path", name, "lineno", number.get(), "line", line.get(),
                               "code", code.data(), static_cast<Py_ssize_t>(code.size())));
  if (!positional || !keywords) return;
  if (lp) {
    PyRef column(error.column == 0 ? lineno_object(0) : PyLong_FromUnsignedLongLong(error.column));
    if (!column || PyDict_SetItemString(keywords.get(), "column", column.get()) != 0) return;
  }
  PyRef exception(PyObject_Call(type.get(), positional.get(), keywords.get()));
  if (exception) PyErr_SetObject(type.get(), exception.get());
}

// Sets the exception of a failed load or read and returns null: MemoryError when
// memory ran out, the OSError subclass of its errno (filename: `name`) for a
// system error, mopsel.MpsError (LpError for LP text) otherwise.
PyObject* raise_failure(const Error& error, PyObject* name, bool lp) {
  if (error.reason == kOutOfMemory || error.kind == ErrorKind::OutOfMemory) return PyErr_NoMemory();
  if (error.os_error != 0) {
    errno = error.os_error;
    return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name);
  }
  raise_read_error(error, error.cause == FindingCode::None ? "read-error" : finding_name(error.cause), name, lp);
  return nullptr;
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

// The body of _read and _read_lp: "strict" follows the source arguments (and the MPS
// format); _read then takes the reading rules and returns the model with what the read
// passed over.
template <size_t N>
PyObject* read_call(const char* function, const std::array<const char*, N>& parameters, bool lp, PyObject* args,
                    PyObject* kwargs) {
  std::array<PyObject*, N> v{};
  if (!bind_arguments(function, parameters, args, kwargs, v, 0)) return nullptr;
  Request request;
  request.lp = lp;
  const size_t strict = lp ? 4 : 5;
  if (!bind_request(function, v, request) || !truth(v[strict], request.options.strict)) return nullptr;
  if (!lp && !bind_rules(std::span<PyObject* const>(v).subspan(strict + 1), request.options)) return nullptr;
  if (!import_numpy_api()) return nullptr;  // Ctrl-C during the import raises as itself
  std::optional<Outcome> outcome = run(request);
  if (!outcome) return nullptr;
  if (outcome->load_failure) return raise_failure(*outcome->load_failure, request.name, request.lp);
  if (!outcome->record->ok()) return raise_failure(outcome->record->error(), request.name, request.lp);
  if (lp) return wrap_model(std::move(*outcome->record).value());
  PyRef notices(notices_list(outcome->notices));
  if (!notices) return nullptr;
  PyRef model(wrap_model(std::move(*outcome->record).value()));
  if (!model) return nullptr;
  return PyTuple_Pack(2, model.get(), notices.get());
}

// The body of _check and _check_lp: the parameters end with "limit".
template <size_t N>
PyObject* check_call(const char* function, const std::array<const char*, N>& parameters, bool lp, PyObject* args,
                     PyObject* kwargs) {
  std::array<PyObject*, N> v{};
  if (!bind_arguments(function, parameters, args, kwargs, v, 0)) return nullptr;
  Request request;
  request.lp = lp;
  if (!bind_request(function, v, request)) return nullptr;
  const size_t limit = PyLong_AsSize_t(v[N - 1]);
  if (limit == static_cast<size_t>(-1) && PyErr_Occurred()) return nullptr;
  request.options.collect = true;
  request.options.limit = limit;
  std::optional<Outcome> outcome = run(request);
  if (!outcome) return nullptr;
  if (outcome->load_failure) return raise_failure(*outcome->load_failure, request.name, request.lp);
  return findings_tuple(*outcome->report, limit);
}

PyObject* read_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return read_call("_read", kReadParameters, false, args, kwargs); });
}

PyObject* check_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return check_call("_check", kCheckParameters, false, args, kwargs); });
}

PyObject* read_lp_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return read_call("_read_lp", kReadLpParameters, true, args, kwargs); });
}

PyObject* check_lp_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return check_call("_check_lp", kCheckLpParameters, true, args, kwargs); });
}

}  // namespace

PyMethodDef kReadMethod = {
    "_read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_entry)), METH_VARARGS | METH_KEYWORDS,
    "_read(*, path, text, name, gzip, format, strict, sets, repeated, free_rows)\n--\n\n"};

PyMethodDef kCheckMethod = {
    "_check", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_entry)), METH_VARARGS | METH_KEYWORDS,
    "_check(*, path, text, name, gzip, format, limit)\n--\n\n"};

PyMethodDef kReadLpMethod = {
    "_read_lp", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_lp_entry)),
    METH_VARARGS | METH_KEYWORDS, "_read_lp(*, path, text, name, gzip, strict)\n--\n\n"};

PyMethodDef kCheckLpMethod = {
    "_check_lp", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_lp_entry)),
    METH_VARARGS | METH_KEYWORDS, "_check_lp(*, path, text, name, gzip, limit)\n--\n\n"};

}  // namespace mopsel::python
