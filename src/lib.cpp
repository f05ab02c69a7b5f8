// The module mopsel._mopsel: initialisation and the four entry functions.
//
// Each function binds and converts its arguments, hands the work to the core
// (read_mps_file, read_mps, record_from_model, the writer), releases the
// interpreter lock around the pure C++ parts, and turns every failure into a
// Python exception: core errors with `set_exception`, C++ exceptions in `guarded`.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "model/model_record.hpp"
#include "python/arguments.hpp"
#include "python/array_borrows.hpp"
#include "python/errors.hpp"
#include "python/gil.hpp"
#include "python/model_from_arrays.hpp"
#include "python/model_object.hpp"
#include "python/model_parts.hpp"
#include "python/name_index.hpp"
#include "python/numpy_c.hpp"
#include "python/python_c.hpp"
#include "python/read_entry.hpp"
#include "python/record_from_model.hpp"
#include "python/signal_watch.hpp"
#include "python/utf8_error.hpp"
#include "python/write_model.hpp"
#include "reader/names/name_seed.hpp"
#include "platform/reading_threads.hpp"
#include "reader/read_mps.hpp"
#include "gzip/gzip_stream.hpp"
#include "source/load_source.hpp"
#include "platform/text_buffer.hpp"
#include "writer/mps_writer.hpp"

namespace mopsel::python {
namespace {

constexpr std::array<const char*, 1> kPathParameters = {"path"};
constexpr std::array<const char*, 1> kContentParameters = {"content"};
constexpr std::array<const char*, 2> kWriteFileParameters = {"model", "path"};
constexpr std::array<const char*, 1> kModelParameters = {"model"};

// The bytes of a bytes object (valid while the object lives).
std::string_view bytes_view(PyObject* bytes) noexcept {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) return {};
  return {data, static_cast<size_t>(size)};
}

// The UTF-8 path of a `path` argument, copied so that it can be used without the
// lock. None with the conversion's exception set.
std::optional<std::string> path_argument(PyObject* value) {
  PyRef encoded(utf8_argument(value, "path"));
  if (!encoded) return std::nullopt;
  return std::string(bytes_view(encoded.get()));
}

bool model_argument(PyObject* value) noexcept {
  return instance_argument(value, model_type(), "Model", "model");
}

// The Model of a successful read; otherwise the exception of the failure: a
// signal handler's, or the core's with notes saying where and why (the path is
// empty for parse_str).
PyObject* model_or_error(Result<ModelRecord>&& outcome, std::string_view path, SignalWatch& watch) {
  if (watch.raise_caught()) return nullptr;
  if (!outcome) {
    set_exception(outcome.error());
    add_notes(failure_notes(outcome.error(), path));
    return nullptr;
  }
  return wrap_model(std::move(outcome).value());
}

PyObject* parse_file(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> values{};
    if (!bind_arguments("parse_file", kPathParameters, args, kwargs, values)) return nullptr;
    std::optional<std::string> path = path_argument(values[0]);
    if (!path) return nullptr;
    // NumPy is imported before the work, so that Ctrl-C during the import
    // raises as itself and costs no read.
    if (!import_numpy_api()) return nullptr;
    SignalWatch watch(true);
    // Loading, reading and releasing the loaded text all happen without the lock.
    Result<ModelRecord> outcome = [&] {
      ReleasedLock unlocked;
      return read_mps_file(*path, watch.interruption());
    }();
    return model_or_error(std::move(outcome), *path, watch);
  });
}

PyObject* parse_str(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> values{};
    if (!bind_arguments("parse_str", kContentParameters, args, kwargs, values)) return nullptr;
    // The encoded bytes object is the call's private copy of the text; the
    // reader runs on it with the lock held.
    PyRef text(utf8_argument(values[0], "content"));
    if (!text) return nullptr;
    if (!import_numpy_api()) return nullptr;
    SignalWatch watch(false);
    Result<ModelRecord> outcome = read_mps(bytes_view(text.get()), watch.interruption());
    text.reset();
    return model_or_error(std::move(outcome), {}, watch);
  });
}

