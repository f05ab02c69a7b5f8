#pragma once
// Errors are values in the core: an operation returns its value or a message.
#include <string>
#include <utility>
#include <variant>

namespace mopsel {

struct Error {
  std::string message;
};

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
  [[nodiscard]] const std::string& error() const { return std::get<1>(state_).message; }

 private:
  std::variant<T, Error> state_;
};

// Success or a message, for operations without a value.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : failed_(true), message_(std::move(error.message)) {}  // NOLINT
  static Status success() { return {}; }

  [[nodiscard]] bool ok() const noexcept { return !failed_; }
  explicit operator bool() const noexcept { return ok(); }
  [[nodiscard]] const std::string& error() const noexcept { return message_; }

 private:
  bool failed_ = false;
  std::string message_;
};

}  // namespace mopsel
