#include "python/errors.hpp"

#include <string>

namespace mopsel::python {
namespace {

constexpr const char* kPanicDoc =
    "Raised when native code called from Python fails an internal check.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
    "typically propagates all the way up and makes the interpreter exit.";

PyObject* g_panic_type = nullptr;  // created once under the lock, never released

// New reference to a str made from `text`; bytes that are not UTF-8 are replaced.
PyObject* text_object(std::string_view text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

void set_error(PyObject* type, std::string_view message) noexcept {
  PyRef text(text_object(message));
  if (text) PyErr_SetObject(type, text.get());
}

// The UTF-8 text of a str object; empty when it is none or cannot be encoded.
std::string utf8_of(PyObject* object) {
  if (object == nullptr || !PyUnicode_Check(object)) return {};
  PyRef bytes(PyUnicode_AsUTF8String(object));
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) != 0) {
    PyErr_Clear();
    return {};
  }
  return std::string(data, static_cast<size_t>(size));
}

// "{type}: {str(value)}" of an exception, or a fixed text when it cannot be formed.
std::string describe_exception(PyObject* type, PyObject* value) {
  std::string out;
  if (type != nullptr) {
    PyRef name(PyObject_GetAttrString(type, "__name__"));
    PyErr_Clear();
    const std::string name_text = utf8_of(name.get());
    out += name_text.empty() ? "<unknown exception>" : name_text;
  }
  if (value != nullptr) {
    PyRef text(PyObject_Str(value));
    PyErr_Clear();
    const std::string message = utf8_of(text.get());
    if (!message.empty()) {
      out += ": ";
      out += message;
    }
  }
  return out.empty() ? std::string("no Python error was set") : out;
}

// New reference to the class PanicException, or null with an error set.
PyObject* panic_exception_entry(PyObject*, PyObject*) noexcept {
  PyObject* type = panic_exception_type();
  Py_XINCREF(type);
  return type;
}

}  // namespace

PyMethodDef kPanicExceptionMethod = {
    "_panic_exception",
    panic_exception_entry,
    METH_NOARGS,
    "_panic_exception()\n--\n\nThe class PanicException. Use mopsel.PanicException.",
};

PyObject* panic_exception_type() noexcept {
  if (g_panic_type == nullptr) {
    // Named for the package, which exports it: it prints and pickles as
    // mopsel.PanicException.
    g_panic_type = PyErr_NewExceptionWithDoc("mopsel.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
  }
  return g_panic_type;
}

void raise_panic(std::string_view message, const std::source_location& where) noexcept {
  PyErr_Clear();
  // The path as compiled is absolute; from "src/" on it names the file in the tree.
  std::string_view file = where.file_name();
  if (const size_t tree = file.rfind("/src/"); tree != std::string_view::npos) file.remove_prefix(tree + 1);
  const std::string line = "mopsel: internal fault at " + std::string(file) + ":" +
                           std::to_string(where.line()) + ": " + std::string(message) + "\n";
  // %s takes the text unshortened (PySys_WriteStderr would cut it at 1000 bytes).
  PySys_FormatStderr("%s", line.c_str());
  PyErr_Clear();
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the error of creating the class stays set
  set_error(type, message);
}

void fault_from_python_error(std::string_view context, std::source_location where) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef type_ref(type), value_ref(value), traceback_ref(traceback);
  std::string text(context);
  text += ": ";
  text += describe_exception(type, value);
  raise_fault(std::move(text), where);
}

void set_exception(const Error& error) noexcept {
  PyObject* type = PyExc_ValueError;
  switch (error.kind) {
    case ErrorKind::Os: type = PyExc_OSError; break;
    case ErrorKind::OutOfMemory: type = PyExc_MemoryError; break;
    // Files that cannot be opened or read are ValueError too: parse_file
    // reports every failure to produce a model alike.
    case ErrorKind::Gzip:
    case ErrorKind::Load:
    case ErrorKind::Parse:
    case ErrorKind::Encoding:
    case ErrorKind::Unwritable: type = PyExc_ValueError; break;
    // The hook that stops the core keeps the handler's own exception and raises
    // that; this is for an interruption that brought none.
    case ErrorKind::Interrupted: PyErr_SetNone(PyExc_KeyboardInterrupt); return;
  }
  set_error(type, error.message);
}

std::vector<std::string> failure_notes(const Error& error, std::string_view path) {
  std::vector<std::string> notes;
  if (error.lineno != 0) {
    const std::string number = std::to_string(error.lineno);
    std::string where = path.empty() ? "line " + number : std::string(path) + ":" + number;
    notes.push_back(where + ": " + error.reason);
    notes.push_back("    " + number + " | " + error.line);
  } else if (!error.reason.empty() && !path.empty()) {
    notes.push_back(std::string(path) + ": " + error.reason);
  }
  return notes;
}

PyObject* escaped_text(std::string_view text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
}

void add_notes(const std::vector<std::string>& notes) noexcept {
  if (notes.empty() || !PyErr_Occurred()) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    const bool has_add_note = PyObject_HasAttrString(value, "add_note") != 0;
    for (const std::string& note : notes) {
      PyRef text(escaped_text(note));
      bool added = false;
      if (text && has_add_note) {
        PyRef result(PyObject_CallMethod(value, "add_note", "O", text.get()));
        added = static_cast<bool>(result);
      } else if (text) {
        // Before Python 3.11: the list that add_note would keep.
        PyRef list(PyObject_GetAttrString(value, "__notes__"));
        if (!list) {
          PyErr_Clear();
          list.reset(PyList_New(0));
          if (list && PyObject_SetAttrString(value, "__notes__", list.get()) != 0) list.reset();
        }
        added = list && PyList_Check(list.get()) && PyList_Append(list.get(), text.get()) == 0;
      }
      if (!added) PyErr_Clear();
    }
  }
  PyErr_Restore(type, value, traceback);
}

}  // namespace mopsel::python