PyObject* write_file(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> values{};
    if (!bind_arguments("write_file", kWriteFileParameters, args, kwargs, values)) return nullptr;
    if (!model_argument(values[0])) return nullptr;
    std::optional<std::string> path = path_argument(values[1]);
    if (!path) return nullptr;
    // A failure here happens before the file is opened: an existing file stays.
    std::optional<ModelRecord> record = record_from_model(values[0]);
    if (!record) return nullptr;
    SignalWatch watch(true);
    Status status;
    {
      ReleasedLock unlocked;
      // A path that reading takes for gzip gets gzip, so mopsel reads its own output.
      status = write_mps_to_file(*record, *path, {.gzip = names_gzip(*path)}, watch.interruption());
      record.reset();
    }
    if (set_call_exception(status, watch)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject* write_str(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> values{};
    if (!bind_arguments("write_str", kModelParameters, args, kwargs, values)) return nullptr;
    if (!model_argument(values[0])) return nullptr;
    std::optional<ModelRecord> record = record_from_model(values[0]);
    if (!record) return nullptr;
    SignalWatch watch(true);
    ByteBuffer text;
    Status status;
    {
      ReleasedLock unlocked;
      status = write_mps_to_buffer(*record, text, {}, watch.interruption());
      record.reset();
    }
    if (set_call_exception(status, watch)) return nullptr;
    // Decoding cannot be interrupted (one CPython call, about a second per GB):
    // a signal that came during the last poll interval is raised before it.
    if (PyErr_CheckSignals() != 0) return nullptr;
    const std::string_view bytes = text.empty() ? std::string_view() : as_view(text);
    PyObject* result = PyUnicode_DecodeUTF8(bytes.empty() ? "" : bytes.data(),
                                            static_cast<Py_ssize_t>(bytes.size()), "strict");
    if (result != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
      keep_text_buffer(std::move(text));  // the str is a copy
      return result;
    }
    PyErr_Clear();
    const std::optional<Utf8Problem> problem = first_utf8_problem(bytes);
    set_exception(
        Error{ErrorKind::Encoding, problem ? describe_utf8_problem(*problem) : std::string("invalid utf-8")});
    return nullptr;
  });
}

