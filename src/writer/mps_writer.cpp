#include "writer/mps_writer.hpp"

namespace mopsel {

// Placeholders until the writer lands.
Status write_mps_to_buffer(const ModelRecord&, ByteBuffer&) { return Error{"writer not built yet"}; }
Status write_mps_to_file(const ModelRecord&, std::string_view) { return Error{"writer not built yet"}; }

}  // namespace mopsel
