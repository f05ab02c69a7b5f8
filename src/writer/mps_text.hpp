#pragma once
// Renders a ModelRecord as MPS text into a sink, section by section, in one
// forward pass.
//
// A sink has `void put(std::string_view piece)` and `bool ok()`. Pieces are the
// literal runs and the fields of each line template (a name, a number); the
// file sink's flushing rule works on them. Rendering stops at the first line
// after which the sink is no longer ok.
//
// Inconsistent records raise InternalFault ("index out of bounds: ..."); the
// text produced before the failing check stays in the sink.
#include "model/model_record.hpp"

namespace mopsel {

template <class Sink>
void write_mps(const ModelRecord& record, Sink& sink);

}  // namespace mopsel