// For tests only, not in __all__: _fix_name_seed(value) makes the name maps of
// later reads take the fixed seed made from the integer `value` (0 to 2**64-1),
// so that a test can prepare names that collide; None returns to a random seed.
PyObject* fix_name_seed(PyObject*, PyObject* value) noexcept {
  return guarded([&]() -> PyObject* {
    if (value == Py_None) {
      use_fixed_name_seed(std::nullopt);
      Py_RETURN_NONE;
    }
    const unsigned long long seed = PyLong_AsUnsignedLongLong(value);
    if (seed == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
    use_fixed_name_seed(seed);
    Py_RETURN_NONE;
  });
}

PyMethodDef g_fix_name_seed = {"_fix_name_seed", fix_name_seed, METH_O, nullptr};

// For tests only, not in __all__: _use_reading_threads((threads, min_size, piece_bytes
// [, load_min_bytes])) makes later reads use `threads` threads and take every threaded
// path of the reader from min_size on (COLUMNS, RHS and BOUNDS text in bytes, cut into
// pieces of piece_bytes, 0: the usual size; ROWS lines entered by threads; columns for
// the column maps of BOUNDS; 0 takes every path for any text), so that small models
// take them, and load plain files of at least load_min_bytes (default: the usual size)
// in parts on those threads; None returns to the usual plan.
PyObject* use_reading_threads(PyObject*, PyObject* value) noexcept {
  return guarded([&]() -> PyObject* {
    if (value == Py_None) {
      use_thread_plan_for_tests(std::nullopt);
      Py_RETURN_NONE;
    }
    if (!PyTuple_Check(value)) {
      PyErr_SetString(PyExc_TypeError, "expected a tuple (threads, min_size, piece_bytes[, load_min_bytes]) or None");
      return nullptr;
    }
    unsigned int threads = 0;
    unsigned long long min_size = 0;
    unsigned long long piece_bytes = 0;
    unsigned long long load_min_bytes = ThreadPlan{}.load_min_bytes;
    if (!PyArg_ParseTuple(value, "IKK|K", &threads, &min_size, &piece_bytes, &load_min_bytes)) return nullptr;
    ThreadPlan plan = plan_taking_every_path(threads, static_cast<size_t>(piece_bytes));
    if (min_size != 0) {
      const auto from = static_cast<size_t>(min_size);
      plan.min_bytes = plan.records_min_bytes = plan.shared_rows_min = from;
      plan.named_columns_min = plan.shared_map_min = from;
      plan.named_columns_per_byte = kNamedColumnsPerByte;
    }
    plan.load_min_bytes = static_cast<size_t>(load_min_bytes);
    use_thread_plan_for_tests(plan);
    Py_RETURN_NONE;
  });
}

PyMethodDef g_use_reading_threads = {"_use_reading_threads", use_reading_threads, METH_O, nullptr};

// For tests only, not in __all__: _use_gzip_stream((min_bytes, max_bytes, piece_bytes))
// makes later reads of gzip texts from min_bytes to max_bytes long read them while
// they are inflated, published in pieces of piece_bytes; None returns to the usual plan.
// Returns how many texts the process has read so far while they were inflated.
PyObject* use_gzip_stream(PyObject*, PyObject* value) noexcept {
  return guarded([&]() -> PyObject* {
    const unsigned long long streamed = gzip_texts_streamed();
    if (value == Py_None) {
      use_gzip_stream_plan_for_tests(nullptr);
      return PyLong_FromUnsignedLongLong(streamed);
    }
    unsigned long long min_bytes = 0;
    unsigned long long max_bytes = 0;
    unsigned long long piece_bytes = 0;
    if (!PyTuple_Check(value) || !PyArg_ParseTuple(value, "KKK", &min_bytes, &max_bytes, &piece_bytes) ||
        piece_bytes == 0) {
      if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "expected a tuple (min_bytes, max_bytes, piece_bytes) or None");
      return nullptr;
    }
    const GzipStreamPlan plan{static_cast<size_t>(min_bytes), static_cast<size_t>(max_bytes),
                              static_cast<size_t>(piece_bytes)};
    use_gzip_stream_plan_for_tests(&plan);
    return PyLong_FromUnsignedLongLong(streamed);
  });
}

PyMethodDef g_use_gzip_stream = {"_use_gzip_stream", use_gzip_stream, METH_O, nullptr};

// Not in __all__: _release_memory() frees the buffer of the last large text, kept for
// the next call (text_buffer.hpp), and returns its size in bytes (0 when none was
// kept); mopsel.release_memory() is the package's door to it.
PyObject* release_memory(PyObject*, PyObject*) noexcept {
  return guarded([&]() -> PyObject* {
    size_t released = 0;
    {
      ReleasedLock unlocked;  // unmapping a gigabyte takes a moment
      released = drop_kept_text_buffer();
    }
    return PyLong_FromSize_t(released);
  });
}

PyMethodDef g_release_memory = {
    "_release_memory",
    release_memory,
    METH_NOARGS,
    "_release_memory()\n--\n\nFrees the kept buffer of the last large text; its size in bytes. Use "
    "mopsel.release_memory.",
};

// A tuple-and-keywords function as the untyped pointer PyMethodDef stores.
PyCFunction as_method(PyObject* (*function)(PyObject*, PyObject*, PyObject*) noexcept) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Each documentation string is only the signature and CPython's separator, so
// __text_signature__ is the parameter list and __doc__ is None.
PyMethodDef g_functions[] = {
    {"parse_file", as_method(parse_file), METH_VARARGS | METH_KEYWORDS, "parse_file(path)\n--\n\n"},
    {"parse_str", as_method(parse_str), METH_VARARGS | METH_KEYWORDS, "parse_str(content)\n--\n\n"},
    {"write_file", as_method(write_file), METH_VARARGS | METH_KEYWORDS, "write_file(model, path)\n--\n\n"},
    {"write_str", as_method(write_str), METH_VARARGS | METH_KEYWORDS, "write_str(model)\n--\n\n"},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_mopsel",  // imported as mopsel._mopsel
    "",         // empty docstring
    0,          // no per-module state
    nullptr,    // functions are added one by one (add_export) to keep __all__ in order
    nullptr, nullptr, nullptr, nullptr,
};

