#include "reader/parallel/parallel_columns.hpp"

#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "model/fault.hpp"
#include "model/mps_codes.hpp"
#include "reader/records/columns.hpp"
#include "reader/text/numbers.hpp"
#include "reader/parallel/parallel_pieces.hpp"

namespace mopsel {

namespace {

// A column's marker state "as before the piece": known only when the pieces
// before it have been appended.
constexpr uint8_t kMarkerAsBefore = 2;

// The columns and entries read from one piece.
struct PieceColumns {
  NameList names;  // the piece's columns, in order
  OwnedArray<double> cost;
  OwnedArray<uint8_t> marker;        // 0, 1 or kMarkerAsBefore
  OwnedArray<uint32_t> first_entry;  // per column, into entry_row / entry_value
  OwnedArray<uint32_t> entry_row;
  OwnedArray<double> entry_value;

  void clear() noexcept {
    names.bytes.clear();
    names.ends.clear();
    cost.clear();
    marker.clear();
    first_entry.clear();
    entry_row.clear();
    entry_value.clear();
  }
};

// One piece of the COLUMNS text and what reading it gave.
struct Piece {
  const char* begin = nullptr;
  const char* end = nullptr;
  const char* stop = nullptr;  // the line that may end the section, or null
  const char* readable = nullptr;  // loads may reach up to here
  PieceColumns out;
  Notices notices;             // what the piece's lines passed over
  std::string_view last_name;  // the last column's name in the text
  int end_marker = -1;         // the marker state after the piece; -1: as before it
  std::exception_ptr failure;
  std::atomic<bool> done{false};
};

struct Work : PieceQueue {
  Work(const ReaderState& s, const char* text_start) : state(s), text_begin(text_start) {}
  const ReaderState& state;  // only its row map is read, which nobody changes meanwhile
  const char* text_begin;
  std::vector<std::unique_ptr<Piece>> pieces;
  // Storage of appended pieces, kept for the next pieces read: fresh memory costs
  // a page fault per 4 KiB on first touch, more than the reading of it.
  std::vector<PieceColumns> spare;  // under `lock`
};

// Per thread: which rows the open column has a value for, one bit each.
using RowBits = std::vector<uint64_t>;

enum class PieceEnd : uint8_t { Read, Failed, NotNeeded, Interrupted };

class PieceReader {
 public:
  PieceReader(Work& work, Piece& piece, RowBits& bits) : work_(work), piece_(piece), bits_(bits) {}

  PieceEnd read(size_t index, const Interruption* interruption) {
    piece_.notices = Notices{};
    const PieceEnd end = work_.state.row_index.slots.size() >= kLookaheadSlots ? read_lines<true>(index, interruption)
                                                                              : read_lines<false>(index, interruption);
    // Also when the piece was given up: the thread's row bits are clear for its next piece.
    if (open_) close();
    return end;
  }

 private:
  // With `prefetch`, a few lines are split and their row slots asked for before
  // any is applied; otherwise each line is applied as it is split.
  template <bool prefetch>
  PieceEnd read_lines(size_t index, const Interruption* interruption) {
    LineCursor cursor{piece_.begin, piece_.end};
    const char* poll_at = cursor.pos;
    constexpr size_t kBatch = 8;
    Fields batch[kBatch];
    RowKeys keys[kBatch];
    std::string_view line;
    bool stopped = false;
    while (!stopped && cursor.pos < cursor.end) {
      if (cursor.pos >= poll_at) {
        if (work_.stop.load(std::memory_order_relaxed) || index >= work_.needed.load(std::memory_order_relaxed))
          return PieceEnd::NotNeeded;
        if (interruption != nullptr && interruption->requested()) return PieceEnd::Interrupted;
        poll_at = cursor.pos + kPollStride;
      }
      size_t n = 0;
      while (n < (prefetch ? kBatch : 1) && cursor.pos < cursor.end) {
        const char* at = cursor.pos;
        Fields& fields = batch[n];
        if (starts_indented(cursor)) {
          next_line_fields(cursor, kMaxFields, fields, line);
        } else {
          next_line(cursor, line);
          if (line.empty() || is_comment_line(line)) continue;
          split_fields_into(line, kMaxFields, piece_.readable, fields);
          if (fields.count > 0 && may_be_header(Section::Columns, line, fields)) {
            // A header, or a record that starts with a keyword: the one-thread
            // reader decides from here.
            piece_.stop = at;
            stopped = true;
            break;
          }
          if (fields.count > 0) (void)column_one_misspelt(work_.text_begin, line, fields.at[0], piece_.notices);
        }
        if (fields.count == 0) continue;
        if constexpr (prefetch) keys[n] = prepare_row_keys(work_.state, fields);
        ++n;
      }
      for (size_t i = 0; i < n; ++i) apply<prefetch>(batch[i], keys[i]);
    }
    return PieceEnd::Read;
  }

