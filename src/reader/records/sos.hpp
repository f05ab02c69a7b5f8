#pragma once
// SOS sections: special ordered sets. A set begins with a header record "S1 name
// [priority]" (or S2) whose type stands in the first three columns of the line, as
// the fixed format puts it in columns 2-3 and the peers' writers put it; its members
// follow as "column [weight]" records. A weight left out reads as
// 0; the members keep the order of the text. A column the model does not have is
// made (as in BOUNDS); a member before any header is passed over.
#include <cstdint>
#include <string_view>

#include "reader/records/reader_state.hpp"
#include "reader/text/lines.hpp"

namespace mopsel {

// Whether a record of an SOS section, as read (`line`), is a set header: its first
// field starts in one of the first three columns and is two bytes, the first an S (in
// either case: s1 is a header with an unknown type). A member whose column is called
// S1 is indented further.
[[nodiscard]] inline bool is_sos_header(std::string_view line, const Fields& fields) noexcept {
  if (fields.count == 0 || fields.at[0].data() - line.data() > 2) return false;
  const std::string_view type = fields.at[0];
  return type.size() == 2 && (type[0] == 'S' || type[0] == 's');
}

// The set type a header's type field names: 1 for S1, 2 for S2, 0 for anything else
// (compared exactly, as bound types are).
[[nodiscard]] inline uint8_t sos_type_of(std::string_view field) noexcept {
  if (field == "S1") return 1;
  if (field == "S2") return 2;
  return 0;
}

// The priority a header's priority field gives: a whole number within 32 bits; false
// (the priority then reads as 0) for anything else.
[[nodiscard]] bool sos_priority_of(std::string_view field, int32_t& priority) noexcept;

// Begins a set from a header's fields (type, name, priority; name and priority may be
// missing). False when the type is unknown or the set limit is reached: the read fails.
[[nodiscard]] bool sos_set(ReaderState& state, const Fields& fields);

// Adds a member (column, weight) to the last set begun. False when a size limit is
// reached.
[[nodiscard]] bool sos_member(ReaderState& state, const Fields& fields);

}  // namespace mopsel