PyObject* g_module = nullptr;  // the module of this process, once made

// Appends `name` to the module's __all__ (made on first use), then sets the
// attribute. Steals `value` (may be null: the error of making it is then set).
bool add_export(PyObject* module, const char* name, PyObject* value) noexcept {
  PyRef owned(value);
  if (!owned) return false;
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all.reset(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) != 0) return false;
  }
  PyRef key(PyUnicode_FromString(name));
  if (!key || PyList_Append(all.get(), key.get()) != 0) return false;
  return PyObject_SetAttrString(module, name, owned.get()) == 0;
}

// New reference to a type object made on first use, or null with an error set.
PyObject* new_type_reference(PyTypeObject* type) noexcept {
  auto* object = reinterpret_cast<PyObject*>(type);
  Py_XINCREF(object);
  return object;
}

bool populate(PyObject* module) noexcept {
  if (!add_export(module, "CONTINUOUS", PyLong_FromLong(code(IntegralityKind::CONTINUOUS)))) return false;
  if (!add_export(module, "INTEGER", PyLong_FromLong(code(IntegralityKind::INTEGER)))) return false;
  if (!add_export(module, "SEMI_CONTINUOUS", PyLong_FromLong(code(IntegralityKind::SEMI_CONTINUOUS)))) {
    return false;
  }
  if (!add_export(module, "SEMI_INTEGER", PyLong_FromLong(code(IntegralityKind::SEMI_INTEGER)))) return false;
  if (!add_export(module, "Model", new_type_reference(model_type()))) return false;
  if (!add_export(module, "SparseMatrix", new_type_reference(sparse_matrix_type()))) return false;
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (PyMethodDef& function : g_functions) {
    if (!add_export(module, function.ml_name, PyCFunction_NewEx(&function, module, module_name.get()))) {
      return false;
    }
  }
  // Not part of __all__: the borrow registry shared with other native code, and
  // the entry points of the package's own functions (release_memory among them) and
  // the tests' hooks for the name seed and the reading threads.
  // The classes of a Model's parts beyond a linear program, under private names (the
  // module's public names are those of __all__), for the package's isinstance checks.
  PyTypeObject* sos = sos_sets_type();
  PyTypeObject* indicators = indicators_type();
  if (sos == nullptr || indicators == nullptr ||
      PyObject_SetAttrString(module, "_SosSets", reinterpret_cast<PyObject*>(sos)) != 0 ||
      PyObject_SetAttrString(module, "_Indicators", reinterpret_cast<PyObject*>(indicators)) != 0) {
    return false;
  }
  PyRef borrows(array_borrows_capsule());
  if (!borrows || PyObject_SetAttrString(module, "_ARRAY_BORROWS", borrows.get()) != 0) return false;
  for (PyMethodDef* function :
       {&kModelFromArraysMethod, &kWriteModelMethod, &kWriteBytesMethod, &kPanicExceptionMethod, &kReadMethod,
        &kCheckMethod, &kReadLpMethod, &kCheckLpMethod, &kWriteLpMethod, &kNameIndexMethod, &g_fix_name_seed,
        &g_use_reading_threads, &g_use_gzip_stream, &g_release_memory}) {
    PyRef made(PyCFunction_NewEx(function, module, module_name.get()));
    if (!made || PyObject_SetAttrString(module, function->ml_name, made.get()) != 0) return false;
  }
  return true;
}

PyObject* initialise() {
  if (g_module != nullptr) {
    PyErr_SetString(PyExc_ImportError,
                    "mopsel._mopsel may be initialised only once per interpreter process");
    return nullptr;
  }
  PyRef module(PyModule_Create2(&g_module_def, 3));
  if (!module) return nullptr;
  if (!populate(module.get())) return nullptr;
  g_module = module.get();
  Py_INCREF(g_module);  // the process-wide slot keeps its own reference
  return module.release();
}

}  // namespace
}  // namespace mopsel::python

PyMODINIT_FUNC PyInit__mopsel(void) {
  return mopsel::python::guarded([] { return mopsel::python::initialise(); });
}
