#include "reader/read_mps.hpp"

#include <utility>

#include "reader/assemble.hpp"
#include "reader/sections.hpp"
#include "reader/size_hints.hpp"
#include "source/load_source.hpp"

namespace mopsel {

Result<ModelRecord> read_mps(std::string_view text) { return read_mps_with_limits(text, ReaderLimits{}); }

Result<ModelRecord> read_mps_with_limits(std::string_view text, const ReaderLimits& limits) {
  ReaderState state;
  state.limits = limits;
  reserve_from_hints(scan_size_hints(text), text.size(), state);
  if (Status read = read_sections(text, state); !read) return read.error();
  ModelRecord record = finish_model(std::move(state));
  // A name that is not valid UTF-8 could not become a Python string.
  if (!record_names_are_utf8(record)) return parse_failure();
  return record;
}

Result<ModelRecord> read_mps_file(std::string_view path) {
  Result<ByteBuffer> text = load_source(path);
  if (!text) return text.error();
  return read_mps(as_view(text.value()));
}

}  // namespace mopsel
