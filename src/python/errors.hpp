#pragma once
// Turning every failure into a Python exception. The conversion of C++
// exceptions (internal faults above all) into Python exceptions happens in
// exactly one place, `guarded`; everything else returns values.
#include <exception>
#include <new>
#include <source_location>
#include <string>
#include <string_view>

#include "model/fault.hpp"
#include "python/python_c.hpp"

namespace mopsel::python {

// The text of an internal fault that carries none of its own.
inline constexpr std::string_view kGenericFault = "native code failed an internal check";

// Returns the class PanicException (a borrowed reference, created on first use,
// never released), or null with a Python error set. Needs the lock.
PyObject* panic_exception_type() noexcept;

// Writes the fault and where it happened to standard error, then sets
// PanicException(message), replacing any error already set. Needs the lock.
void raise_panic(std::string_view message, const std::source_location& where) noexcept;

// Takes the Python error currently set (clearing it) and raises an internal
// fault "{context}: {type}: {text}" from it. Needs the lock.
[[noreturn]] void fault_from_python_error(
    std::string_view context, std::source_location where = std::source_location::current());

// Set ValueError / OSError with one str argument, the message (bytes that are
// not UTF-8 are replaced). Need the lock.
void set_value_error(std::string_view message) noexcept;
void set_os_error(std::string_view message) noexcept;

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
