#pragma once
// What the text writer needs from the place its text goes: the in-memory sink
// (buffer_sink.hpp) and the file sink (file_sink.hpp) are checked against it
// where they are defined.
#include <concepts>
#include <cstddef>
#include <string_view>

namespace mopsel {

// A destination for the writer's text, line by line:
//  - line_space(bound): room for a line of at most `bound` bytes at the end of the
//    text, or null when the sink has none at the moment;
//  - line_done(end): the line written into that room ends at `end` and now counts
//    as text;
//  - put(piece): appends a piece of text; the writer puts a line as one piece when
//    it got no room for it, and puts the fixed header lines;
//  - ok(): false once the sink has failed; the writer stops after the current line;
//  - free_space(): the room line_space gives at the moment without growing, flushing
//    or compressing (the LP writer fills it with many terms at once).
template <class S>
concept TextSink = requires(S& sink, std::string_view piece, size_t bound, char* end) {
  { sink.line_space(bound) } -> std::same_as<char*>;
  sink.line_done(end);
  sink.put(piece);
  { sink.ok() } -> std::convertible_to<bool>;
  { sink.free_space() } -> std::same_as<size_t>;
};

}  // namespace mopsel
