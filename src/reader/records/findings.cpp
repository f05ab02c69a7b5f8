#include "reader/records/findings.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "reader/records/quadratic.hpp"
#include "reader/text/numbers.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel {

namespace {

// Names in messages are cut to this many bytes: a message is one line.
constexpr size_t kNameInMessage = 60;

bool stops(const Findings& findings, FindingCode code) noexcept {
  if (findings.options.collect) return false;
  const Weight weight = finding_weight(code);
  return weight == Weight::Fatal || (weight == Weight::Strict && findings.options.strict);
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// True when `field` holds a digit right before and right after some `mark`.
bool between_digits(std::string_view field, char mark) noexcept {
  for (size_t i = 1; i + 1 < field.size(); ++i) {
    if (field[i] == mark && is_digit(field[i - 1]) && is_digit(field[i + 1])) return true;
  }
  return false;
}

}  // namespace

bool wants(const Findings& findings, FindingCode code) noexcept {
  return findings.options.collect || stops(findings, code);
}

bool report_at(Findings& findings, FindingCode code, uint64_t offset, uint64_t lineno, std::string message) {
  if (finding_weight(code) == Weight::Fatal) findings.failed = true;
  if (findings.defer_strict && finding_weight(code) == Weight::Strict && stops(findings, code)) {
    if (!findings.stop) findings.stop = Finding{code, offset, lineno, std::move(message)};
    return true;
  }
  if (stops(findings, code)) {
    if (!findings.stop) findings.stop = Finding{code, offset, lineno, std::move(message)};
    return false;
  }
  if (findings.options.collect) {
    uint64_t& count = findings.counts[static_cast<size_t>(code)];
    if (++count <= findings.options.limit) findings.list.push_back({code, offset, lineno, std::move(message)});
  }
  return true;
}

bool report(Findings& findings, FindingCode code, std::string_view at, std::string message) {
  const char* base = findings.text.data();
  const bool inside = !at.empty() && at.data() >= base && at.data() <= base + findings.text.size();
  const uint64_t offset = inside ? static_cast<uint64_t>(at.data() - base) : findings.line_start;
  return report_at(findings, code, offset, findings.lineno, std::move(message));
}

std::vector<Finding> findings_in_file_order(std::vector<Finding> list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const Finding& a, const Finding& b) { return a.lineno < b.lineno; });
  return list;
}

Error reading_failure(FindingCode cause, std::string reason, uint64_t offset) {
  Error error = parse_failure();
  error.cause = cause;
  error.reason = std::move(reason);
  error.offset = offset;
  return error;
}

std::string failure_reason(FindingCode cause, std::string_view field, const ReaderLimits& limits) {
  switch (cause) {
    case FindingCode::NoEndData: return "no ENDATA line";
    case FindingCode::UnknownRowType: return "unknown row type " + quoted(field) + " in ROWS";
    case FindingCode::UnknownBoundType: return "unknown bound type " + quoted(field) + " in BOUNDS";
    case FindingCode::TooManyRows: return "more than " + count_text(limits.max_rows) + " rows";
    case FindingCode::TooManyColumns: return "more than " + count_text(limits.max_columns) + " columns";
    case FindingCode::TooManyEntries: return "more than " + count_text(limits.max_entries) + " matrix entries";
    case FindingCode::InvalidUtf8: return "a row, column or model name is not valid UTF-8";
    case FindingCode::AsymmetricMatrix:
      return "the record " + quoted(field) +
             " has no equal mirror record (QMATRIX and QCMATRIX give both halves of a symmetric matrix)";
    case FindingCode::RowHessiansTooLarge:
      return "the quadratic rows would need more than " + count_text(kRowHessianStartsPerByte) +
             " column starts per byte of text (each row's H holds one per column)";
    case FindingCode::UnknownSosType: return "unknown SOS type " + quoted(field) + " (S1 or S2)";
    case FindingCode::BadIndicator:
      return "INDICATORS record " + quoted(field) + " is not IF, a row, a known column and 0 or 1";
    case FindingCode::UnknownQuadraticRow:
      return quoted(field) + " names no row for a QSECTION or QCMATRIX section";
    case FindingCode::RepeatedQuadraticRow:
      return quoted(field) +
             ": a second quadratic section for one row (a QSECTION or QCMATRIX section gives the whole quadratic "
             "part of its row, the objective's too)";
    case FindingCode::UnknownSection:
      return quoted(field) +
             " in column 1 is no section keyword: the lines after it are read as records of the section before "
             "(a misspelt section header?)";
    default: return std::string(finding_name(cause));
  }
}

std::string quoted(std::string_view name) {
  std::string out = "'";
  if (name.size() <= kNameInMessage) {
    out += name;
  } else {
    out += name.substr(0, kNameInMessage);
    out += "...";
  }
  out += '\'';
  return out;
}

std::string number_text(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string count_text(uint64_t count) {
  const std::string digits = std::to_string(count);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string bad_number_message(std::string_view field) {
  std::string_view hint;
  const std::string_view unsigned_part = field.substr(field.empty() || (field[0] != '+' && field[0] != '-') ? 0 : 1);
  if (field.find('/') != std::string_view::npos) {
    hint = "a fraction";
  } else if (between_digits(field, ',')) {
    hint = "a decimal comma or digit separator";
  } else if (between_digits(field, '_') || between_digits(field, '\'')) {
    hint = "a digit separator";
  } else if (unsigned_part.size() > 2 && unsigned_part[0] == '0' && (unsigned_part[1] == 'x' || unsigned_part[1] == 'X')) {
    hint = "hexadecimal";
  } else if (field.size() > 1 && field.back() == '%') {
    hint = "a percentage";
  } else {
    // A number followed by more text ("1.0x", "2e"): look for the longest number it starts with.
    for (size_t n = std::min<size_t>(field.size(), 64); n-- > 1;) {
      if (is_mps_number(field.substr(0, n))) {
        hint = "text after the number";
        break;
      }
    }
  }
  std::string out = quoted(field) + " is not a number";
  if (!hint.empty()) {
    out += " (";
    out += hint;
    out += ')';
  }
  out += ": read as 0";
  return out;
}

std::string invalid_utf8_message(std::string_view what, std::string_view name, std::string_view text,
                                 uint64_t line_start, uint64_t& bad_offset) {
  const char* p = name.data();
  const char* const end = p + name.size();
  while (p != end) {
    const Utf8Char c = decode_utf8(p, end);
    if (c.length == 0) break;
    p += c.length;
  }
  bad_offset = static_cast<uint64_t>(p - text.data());
  char byte[8];
  std::snprintf(byte, sizeof byte, "0x%02X", p == end ? 0u : static_cast<unsigned char>(*p));
  return std::string(what) + " is not valid UTF-8 (byte " + byte + " at column " +
         std::to_string(bad_offset - line_start + 1) + ")";
}

}  // namespace mopsel
