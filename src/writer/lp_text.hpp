#pragma once
// Renders a ModelRecord as LP text into a sink (sink.hpp), section by section, in
// one forward pass; lp_writer.hpp gives the layout. Rendering stops at the first
// line (or stretch of 4096 objective terms) after which the sink is no longer ok.
#include <cstddef>

#include "model/model_record.hpp"
#include "writer/sink.hpp"
#include "writer/write_options.hpp"

namespace mopsel {

// Expressions are broken after the term that reaches this width: readers of LP text
// limit the length of a line (CPLEX to 510 bytes), and short lines read everywhere.
inline constexpr size_t kLpLineWidth = 200;


// `options.gzip` is the caller's business (it picks the sink).
template <TextSink Sink>
void write_lp_text(const ModelRecord& record, Sink& sink, const WriteOptions& options);

}  // namespace mopsel
