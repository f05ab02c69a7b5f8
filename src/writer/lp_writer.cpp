#include "writer/lp_writer.hpp"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "model/lp_words.hpp"
#include "platform/helper_threads.hpp"
#include "platform/reading_threads.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/lp_text.hpp"
#include "writer/text_output.hpp"

namespace mopsel {
namespace {

// Bytes that end a name in LP text, and those that cannot start one.
constexpr std::array<bool, 256> kNotInName = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\r', '\f', '\v', '+', '-', '*', '^', '<', '>', '=', ':', '[', ']', '\\'}) {
    table[c] = true;
  }
  table[0] = true;
  return table;
}();

// Whether `name` may be a reserved word: its length is one of theirs and its first
// letter, in either case, begins one. Most names are not, and skip the comparisons.
constexpr bool maybe_reserved(std::string_view name) noexcept {
  constexpr auto kShape = [] {
    struct {
      uint64_t lengths = 0;
      std::array<bool, 256> first{};
    } shape;
    for (std::string_view word : kLpReservedWords) {
      shape.lengths |= uint64_t{1} << word.size();
      const auto c = static_cast<unsigned char>(word.front());
      shape.first[c] = true;
      shape.first[c - ('a' - 'A')] = true;
    }
    return shape;
  }();
  return name.size() < 64 && (kShape.lengths >> name.size() & 1) != 0 &&
         kShape.first[static_cast<unsigned char>(name.front())];
}

// Why `name` cannot stand in LP text, or empty.
std::string name_problem(std::string_view name) {
  if (name.empty()) return "it is empty";
  const auto first = static_cast<unsigned char>(name.front());
  if ((first >= '0' && first <= '9') || first == '.') return "it starts with a digit or a point";
  if (first == '/') return "it starts with '/'";
  for (char c : name) {
    if (kNotInName[static_cast<unsigned char>(c)]) {
      const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '\0';
      return blank ? "it holds a blank" : std::string("it holds '") + c + "'";
    }
  }
  if (maybe_reserved(name) && is_lp_reserved_word(name)) return "it is a keyword of LP text";
  return {};
}

std::string shown(std::string_view name) {
  std::string out = "'";
  out.append(name.substr(0, 60));
  if (name.size() > 60) out += "...";
  return out + "'";
}

// Why the parts beyond a linear program cannot be written as LP text, naming the first
// offender: what LP text has no place for (an SOS priority, a second indicator of a row)
// or numbers it cannot hold (the objective's products are written doubled, so they
// must stay finite then).
std::optional<std::string> parts_problem(const ModelRecord& record) {
  auto bad = [](double value) { return std::isnan(value) || std::isinf(value); };
  auto bad_hessian = [&](const SparseMatrixRecord& h, bool doubled_products) {
    for (uint32_t j = 0; j + 1 < h.start.size(); ++j) {
      for (uint32_t k = h.start[j]; k < h.start[j + 1]; ++k) {
        if (bad(h.value[k]) || (doubled_products && h.index[k] != j && bad(2.0 * h.value[k]))) return true;
      }
    }
    return false;
  };
  if (record.hessian && bad_hessian(*record.hessian, true)) {
    return std::string("a value of the objective's quadratic part is NaN or too large: LP text cannot hold it");
  }
  for (const RowHessianRecord& r : record.row_hessians) {
    if (bad_hessian(r.matrix, false)) {
      return "a value of the quadratic part of row " + shown(record.row_names[r.row]) + " is NaN or infinite: LP text cannot hold it";
    }
  }
  if (record.sos) {
    const SosRecord& sos = *record.sos;
    for (size_t s = 0; s < sos.names.size(); ++s) {
      const std::string_view name = sos.names[s];
      if (!name.empty()) {
        if (std::string why = name_problem(name); !why.empty()) {
          return "SOS set name " + shown(name) + " cannot be written in LP text: " + why;
        }
      }
      if (sos.priority[s] != 0) {
        return "SOS set " + shown(name) + " has the priority " + std::to_string(sos.priority[s]) +
               ", which LP text has no place for: write it as MPS";
      }
      for (uint32_t k = sos.start[s]; k < sos.start[s + 1]; ++k) {
        if (bad(sos.weight[k])) return "a weight of SOS set " + shown(name) + " is NaN or infinite: LP text cannot hold it";
      }
    }
  }
  if (record.indicators) {
    std::vector<uint8_t> seen(record.num_row, 0);
    for (const uint32_t row : record.indicators->row) {
      if (seen[row]++ != 0) {
        return "row " + shown(record.row_names[row]) + " has two indicators: LP text gives a row one at most";
      }
    }
  }
  return std::nullopt;
}

