#include "reader/parallel/parallel_records.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "model/mps_codes.hpp"
#include "reader/names/column_index.hpp"
#include "reader/parallel/named_columns.hpp"
#include "reader/parallel/parallel_pieces.hpp"
#include "reader/records/bounds.hpp"
#include "reader/records/quadratic.hpp"
#include "reader/records/rhs_ranges.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel {

namespace {

// RHS records laid out: the row map's entry of each pair and its value.
struct RhsRecords {
  struct Entry {
    double value;
    int32_t row;  // a row, OBJECTIVE_ROW or EXTRA_N_ROW
  };

  static constexpr Section kSection = Section::Rhs;
  static constexpr bool kTrimmed = true;  // the line is trimmed for splitting

  struct Reader {
    Reader(const ReaderState& s, Notices& n) noexcept : state(s), notices(n) {}
    const ReaderState& state;
    Notices& notices;  // the piece's
    MissMemo missed;   // the set's name, usually

    bool line(const Fields& fields, std::vector<Entry>& out) {
      const NameMap<int32_t>& rows = state.row_index;
      const size_t first = set_record_start_with(
          fields, [&] { return find_name_memo(rows, missed, fields.at[0]) != nullptr; });
      for_each_known_pair(
          rows, fields, first, [&](size_t) { notices.recheck = true; },
          [&](int32_t ref, std::string_view value) { out.push_back({set_value(notices, value), ref}); });
      return true;
    }
  };

  static void apply(SectionReader& r, const Entry& e) { apply_rhs_value(r.state, r.rhs, e.row, e.value); }
};

// BOUNDS records laid out: what set_column_bound needs.
struct BoundsRecords {
  struct Entry {
    double value;
    uint32_t column;
    BoundType type;
  };

  static constexpr Section kSection = Section::Bounds;
  static constexpr bool kTrimmed = true;

  // Looks columns up as the one-thread reader does, in the map as it stands (no
  // guess of the column until a record has named one).
  struct Reader {
    Reader(const ReaderState& s, Notices& n) noexcept : state(s), notices(n) {}
    const ReaderState& state;
    Notices& notices;  // the piece's
    uint32_t last = UINT32_MAX;
    MissMemo missed;

    bool operator()(std::string_view name, uint32_t& column) noexcept {
      return find_column_near(state.col_index, state.col_names, state.num_col, last, missed, name, column);
    }

    bool line(const Fields& fields, std::vector<Entry>& out) {
      if (fields.count == 1) return true;  // a record without a column: no effect
      const BoundRecord record = bound_layout_with(fields, *this);
      BoundType type;
      if (!record.known || !bound_type_of(record.type, type)) return false;  // a new column, or a failure
      out.push_back({bound_value(record, type, notices), record.column, type});
      last = record.column;
      return true;
    }
  };

  static void apply(SectionReader& r, const Entry& e) { set_column_bound(r.state, e.column, e.type, e.value); }
};

// Records of a quadratic section laid out: the columns of the two names and the value.
struct QuadraticRecords {
  struct Entry {
    double value;
    uint32_t a;
    uint32_t b;
  };

  static constexpr Section kSection = Section::Quadratic;
  static constexpr bool kTrimmed = false;  // split as read, as COLUMNS lines are

  // Looks the names up as the one-thread reader does (the last first name is kept, a
  // second name tried after the last one), in the map as it stands.
  struct Reader {
    Reader(const ReaderState& s, Notices& n) noexcept : state(s), notices(n) {}
    const ReaderState& state;
    Notices& notices;  // the piece's
    std::string_view first_name;
    uint32_t first = 0;
    uint32_t second = 0;
    MissMemo missed;

    bool find(std::string_view name, uint32_t hint, uint32_t& column) noexcept {
      return find_column_near(state.col_index, state.col_names, state.num_col, hint, missed, name, column);
    }

    bool line(const Fields& fields, std::vector<Entry>& out) {
      if (fields.count < 3) return true;  // no value: nothing to add
      const auto& f = fields.at;
      if (first_name.empty() || !same_name(f[0], first_name)) {
        // An unknown column is made by the one-thread reader, from this line on.
        if (!find(f[0], first, first)) return false;
        first_name = f[0];
      }
      uint32_t b = first;
      if (!same_name(f[1], f[0]) && !find(f[1], second + 1, b)) return false;
      second = b;
      out.push_back({set_value(notices, f[2]), first, b});
      return true;
    }
  };

