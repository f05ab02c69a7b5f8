// gzip input: members built byte by byte here (bodies from zlib's raw deflate), every
// header field, header and trailer checksums, truncation at every offset, first-member
// only, large expansions, pipes, and the shared models against zlib's own gzip reader.
#include <signal.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "model/owned_array.hpp"
#include "gzip/gzip_member.hpp"
#include "gzip/inflate.hpp"
#include "files/input_buffer.hpp"
#include "source/load_source.hpp"
#include "files/posix_file.hpp"
#include "gzip_test_support.hpp"
#include "source_test_support.hpp"

namespace mopsel {
namespace {

namespace fs = std::filesystem;

using namespace mopsel::testing;

// zlib's own gzip decoding of one member (it checks FHCRC too), to keep the builder honest.
std::optional<std::string> zlib_gunzip(std::string_view member) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + 15) != Z_OK) return std::nullopt;
  std::string out;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
  stream.avail_in = static_cast<uInt>(member.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    char chunk[16384];
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    rc = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

std::string text_of(const Result<ByteBuffer>& loaded) { return std::string(as_view(loaded.value())); }

TEST(GzipBuilder, ZlibAgreesWithEveryWellFormedMember) {
  for (const Case& c : gzip_cases()) {
    if (!c.text || c.bytes.rfind(gzip(kModel), 0) == 0) continue;  // skip multi-member inputs
    SCOPED_TRACE(c.label);
    EXPECT_EQ(zlib_gunzip(c.bytes), c.text);
  }
  EXPECT_EQ(zlib_gunzip(gzip(kModel, {.name = "m", .header_crc = true, .header_crc_xor = 1})),
            std::nullopt);
}

TEST(LoadGzip, HeadersBodiesAndTrailers) {
  TempDir dir;
  for (const Case& c : gzip_cases()) {
    SCOPED_TRACE(c.label);
    const std::string path = dir.write("model.mps.gz", c.bytes);
    Result<ByteBuffer> loaded = load_source(path);
    if (c.text) {
      ASSERT_TRUE(loaded.ok()) << loaded.error().message;
      EXPECT_EQ(text_of(loaded), *c.text);
    } else {
      ASSERT_FALSE(loaded.ok()) << "loaded " << loaded.value().size() << " bytes";
      EXPECT_EQ(loaded.error().message, c.error);
      EXPECT_EQ(loaded.error().kind, ErrorKind::Load);
      // The decoder's own failure, before the loader wraps it, says that the data is bad.
      Result<OpenFile> file = open_for_reading(path);
      ASSERT_TRUE(file.ok());
      Result<ByteBuffer> decoded = decode_gzip_members(file.value().fd);
      ASSERT_FALSE(decoded.ok());
      EXPECT_EQ("Read error: " + decoded.error().message, c.error);
      EXPECT_EQ(decoded.error().kind, ErrorKind::Gzip);
    }
  }
}

TEST(LoadGzip, FormatComesFromTheNameOnly) {
  TempDir dir;
  const std::string member = gzip(kModel, {.name = "x"});
  const struct {
    const char* name;
    bool expanded;
  } cases[] = {{"model.mps.gz", true},  {".gz", true},           {"model.gz", true},
               {"model.mps.GZ", false}, {"model.mps.Gz", false}, {"model.mps.gZ", false},
               {"model.mps", false},    {"model.gz.mps", false}, {"model.gzip", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result<ByteBuffer> loaded = load_source(dir.write(c.name, member));
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_EQ(text_of(loaded), c.expanded ? kModel : member);
  }
}

// Every proper prefix of a member ends early somewhere: in the fixed header, a field, the
// header CRC, the deflate data or the trailer. Each must be the same clear error.
TEST(LoadGzip, TruncatedAtEveryOffsetEndsEarly) {
  TempDir dir;
  std::string rows;
  for (int i = 0; i < 300; ++i) rows += " L  row" + std::to_string(i * 37 % 1000) + "\n";
  const std::string members[] = {
      gzip(kModel),
      gzip(kModel, {.extra = "abc", .name = "model.mps", .comment = "cut", .header_crc = true}),
      gzip(kModel, {.level = 0}),
      // Long enough for a block with its own (dynamic) Huffman codes, cut inside their table too.
      gzip(rows + kModel, {.level = 9}),
  };
  for (const std::string& member : members) {
    for (size_t length = 0; length < member.size(); ++length) {
      SCOPED_TRACE(length);
      Result<ByteBuffer> loaded = load_source(dir.write("cut.gz", std::string_view(member).substr(0, length)));
      ASSERT_FALSE(loaded.ok());
      EXPECT_EQ(loaded.error().message, kEnd);
    }
  }
}

TEST(LoadGzip, LargeExpansionsDecodeCompletely) {
  TempDir dir;
  std::string rows;
  for (int i = 0; rows.size() < 5'000'000; ++i) rows += " L  row" + std::to_string(i % 1000) + "\n";
  const struct {
    const char* label;
    std::string text;
    size_t min_ratio;
  } cases[] = {
      {"thousandfold", std::string(20'000'000, 'A'), 1000},
      {"repetitive rows", rows, 50},
      {"just past the first reservation", std::string((size_t{64} << 10) + 1, '\n'), 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string member = gzip(c.text, {.level = 9});
    ASSERT_GE(c.text.size() / member.size(), c.min_ratio) << "the case does not expand enough";
    Result<ByteBuffer> loaded = load_source(dir.write("big.gz", member));
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    ASSERT_EQ(loaded.value().size(), c.text.size());
    EXPECT_TRUE(text_of(loaded) == c.text);
    // A single member's stored length sizes the buffer once.
    EXPECT_EQ(loaded.value().capacity(), c.text.size());
    // Several members: growth stays within a factor of the text, whatever the ratio.
    Result<ByteBuffer> joined = load_source(dir.write("big.gz", member + gzip("x")));
    ASSERT_TRUE(joined.ok()) << joined.error().message;
    ASSERT_EQ(joined.value().size(), c.text.size() + 1);
    EXPECT_LE(joined.value().capacity(), 2 * c.text.size() + (size_t{64} << 10));
  }
}

// A named pipe delivers the member in small pieces, so header fields, the deflate data
// and the trailer straddle reads; the rest of the pipe is never read.
TEST(LoadGzip, NamedPipeInSmallPieces) {
  ::signal(SIGPIPE, SIG_IGN);
  TempDir dir;
  const std::string text = pseudo_random_text(150'000, 3) + kModel;
  const std::string member =
      gzip(text, {.extra = "e", .name = "piped", .comment = "c", .header_crc = true, .level = 1});
  const size_t chunks[] = {1, 3, 1000, 32768, 100'000};
  for (size_t chunk : chunks) {
    SCOPED_TRACE(chunk);
    const std::string path = dir.file("pipe" + std::to_string(chunk) + ".gz");
    std::thread writer = testing::feed_pipe(path, member, chunk);
    Result<ByteBuffer> loaded = load_source(path);
    writer.join();
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_TRUE(text_of(loaded) == text);
  }
}

// The input buffer is refilled at every 32 KiB: members whose trailer starts anywhere
// around that boundary (stored blocks make the offset exact), each followed by a second
// member, which is only found if the first one's trailer was read to its last byte.
TEST(LoadGzip, TrailersAcrossTheInputBufferEnd) {
  TempDir dir;
  const std::string second = gzip("NAME second\nENDATA\n");
  // Header 10 bytes, one stored block: 5 bytes of block header, then the text.
  const size_t text_for_trailer_at_buffer_end = kInputBufferSize - 10 - 5;
  for (int shift = -9; shift <= 9; ++shift) {
    SCOPED_TRACE(shift);
    const std::string text = pseudo_random_text(text_for_trailer_at_buffer_end + shift, 11);
    const std::string member = gzip(text, {.level = 0});
    ASSERT_EQ(member.size(), text.size() + 10 + 5 + 8) << "not one stored block";
    Result<ByteBuffer> loaded = load_source(dir.write("edge.gz", member + second));
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_TRUE(text_of(loaded) == text + "NAME second\nENDATA\n");
    Result<ByteBuffer> bad = load_source(dir.write("edge.gz", gzip(text, {.size_delta = 1, .level = 0}) + second));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().message, kChecksum);
  }
}

// The build inflates with the library its configuration reported (ISA-L when found).
TEST(LoadGzip, InflaterIsTheConfiguredOne) { EXPECT_STREQ(inflater_name(), MOPSEL_CONFIGURED_INFLATER); }

// zlib's gzip file reader is the reference for the real models.
std::optional<std::string> zlib_gzread(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string out;
  char chunk[1 << 16];
  int got = 0;
  while ((got = gzread(file, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(got));
  const bool failed = got < 0;
  gzclose(file);
  if (failed) return std::nullopt;
  return out;
}

TEST(LoadGzip, SharedModelsMatchZlibsReader) {
  const fs::path root(MOPSEL_SHARED_DATA_DIR);
  if (!fs::is_directory(root)) GTEST_SKIP() << "no shared data at " << root;
  int checked = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".gz") continue;
    SCOPED_TRACE(entry.path().string());
    const std::optional<std::string> expected = zlib_gzread(entry.path().string());
    ASSERT_TRUE(expected.has_value());
    Result<ByteBuffer> loaded = load_source(entry.path().string());
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_TRUE(text_of(loaded) == *expected) << "differs from zlib's reading";
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no .gz file under " << root;
}

// The caller may decide the format from the content instead of the name.
TEST(LoadSource, GzipAsTheCallerSays) {
  TempDir dir;
  const std::string text = "NAME x\nENDATA\n";
  const std::string plain_as_gz = dir.write("plain.gz", text);
  const std::string gzip_named_mps = dir.write("packed.mps", gzip(text));
  Result<ByteBuffer> plain = load_source(plain_as_gz, false);
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(as_view(plain.value()), text);
  Result<ByteBuffer> inflated = load_source(gzip_named_mps, true);
  ASSERT_TRUE(inflated.ok());
  EXPECT_EQ(as_view(inflated.value()), text);
  Result<ByteBuffer> not_gzip = load_source(plain_as_gz, true);
  ASSERT_FALSE(not_gzip.ok());
  EXPECT_EQ(not_gzip.error().message, "Read error: invalid gzip header");
  EXPECT_EQ(not_gzip.error().cause, FindingCode::CompressedData);
  EXPECT_EQ(not_gzip.error().os_error, 0);
}

}  // namespace
}  // namespace mopsel
