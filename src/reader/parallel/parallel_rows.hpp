#pragma once
// The names of a large ROWS section entered into the row map by several threads.
//
// On a model with millions of rows the row map is the largest table of the read
// (24-byte slots at 60% load), and entering the names one by one costs a first
// touch of its pages and a cache miss per row on the reading thread, while the
// other cores wait for COLUMNS. With SharedRows the reading thread reads the ROWS
// lines as usual (row arrays, names copied into row_names) but leaves the map
// alone; a leased helper maps the map's pages meanwhile. When ROWS ends, every
// thread enters a run of the copied names at once (enter_shared_rows).
//
// The result is the map the one-thread reader builds: with distinct names the
// order of insertion changes no value, and any repeated name (which the
// one-thread reader resolves by order) sends the whole build back to one thread
// in file order. Long names point into row_names, not into the text: a second
// ROWS section, which would grow row_names, makes the read start over on one
// thread.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "model/name_list.hpp"
#include "reader/names/name_map.hpp"
#include "platform/prefault.hpp"
#include "platform/reading_threads.hpp"

namespace mopsel {

struct SharedRows {
  // An N row read while the map was left alone: its name, its value in the map
  // and the number of constraint rows before it.
  struct NRow {
    std::string_view name;
    int32_t value;
    uint32_t position;
  };
  bool active = false;  // the ROWS section being read defers its names
  bool used = false;    // a ROWS section has been entered this way
  std::vector<NRow> n_rows;
  std::optional<BackgroundPrefault> prefault;  // maps the map's slots while ROWS is read
};

// Whether a ROWS section of about `rows` lines, the first of the text, is worth
// the threads: plan.shared_rows_min (kSharedRowsMin, 262,144, with the usual plan).
bool rows_worth_sharing(size_t rows, const ThreadPlan& plan) noexcept;

// Starts deferring the names of the ROWS section that follows; `map` is empty and
// sized for its rows.
void begin_shared_rows(SharedRows& shared, const NameMap<int32_t>& map, const ThreadPlan& plan);

// Enters the deferred names into `map`: the N rows, then `names` (constraint row i
// has value i) with every thread the plan leases. Throws std::bad_alloc.
void enter_shared_rows(SharedRows& shared, NameMap<int32_t>& map, const NameList& names, const ThreadPlan& plan);

}  // namespace mopsel
