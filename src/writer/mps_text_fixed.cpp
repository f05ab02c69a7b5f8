// Fixed-format MPS, in its own unit: its renderer is the same template with names and
// numbers padded to their columns (mps_text_render.hpp), and kept apart so that the
// other units compile as before.
#include "writer/buffer_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/mps_text_render.hpp"

namespace mopsel {

std::optional<double> write_mps_fixed_columns(const ModelRecord& record, BufferSink& sink,
                                              const WriteOptions& options) {
  return mps_text_detail::render<mps_text_detail::FixedColumns>(record, sink, options);
}

}  // namespace mopsel
