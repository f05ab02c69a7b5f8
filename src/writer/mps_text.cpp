#include "writer/mps_text.hpp"

#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/mps_text_render.hpp"

namespace mopsel {

template <TextSink Sink>
void write_mps(const ModelRecord& record, Sink& sink) {
  (void)mps_text_detail::render<mps_text_detail::FixedLayout>(record, sink, WriteOptions{});
}

template void write_mps<BufferSink>(const ModelRecord&, BufferSink&);
template void write_mps<FileSink>(const ModelRecord&, FileSink&);

}  // namespace mopsel
