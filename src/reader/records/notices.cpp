#include "reader/records/notices.hpp"

#include "reader/text/numbers.hpp"

namespace mopsel {

namespace {

void add(NoticeTally& tally, uint64_t count, std::string_view at) noexcept {
  if (count == 0) return;
  if (tally.count == 0 || at.data() < tally.first.data()) tally.first = at;
  tally.count += count;
}

void keep_name(std::vector<std::string_view>& names, std::string_view word) {
  for (const std::string_view name : names) {
    if (name == word) return;
  }
  if (names.size() < kSkippedNamesKept) names.push_back(word);
}

}  // namespace

void note(Notices& notices, Notice kind, std::string_view at, uint64_t count) noexcept {
  add(notices.tally[static_cast<size_t>(kind)], count, at);
}

void note_zero_value(Notices& notices, std::string_view field) noexcept {
  if (!field.empty() && !is_mps_number(field)) note(notices, Notice::BadNumber, field);
}

void note_skipped_section(Notices& notices, std::string_view word) {
  note(notices, Notice::SkippedSection, word);
  keep_name(notices.skipped, word);
}

void merge(Notices& into, const Notices& piece) {
  for (size_t i = 0; i < kNoticeCount; ++i) add(into.tally[i], piece.tally[i].count, piece.tally[i].first);
  for (const std::string_view name : piece.skipped) keep_name(into.skipped, name);
  into.recheck = into.recheck || piece.recheck;
}

}  // namespace mopsel
