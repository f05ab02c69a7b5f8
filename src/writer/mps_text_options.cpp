#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/mps_text_render.hpp"

namespace mopsel {

template <TextSink Sink>
void write_mps_with_options(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
  (void)mps_text_detail::render<mps_text_detail::WithOptions>(record, sink, options);
}

template void write_mps_with_options<BufferSink>(const ModelRecord&, BufferSink&, const WriteOptions&);
template void write_mps_with_options<FileSink>(const ModelRecord&, FileSink&, const WriteOptions&);
template void write_mps_with_options<GzipSink<BufferSink>>(const ModelRecord&, GzipSink<BufferSink>&,
                                                           const WriteOptions&);
template void write_mps_with_options<GzipSink<FileSink>>(const ModelRecord&, GzipSink<FileSink>&,
                                                         const WriteOptions&);

}  // namespace mopsel
