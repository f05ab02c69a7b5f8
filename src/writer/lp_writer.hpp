#pragma once
// Renders a ModelRecord as LP text, into the same sinks as the MPS writer (a
// buffer, a file replaced whole, gzip around either) with the same number formats
// and exact mode (WriteOptions).
//
// The layout, section by section (lp_text.cpp):
//   \Problem name: NAME            (when the model has a name)
//   Minimize | Maximize
//    obj: 2 x + 3 y - z + 0 w + 7  (every column in order, the constant last)
//   Subject To
//    c1: x + y <= 4                (=, >=, <=; a free row as "<= inf")
//    c3_lo: y + w >= 1             (a two-sided row as two rows, as HiGHS and SCIP write it)
//    c3_up: y + w <= 5
//   Bounds
//    x <= 10 | x >= -2 | -3 <= b <= 2 | -inf <= y <= 4 | x = 5 | z free
//   Generals / Binaries / Semi-Continuous
//    y b
//   SOS
//    s1: S1:: x:1 y:2              (a set without a name without its label)
//   End
// A quadratic objective ends with " + [ 2 x ^2 + 3 x * y ] / 2" before its constant, a
// quadratic row's terms with " + [ x ^2 + 3 x * y ]" (1/2 x'Hx written out); an
// indicator's row reads " name: b = 1 -> x + y <= 2".
// Long expressions are broken into lines of about kLpLineWidth bytes (lp_text.hpp), each
// continuation starting with the sign of its first term.
#include <optional>
#include <string>
#include <string_view>

#include "model/interrupt.hpp"
#include "model/model_record.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "writer/write_options.hpp"

namespace mopsel {


// Why the record cannot be written as LP text, naming the first offender, or none:
// an empty name, a name with a blank or an operator (+ - * / ^ < > = : [ ] \) or one
// that starts with a digit or a point, a section keyword (end, bounds, st, ...) or
// inf/infinity as a name, a column name given twice, a NaN or infinite cost,
// coefficient or objective constant; a NaN or infinite value of a quadratic part or
// SOS weight, an SOS priority other than 0, a row with two indicators.
std::optional<std::string> lp_unwritable_name(const ModelRecord& record);

// The record must have passed check_writable (record_checks.hpp; these functions run
// it) and lp_unwritable_name. As write_mps_to_buffer and write_mps_to_file.
Status write_lp_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options = {},
                          const Interruption& interruption = {});
Status write_lp_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options = {},
                        const Interruption& interruption = {});

}  // namespace mopsel