  // Never fails: the section was checked to stay within the entry limit.
  static void apply(SectionReader& r, const Entry& e) {
    (void)add_quadratic_entry(r.state, r.quadratic, e.a, e.b, e.value);
  }
};

template <class Records>
struct RecordsPiece {
  const char* begin = nullptr;
  const char* end = nullptr;
  const char* stop = nullptr;  // the first line left to the one-thread reader, or null
  std::vector<typename Records::Entry> entries;
  Notices notices;              // what the piece's records passed over
  std::string_view misspelt;    // its last record in the first column that looks like a misspelt header
  bool failed = false;  // nothing of the piece counts: the one-thread reader reads it
  std::atomic<bool> done{false};
};

template <class Records>
struct RecordsWork : PieceQueue {
  RecordsWork(const ReaderState& s, const char* text_start, const char* text_end)
      : state(s), text_begin(text_start), readable(text_end) {}
  const ReaderState& state;  // only its maps and names are read, which nobody changes meanwhile
  const char* text_begin;
  const char* readable;      // loads may reach up to here
  std::vector<std::unique_ptr<RecordsPiece<Records>>> pieces;
  std::vector<std::vector<typename Records::Entry>> spare;  // storage of applied pieces, under `lock`
};

enum class PieceEnd : uint8_t { Read, NotNeeded, Interrupted };

// Lays out the records of one piece until its end or the first line that needs
// the one-thread reader. The lines are taken as trimmed_record_line takes them.
template <class Records>
PieceEnd lay_out(RecordsWork<Records>& work, RecordsPiece<Records>& piece, size_t index,
                 const Interruption* interruption) {
  piece.notices = Notices{};
  piece.misspelt = {};
  typename Records::Reader reader(work.state, piece.notices);
  LineCursor cursor{piece.begin, piece.end};
  const char* poll_at = cursor.pos;
  Fields fields;
  std::string_view line;
  while (cursor.pos < cursor.end) {
    if (cursor.pos >= poll_at) {
      if (work.stop.load(std::memory_order_relaxed) || index >= work.needed.load(std::memory_order_relaxed))
        return PieceEnd::NotNeeded;
      if (interruption != nullptr && interruption->requested()) return PieceEnd::Interrupted;
      poll_at = cursor.pos + kPollStride;
    }
    const char* at = cursor.pos;
    next_line(cursor, line);
    if (line.empty() || is_comment_line(line)) continue;
    split_fields_into(Records::kTrimmed ? trim_unicode(line) : line, kMaxFields, work.readable, fields);
    if (fields.count == 0) continue;
    if (may_be_header(Records::kSection, line, fields)) {
      piece.stop = at;
      break;
    }
    if (line.front() != ' ' && line.front() != '\t' && word_kind(fields.at[0]) == HeaderKind::Data) [[unlikely]] {
      if (column_one_misspelt(work.text_begin, line, fields.at[0], piece.notices)) piece.misspelt = fields.at[0];
    }
    if (!reader.line(fields, piece.entries)) {
      piece.stop = at;
      break;
    }
  }
  return PieceEnd::Read;
}

template <class Records>
PieceEnd read_piece(RecordsWork<Records>& work, size_t index, const Interruption* interruption) {
  RecordsPiece<Records>& piece = *work.pieces[index];
  reuse_spare(work.lock, work.spare, piece.entries);
  PieceEnd end;
  try {
    end = lay_out(work, piece, index, interruption);
    if (end == PieceEnd::Read && piece.stop != nullptr) work.not_needed_from(index + 1);
  } catch (...) {
    // This is uncommon: no memory for the entries. The one-thread reader reads
    // from the piece's start.
    piece.failed = true;
    work.not_needed_from(index + 1);
    end = PieceEnd::Read;
  }
  if (end == PieceEnd::Read) mark_done(work, piece);
  return end;
}

template <class Records>
void helper(RecordsWork<Records>& work) {
  for (size_t i; work.take(work.pieces.size(), i);) {
    if (read_piece(work, i, nullptr) != PieceEnd::Read) return;
  }
}

template <class Records>
ParallelRead read_in_pieces(SectionReader& r, LineCursor& cursor, const ThreadPlan& plan, const ThreadLease& lease) {
  ReaderState& state = r.state;
  RecordsWork<Records> work(state, r.text_begin, r.text_end);
  const size_t bytes = static_cast<size_t>(cursor.end - cursor.pos);
  cut_pieces(work.pieces, cursor.pos, cursor.end, piece_bytes(plan, bytes, lease.helpers() + 1));
  HelperThreads helpers(work.stop);
  helpers.start(lease.helpers(), [&work] { helper(work); });
  const Interruption& interruption = state.interruption;
  const auto read = [&](size_t i) { return read_piece(work, i, &interruption) != PieceEnd::Interrupted; };
  return take_pieces_in_order(
      work, cursor, interruption, read, [&](RecordsPiece<Records>& piece) -> std::optional<ParallelRead> {
        if (piece.failed) {
          cursor.pos = piece.begin;
          return ParallelRead::Read;
        }
        for (const auto& e : piece.entries) Records::apply(r, e);
        merge(state.notices, piece.notices);
        if (!piece.misspelt.empty()) r.misspelt = piece.misspelt;
        if (piece.stop != nullptr) {
          cursor.pos = piece.stop;
          return ParallelRead::Read;
        }
        keep_spare(work.lock, work.spare, piece.entries);
        return std::nullopt;
      });
}

// Whether the column map is to be built from nothing for so many columns that
// threads share the work: plan.shared_map_min (kSharedMapMin, a million, with the
// usual plan).
bool map_worth_sharing(const ColumnIndex& index, const NameList& names, const ThreadPlan& plan) noexcept {
  return index.indexed == 0 && index.slots.empty() && names.size() > 0 && names.size() >= plan.shared_map_min;
}

// Builds the column map from nothing with `helpers` + 1 threads, each entering a
// run of columns; as sync_columns does on one thread.
void share_map_building(ColumnIndex& index, const NameList& names, size_t helpers) {
  const size_t total = names.size();
  index.slots.assign_free(slots_for(total));
  const size_t threads = helpers + 1;
  std::vector<SharedEntry> results(threads);
  std::atomic<bool> give_up{false};
  std::atomic<bool> all_entered{true};
  const auto enter = [&](size_t t) {
    const auto from = static_cast<uint32_t>(total * t / threads);
    const auto to = static_cast<uint32_t>(total * (t + 1) / threads);
    if (!enter_columns_shared(index, names, from, to, give_up, results[t])) all_entered.store(false);
  };
  run_on_threads(threads, enter);
  if (!all_entered.load()) {
    // This is uncommon: names pile up near one slot. One thread starts over and
    // moves the map to the keyed hash.
    index.slots.assign_free(0);
    sync_columns(index, names);
    return;
  }
  index.count = 0;
  index.max_shift = 0;
  for (const SharedEntry& e : results) {
    index.count += e.count;
    index.max_shift = std::max(index.max_shift, e.max_shift);
  }
  index.indexed = static_cast<uint32_t>(total);
  index.entered = total;
}

// A quadratic section in pieces, once the column map holds every column (as for
// BOUNDS). Only when the section cannot reach the entry limit, which the pieces' records
// could not report: a record takes at least 6 bytes ("a b 1" and its line end).
ParallelRead read_quadratic_in_parallel(SectionReader& r, LineCursor& cursor, const ThreadPlan& plan) {
  ReaderState& state = r.state;
  const size_t bytes = static_cast<size_t>(cursor.end - cursor.pos);
  constexpr size_t kShortestRecord = 6;
  const size_t entries = state.quadratic.entries.size() + state.quadratic.mirrored.size();
  if (plan.threads < 2 || bytes == 0 || bytes < plan.records_min_bytes ||
      entries + bytes / kShortestRecord >= state.limits.max_entries) {
    return ParallelRead::OneThread;
  }
  ThreadLease lease(plan.threads, plan.threads);
  if (lease.helpers() == 0) return ParallelRead::OneThread;
  if (map_worth_sharing(state.col_index, state.col_names, plan)) {
    share_map_building(state.col_index, state.col_names, lease.helpers());
  } else {
    sync_columns(state.col_index, state.col_names);
  }
  return read_in_pieces<QuadraticRecords>(r, cursor, plan, lease);
}

}  // namespace

