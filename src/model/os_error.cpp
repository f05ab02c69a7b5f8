#include "model/os_error.hpp"

#include <cstring>

namespace mopsel {
namespace {

// strerror_r comes in two flavours: GNU returns the text, XSI fills the buffer.
[[maybe_unused]] const char* strerror_text(const char* gnu_result, const char*) { return gnu_result; }
[[maybe_unused]] const char* strerror_text(int xsi_result, const char* buffer) {
  return xsi_result == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string os_error_text(int error_number) {
  char buffer[256] = {};
  std::string message(strerror_text(strerror_r(error_number, buffer, sizeof buffer), buffer));
  message += " (os error ";
  message += std::to_string(error_number);
  message += ')';
  return message;
}

}  // namespace mopsel
