#pragma once
// The signs of fixed-format text in a free-format reading: a record whose fields make
// sense only when a name holds a blank, at most 8 bytes long as fixed columns allow:
//  - a ROWS record with more than two fields whose name, from its first byte to the
//    end of the line, is at most 8 bytes;
//  - a COLUMNS record whose second field is not a row name while its third is, the
//    first two fields spanning at most 8 bytes (a column name with a blank);
//  - an RHS or RANGES record with a set name whose first two fields are not row names
//    while its third is, the first two spanning at most 8 bytes (a set name with a blank);
//  - a BOUNDS record whose second and third fields are not column names while its
//    fourth is, those two spanning at most 8 bytes (a set name with a blank).
// The automatic format switches to fixed columns at the first such record
// (reader/careful/); a free-format reading counts them (notices.hpp).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/names/name_map.hpp"
#include "reader/text/lines.hpp"

namespace mopsel {

// Names in fixed columns are at most this long.
inline constexpr size_t kFixedNameWidth = 8;

// The text from the start of `a` to the end of `b` (both views into one line).
inline std::string_view span_of(std::string_view a, std::string_view b) noexcept {
  return {a.data(), static_cast<size_t>(b.data() + b.size() - a.data())};
}

// True when `a` to `b` fit in a fixed-format name.
inline bool looks_fixed(std::string_view a, std::string_view b) noexcept {
  return span_of(a, b).size() <= kFixedNameWidth;
}

// A ROWS record with more than two fields: `name` runs from its name's first byte to
// the end of the line.
inline bool rows_record_looks_fixed(std::string_view name) noexcept { return name.size() <= kFixedNameWidth; }

// A COLUMNS record, or an RHS or RANGES record read with a set name: field 1 names no
// row while field 2 does, fields 0 and 1 fitting in one fixed-format name.
inline bool record_looks_fixed(const NameMap<int32_t>& rows, const Fields& fields) noexcept {
  const auto& f = fields.at;
  return fields.count >= 3 && find_name(rows, f[1]) == nullptr && find_name(rows, f[2]) != nullptr &&
         looks_fixed(f[0], f[1]);
}

// A BOUNDS record read with a set name whose column (field 2) is unknown: field 3 names
// a column, fields 1 and 2 fitting in one name. `known(name)` looks a column up.
template <class Known>
bool bounds_record_looks_fixed(const Fields& fields, Known&& known) {
  const auto& f = fields.at;
  return fields.count >= 4 && looks_fixed(f[1], f[2]) && known(f[3]);
}

}  // namespace mopsel
