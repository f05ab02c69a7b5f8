#pragma once
// Renders a ModelRecord as MPS text into a sink (sink.hpp), section by section,
// in one forward pass.
//
// Every line is rendered whole: into the room the sink offers for it, or else
// into a scratch buffer and put as one piece, so a sink sees each line as one
// piece either way. Rendering stops at the first line after which the sink is
// no longer ok.
//
// The record must have passed check_writable (record_checks.hpp): the matrix
// positions and their rows are not checked again here. The other lookups still
// raise InternalFault ("index out of bounds: ...") should they fail.
#include <optional>

#include "model/model_record.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/sink.hpp"
#include "writer/write_options.hpp"

namespace mopsel {

// The fixed layout (WriteOptions{}).
template <TextSink Sink>
void write_mps(const ModelRecord& record, Sink& sink);

// Any options: the number format and the exact mode are applied here;
// `options.gzip` is the caller's business (it picks the sink).
template <TextSink Sink>
void write_mps_with_options(const ModelRecord& record, Sink& sink, const WriteOptions& options);

// Fixed-format MPS (`options.fixed_columns`), into memory (the caller copies it on):
// the first number that does not fit its 12 columns in the exact mode, when one does
// not (the text is then not to be used).
std::optional<double> write_mps_fixed_columns(const ModelRecord& record, BufferSink& sink,
                                              const WriteOptions& options);

}  // namespace mopsel
