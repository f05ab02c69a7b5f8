#pragma once
// gzip members built byte by byte for the loader and reader tests (bodies from zlib's
// raw deflate), with deliberate faults in the header and trailer, and the table of
// members every gzip reading must accept or reject with its message.
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The cases name only the fields they change; the others keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace mopsel::testing {

// Raw deflate data (no wrapper) of `text`.
inline std::string raw_deflate(std::string_view text, int level = Z_DEFAULT_COMPRESSION) {
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

inline uint32_t crc_of(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32_z(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

inline void put_le(std::string& out, uint32_t value, int bytes) {
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

inline std::string gzip(std::string_view text, const Member& m = {}) {
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

inline std::string pseudo_random_text(size_t size, uint32_t seed) {
  std::string text(size, ' ');
  for (char& c : text) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(' ' + (seed >> 24) % 95);
  }
  return text;
}

inline const std::string kModel =
    "NAME          demo\nROWS\n N  obj\n L  c1\nCOLUMNS\n    x  obj  1.0  c1  2.0\n"
    "RHS\n    rhs  c1  4.0\nENDATA\n";

inline constexpr const char* kEnd = "Read error: unexpected end of file";
inline constexpr const char* kHeader = "Read error: invalid gzip header";
inline constexpr const char* kChecksum = "Read error: corrupt gzip stream does not have a matching checksum";
inline constexpr const char* kDeflate = "Read error: corrupt deflate stream";
inline constexpr const char* kTooLong = "Read error: gzip header field too long";

struct Case {
  std::string label;
  std::string bytes;
  std::optional<std::string> text;  // expected text, or else
  std::string error;                // the expected message
};

inline Case accepts(std::string label, std::string bytes, std::string text) {
  return {std::move(label), std::move(bytes), std::move(text), ""};
}
inline Case rejects(std::string label, std::string bytes, std::string error) {
  return {std::move(label), std::move(bytes), std::nullopt, std::move(error)};
}

inline std::vector<Case> gzip_cases() {
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
}  // namespace mopsel::testing