ParallelRead read_records_in_parallel(SectionReader& r, LineCursor& cursor, bool text_whole, const ThreadPlan& plan) {
  if (r.section == Section::Quadratic) return read_quadratic_in_parallel(r, cursor, plan);
  ReaderState& state = r.state;
  const bool bounds = r.section == Section::Bounds;
  const size_t bytes = static_cast<size_t>(cursor.end - cursor.pos);
  // A short BOUNDS section after millions of columns: the map holds the columns the
  // rest of the text names (the cursor's end is the text's end: the text is whole,
  // from the start or once a gzip text has all arrived).
  const bool named =
      bounds && text_whole && worth_naming_columns(state.col_index, state.col_names.size(), bytes, plan);
  const std::string_view rest(cursor.pos, bytes);
  // Else a short BOUNDS section may still need the map of millions of columns.
  const bool share_map = bounds && !named && map_worth_sharing(state.col_index, state.col_names, plan);
  const bool pieces = bytes != 0 && bytes >= plan.records_min_bytes;
  if (plan.threads < 2 || (!share_map && !named && !pieces)) {
    if (named) index_named_columns(state.col_index, state.col_names, rest, 0);
    return ParallelRead::OneThread;
  }
  ThreadLease lease(plan.threads, plan.threads);
  if (named) index_named_columns(state.col_index, state.col_names, rest, lease.helpers());
  if (lease.helpers() == 0) return ParallelRead::OneThread;
  if (!bounds) return read_in_pieces<RhsRecords>(r, cursor, plan, lease);
  // Every column the lines may name is in the map before the threads look.
  if (share_map) {
    share_map_building(state.col_index, state.col_names, lease.helpers());
  } else {
    sync_columns(state.col_index, state.col_names);
  }
  if (!pieces) return ParallelRead::OneThread;
  return read_in_pieces<BoundsRecords>(r, cursor, plan, lease);
}

}  // namespace mopsel
