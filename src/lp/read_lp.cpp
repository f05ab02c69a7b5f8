#include "lp/read_lp.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "lp/parallel_sections.hpp"
#include "platform/text_buffer.hpp"
#include "reader/records/assemble.hpp"
#include "reader/text/locate.hpp"
#include "reader/text/utf8.hpp"
#include "source/load_source.hpp"

namespace mopsel {
namespace {

using lp::Parser;

// Line numbers of the findings, in one pass over the text (they are in file order
// but for the last, a failure, which may lie anywhere after them).
void number_lines(std::string_view text, std::vector<Finding>& list) {
  std::stable_sort(list.begin(), list.end(), [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
  uint64_t lineno = 1;
  uint64_t at = 0;
  for (Finding& finding : list) {
    if (finding.lineno != 0) continue;
    uint64_t target = std::min<uint64_t>(finding.offset, text.size());
    // The end of a text that ends with a line feed is its last line, as locate() says.
    if (target == text.size() && target > 0 && text.back() == '\n') --target;
    lineno += static_cast<uint64_t>(std::count(text.begin() + static_cast<ptrdiff_t>(at),
                                               text.begin() + static_cast<ptrdiff_t>(target), '\n'));
    at = target;
    finding.lineno = lineno;
  }
}

// The failure of a read, with its line and column.
Error located(Error error, std::string_view text) {
  attach_location(error, text);
  return error;
}

// A name of the record that is not valid UTF-8, found where it first stands in the text.
Error invalid_name(const ModelRecord& record, std::string_view text) {
  std::string_view bad;
  auto first_bad = [&](const NameList& names) {
    for (size_t i = 0; i < names.size() && bad.empty(); ++i) {
      if (!is_valid_utf8(names[i])) bad = names[i];
    }
  };
  if (!is_valid_utf8(record.objective_name)) bad = record.objective_name;
  first_bad(record.col_names);
  first_bad(record.row_names);
  if (!is_valid_utf8(record.name) && bad.empty()) bad = record.name;
  const size_t at = bad.empty() ? std::string_view::npos : text.find(bad);
  Error error = reading_failure(FindingCode::InvalidUtf8, "a name is not valid UTF-8: " + quoted(bad),
                                at == std::string_view::npos ? kNoOffset : at);
  error.message = kLpParseFailure;
  return located(std::move(error), text);
}

}  // namespace

Result<ModelRecord> read_lp(std::string_view text, const LpReadOptions& options, const ReaderLimits& limits,
                            const Interruption& interruption) {
  ReadOptions reading;
  reading.strict = options.strict;
  std::optional<Parser> reader;
  reader.emplace(text, reading, limits, interruption);
  reader->plan = reading_thread_plan();
  bool read = reader->run();
  if (!read && reader->restart) {
    reader.emplace(text, reading, limits, interruption);  // on one thread
    read = reader->run();
  }
  Parser& parser = *reader;
  if (!read) {
    if (parser.interrupted) return parser.failure;
    return located(std::move(parser.failure), text);
  }
  ModelRecord record = lp::finish_lp_model(std::move(parser.model));
  if (!record_names_are_utf8(record)) return invalid_name(record, text);
  return record;
}

Result<ModelRecord> read_lp_file(std::string_view path, bool gzip, const LpReadOptions& options,
                                 const Interruption& interruption) {
  Result<ByteBuffer> text = load_source(path, gzip, interruption);
  if (!text) return text.error();
  Result<ModelRecord> record = read_lp(as_view(text.value()), options, ReaderLimits{}, interruption);
  keep_text_buffer(std::move(text.value()));  // the record holds no view into the text
  return record;
}

CheckReport check_lp(std::string_view text, size_t limit, const ReaderLimits& limits,
                       const Interruption& interruption) {
  ReadOptions reading;
  reading.collect = true;
  reading.limit = limit;
  Parser parser(text, reading, limits, interruption);
  const bool read = parser.run();
  CheckReport report;
  if (read) {
    ModelRecord record = lp::finish_lp_model(std::move(parser.model));
    if (!record_names_are_utf8(record)) {
      const Error error = invalid_name(record, text);
      (void)report_at(parser.findings, FindingCode::InvalidUtf8, error.offset == kNoOffset ? 0 : error.offset,
                      error.lineno, error.reason);
    }
  }
  number_lines(text, parser.findings.list);
  report.findings = std::move(parser.findings.list);
  report.counts = parser.findings.counts;
  return report;
}

}  // namespace mopsel
