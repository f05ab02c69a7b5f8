#include "lp/join_pieces.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "platform/helper_threads.hpp"
#include "reader/names/shared_slots.hpp"

namespace mopsel::lp {
namespace {

std::atomic<uint64_t> objective_pieces_joined{0};
std::atomic<uint64_t> row_pieces_joined{0};

using Slot = NameMap<ColumnRef>::Slot;

// How far ahead of its entry a name's slot is asked for.
constexpr size_t kKeysAhead = 8;

// A new column of piece `piece`, place `place`, that another piece entered too.
struct Repeat {
  uint32_t piece;
  uint32_t place;
};

// What the join keeps per piece.
struct PieceJoin {
  std::vector<size_t> slot;      // of each new column
  std::vector<uint8_t> first;    // whether this piece meets the column first
  std::vector<uint32_t> column;  // the model's index of each new column
  std::vector<Repeat> repeats;   // noted by this piece's thread
  size_t max_shift = 0;
  bool short_of_memory = false;
  size_t first_count = 0;  // new columns this piece meets first
  size_t first_bytes = 0;  // their names' bytes
  uint32_t column_base = 0;
  size_t name_base = 0;
  uint32_t row_base = 0;
  size_t row_name_base = 0;
  size_t entry_base = 0;
};

// Runs `work(i)` for i in [0, count) on up to `threads` threads.
template <class Work>
void for_each_piece(size_t count, size_t threads, const Work& work) {
  std::atomic<size_t> next{0};
  run_on_threads(std::min(threads, count), [&](size_t) {
    for (size_t i; (i = next.fetch_add(1)) < count;) work(i);
  });
}

// Enters piece `p`'s new columns, each with the value (p, place), claiming free slots
// atomically. A name already there is a repeat. False when a name would land further
// than kMaxShift from home under the fast mix.
bool enter_piece(NameMap<ColumnRef>& map, const LpModel& piece, uint32_t p, PieceJoin& out,
                 std::atomic<bool>& give_up) {
  const size_t size = map.slots.size();
  Slot* slots = &map.slots[0];
  const uint32_t count = piece.num_col;
  NameKey ahead[kKeysAhead];
  for (uint32_t j = 0; j < std::min<size_t>(count, kKeysAhead); ++j) {
    ahead[j] = map_key(map, piece.col_text[j]);
    __builtin_prefetch(&slots[home_slot(ahead[j].hash, size)], 1);
  }
  for (uint32_t j = 0; j < count; ++j) {
    if ((j & 4095) == 0 && give_up.load(std::memory_order_relaxed)) return false;
    const NameKey key = ahead[j % kKeysAhead];
    if (j + kKeysAhead < count) {
      NameKey& next = ahead[j % kKeysAhead];
      next = map_key(map, piece.col_text[j + kKeysAhead]);
      __builtin_prefetch(&slots[home_slot(next.hash, size)], 1);
    }
    const detail::SlotKey mine = detail::slot_key(key);
    size_t i = home_slot(key.hash, size);
    for (size_t shift = 0;;) {
      Slot& slot = slots[i];
      uint32_t code;
      if (claim_slot(slot, mine, ColumnRef{p, j}, code)) {
        out.max_shift = std::max(out.max_shift, shift);
        out.slot[j] = i;
        break;
      }
      if (code == mine.code && detail::slot_words_match(slot, mine.w0, mine.w1, mine.code)) {
        try {
          out.repeats.push_back({p, j});
        } catch (const std::bad_alloc&) {
          out.short_of_memory = true;
          give_up.store(true, std::memory_order_relaxed);
          return false;
        }
        out.slot[j] = i;
        break;
      }
      if (++i == size) i = 0;
      if (++shift > kMaxShift && !map.seed.keyed) [[unlikely]] {
        give_up.store(true, std::memory_order_relaxed);
        return false;
      }
    }
  }
  return true;
}

// Names a thread moves to the larger table at a time, and the fewest names moved by
// threads: 16 K names take about 2 ms to move, a thread 0.1 ms to start.
constexpr size_t kMoveChunk = size_t{1} << 14;

// Moves the names of old[begin, end) to `map`'s table, claiming free slots atomically
// (the names are distinct: a taken slot is passed over). False when a name would land
// further than kMaxShift from home under the fast mix.
bool move_names(NameMap<ColumnRef>& map, const SlotTable<Slot>& old, size_t begin, size_t end, size_t& max_shift,
                const std::atomic<bool>& give_up) {
  const size_t size = map.slots.size();
  Slot* slots = &map.slots[0];
  for (size_t k = begin; k < end; ++k) {
    if ((k & 4095) == 0 && give_up.load(std::memory_order_relaxed)) return false;
    const Slot& from = old[k];
    if (from.code == 0) continue;
    const detail::SlotKey mine{from.w0, from.w1, from.code};
    size_t i = home_slot(detail::slot_hash(from, map.seed), size);
    for (size_t shift = 0;;) {
      uint32_t code;
      if (claim_slot(slots[i], mine, from.value, code)) {
        max_shift = std::max(max_shift, shift);
        break;
      }
      if (++i == size) i = 0;
      if (++shift > kMaxShift && !map.seed.keyed) [[unlikely]]
        return false;
    }
  }
  return true;
}

bool is_first(const Slot& slot, uint32_t p, uint32_t j) noexcept {
  return slot.value.col == p && slot.value.entry == j;
}

}  // namespace

void reserve_names_on_threads(NameMap<ColumnRef>& map, size_t names, size_t threads) {
  const size_t wanted = slots_for(names);
  if (wanted <= map.slots.size()) return;
  if (threads < 2 || map.count < kMoveChunk) {
    reserve_names(map, names);
    return;
  }
  SlotTable<Slot> old;
  old.swap(map.slots);
  map.slots.assign_free(wanted);
  const size_t chunks = (old.size() + kMoveChunk - 1) / kMoveChunk;
  std::vector<size_t> shifts(chunks, 0);
  std::atomic<bool> give_up{false};
  for_each_piece(chunks, threads, [&](size_t c) {
    const size_t begin = c * kMoveChunk;
    if (!move_names(map, old, begin, std::min(old.size(), begin + kMoveChunk), shifts[c], give_up)) give_up.store(true);
  });
  if (give_up.load()) {
    // Names piled up near one slot: the one-thread rehash moves the map to the keyed hash.
    map.slots.swap(old);
    reserve_names(map, names);
    return;
  }
  map.max_shift = *std::max_element(shifts.begin(), shifts.end());
}

bool join_pieces(LpModel& model, const std::vector<LpModel*>& pieces, size_t threads) {
  const size_t n = pieces.size();
  std::vector<PieceJoin> join(n);
  for (size_t p = 0; p < n; ++p) {  // the threads below allocate nothing but the repeats
    join[p].slot.resize(pieces[p]->num_col);
    join[p].first.assign(pieces[p]->num_col, 0);
    join[p].column.assign(pieces[p]->num_col, 0);
  }
  NameMap<ColumnRef>& map = model.column_of;

  // The new columns enter the map, each with its piece and place.
  std::atomic<bool> give_up{false};
  for_each_piece(n, threads, [&](size_t p) {
    if (!enter_piece(map, *pieces[p], static_cast<uint32_t>(p), join[p], give_up)) give_up.store(true);
  });
  for (const PieceJoin& piece : join) {
    if (piece.short_of_memory) throw std::bad_alloc();
  }
  if (give_up.load()) return false;
  // Each name keeps its first piece and place: a piece enters its places in order, so its
  // first place there is the one entered or the first noted.
  for (const PieceJoin& piece : join) {
    for (const Repeat& r : piece.repeats) {
      Slot& slot = map.slots[join[r.piece].slot[r.place]];
      if (r.piece < slot.value.col) slot.value = ColumnRef{r.piece, r.place};
    }
  }

  // The columns each piece meets first, counted; then the bases of every piece.
  for_each_piece(n, threads, [&](size_t p) {
    const LpModel& piece = *pieces[p];
    PieceJoin& out = join[p];
    for (uint32_t j = 0; j < piece.num_col; ++j) {
      if (!is_first(map.slots[out.slot[j]], static_cast<uint32_t>(p), j)) continue;
      out.first[j] = 1;
      ++out.first_count;
      out.first_bytes += piece.col_text[j].size();
    }
  });
  const uint32_t columns_before = model.num_col;
  uint32_t columns = model.num_col;
  size_t names = model.col_names.bytes.size();
  uint32_t rows = model.num_row;
  size_t row_names = model.row_names.bytes.size();
  size_t entries = model.entry_col.size();
  size_t max_shift = map.max_shift;
  for (size_t p = 0; p < n; ++p) {
    const LpModel& piece = *pieces[p];
    PieceJoin& out = join[p];
    out.column_base = columns;
    out.name_base = names;
    out.row_base = rows;
    out.row_name_base = row_names;
    out.entry_base = entries;
    columns += static_cast<uint32_t>(out.first_count);
    names += out.first_bytes;
    rows += piece.num_row;
    row_names += piece.row_names.bytes.size();
    entries += piece.entry_col.size();
    max_shift = std::max(max_shift, out.max_shift);
  }

  // The indexes of the columns met first, then of the others, from their first piece.
  for_each_piece(n, threads, [&](size_t p) {
    PieceJoin& out = join[p];
    uint32_t next = out.column_base;
    for (uint32_t j = 0; j < pieces[p]->num_col; ++j) {
      if (out.first[j] != 0) out.column[j] = next++;
    }
  });
  for_each_piece(n, threads, [&](size_t p) {
    PieceJoin& out = join[p];
    for (uint32_t j = 0; j < pieces[p]->num_col; ++j) {
      if (out.first[j] != 0) continue;
      const ColumnRef owner = map.slots[out.slot[j]].value;
      out.column[j] = join[owner.col].column[owner.entry];
    }
  });

  // Room for everything, then every piece's part written at its place.
  const size_t added_columns = columns - columns_before;
  model.col_names.bytes.reserve(names);
  model.col_names.ends.reserve(columns);
  model.col_cost.reserve(columns);
  model.col_lower.reserve(columns);
  model.col_upper.reserve(columns);
  model.col_integrality.reserve(columns);
  model.row_names.bytes.reserve(row_names);
  model.row_names.ends.reserve(rows);
  model.row_lower.reserve(rows);
  model.row_upper.reserve(rows);
  if (model.row_start.empty()) model.row_start.push_back(0);
  model.row_start.reserve(size_t{rows} + 1);
  model.entry_col.reserve(entries);
  model.entry_value.reserve(entries);
  for_each_piece(n, threads, [&](size_t p) {
    LpModel& piece = *pieces[p];
    const PieceJoin& out = join[p];
    // The slots of the columns met first take their index.
    char* name_at = model.col_names.bytes.data() + out.name_base;
    uint32_t c = out.column_base;
    for (uint32_t j = 0; j < piece.num_col; ++j) {
      if (out.first[j] == 0) continue;
      map.slots[out.slot[j]].value = ColumnRef{out.column[j], kNoEntry};
      const std::string_view name = piece.col_text[j];
      std::memcpy(name_at, name.data(), name.size());
      name_at += name.size();
      model.col_names.ends[c] = static_cast<uint64_t>(name_at - model.col_names.bytes.data());
      model.col_cost[c] = 0.0;
      model.col_lower[c] = 0.0;
      model.col_upper[c] = std::numeric_limits<double>::infinity();
      model.col_integrality[c] = code(IntegralityKind::CONTINUOUS);
      ++c;
    }
    // Rows and entries.
    const size_t row_bytes = piece.row_names.bytes.size();
    if (row_bytes > 0) std::memcpy(model.row_names.bytes.data() + out.row_name_base, piece.row_names.bytes.data(), row_bytes);
    for (uint32_t i = 0; i < piece.num_row; ++i) {
      const uint32_t r = out.row_base + i;
      model.row_names.ends[r] = out.row_name_base + piece.row_names.ends[i];
      model.row_lower[r] = piece.row_lower[i];
      model.row_upper[r] = piece.row_upper[i];
      model.row_start[r + 1] = static_cast<uint32_t>(out.entry_base + piece.row_start[i + 1]);
    }
    for (ObjectiveTerm& term : piece.objective_terms) {
      if (term.col != kConstantTerm && (term.col & kPieceColumn) != 0) term.col = out.column[term.col & ~kPieceColumn];
    }
    const size_t count = piece.entry_col.size();
    if (count > 0) std::memcpy(model.entry_value.data() + out.entry_base, piece.entry_value.data(), count * sizeof(double));
    uint32_t* cols = model.entry_col.data() + out.entry_base;
    for (size_t k = 0; k < count; ++k) {
      const uint32_t col = piece.entry_col[k];
      cols[k] = (col & kPieceColumn) != 0 ? out.column[col & ~kPieceColumn] : col;
    }
  });
  model.col_names.bytes.commit(names - model.col_names.bytes.size());
  model.col_names.ends.commit(added_columns);
  model.col_cost.commit(added_columns);
  model.col_lower.commit(added_columns);
  model.col_upper.commit(added_columns);
  model.col_integrality.commit(added_columns);
  model.num_col = columns;
  model.row_names.bytes.commit(row_names - model.row_names.bytes.size());
  model.row_names.ends.commit(rows - model.num_row);
  model.row_lower.commit(rows - model.num_row);
  model.row_upper.commit(rows - model.num_row);
  model.row_start.commit(rows - model.num_row);
  model.num_row = rows;
  model.entry_value.commit(entries - model.entry_value.size());
  model.entry_col.commit(entries - model.entry_col.size());
  map.count += added_columns;
  map.max_shift = max_shift;
  return true;
}

PiecesJoined lp_pieces_joined() noexcept {
  return {objective_pieces_joined.load(std::memory_order_relaxed), row_pieces_joined.load(std::memory_order_relaxed)};
}

void note_pieces_joined(bool objective, size_t count) noexcept {
  (objective ? objective_pieces_joined : row_pieces_joined).fetch_add(count, std::memory_order_relaxed);
}

}  // namespace mopsel::lp