// The column names seen so far, to find one given twice: an open-addressing table of
// column numbers (plus 1; 0 is a free slot) with 32 bits of the name's hash beside each,
// so that a probe compares names only when those agree.
struct NameTable {
  explicit NameTable(size_t names) {
    size_t count = 16;
    while (count < names + names / 2) count *= 2;  // at most 2/3 full
    slots.assign(count, 0);
    mask = count - 1;
  }
  std::vector<uint64_t> slots;
  uint64_t mask = 0;
};

// Enters the names of columns `from` to `to` - 1, in order, into the table; the slots
// of the names a few columns ahead are fetched meanwhile, since on a large model the
// table is far beyond the caches (unordered_set took 4x the time of writing the text).
// kShared: other threads enter other columns at the same time (a slot is taken by a
// compare-and-swap, so that of two equal names entered at once one sees the other).
template <bool kShared>
class NameSeen {
 public:
  NameSeen(const NameList& names, NameTable& table, size_t from, size_t to)
      : names_(names), table_(table.slots.data()), mask_(table.mask), to_(to) {
    for (size_t j = from; j < from + kAhead && j < to; ++j) hashes_[j % kAhead] = hash_of(j);
  }

  // Adds column j's name (the next column of the range); false when the table has it.
  bool insert(size_t j) {
    const uint64_t hash = hashes_[j % kAhead];
    if (j + kAhead < to_) {
      const uint64_t ahead = hash_of(j + kAhead);
      hashes_[j % kAhead] = ahead;
      __builtin_prefetch(&table_[ahead & mask_]);
    }
    const uint64_t tag = hash >> 32;
    const uint64_t mine = tag << 32 | (j + 1);
    for (uint64_t slot = hash & mask_;; slot = (slot + 1) & mask_) {
      uint64_t entry = load(slot);
      if (entry == 0) {
        if (take(slot, entry, mine)) return true;
        // Another thread took the slot first: `entry` is now its column.
      }
      if (entry >> 32 == tag && names_[(entry & 0xFFFFFFFFu) - 1] == names_[j]) return false;
    }
  }

 private:
  static constexpr size_t kAhead = 16;
  uint64_t hash_of(size_t j) const { return std::hash<std::string_view>{}(names_[j]); }
  uint64_t load(uint64_t slot) const {
    if constexpr (kShared) return std::atomic_ref<uint64_t>(table_[slot]).load(std::memory_order_relaxed);
    return table_[slot];
  }
  bool take(uint64_t slot, uint64_t& entry, uint64_t mine) {
    if constexpr (kShared) {
      return std::atomic_ref<uint64_t>(table_[slot]).compare_exchange_strong(entry, mine, std::memory_order_relaxed);
    }
    table_[slot] = mine;
    return true;
  }

  const NameList& names_;
  uint64_t* table_;
  uint64_t mask_;
  size_t to_;
  std::array<uint64_t, kAhead> hashes_{};
};