  // One line; with `prefetch` its row keys come prepared in `keys`.
  template <bool prefetch>
  void apply(const Fields& fields, const RowKeys& keys) {
    const auto& f = fields.at;
    if (is_marker_line(fields)) [[unlikely]] {
      if (const int marker = marker_switch(fields); marker >= 0) {
        marker_ = static_cast<uint8_t>(marker);
        piece_.end_marker = marker;
      }
      return;
    }
    if (!open_ || !same_name(f[0], current_)) {
      if (open_) close();
      piece_.out.names.push_back(f[0]);
      piece_.out.marker.push_back(marker_);
      piece_.out.first_entry.push_back(static_cast<uint32_t>(piece_.out.entry_row.size()));
      open_ = true;
      current_ = f[0];
      cost_ = 0.0;
    }
    const NameMap<int32_t>& rows = work_.state.row_index;
    const size_t pairs = prefetch ? keys.pairs : column_pairs(fields);
    for (size_t i = 0; i < pairs; ++i) {
      const int32_t* ref = find_key(rows, prefetch ? keys.keys[i] : map_key(rows, f[1 + 2 * i]));
      // The rows the open column has a value for are one bit each.
      column_pair(
          ref, f[2 + 2 * i], cost_, piece_.notices,
          [&](uint32_t r) {
            uint64_t& word = bits_[r >> 6];
            const uint64_t bit = uint64_t{1} << (r & 63);
            if ((word & bit) != 0) return false;
            word |= bit;
            return true;
          },
          [&](uint32_t r, double value) {
            piece_.out.entry_row.push_back(r);
            piece_.out.entry_value.push_back(value);
          });
    }
  }

  void close() {
    piece_.out.cost.push_back(cost_);
    const uint32_t first = piece_.out.first_entry[piece_.out.first_entry.size() - 1];
    for (size_t e = first; e < piece_.out.entry_row.size(); ++e) {
      const uint32_t r = piece_.out.entry_row[e];
      bits_[r >> 6] &= ~(uint64_t{1} << (r & 63));
    }
    piece_.last_name = current_;
    open_ = false;
  }

