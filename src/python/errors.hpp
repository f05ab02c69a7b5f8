#pragma once
// Turning every failure into a Python exception, each kind in one place: core
// failures (Error values) in `set_exception`, C++ exceptions (internal faults
// above all) in `guarded`.
#include <exception>
#include <new>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "model/fault.hpp"
#include "model/result.hpp"
#include "python/python_c.hpp"

namespace mopsel::python {

// The text of an internal fault that carries none of its own.
inline constexpr std::string_view kGenericFault = "native code failed an internal check";

// Returns the class PanicException (a borrowed reference, created on first use,
// never released), or null with a Python error set. Needs the lock.
PyObject* panic_exception_type() noexcept;

// The private module function `_panic_exception()`: returns the class
// PanicException (made on first use), so that the package can export it before
// any fault has been raised.
extern PyMethodDef kPanicExceptionMethod;

// Writes the fault and where it happened to standard error, then sets
// PanicException(message), replacing any error already set. Needs the lock.
void raise_panic(std::string_view message, const std::source_location& where) noexcept;

// Takes the Python error currently set (clearing it) and raises an internal
// fault "{context}: {type}: {text}" from it. Needs the lock.
[[noreturn]] void fault_from_python_error(
    std::string_view context, std::source_location where = std::source_location::current());

// Sets the Python exception of a core failure: its class follows the error's
// kind (OSError for Os, MemoryError for OutOfMemory, ValueError for input that
// cannot be loaded, read or decoded, KeyboardInterrupt for Interrupted), its one
// str argument is the message (bytes that are not UTF-8 are replaced). Needs the
// lock.
void set_exception(const Error& error) noexcept;

// The notes that say where and why reading failed (none when the error has no
// details): "{path}:{lineno}: {reason}" ("line {lineno}: {reason}" without a path)
// and the line itself, or "{path}: {reason}" for a file that could not be loaded.
std::vector<std::string> failure_notes(const Error& error, std::string_view path);

// Adds `notes` to the exception currently set (PEP 678: add_note from Python 3.11
// on, the list __notes__ set by hand before). A note that cannot be added is left
// out; the exception stays as it was. Needs the lock.
void add_notes(const std::vector<std::string>& notes) noexcept;

// A str of UTF-8 text whose invalid bytes are kept as \xNN escapes (new reference,
// or null with an error set).
PyObject* escaped_text(std::string_view text) noexcept;

// Runs the body of a module function or type slot and returns its result. A C++
// exception escaping the body becomes a Python exception here and only here:
// InternalFault -> PanicException, std::bad_alloc -> MemoryError, anything else
// -> PanicException with its text. The body must be entered and left with the
// lock held (ReleasedLock scopes inside it take it back while unwinding).
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const InternalFault& fault) {
    raise_panic(fault.message().empty() ? kGenericFault : std::string_view(fault.message()),
                fault.where());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    const std::string_view text = error.what();
    raise_panic(text.empty() ? kGenericFault : text, std::source_location::current());
  } catch (...) {
    raise_panic(kGenericFault, std::source_location::current());
  }
  return nullptr;
}

}  // namespace mopsel::python
