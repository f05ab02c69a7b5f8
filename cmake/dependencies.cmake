# The libraries the core builds on. Each is found here or the configuration stops
# with one line naming the package to install, rather than a compiler error deep
# in the build.

function(mopsel_require_package found what packages)
  if(NOT ${found})
    # The leading space marks the text as preformatted: CMake prints it unwrapped.
    message(FATAL_ERROR " mopsel needs ${what}: install ${packages}")
  endif()
endfunction()

# gzip input: zlib's raw inflate.
find_package(ZLIB QUIET)
mopsel_require_package(ZLIB_FOUND "the zlib headers and library"
  "zlib1g-dev (Debian, Ubuntu), zlib-devel (Fedora) or zlib (Homebrew, conda-forge)")

# Inflating gzip input: ISA-L's inflate (about three times zlib's speed here, its CRC
# included) when its headers and library are found, zlib's otherwise. Off: always zlib
# (the sanitizer build uses that, so that both inflaters are tested).
option(MOPSEL_ISAL "Inflate gzip input with ISA-L when it is installed (libisal-dev)" ON)
if(MOPSEL_ISAL)
  find_path(MOPSEL_ISAL_INCLUDE_DIR isa-l/igzip_lib.h)
  find_library(MOPSEL_ISAL_LIBRARY isal)
endif()
if(MOPSEL_ISAL AND MOPSEL_ISAL_INCLUDE_DIR AND MOPSEL_ISAL_LIBRARY)
  set(MOPSEL_INFLATER ISA-L)
else()
  set(MOPSEL_INFLATER zlib)
endif()
message(STATUS "mopsel: gzip inflated by ${MOPSEL_INFLATER}")

# Links the inflater into `target` (the source library).
function(mopsel_link_inflater target)
  if(MOPSEL_INFLATER STREQUAL "ISA-L")
    target_include_directories(${target} PRIVATE ${MOPSEL_ISAL_INCLUDE_DIR})
    target_link_libraries(${target} PRIVATE ${MOPSEL_ISAL_LIBRARY})
    target_compile_definitions(${target} PRIVATE MOPSEL_ISAL=1)
  endif()
endfunction()

# Decimal text to double, for the fields the reader's inline paths leave over:
# the C++ library's std::from_chars for double (libstdc++ from GCC 11 on), or the
# fast_float headers where the library lacks it (older libc++, as on macOS). Both
# give the same, correctly rounded bits; on the benchmark models neither is ever
# reached, and on numbers of 17 digits they run at the same speed.
option(MOPSEL_PREFER_FAST_FLOAT
  "Convert decimals with fast_float when its headers are found, even where std::from_chars would do" OFF)
include(CheckCXXSourceCompiles)
check_cxx_source_compiles([[
  #include <charconv>
  int main(int argc, char** argv) {
    double value = 0;
    const char* text = argv[argc - 1];
    return std::from_chars(text, text + 1, value).ptr == text;
  }]] MOPSEL_HAVE_FROM_CHARS_DOUBLE)
if(MOPSEL_PREFER_FAST_FLOAT OR NOT MOPSEL_HAVE_FROM_CHARS_DOUBLE)
  find_package(FastFloat QUIET)
endif()
if(FastFloat_FOUND)
  set(MOPSEL_DECIMAL_CONVERSION fast_float)
else()
  mopsel_require_package(MOPSEL_HAVE_FROM_CHARS_DOUBLE
    "the fast_float headers (this C++ library has no std::from_chars for double)"
    "libfast-float-dev (Debian, Ubuntu) or fast_float (Homebrew, conda-forge)")
  set(MOPSEL_DECIMAL_CONVERSION std::from_chars)
endif()
message(STATUS "mopsel: decimals converted by ${MOPSEL_DECIMAL_CONVERSION}")

# Links the decimal conversion into `target` (the reader's library).
function(mopsel_link_decimal_conversion target)
  if(MOPSEL_DECIMAL_CONVERSION STREQUAL "fast_float")
    target_link_libraries(${target} PRIVATE FastFloat::fast_float)
    target_compile_definitions(${target} PRIVATE MOPSEL_FAST_FLOAT=1)
  endif()
endfunction()