// Whether every row and column name can stand in LP text and no column name is given
// twice, found by `threads` threads over ranges of the names. Only says yes or no: on
// a no, the one-thread check names the first offender, as a text in order would.
bool names_pass_on_threads(const ModelRecord& record, size_t threads) {
  const NameList& rows = record.row_names;
  const NameList& columns = record.col_names;
  NameTable table(columns.size());
  std::atomic<bool> fault{false};
  // How often a thread looks whether another found a fault.
  constexpr size_t kLookStride = 4096;
  run_on_threads(threads, [&](size_t t) {
    const size_t row_from = rows.size() * t / threads, row_to = rows.size() * (t + 1) / threads;
    for (size_t i = row_from; i < row_to; ++i) {
      if (!name_problem(rows[i]).empty() || (i % kLookStride == 0 && fault.load(std::memory_order_relaxed))) {
        fault.store(true);
        return;
      }
    }
    const size_t from = columns.size() * t / threads, to = columns.size() * (t + 1) / threads;
    NameSeen<true> seen(columns, table, from, to);
    for (size_t j = from; j < to; ++j) {
      if (!name_problem(columns[j]).empty() || !seen.insert(j) ||
          (j % kLookStride == 0 && fault.load(std::memory_order_relaxed))) {
        fault.store(true);
        return;
      }
    }
  });
  return !fault.load();
}

}  // namespace

std::optional<std::string> lp_unwritable_name(const ModelRecord& record) {
  const std::string_view objective = record.objective_name.empty() ? std::string_view("obj") : record.objective_name;
  if (std::string why = name_problem(objective); !why.empty()) {
    return "objective name " + shown(objective) + " cannot be written in LP text: " + why;
  }
  const LpTextPlan plan = lp_text_plan();
  bool names_pass = false;
  if (plan.threads > 1 && record.col_names.size() + record.row_names.size() >= plan.min_names) {
    ThreadLease lease(plan.threads, plan.threads);
    if (lease.helpers() > 0) names_pass = names_pass_on_threads(record, lease.helpers() + 1);
  }
  for (size_t i = 0; !names_pass && i < record.row_names.size(); ++i) {
    if (std::string why = name_problem(record.row_names[i]); !why.empty()) {
      return "row name " + shown(record.row_names[i]) + " cannot be written in LP text: " + why;
    }
  }
  NameTable table(names_pass ? 0 : record.col_names.size());
  NameSeen<false> seen(record.col_names, table, 0, record.col_names.size());
  for (size_t j = 0; !names_pass && j < record.col_names.size(); ++j) {
    const std::string_view name = record.col_names[j];
    if (std::string why = name_problem(name); !why.empty()) {
      return "column name " + shown(name) + " cannot be written in LP text: " + why;
    }
    if (!seen.insert(j)) {
      return "column name " + shown(name) + " is given to two columns: LP text names a column by its name";
    }
  }
  auto number_problem = [](double value) { return std::isnan(value) || std::isinf(value); };
  if (number_problem(record.obj_offset)) return "the objective constant is NaN or infinite: LP text cannot hold it";
  for (size_t j = 0; j < record.col_cost.size(); ++j) {
    if (number_problem(record.col_cost[j])) {
      return "the cost of column " + shown(record.col_names[j]) + " is NaN or infinite: LP text cannot hold it";
    }
  }
  for (size_t k = 0; k < record.a_matrix.value.size(); ++k) {
    if (number_problem(record.a_matrix.value[k])) {
      return "a coefficient of the matrix is NaN or infinite: LP text cannot hold it";
    }
  }
  return parts_problem(record);
}

namespace {

struct LpText {
  template <class Sink>
  static void render(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
    if (!options.gzip) {
      write_lp_text(record, sink, options);
      return;
    }
    GzipSink<Sink> compressed(sink);
    write_lp_text(record, compressed, options);
    if (compressed.ok()) compressed.finish();
  }
};

}  // namespace

Status write_lp_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options,
                          const Interruption& interruption) {
  return write_text_to_buffer<LpText>(record, out, options, interruption);
}

Status write_lp_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options,
                        const Interruption& interruption) {
  return write_text_to_file<LpText>(record, path, options, interruption);
}

}  // namespace mopsel
