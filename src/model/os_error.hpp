#pragma once
// The "{} (os error {})" text of an operating-system error, shared by the
// loader and the file writer.
#include <string>

namespace mopsel {

// The C library's description of an error number followed by the number, for
// example "No such file or directory (os error 2)".
std::string os_error_text(int error_number);

}  // namespace mopsel
