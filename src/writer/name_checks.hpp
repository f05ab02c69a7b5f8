#pragma once
// Whether a record's names can be written as MPS text that reads back as the same
// names. In free format the fields are separated by blanks: a name must not be
// empty, hold a blank (or another field separator) or end in Unicode whitespace
// (the reader trims it at a line's end), and no row may be called 'MARKER' (its
// entries would read as marker lines). In fixed format a name fills one field of 8
// bytes, trimmed of blanks: it must not be empty, longer than 8 bytes, start or end
// with a blank, or hold a line end; blanks inside are fine. The model name is
// read as the first word of the NAME line in either format: it must hold no
// whitespace at all (it may be empty).
#include <optional>
#include <string>

#include "model/model_record.hpp"

namespace mopsel {

// The first name of `record` (model, objective, rows, columns, SOS sets) that text in free
// (`fixed_columns` false) or fixed format cannot carry, said in words ("the row name
// 'DEDO3 1R' holds a blank, which free MPS cannot carry"); nothing when all can.
std::optional<std::string> unwritable_name(const ModelRecord& record, bool fixed_columns);

}  // namespace mopsel
