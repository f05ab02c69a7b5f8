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
#include "source/gzip_member.hpp"
#include "source/inflate.hpp"
#include "source/input_buffer.hpp"
#include "source/load_source.hpp"
#include "source/posix_file.hpp"
#include "source_test_support.hpp"

// The cases name only the fields they change; the others keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace mopsel {
namespace {

namespace fs = std::filesystem;

using testing::TempDir;

// Raw deflate data (no wrapper) of `text`.
std::string raw_deflate(std::string_view text, int level = Z_DEFAULT_COMPRESSION) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(stream.total_out);
  return out;
}

uint32_t crc_of(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32_z(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

void put_le(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

// Everything a member header can hold, and deliberate faults in it and in the trailer.
struct Member {
  std::optional<std::string> extra;    // FEXTRA with these bytes
  std::optional<std::string> name;     // FNAME, written with its terminating zero
  std::optional<std::string> comment;  // FCOMMENT, likewise
  bool header_crc = false;             // FHCRC
  uint16_t header_crc_xor = 0;
  unsigned extra_flags = 0;            // FTEXT or reserved bits
  unsigned char id1 = 0x1F, id2 = 0x8B, method = 8;
  uint32_t crc_xor = 0;
  uint32_t size_delta = 0;
  int level = Z_DEFAULT_COMPRESSION;
};

std::string gzip(std::string_view text, const Member& m = {}) {
  unsigned flags = m.extra_flags;
  if (m.header_crc) flags |= 0x02;
  if (m.extra) flags |= 0x04;
  if (m.name) flags |= 0x08;
  if (m.comment) flags |= 0x10;
  std::string out;
  out += static_cast<char>(m.id1);
  out += static_cast<char>(m.id2);
  out += static_cast<char>(m.method);
  out += static_cast<char>(flags);
  put_le(out, 0x5F000000u, 4);  // MTIME
  out += '\0';                  // XFL
  out += '\3';                  // OS
  if (m.extra) {
    put_le(out, static_cast<uint32_t>(m.extra->size()), 2);
    out += *m.extra;
  }
  if (m.name) out += *m.name + '\0';
  if (m.comment) out += *m.comment + '\0';
  if (m.header_crc) put_le(out, (crc_of(out) & 0xFFFF) ^ m.header_crc_xor, 2);
  out += raw_deflate(text, m.level);
  put_le(out, crc_of(text) ^ m.crc_xor, 4);
  put_le(out, static_cast<uint32_t>(text.size()) + m.size_delta, 4);
  return out;
}

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

std::string pseudo_random_text(size_t size, uint32_t seed) {
  std::string text(size, ' ');
  for (char& c : text) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(' ' + (seed >> 24) % 95);
  }
  return text;
}

const std::string kModel =
    "NAME          demo\nROWS\n N  obj\n L  c1\nCOLUMNS\n    x  obj  1.0  c1  2.0\n"
    "RHS\n    rhs  c1  4.0\nENDATA\n";

std::string text_of(const Result<ByteBuffer>& loaded) { return std::string(as_view(loaded.value())); }

constexpr const char* kEnd = "Read error: unexpected end of file";
constexpr const char* kHeader = "Read error: invalid gzip header";
constexpr const char* kChecksum = "Read error: corrupt gzip stream does not have a matching checksum";
constexpr const char* kDeflate = "Read error: corrupt deflate stream";
constexpr const char* kTooLong = "Read error: gzip header field too long";

struct Case {
  std::string label;
  std::string bytes;
  std::optional<std::string> text;  // expected text, or else
  std::string error;                // the expected message
};

Case accepts(std::string label, std::string bytes, std::string text) {
  return {std::move(label), std::move(bytes), std::move(text), ""};
}
Case rejects(std::string label, std::string bytes, std::string error) {
  return {std::move(label), std::move(bytes), std::nullopt, std::move(error)};
}

std::vector<Case> gzip_cases() {
  const std::string full65535(65535, 'n');
  const std::string member = gzip(kModel);
  std::string bad_stored_lengths("\x1F\x8B\x08\x00\0\0\0\0\0\x03", 10);
  bad_stored_lengths += std::string("\x01\x05\x00\x00\x00", 5) + "hello" + std::string(8, '\0');
  std::string reserved_block_type("\x1F\x8B\x08\x00\0\0\0\0\0\x03", 10);
  reserved_block_type += std::string("\x07\x00\x00\x00\x00\x00\x00\x00\x00", 9);
  return {
      accepts("no optional fields", member, kModel),
      accepts("FTEXT", gzip(kModel, {.extra_flags = 0x01}), kModel),
      accepts("FEXTRA", gzip(kModel, {.extra = "AB\x04\x00data"}), kModel),
      accepts("empty FEXTRA", gzip(kModel, {.extra = ""}), kModel),
      accepts("FEXTRA holding zero bytes", gzip(kModel, {.extra = std::string(9, '\0')}), kModel),
      accepts("FNAME", gzip(kModel, {.name = "model.mps"}), kModel),
      accepts("empty FNAME", gzip(kModel, {.name = ""}), kModel),
      accepts("FCOMMENT", gzip(kModel, {.comment = "made by hand"}), kModel),
      accepts("FNAME and FCOMMENT", gzip(kModel, {.name = "m.mps", .comment = "c"}), kModel),
      accepts("FHCRC alone", gzip(kModel, {.header_crc = true}), kModel),
      accepts("every field and a right FHCRC",
              gzip(kModel, {.extra = "xy", .name = "model.mps", .comment = "note", .header_crc = true,
                            .extra_flags = 0x01}),
              kModel),
      // Fields longer than the 32 KiB input buffer, with the header CRC across refills.
      accepts("longest fields and FHCRC",
              gzip(kModel, {.extra = pseudo_random_text(65535, 1), .name = full65535,
                            .comment = full65535, .header_crc = true}),
              kModel),
      accepts("empty text", gzip(""), ""),
      accepts("stored blocks", gzip(kModel, {.level = 0}), kModel),
      accepts("input larger than the input buffer",
              gzip(pseudo_random_text(400'000, 7), {.level = 1}), pseudo_random_text(400'000, 7)),
      accepts("a second member is read", member + gzip("NAME second\nENDATA\n"), kModel + "NAME second\nENDATA\n"),
      accepts("members of every size, one empty, one past the input buffer",
              member + gzip("") + gzip(pseudo_random_text(100'000, 3), {.name = "b"}) + gzip("x"),
              kModel + pseudo_random_text(100'000, 3) + "x"),
      accepts("zero padding between members", member + std::string(40'000, '\0') + gzip("x"), kModel + "x"),
      accepts("trailing garbage ignored", member + "garbage that is no gzip\n", kModel),
      accepts("garbage that starts like a member ignored", member + "\x1F" + "x", kModel),
      accepts("trailing zero bytes ignored", member + std::string(100, '\0'), kModel),
      // The file's last four bytes are taken as a hint of the text's length, no more.
      accepts("trailing bytes that end like a longer length", member + std::string("\0\0\0\0\0\0\1\0", 8), kModel),
      accepts("trailing bytes that end like an absurd length", member + "\xFF\xFF\xFF\xFF", kModel),
      rejects("a corrupt second member", member + gzip("x", {.crc_xor = 1}), kChecksum),
      rejects("a second member cut short", member + gzip(kModel).substr(0, 30), kEnd),
      rejects("a second member with a bad header", member + gzip("x", {.method = 7}), kHeader),

      rejects("empty file", "", kEnd),
      rejects("plain text", kModel, kHeader),
      rejects("wrong ID1", gzip(kModel, {.id1 = 0x1E}), kHeader),
      rejects("wrong ID2", gzip(kModel, {.id2 = 0x8C}), kHeader),
      rejects("method other than deflate", gzip(kModel, {.method = 7}), kHeader),
      rejects("reserved flag bit 5", gzip(kModel, {.extra_flags = 0x20}), kHeader),
      rejects("reserved flag bit 6", gzip(kModel, {.extra_flags = 0x40}), kHeader),
      rejects("reserved flag bit 7", gzip(kModel, {.extra_flags = 0x80}), kHeader),
      rejects("wrong FHCRC", gzip(kModel, {.name = "m", .header_crc = true, .header_crc_xor = 1}),
              kChecksum),
      rejects("FHCRC high half wrong", gzip(kModel, {.header_crc = true, .header_crc_xor = 0x8000}),
              kChecksum),
      rejects("FNAME one byte too long", gzip(kModel, {.name = full65535 + "n"}), kTooLong),
      rejects("FCOMMENT one byte too long", gzip(kModel, {.comment = full65535 + "c"}), kTooLong),
      rejects("FNAME far too long and unterminated",
              std::string("\x1F\x8B\x08\x08\0\0\0\0\0\x03", 10) + std::string(200'000, 'n'), kTooLong),
      rejects("trailer CRC changed", gzip(kModel, {.crc_xor = 0x00010000}), kChecksum),
      rejects("trailer CRC top bit changed", gzip(kModel, {.crc_xor = 0x80000000}), kChecksum),
      rejects("trailer length one more", gzip(kModel, {.size_delta = 1}), kChecksum),
      rejects("trailer length one less", gzip(kModel, {.size_delta = 0xFFFFFFFF}), kChecksum),
      rejects("empty text with wrong length", gzip("", {.size_delta = 1}), kChecksum),
      rejects("reserved block type", reserved_block_type, kDeflate),
      rejects("stored block lengths disagree", bad_stored_lengths, kDeflate),
  };
}

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
