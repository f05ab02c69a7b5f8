#include "writer/name_checks.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "model/mps_codes.hpp"

namespace mopsel {
namespace {

// Names in fixed columns are at most this long.
constexpr size_t kFixedWidth = 8;

// Space, tab, LF, form feed and CR: the reader's field separators.
constexpr bool is_separator(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Whether `name` ends in whitespace the reader trims at a line's end: an ASCII blank
// (vertical tab included) or one of the Unicode spaces, in UTF-8.
bool ends_in_whitespace(std::string_view name) noexcept {
  if (name.empty()) return false;
  const auto last = static_cast<unsigned char>(name.back());
  if (last < 0x80) return (last >= 0x09 && last <= 0x0D) || last == 0x20;
  static constexpr std::string_view kSpaces[] = {
      "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
      "\xE2\x81\x9F", "\xE3\x80\x80"};
  for (const std::string_view space : kSpaces) {
    if (name.ends_with(space)) return true;
  }
  // U+2000 to U+200A: E2 80 80 to E2 80 8A.
  return name.size() >= 3 && name.substr(name.size() - 3, 2) == "\xE2\x80" &&
         static_cast<unsigned char>(name.back()) <= 0x8A;
}

// Whether `name` holds any whitespace, ASCII or Unicode.
bool holds_whitespace(std::string_view name) noexcept {
  for (size_t end = 1; end <= name.size(); ++end) {
    if (ends_in_whitespace(name.substr(0, end))) return true;
  }
  return false;
}

// Why free MPS cannot carry the row or column name `name`, or null.
const char* free_problem(std::string_view name, bool row) noexcept {
  if (name.empty()) return "is empty";
  for (const char c : name) {
    if (is_separator(c)) return "holds a blank";
  }
  if (ends_in_whitespace(name)) return "ends in whitespace";
  if (row && name == kMarker) return "would read as a marker";
  return nullptr;
}

// Why fixed MPS cannot carry the row or column name `name`, or null.
const char* fixed_problem(std::string_view name, bool row) noexcept {
  if (name.empty()) return "is empty";
  if (name.size() > kFixedWidth) return "is longer than the 8 bytes of a field";
  if (is_separator(name.front()) || is_separator(name.back())) return "starts or ends with a blank";
  if (name.find_first_of("\n\r") != std::string_view::npos) return "holds a line end";
  if (row && name == kMarker) return "would read as a marker";
  return nullptr;
}

std::string quoted(std::string_view name) {
  constexpr size_t kShown = 60;
  std::string out(1, '\'');
  out.append(name.substr(0, kShown));
  out.append(name.size() > kShown ? "...'" : "'");
  return out;
}

// Whether a name list holds a separator anywhere: a pass of memchr per separator over
// all its bytes, so that the usual model (none) costs little; only then are its names
// looked at one by one.
bool any_separator(const NameList& names) noexcept {
  const size_t size = names.bytes.size();
  if (size == 0) return false;
  for (const char separator : {' ', '\t', '\n', '\f', '\r'}) {
    if (std::memchr(names.bytes.data(), separator, size) != nullptr) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> unwritable_name(const ModelRecord& record, bool fixed_columns) {
  const std::string format = fixed_columns ? "fixed MPS" : "free MPS";
  if (holds_whitespace(record.name)) {
    return "the model name " + quoted(record.name) + " holds whitespace, which MPS cannot carry";
  }
  const auto problem = [&](std::string_view name, bool row) {
    return fixed_columns ? fixed_problem(name, row) : free_problem(name, row);
  };
  const auto said = [&](const char* what, std::string_view name, const char* why) {
    return std::string(what) + " " + quoted(name) + " " + why + ", which " + format + " cannot carry";
  };
  // An empty objective name is written as OBJ.
  if (!record.objective_name.empty()) {
    if (const char* why = problem(record.objective_name, true)) return said("the objective name", record.objective_name, why);
  }
  for (const auto& [list, row] : {std::pair<const NameList*, bool>{&record.row_names, true}, {&record.col_names, false}}) {
    const NameList& names = *list;
    // Free format: a separator shows in one pass over all the bytes; then only a name's
    // last byte (whitespace, or a byte of a multi-byte character) and a row's first one
    // (an apostrophe) can call for a closer look, which keeps the usual names cheap.
    const bool scan = fixed_columns || any_separator(names);
    uint64_t begin = 0;
    for (size_t i = 0; i < names.size(); ++i) {
      const uint64_t end = names.ends[i];
      if (!scan && end > begin) {
        const auto last = static_cast<unsigned char>(names.bytes[end - 1]);
        const bool plain_end = last > 0x20 && last < 0x80;
        if (plain_end && !(row && names.bytes[begin] == '\'')) {
          begin = end;
          continue;
        }
      }
      const std::string_view name(names.bytes.data() + begin, static_cast<size_t>(end - begin));
      begin = end;
      if (const char* why = problem(name, row)) return said(row ? "the row name" : "the column name", name, why);
    }
  }
  // SOS set names stand in a header's field as column names do; an empty one is left out.
  if (record.sos) {
    const NameList& names = record.sos->names;
    for (size_t k = 0; k < names.size(); ++k) {
      const std::string_view name = names[k];
      if (name.empty()) continue;
      if (const char* why = problem(name, false)) return said("the SOS set name", name, why);
    }
  }
  return std::nullopt;
}

}  // namespace mopsel
