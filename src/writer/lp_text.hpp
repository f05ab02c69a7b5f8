#pragma once
// Renders a ModelRecord as LP text into a sink (sink.hpp), section by section, in
// one forward pass; lp_writer.hpp gives the layout. Rendering stops at the first
// piece after which the sink is no longer ok.
#include "model/model_record.hpp"
#include "writer/sink.hpp"
#include "writer/write_options.hpp"

namespace mopsel {

// `options.gzip` is the caller's business (it picks the sink).
template <TextSink Sink>
void write_lp_text(const ModelRecord& record, Sink& sink, const WriteOptions& options);

}  // namespace mopsel
