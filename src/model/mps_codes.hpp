#pragma once
// The codes of the MPS format that the reader and the writer share: row types,
// bound types and the integer markers of COLUMNS. One definition each, so that
// the two sides cannot drift apart.
#include <cstdint>
#include <iterator>
#include <string_view>

namespace mopsel {

// Row types of the ROWS section; each indexes its letter in kRowTypeLetters.
enum class RowType : uint8_t { N, L, G, E };

inline constexpr char kRowTypeLetters[] = {'N', 'L', 'G', 'E'};

inline constexpr char row_type_letter(RowType type) noexcept {
  return kRowTypeLetters[static_cast<uint8_t>(type)];
}

// Bound types of the BOUNDS section; each indexes its code in kBoundTypeCodes.
enum class BoundType : uint8_t { LO, UP, FX, FR, MI, PL, BV, LI, UI, SC, SI };

inline constexpr std::string_view kBoundTypeCodes[] = {"LO", "UP", "FX", "FR", "MI", "PL",
                                                       "BV", "LI", "UI", "SC", "SI"};

inline constexpr std::string_view bound_type_code(BoundType type) noexcept {
  return kBoundTypeCodes[static_cast<uint8_t>(type)];
}

// The bound type named by `field`, compared exactly (upper case, two letters);
// false for anything else.
[[nodiscard]] inline constexpr bool bound_type_of(std::string_view field, BoundType& type) noexcept {
  if (field.size() != 2) return false;
  for (uint8_t i = 0; i < std::size(kBoundTypeCodes); ++i) {
    if (field == kBoundTypeCodes[i]) {
      type = static_cast<BoundType>(i);
      return true;
    }
  }
  return false;
}

// A COLUMNS line whose second field is kMarker switches integrality: kIntegerStart
// opens a block of integer columns, kIntegerEnd closes it.
inline constexpr std::string_view kMarker = "'MARKER'";
inline constexpr std::string_view kIntegerStart = "'INTORG'";
inline constexpr std::string_view kIntegerEnd = "'INTEND'";

}  // namespace mopsel
