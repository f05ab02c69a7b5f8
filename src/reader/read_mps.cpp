#include "reader/read_mps.hpp"

#include <optional>
#include <utility>

#include "reader/records/assemble.hpp"
#include "reader/careful/careful_lines.hpp"
#include "reader/text/locate.hpp"
#include "reader/default_reader.hpp"
#include "reader/text/size_hints.hpp"
#include "source/load_source.hpp"
#include "platform/prefault.hpp"
#include "platform/reading_threads.hpp"
#include "platform/text_buffer.hpp"

namespace mopsel {

namespace {

Error located(Error error, std::string_view text) {
  attach_location(error, text);
  return error;
}

void prepare(ReaderState& state, std::string_view text, const ReaderLimits& limits, const Interruption& interruption,
             const ReadOptions& options) {
  state = ReaderState{};
  state.limits = limits;
  state.interruption = interruption;
  state.keep_free_rows = options.keep_free_rows;
  // Only a free-format reading counts the signs of fixed columns; the automatic one acts on them.
  state.notices.fixed_signs = options.format == Format::Free;
  reserve_from_hints(scan_size_hints(text), text.size(), state);
}

// One careful read. The automatic format reads free format first and, when the text
// turns out to need fixed columns, reads it all again in fixed format. On failure
// (and when collecting, a failure found) returns false; `failure` then describes the
// first failure with its line. An interruption is the failure as it is.
bool careful_read(std::string_view text, const ReadOptions& options, const ReaderLimits& limits,
                  const Interruption& interruption, ReaderState& state, Findings& findings, Error& failure) {
  FixedTrigger trigger;
  Format format = options.format == Format::Auto ? Format::Free : options.format;
  for (;;) {
    prepare(state, text, limits, interruption, options);
    findings = Findings(text, options);
    if (trigger.found) {
      (void)report_at(findings, FindingCode::FixedFormat, trigger.offset, trigger.lineno, trigger.message);
    }
    const bool detect = options.format == Format::Auto && !trigger.found;
    findings.defer_strict = detect && options.strict;
    if (read_sections_careful(text, state, findings, format, detect, trigger, failure)) return true;
    if (failure.kind == ErrorKind::Interrupted) return false;
    if (!(detect && trigger.found)) break;
    format = Format::Fixed;
  }
  if (findings.stop) {
    const Finding& stop = *findings.stop;
    failure = reading_failure(stop.code, stop.message, stop.offset);
    failure.lineno = stop.lineno;
  }
  failure = located(std::move(failure), text);
  return false;
}

// Only after a failed read: the names of a record are checked once it is made, so
// the text is read again carefully, which stops at the first bad name with its place.
Error invalid_name_failure(std::string_view text, const ReaderLimits& limits) {
  ReaderState state;
  Findings findings(text, ReadOptions{});
  Error failure = reading_failure(FindingCode::InvalidUtf8, failure_reason(FindingCode::InvalidUtf8, {}, limits), kNoOffset);
  (void)careful_read(text, ReadOptions{}, limits, Interruption{}, state, findings, failure);
  return failure;
}

template <class T>
void add_room(std::vector<MemoryRange>& ranges, const OwnedArray<T>& array) {
  if (array.capacity() > 0) ranges.push_back({array.data(), array.capacity() * sizeof(T)});
}

// The room reserved in the per-entry, per-column and per-row arrays, for a helper
// to map ahead of the reading thread (prefault.hpp).
std::vector<MemoryRange> reserved_room(const ReaderState& state) {
  std::vector<MemoryRange> ranges;
  ranges.reserve(16);
  add_room(ranges, state.entry_row);
  add_room(ranges, state.entry_value);
  add_room(ranges, state.col_names.ends);
  add_room(ranges, state.col_cost);
  add_room(ranges, state.col_lower);
  add_room(ranges, state.col_upper);
  add_room(ranges, state.col_integrality);
  add_room(ranges, state.col_default_binary);
  add_room(ranges, state.col_start);
  add_room(ranges, state.row_names.ends);
  add_room(ranges, state.row_lower);
  add_room(ranges, state.row_upper);
  add_room(ranges, state.row_types);
  return ranges;
}

// From plan.prefault_min_bytes of text on (kPrefaultMin, 4 MiB, with the usual plan),
// a read on one thread has a helper map its arrays ahead of it (prefault.hpp).
bool worth_prefaulting(size_t text_size, const ThreadPlan& plan) noexcept {
  // Larger texts may be read by several threads, which then have no core to spare.
  return plan.threads > 1 && text_size >= plan.prefault_min_bytes && text_size < plan.min_bytes;
}

// What `notices` counted in `text`, with the line where each kind was first met.
ReadNotices notices_of(const Notices& notices, std::string_view text) {
  ReadNotices out;
  std::vector<uint64_t> offsets;
  for (size_t i = 0; i < kNoticeCount; ++i) {
    const NoticeTally& tally = notices.tally[i];
    if (tally.count == 0) continue;
    offsets.push_back(static_cast<uint64_t>(tally.first.data() - text.data()));
    std::string first;
    if (static_cast<Notice>(i) == Notice::SkippedSection) {
      for (const std::string_view name : notices.skipped) first += (first.empty() ? "" : ", ") + std::string(name);
    } else {
      first = tally.first;
    }
    out.push_back({kNoticeCodes[i], tally.count, 0, std::move(first)});
  }
  const std::vector<uint64_t> lines = line_numbers(text, offsets);
  for (size_t i = 0; i < out.size(); ++i) out[i].lineno = lines[i];
  return out;
}

// The record of a default read that ended with `read`, or its failure located in the text.
Result<ModelRecord> default_read_outcome(const Status& read, ReaderState&& state, std::string_view text,
                                         const ReaderLimits& limits) {
  if (!read) {
    if (read.error().kind == ErrorKind::Interrupted) return read.error();
    return located(read.error(), text);
  }
  ModelRecord record = finish_model(std::move(state));
  // A name that is not valid UTF-8 could not become a Python string.
  if (!record_names_are_utf8(record)) return invalid_name_failure(text, limits);
  return record;
}

// A default read of gzip text while it is inflated (read_sections_arriving); the
// outcome is made once the text has all arrived and is sound.
struct StreamedRead {
  ReaderState state;
  std::optional<Status> read;  // set when the reader finished
};

ReadVerdict read_arriving_text(void* context, const ArrivingText& text) {
  StreamedRead& reading = *static_cast<StreamedRead*>(context);
  std::optional<Status> read = read_sections_arriving(text, reading.state);
  if (!read) return ReadVerdict::Abandoned;
  if (!*read && read->error().kind == ErrorKind::Interrupted) return ReadVerdict::Interrupted;
  reading.read = std::move(read);
  return ReadVerdict::Finished;
}

// The default reader over `text` into a fresh `state`.
Status default_read(std::string_view text, const ReaderLimits& limits, const Interruption& interruption,
                    ReaderState& state) {
  state.limits = limits;
  state.interruption = interruption;
  reserve_from_hints(scan_size_hints(text), text.size(), state);
  std::optional<BackgroundPrefault> prefault;
  if (const ThreadPlan plan = reading_thread_plan(); worth_prefaulting(text.size(), plan)) {
    prefault.emplace(reserved_room(state), plan);
  }
  const Status read = read_sections(text, state);
  prefault.reset();  // before any array is handed on
  return read;
}

// A careful read with `options` (not collecting).
Result<ModelRecord> careful_model(std::string_view text, const ReadOptions& options, const ReaderLimits& limits,
                                  const Interruption& interruption, ReadNotices* notices) {
  ReaderState state;
  Findings findings(text, options);
  Error failure = parse_failure();
  const bool read = careful_read(text, options, limits, interruption, state, findings, failure);
  if (notices != nullptr) *notices = notices_of(state.notices, text);
  if (!read) return failure;
  ModelRecord record = finish_model(std::move(state));
  if (!record_names_are_utf8(record)) return invalid_name_failure(text, limits);
  return record;
}

// The outcome of a default read that ended with `read` under `options`. A text the
// default reader marked for a careful reading (notices.hpp) is read again carefully:
// with the automatic format, always (the careful reader chooses the format), with the
// free one when the counts are wanted and the read succeeded.
Result<ModelRecord> default_outcome(const Status& read, ReaderState&& state, std::string_view text,
                                    const ReadOptions& options, const ReaderLimits& limits,
                                    const Interruption& interruption, ReadNotices* notices) {
  const bool interrupted = !read && read.error().kind == ErrorKind::Interrupted;
  if (state.notices.recheck && !interrupted &&
      (options.format == Format::Auto || (notices != nullptr && read.ok()))) {
    return careful_model(text, options, limits, interruption, notices);
  }
  if (notices != nullptr) *notices = notices_of(state.notices, text);
  return default_read_outcome(read, std::move(state), text, limits);
}

}  // namespace

Result<ModelRecord> read_mps(std::string_view text, const Interruption& interruption) {
  return read_mps_with_limits(text, ReaderLimits{}, interruption);
}

Result<ModelRecord> read_mps_with_limits(std::string_view text, const ReaderLimits& limits,
                                         const Interruption& interruption) {
  return read_mps_with_limits(text, limits, interruption, ReadOptions{}, nullptr);
}

Result<ModelRecord> read_mps_with_limits(std::string_view text, const ReaderLimits& limits,
                                         const Interruption& interruption, const ReadOptions& options,
                                         ReadNotices* notices) {
  ReaderState state;
  const Status read = default_read(text, limits, interruption, state);
  return default_outcome(read, std::move(state), text, options, limits, interruption, notices);
}

Result<ModelRecord> read_mps(std::string_view text, const ReadOptions& options, const ReaderLimits& limits,
                             const Interruption& interruption, ReadNotices* notices) {
  ReadOptions reading = options;
  reading.collect = false;
  if (!reading.default_reader()) return careful_model(text, reading, limits, interruption, notices);
  return read_mps_with_limits(text, limits, interruption, reading, notices);
}

Result<ModelRecord> read_mps_file(std::string_view path, const Interruption& interruption) {
  return read_mps_file(path, names_gzip(path), interruption);
}

Result<ModelRecord> read_mps_file(std::string_view path, bool gzip, const Interruption& interruption) {
  return read_mps_file(path, gzip, ReadOptions{}, interruption, nullptr);
}

Result<ModelRecord> read_mps_file(std::string_view path, bool gzip, const ReadOptions& options,
                                  const Interruption& interruption, ReadNotices* notices) {
  // The model holds no view into the text, so its buffer may be kept for the next read.
  if (!gzip || !options.default_reader()) {
    Result<ByteBuffer> text = load_source(path, gzip, interruption);
    if (!text) return text.error();
    const std::string_view view = text.value().empty() ? std::string_view() : as_view(text.value());
    Result<ModelRecord> record = read_mps(view, options, ReaderLimits{}, interruption, notices);
    keep_text_buffer(std::move(text.value()));
    return record;
  }
  StreamedRead reading;
  reading.state.interruption = interruption;
  bool streamed = false;
  Result<ByteBuffer> text = load_gzip_streamed(path, interruption, {read_arriving_text, &reading}, streamed);
  if (!text) return text.error();
  const std::string_view whole = as_view(text.value());
  // The reader's views point into this text, which never moved.
  Result<ModelRecord> record =
      streamed ? default_outcome(*reading.read, std::move(reading.state), whole, options, ReaderLimits{},
                                 interruption, notices)
               : read_mps(whole, options, ReaderLimits{}, interruption, notices);
  keep_text_buffer(std::move(text.value()));
  return record;
}

CheckReport check_mps(std::string_view text, ReadOptions options, const ReaderLimits& limits,
                      const Interruption& interruption) {
  options.collect = true;
  options.strict = false;
  ReaderState state;
  Findings findings(text, options);
  Error failure = parse_failure();
  (void)careful_read(text, options, limits, interruption, state, findings, failure);
  CheckReport report;
  report.findings = findings_in_file_order(std::move(findings.list));
  report.counts = findings.counts;
  return report;
}

}  // namespace mopsel
