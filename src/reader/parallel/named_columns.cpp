#include "reader/parallel/named_columns.hpp"

#include <atomic>
#include <cstdint>
#include <new>
#include <vector>

#include "reader/text/lines.hpp"
#include "reader/names/name_map.hpp"
#include "reader/text/utf8.hpp"
#include "platform/helper_threads.hpp"

namespace mopsel {

namespace {

// The fields of every line of `text`, split as the reader splits a BOUNDS record
// line (trimmed, then the fields it keeps): every name a record may look up is
// among them, and more words than lookups is harmless.
NameMap<uint8_t> words_of(std::string_view text) {
  NameMap<uint8_t> words;
  LineCursor cursor = line_cursor(text);
  const char* const readable = text.data() + text.size();
  std::string_view line;
  Fields fields;
  while (next_line(cursor, line)) {
    split_fields_into(trim_unicode(line), kMaxFields, readable, fields);
    for (size_t i = 0; i < fields.count; ++i) assign_name(words, fields.at[i], uint8_t{1});
  }
  return words;
}

// A bit per hash value for the words' hashes, 16 bits or more per word: nearly
// every column name is none of the words, and the bits (in the first-level cache
// for a few thousand words) turn most of them away before a probe of the set.
struct WordBits {
  explicit WordBits(const NameMap<uint8_t>& words) {
    size_t size = 4096;
    while (size < 16 * words.count) size *= 2;
    bits.assign(size / 64, 0);
    mask = size - 1;
    for (const auto& slot : words.slots) {
      if (slot.code != 0) set(detail::slot_hash(slot, words.seed));
    }
  }
  void set(uint64_t hash) noexcept { bits[(hash & mask) / 64] |= uint64_t{1} << (hash % 64); }
  bool may_hold(uint64_t hash) const noexcept { return (bits[(hash & mask) / 64] >> (hash % 64) & 1) != 0; }

  std::vector<uint64_t> bits;
  uint64_t mask;
};

// The columns of [from, to) whose name is in `words`, in order.
void find_named(const NameList& names, const NameMap<uint8_t>& words, const WordBits& bits, uint32_t from,
                uint32_t to, std::vector<uint32_t>& found) {
  for (uint32_t j = from; j < to; ++j) {
    const NameKey key = map_key(words, names[j]);
    if (bits.may_hold(key.hash) && find_key(words, key) != nullptr) found.push_back(j);
  }
}

}  // namespace

bool worth_naming_columns(const ColumnIndex& index, size_t columns, size_t rest_bytes,
                          const ThreadPlan& plan) noexcept {
  if (index.indexed != 0 || !index.slots.empty() || columns == 0) return false;
  if (columns < plan.named_columns_min) return false;
  return plan.named_columns_per_byte == 0 || rest_bytes <= columns / plan.named_columns_per_byte;
}

void index_named_columns(ColumnIndex& index, const NameList& names, std::string_view rest, size_t helpers) {
  const NameMap<uint8_t> words = words_of(rest);
  const WordBits bits(words);
  const size_t total = names.size();
  const size_t threads = helpers + 1;
  std::vector<std::vector<uint32_t>> found(threads);
  std::atomic<bool> failed{false};
  run_on_threads(threads, [&](size_t t) {
    try {
      find_named(names, words, bits, static_cast<uint32_t>(total * t / threads),
                 static_cast<uint32_t>(total * (t + 1) / threads), found[t]);
    } catch (...) {
      failed.store(true);  // no memory for the list: the reading thread says so below
    }
  });
  if (failed.load()) throw std::bad_alloc();
  size_t count = 0;
  for (const std::vector<uint32_t>& run : found) count += run.size();
  index.slots.assign_free(slots_for(count));
  // In column order, so that a repeated name keeps its last column.
  for (const std::vector<uint32_t>& run : found) {
    for (const uint32_t j : run) {
      if (!detail::try_enter_column(index, names, name_key(names[j], index.seed), j)) [[unlikely]]
        detail::enter_column_keyed(index, names, j);
    }
  }
  index.indexed = static_cast<uint32_t>(total);
  index.entered = count;
}

}  // namespace mopsel
