#pragma once
// RANGES and BOUNDS records, applied at once and in file order to the reader state.
#include <cstdint>

#include "reader/lines.hpp"
#include "reader/reader_state.hpp"

namespace mopsel {

// Turns one-sided and equality rows into two-sided rows. Never fails; unknown
// rows and N rows are skipped.
void apply_range(ReaderState& state, const Fields& fields) noexcept;

// Sets bounds and integrality of a column, creating the column when it is
// unknown. False when the bound type is unknown (or the column limit is
// reached): the read must fail.
[[nodiscard]] bool apply_bound(ReaderState& state, const Fields& fields);

}  // namespace mopsel
