#pragma once
// The careful reader: the shared section state machine (grammar/) with every line inspected
// before it is applied. It serves strict reading, the checker (every finding, in one
// pass), the fixed format and the automatic choice of format.
//
// The automatic choice reads free format and switches the whole text to fixed
// columns at the first record that shows it needs them (a name with a blank inside,
// at most 8 bytes long as fixed columns allow):
//  - a ROWS record with more than two fields whose name, from its first byte to the
//    end of the line, is at most 8 bytes;
//  - a COLUMNS record whose second field is not a row name while its third is, the
//    first two fields spanning at most 8 bytes (a column name with a blank);
//  - an RHS or RANGES record whose first two fields are not row names while its third
//    is, the first two spanning at most 8 bytes (a set name with a blank);
//  - a BOUNDS record whose second and third fields are not column names while its
//    fourth is, those two spanning at most 8 bytes (a set name with a blank).
#include <string_view>

#include "reader/careful/fixed_trigger.hpp"
#include "reader/records/findings.hpp"
#include "reader/records/read_options.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel {

// Reads `text` into `state` (already reserved) in `format` (Free or Fixed), with
// `findings` receiving what is found; with `detect_fixed`, a free read stops at the
// first record that needs fixed columns and fills `trigger`. True when the read
// succeeded (when collecting: when no failure was found). Otherwise the failure is
// findings.stop, or `failure` for a size limit or a failure found without a finding.
bool read_sections_careful(std::string_view text, ReaderState& state, Findings& findings, Format format,
                           bool detect_fixed, FixedTrigger& trigger, Error& failure);

}  // namespace mopsel
