#pragma once
// The consistency checks the text writer relies on, made before any text exists,
// so that an inconsistent record (an index array edited in place, say) is
// refused before a file is opened, never halfway through it.
#include <optional>
#include <string>

#include "model/model_record.hpp"

namespace mopsel {

// The first inconsistency check_writable would raise, said in words for the one who
// edited the arrays: "row_names has 3 entries, but the model has 5 rows", "column 'x':
// its entries end at position 12, but index has 10", "column 'x', entry 3: row 9999,
// but the model has 27 rows" (entry: the position in index and value); nothing when
// the record can be written.
std::optional<std::string> inconsistency(const ModelRecord& record);

// Raises InternalFault "index out of bounds: the len is {} but the index is {}"
// for the first entry the writer would look for and not find, in the order the
// writer would look: row bounds, row names, then per column its integrality code,
// name, cost, start and the next start, the positions of its entries inside
// `index` and `value` and the rows of its non-zero coefficients inside the row
// names; then the column bounds; then the parts beyond a linear program (the SOS
// arrays and columns, the Hessians' starts, positions and rows, the indicators' rows
// and columns).
void check_writable(const ModelRecord& record);

}  // namespace mopsel
