#pragma once
// The consistency checks the text writer relies on, made before any text exists,
// so that an inconsistent record (an index array edited in place, say) is
// refused before a file is opened, never halfway through it.
#include "model/model_record.hpp"

namespace mopsel {

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
