#pragma once
// The column map of a model with millions of columns and a short BOUNDS section,
// built for the names the rest of the text uses.
//
// Only BOUNDS looks columns up, and the map is built the first time it does. On a
// large model the map of every column is a table of about 13 bytes per column,
// each slot written at random (a cache miss, and the kernel clearing its pages),
// for a few thousand records. Every lookup from then on is of a field of a line
// of the text still to read, so a map that holds just the columns whose name is
// such a field gives every lookup the same answer: the words of that text go into
// a small set, the column names are walked once in order (threads may share the
// walk; they only read the set), and the columns found are entered in order, so
// that a repeated name keeps its last column. Columns made later (by BOUNDS or a
// second COLUMNS section) enter as usual.
//
// Only the default reading builds it: the careful reading reports repeated column
// names from the map of every column.
#include <cstddef>
#include <string_view>

#include "model/name_list.hpp"
#include "reader/names/column_index.hpp"
#include "platform/reading_threads.hpp"

namespace mopsel {

// Whether the map, not built yet, is worth building for the names of `rest_bytes`
// bytes of text left: from plan.named_columns_min columns with at least
// plan.named_columns_per_byte columns per byte left (kNamedColumnsMin, 262,144, and
// kNamedColumnsPerByte, 8, with the usual plan; a per-byte figure of 0 takes any text).
[[nodiscard]] bool worth_naming_columns(const ColumnIndex& index, size_t columns, size_t rest_bytes,
                                        const ThreadPlan& plan) noexcept;

// Builds the empty `index` for the columns of `names` whose name is a field of a
// line of `rest` (lines split as the reader splits them), walking the names with
// `helpers` + 1 threads. Throws std::bad_alloc.
void index_named_columns(ColumnIndex& index, const NameList& names, std::string_view rest, size_t helpers);

}  // namespace mopsel
