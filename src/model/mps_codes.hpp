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

// What a bound record of each type does to its column, one row per BoundType:
// which side takes the record's value, which is set to a constant, which is left
// as it is; the integrality kind it sets (or keeps); and whether the column is
// left binary by default, [0, 1] at ENDATA unless a later record says otherwise
// (BV sets that, every other type clears it). The reader applies these rows, the
// careful reader reports repeated sides from them, the writer knows from them
// which types carry a value.
enum class BoundSide : uint8_t { Keep, Value, MinusInfinity, PlusInfinity, Zero, One };

inline constexpr int8_t kKeepKind = -1;

struct BoundRule {
  BoundSide lower;
  BoundSide upper;
  int8_t kind;          // IntegralityKind code set, or kKeepKind
  bool binary_default;  // true for BV only
};

inline constexpr BoundRule kBoundRules[] = {
    /* LO */ {BoundSide::Value, BoundSide::Keep, kKeepKind, false},
    /* UP */ {BoundSide::Keep, BoundSide::Value, kKeepKind, false},
    /* FX */ {BoundSide::Value, BoundSide::Value, kKeepKind, false},
    /* FR */ {BoundSide::MinusInfinity, BoundSide::PlusInfinity, kKeepKind, false},
    /* MI */ {BoundSide::MinusInfinity, BoundSide::Keep, kKeepKind, false},
    /* PL */ {BoundSide::Keep, BoundSide::PlusInfinity, kKeepKind, false},
    /* BV */ {BoundSide::Zero, BoundSide::One, 1, true},
    /* LI */ {BoundSide::Value, BoundSide::Keep, 1, false},
    /* UI */ {BoundSide::Keep, BoundSide::Value, 1, false},
    /* SC */ {BoundSide::Keep, BoundSide::Value, 2, false},
    /* SI */ {BoundSide::Keep, BoundSide::Value, 3, false},
};
static_assert(std::size(kBoundRules) == std::size(kBoundTypeCodes));

inline constexpr const BoundRule& bound_rule(BoundType type) noexcept {
  return kBoundRules[static_cast<uint8_t>(type)];
}

// Whether a record of `type` reads its value field (FR, MI, PL and BV never do).
inline constexpr bool bound_takes_value(BoundType type) noexcept {
  return bound_rule(type).lower == BoundSide::Value || bound_rule(type).upper == BoundSide::Value;
}

// Which sides of its column a record of `type` sets: bit 0 the lower, bit 1 the upper.
inline constexpr unsigned bound_sides(BoundType type) noexcept {
  return (bound_rule(type).lower != BoundSide::Keep ? 1u : 0u) | (bound_rule(type).upper != BoundSide::Keep ? 2u : 0u);
}

// A COLUMNS line whose second field is kMarker switches integrality: kIntegerStart
// opens a block of integer columns, kIntegerEnd closes it.
inline constexpr std::string_view kMarker = "'MARKER'";
inline constexpr std::string_view kIntegerStart = "'INTORG'";
inline constexpr std::string_view kIntegerEnd = "'INTEND'";

}  // namespace mopsel
