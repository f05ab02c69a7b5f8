#pragma once
// Errors are values in the core: an operation returns its value or an Error, a
// kind and a message. The Python boundary turns the kind into an exception class
// in one place (python/errors.cpp); the message becomes the exception's text.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "model/finding_code.hpp"

namespace mopsel {

// What failed, as far as a caller has to tell failures apart.
enum class ErrorKind : uint8_t {
  Os,           // a system call failed or could not take its arguments: "{} (os error {})"
  OutOfMemory,  // a buffer could not be allocated: "out of memory"
  Gzip,         // compressed input that is not one complete, valid gzip member
  Load,         // a model file could not be loaded: "Cannot open file: {}", "Read error: {}"
  Parse,        // the text is not a readable MPS model: "Failed to parse MPS file"
  Encoding,     // text that is not valid UTF-8 where a Python str has to be made
  Unwritable,   // a model that MPS text cannot carry as it is (a name with a blank in free format)
  Interrupted,  // the caller's interruption hook asked to stop (interrupt.hpp): "interrupted"
};

inline constexpr std::string_view kOutOfMemory = "out of memory";

inline constexpr uint64_t kNoOffset = std::numeric_limits<uint64_t>::max();

// A failure. It is made from a kind and a message only; the details below are
// filled where they are known: the cause and byte offset by the reader, the line
// by the entry that still holds the text (only when reading failed), the error
// number by the file access.
struct Error {
  Error(ErrorKind error_kind, std::string text) : kind(error_kind), message(std::move(text)) {}

  ErrorKind kind;
  std::string message;           // the fixed text (for example "Failed to parse MPS file")
  FindingCode cause = FindingCode::None;
  std::string reason;            // what was wrong, one line: "unknown row type 'X' in ROWS"
  uint64_t offset = kNoOffset;   // byte offset in the text where reading failed
  uint64_t lineno = 0;           // 1-based line of `offset`; 0 when not known
  std::string line;              // that line, shortened when long
  uint64_t column = 0;           // 1-based byte column of `offset` in its line; 0 when not known
  int os_error = 0;              // the error number of an Os failure (0: none)
};

inline Error out_of_memory() { return {ErrorKind::OutOfMemory, std::string(kOutOfMemory)}; }

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  [[nodiscard]] bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  [[nodiscard]] const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

// Success or an Error, for operations without a value.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit by design
  static Status success() { return {}; }

  [[nodiscard]] bool ok() const noexcept { return !error_.has_value(); }
  explicit operator bool() const noexcept { return ok(); }
  [[nodiscard]] const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

}  // namespace mopsel