  Work& work_;
  Piece& piece_;
  RowBits& bits_;
  bool open_ = false;
  std::string_view current_;
  double cost_ = 0.0;
  uint8_t marker_ = kMarkerAsBefore;
};

// Reads piece `index` into its record (a failure is kept there too).
PieceEnd read_piece(Work& work, size_t index, RowBits& bits, const Interruption* interruption) {
  Piece& piece = *work.pieces[index];
  reuse_spare(work.lock, work.spare, piece.out);
  PieceEnd end;
  try {
    end = PieceReader(work, piece, bits).read(index, interruption);
    if (end == PieceEnd::Read && piece.stop != nullptr) work.not_needed_from(index + 1);
  } catch (...) {
    piece.failure = std::current_exception();
    end = PieceEnd::Failed;
  }
  if (end == PieceEnd::Read || end == PieceEnd::Failed) mark_done(work, piece);
  return end;
}

void helper(Work& work, uint32_t num_row) {
  RowBits bits;
  try {
    bits.assign(num_row / 64 + 1, 0);
  } catch (...) {
    return;  // the reading thread reads the pieces itself
  }
  for (;;) {
    if (size_t i; work.take(work.available(work.pieces.size()), i)) {
      // After a failure the reading thread raises it when it reaches the piece.
      if (read_piece(work, i, bits, nullptr) != PieceEnd::Read) return;
    } else if (!work.wait_for_pieces(work.pieces.size())) {
      return;
    }
  }
}

uint8_t resolved(uint8_t marker, uint8_t before) noexcept { return marker == kMarkerAsBefore ? before : marker; }

// Adds entries of the piece to the open column as the one-thread reader would
// have added them line by line.
void continue_open_column(ColumnsScratch& s, const Piece& p, size_t from, size_t to, double cost) {
  for (size_t e = from; e < to; ++e) {
    const uint32_t row = p.out.entry_row[e];
    double& pending = s.pending_value[row];
    if (pending != 0.0) continue;
    pending = p.out.entry_value[e];
    s.pending_rows.push_back(row);
  }
  if (s.pending_cost == 0.0) s.pending_cost = cost;
}

// The first entry of the piece's first column (entries before `to`, cost `cost`) that
// the open column of the same name already has a value for, found again in the text:
// the earliest repeated entry across the piece's start. `rows` is the row map.
std::string_view first_repeat_across(const ColumnsScratch& s, const Piece& p, double cost,
                                     const NameMap<int32_t>& rows) {
  const bool cost_repeats = s.pending_cost != 0.0 && cost != 0.0;
  LineCursor cursor{p.begin, p.stop != nullptr ? p.stop : p.end};
  std::string_view line;
  while (next_line(cursor, line)) {
    if (line.empty() || is_comment_line(line)) continue;
    const Fields fields = split_fields(line, kMaxFields, p.readable);
    if (fields.count == 0 || is_marker_line(fields)) continue;
    if (!same_name(fields.at[0], p.out.names[0])) break;  // the first column ended
    for (size_t i = 0; i < column_pairs(fields); ++i) {
      const int32_t* ref = find_name(rows, fields.at[1 + 2 * i]);
      const std::string_view value = fields.at[2 + 2 * i];
      if (ref == nullptr || parse_number(value) == 0.0) continue;
      if (*ref >= 0 ? s.pending_value[static_cast<uint32_t>(*ref)] != 0.0 : *ref == OBJECTIVE_ROW && cost_repeats) {
        return value;
      }
    }
  }
  return {};
}

// Counts the entries of the piece's first column (before `to`) and its cost that the
// open column it continues already has: the one-thread reader would have met them as
// repeated entries.
void note_repeats_across(Notices& notices, const ColumnsScratch& s, const Piece& p, size_t to, double cost,
                         const NameMap<int32_t>& rows) {
  uint64_t repeats = s.pending_cost != 0.0 && cost != 0.0 ? 1 : 0;
  for (size_t e = 0; e < to; ++e) repeats += s.pending_value[p.out.entry_row[e]] != 0.0 ? 1 : 0;
  if (repeats != 0) [[unlikely]] note(notices, Notice::DuplicateEntry, first_repeat_across(s, p, cost, rows), repeats);
}

// Appends the piece's columns [from, to), all complete, in one block each array.
void append_complete_columns(ReaderState& state, const Piece& p, size_t from, size_t to, uint8_t before) {
  const size_t n = to - from;
  if (n == 0) return;
  const uint64_t name_from = from == 0 ? 0 : p.out.names.ends[from - 1];
  const uint64_t name_to = p.out.names.ends[to - 1];
  const uint64_t shift = state.col_names.bytes.size() - name_from;
  state.col_names.bytes.append(p.out.names.bytes.data() + name_from, name_to - name_from);
  state.col_names.ends.reserve(state.col_names.ends.size() + n);
  for (size_t c = from; c < to; ++c) state.col_names.ends.push_back(p.out.names.ends[c] + shift);
  state.col_cost.append(p.out.cost.data() + from, n);
  const uint32_t entry_from = p.out.first_entry[from];
  const uint32_t entry_to = p.out.first_entry[to];
  state.col_start.reserve(state.col_start.size() + n);
  state.col_lower.reserve(state.col_lower.size() + n);
  state.col_upper.reserve(state.col_upper.size() + n);
  state.col_integrality.reserve(state.col_integrality.size() + n);
  state.col_default_binary.reserve(state.col_default_binary.size() + n);
  for (size_t c = from; c < to; ++c) {
    state.col_start.push_back(state.nnz + (p.out.first_entry[c] - entry_from));
    state.col_lower.push_back(0.0);
    state.col_upper.push_back(std::numeric_limits<double>::infinity());
    const uint8_t marker = resolved(p.out.marker[c], before);
    state.col_integrality.push_back(marker);
    state.col_default_binary.push_back(marker);
  }
  state.entry_row.append(p.out.entry_row.data() + entry_from, entry_to - entry_from);
  state.entry_value.append(p.out.entry_value.data() + entry_from, entry_to - entry_from);
  state.num_col += static_cast<uint32_t>(n);
  state.nnz += entry_to - entry_from;
}

// Appends a read piece to the state as if its lines had been read one by one.
// False when a size limit might be reached: the one-thread reader then finds
// where.
bool append_piece(ReaderState& state, ColumnsScratch& s, const Piece& p) {
  const size_t columns = p.out.names.size();
  if (columns > 0) {
    if (columns > state.limits.max_columns - state.num_col ||
        p.out.entry_row.size() + s.pending_rows.size() > state.limits.max_entries - state.nnz) {
      return false;
    }
    const uint8_t before = s.integer_marker;
    const auto entries_of = [&](size_t c) { return c + 1 < columns ? p.out.first_entry[c + 1] : p.out.entry_row.size(); };
    size_t c = 0;
    if (s.column_open && same_name(p.out.names[0], s.current_column)) {
      note_repeats_across(state.notices, s, p, entries_of(0), p.out.cost[0], state.row_index);
      continue_open_column(s, p, 0, entries_of(0), p.out.cost[0]);
      c = 1;
    }
    if (c < columns) {
      if (s.column_open && !close_column(state, s)) return false;
      const size_t last = columns - 1;
      append_complete_columns(state, p, c, last, before);
      const uint8_t marker = resolved(p.out.marker[last], before);
      if (!append_column(state, p.last_name, marker, marker)) return false;
      s.column_open = true;
      s.current_column = p.last_name;
      s.current_index = state.num_col - 1;
      continue_open_column(s, p, p.out.first_entry[last], p.out.entry_row.size(), p.out.cost[last]);
    }
  }
  if (p.end_marker >= 0) s.integer_marker = static_cast<uint8_t>(p.end_marker);
  return true;
}

// Appends the pieces in order as they are read (see take_pieces_in_order).
template <class CutMore>
ParallelRead append_pieces_in_order(SectionReader& r, LineCursor& cursor, Work& work, RowBits& bits,
                                    CutMore&& cut_more) {
  ReaderState& state = r.state;
  const Interruption& interruption = state.interruption;
  const auto read = [&](size_t i) { return read_piece(work, i, bits, &interruption) != PieceEnd::Interrupted; };
  const auto use = [&](Piece& piece) -> std::optional<ParallelRead> {
    if (piece.failure) std::rethrow_exception(piece.failure);
    if (!append_piece(state, r.columns, piece)) return ParallelRead::Restart;
    merge(state.notices, piece.notices);
    if (piece.stop != nullptr) {
      cursor.pos = piece.stop;
      return ParallelRead::Read;
    }
    keep_spare(work.lock, work.spare, piece.out);
    return std::nullopt;
  };
  return take_pieces_in_order(work, cursor, interruption, read, use, cut_more);
}

}  // namespace

ParallelRead read_columns_in_parallel(SectionReader& r, LineCursor& cursor, const ThreadPlan& plan) {
  const size_t bytes = static_cast<size_t>(cursor.end - cursor.pos);
  if (plan.threads < 2 || bytes == 0 || bytes < plan.min_bytes) return ParallelRead::OneThread;
  ThreadLease lease(plan.threads, plan.threads);
  if (lease.helpers() == 0) return ParallelRead::OneThread;
  ReaderState& state = r.state;
  const size_t threads = lease.helpers() + 1;
  Work work(state, r.text_begin);
  cut_pieces(work.pieces, cursor.pos, cursor.end, piece_bytes(plan, bytes, threads));
  for (const auto& piece : work.pieces) piece->readable = r.text_end;
  RowBits bits(state.num_row / 64 + 1, 0);
  HelperThreads helpers(work.stop);
  helpers.start(lease.helpers(), [&work, rows = state.num_row] { helper(work, rows); });
  return append_pieces_in_order(r, cursor, work, bits, [](bool) { return true; });
}

ParallelRead read_columns_arriving(SectionReader& r, TextWindow& w, LineCursor& cursor, const ThreadPlan& plan) {
  const std::optional<ArrivedLines> arrived = arrived_lines(r, w, cursor, false);
  if (!arrived) return ParallelRead::Restart;
  const auto bytes = static_cast<size_t>(arrived->expected_end - cursor.pos);
  if (plan.threads < 2 || bytes == 0 || bytes < plan.min_bytes) return ParallelRead::OneThread;
  ReaderState& state = r.state;
  Work work(state, r.text_begin);
  const size_t size = piece_bytes(plan, bytes, plan.threads);
  // A slot for every piece the text can hold (each but the last is longer than
  // `size`), so that the slots never move while helpers read them.
  work.pieces.resize(bytes / size + 2);
  work.cut.store(0);
  work.all_cut.store(false);
  RowBits bits(state.num_row / 64 + 1, 0);

  // The inflater holds a thread until it has finished: helpers join now only when
  // the process has more to spare, else once the text is complete.
  std::optional<ThreadLease> lease;
  lease.emplace(plan.threads, plan.threads);
  if (lease->helpers() == 0) lease.reset();
  HelperThreads helpers(work.stop);
  const auto start_helpers = [&] {
    if (lease && lease->helpers() > helpers.threads.size()) {
      helpers.start(lease->helpers() - helpers.threads.size(), [&work, rows = state.num_row] { helper(work, rows); });
    }
  };
  start_helpers();

  const char* cut_at = cursor.pos;
  size_t count = 0;
  std::vector<std::unique_ptr<Piece>> fresh;
  const auto cut_more = [&](bool wait) {
    const std::optional<ArrivedLines> got = arrived_lines(r, w, cursor, wait);
    if (!got) return false;
    fresh.clear();
    cut_at = cut_pieces(fresh, cut_at, got->end, size, got->complete);
    if (fresh.size() > work.pieces.size() - count) raise_fault("more COLUMNS pieces than the text can hold");
    for (auto& piece : fresh) {
      piece->readable = got->end;
      work.pieces[count++] = std::move(piece);
    }
    if (got->complete) {
      if (lease) lease->grow(plan.threads, plan.threads);
      else lease.emplace(plan.threads, plan.threads);
    }
    work.publish_cut(count, got->complete);
    if (got->complete) start_helpers();
    return true;
  };
  if (!cut_more(false)) return ParallelRead::Restart;
  return append_pieces_in_order(r, cursor, work, bits, cut_more);
}

}  // namespace mopsel
