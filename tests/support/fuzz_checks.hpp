#pragma once
// The properties the fuzz targets check, shared by the libFuzzer entry points
// (fuzz_read_mps.cpp, fuzz_load_source.cpp, fuzz_roundtrip.cpp) and by the replay
// of saved reproducers in tests/cpp/fuzz_regressions_test.cpp.
//
// Every check returns an empty string when the input behaved and otherwise a
// description of the fault. Crashes and out-of-bounds accesses are left to the
// sanitizers; these checks catch wrong results that do not crash.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model_invariants.hpp"
#include "model/fault.hpp"
#include "model/model_record.hpp"
#include "model/owned_array.hpp"
#include "reader/text/locate.hpp"
#include "reader/read_mps.hpp"
#include "gzip/inflate.hpp"
#include "source/load_source.hpp"
#include "writer/mps_writer.hpp"

namespace mopsel::fuzz {

// ---------------------------------------------------------------------------
// Small helpers

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool is_finite(double v) { return std::fabs(v) <= std::numeric_limits<double>::max(); }

// Thirteen significant digits, as the writer prints them (the exponent spelling
// does not matter here: only equality of two such texts is ever tested).
inline std::string digits13(double v) {
  if (std::isnan(v)) return "NaN";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific, 12);
  return {buffer, result.ptr};
}

// Equal up to the writer's thirteen significant digits: a value printed with
// thirteen digits and read back moves by at most half a unit in the thirteenth
// digit (relative 5e-13; subnormals come back exactly). `scale` widens the bound
// for values computed from larger printed figures. Signed zeros compare equal;
// every NaN equals every NaN.
inline bool close13(double a, double b, double scale = 0.0) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (a == b) return true;
  if (!is_finite(a) || !is_finite(b)) return false;
  const double magnitude = std::fmax(std::fmax(std::fabs(a), std::fabs(b)), scale);
  return std::fabs(a - b) <= 6e-13 * magnitude;
}

inline std::string show(double v) { return digits13(v); }

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
inline bool valid_utf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    i += len;
  }
  return true;
}

// True when the name's last code point has the Unicode White_Space property.
// Such a name loses that character when it ends a line the reader trims.
inline bool ends_in_unicode_space(std::string_view s) {
  if (s.empty()) return false;
  size_t start = s.size() - 1;
  while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
  std::string_view last = s.substr(start);
  uint32_t cp = static_cast<unsigned char>(last[0]);
  if (last.size() == 2) cp = ((cp & 0x1F) << 6) | (last[1] & 0x3F);
  else if (last.size() == 3) cp = ((cp & 0x0F) << 12) | ((last[1] & 0x3F) << 6) | (last[2] & 0x3F);
  else if (last.size() != 1) return false;
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

// Field-by-field, bit-for-bit equality of two records ("" when equal).
inline std::string compare_exact(const ModelRecord& a, const ModelRecord& b) {
  if (a.name != b.name) return "name differs";
  if (a.objective_name != b.objective_name) return "objective_name differs";
  if (a.num_row != b.num_row) return "num_row differs";
  if (a.num_col != b.num_col) return "num_col differs";
  if (a.obj_sense_minimize != b.obj_sense_minimize) return "obj_sense_minimize differs";
  if (!same_bits(a.obj_offset, b.obj_offset)) return "obj_offset differs";
  auto doubles = [](const OwnedArray<double>& x, const OwnedArray<double>& y) {
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i)
      if (!same_bits(x[i], y[i])) return false;
    return true;
  };
  auto u32 = [](const OwnedArray<uint32_t>& x, const OwnedArray<uint32_t>& y) {
    return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size() * 4) == 0);
  };
  auto names = [](const NameList& x, const NameList& y) {
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i)
      if (x[i] != y[i]) return false;
    return true;
  };
  if (!doubles(a.col_cost, b.col_cost)) return "col_cost differs";
  if (!doubles(a.col_lower, b.col_lower)) return "col_lower differs";
  if (!doubles(a.col_upper, b.col_upper)) return "col_upper differs";
  if (!doubles(a.row_lower, b.row_lower)) return "row_lower differs";
  if (!doubles(a.row_upper, b.row_upper)) return "row_upper differs";
  if (!u32(a.a_matrix.start, b.a_matrix.start)) return "a_matrix.start differs";
  if (!u32(a.a_matrix.index, b.a_matrix.index)) return "a_matrix.index differs";
  if (!doubles(a.a_matrix.value, b.a_matrix.value)) return "a_matrix.value differs";
  if (!names(a.row_names, b.row_names)) return "row_names differ";
  if (!names(a.col_names, b.col_names)) return "col_names differ";
  if (a.col_integrality.size() != b.col_integrality.size() ||
      (!a.col_integrality.empty() &&
       std::memcmp(a.col_integrality.data(), b.col_integrality.data(), a.col_integrality.size()) != 0)) {
    return "col_integrality differs";
  }
  // The parts beyond a linear program.
  auto matrices = [&](const SparseMatrixRecord& x, const SparseMatrixRecord& y) {
    return u32(x.start, y.start) && u32(x.index, y.index) && doubles(x.value, y.value);
  };
  auto bytes = [](const OwnedArray<uint8_t>& x, const OwnedArray<uint8_t>& y) {
    return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size()) == 0);
  };
  if (a.hessian.has_value() != b.hessian.has_value() || (a.hessian && !matrices(*a.hessian, *b.hessian))) {
    return "hessian differs";
  }
  if (a.row_hessians.size() != b.row_hessians.size()) return "row_hessians differ";
  for (size_t i = 0; i < a.row_hessians.size(); ++i) {
    if (a.row_hessians[i].row != b.row_hessians[i].row ||
        !matrices(a.row_hessians[i].matrix, b.row_hessians[i].matrix)) {
      return "row_hessians differ";
    }
  }
  if (a.sos.has_value() != b.sos.has_value() ||
      (a.sos && (!bytes(a.sos->type, b.sos->type) || !u32(a.sos->start, b.sos->start) ||
                 !u32(a.sos->index, b.sos->index) || !doubles(a.sos->weight, b.sos->weight) ||
                 !names(a.sos->names, b.sos->names) || a.sos->priority.size() != b.sos->priority.size() ||
                 (!a.sos->priority.empty() && std::memcmp(a.sos->priority.data(), b.sos->priority.data(),
                                                         a.sos->priority.size() * 4) != 0)))) {
    return "sos differs";
  }
  if (a.indicators.has_value() != b.indicators.has_value() ||
      (a.indicators && (!u32(a.indicators->row, b.indicators->row) ||
                        !u32(a.indicators->column, b.indicators->column) ||
                        !bytes(a.indicators->value, b.indicators->value)))) {
    return "indicators differ";
  }
  return {};
}

// Invariants of a reader-made record, including the rule that every name that
// reaches the record is valid UTF-8.
inline std::string check_reader_record(const ModelRecord& record) {
  std::string broken = check_record_invariants(record);
  if (!broken.empty()) return broken;
  if (!valid_utf8(record.name)) return "model name is not valid UTF-8";
  if (!valid_utf8(record.objective_name)) return "objective name is not valid UTF-8";
  if (record.objective_name.empty()) return "objective name is empty";
  for (size_t i = 0; i < record.row_names.size(); ++i) {
    if (!valid_utf8(record.row_names[i])) return "row name " + std::to_string(i) + " is not valid UTF-8";
    if (record.row_names[i].empty()) return "row name " + std::to_string(i) + " is empty";
  }
  for (size_t j = 0; j < record.col_names.size(); ++j) {
    if (!valid_utf8(record.col_names[j])) return "column name " + std::to_string(j) + " is not valid UTF-8";
    if (record.col_names[j].empty()) return "column name " + std::to_string(j) + " is empty";
  }
  return {};
}

// Runs `read` (named `what` in messages) on `text` and turns an escaping exception into a
// fault description.
template <class Read>
Result<ModelRecord> guarded(const char* what, std::string_view text, std::string& fault, Read&& read) {
  try {
    return read(text);
  } catch (const InternalFault& f) {
    fault = std::string(what) + " raised an internal fault: " + f.message();
  } catch (const std::bad_alloc&) {
    fault = std::string(what) + " ran out of memory on " + std::to_string(text.size()) + " bytes of text";
  } catch (const std::exception& e) {
    fault = std::string(what) + " threw: " + e.what();
  }
  return Error{ErrorKind::Parse, "(exception)"};
}

// Runs read_mps (with `options`) and turns an escaping exception into a fault description.
inline Result<ModelRecord> guarded_read(std::string_view text, std::string& fault,
                                        const ReadOptions& options = ReadOptions{}) {
  return guarded("read_mps", text, fault, [&](std::string_view t) { return read_mps(t, options); });
}

// ---------------------------------------------------------------------------
// Target 1: read_mps on arbitrary bytes

inline bool contains_endata_word(std::string_view text) {
  for (size_t i = 0; i + 6 <= text.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < 6 && match; ++k) {
      char c = text[i + k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      match = c == "ENDATA"[k];
    }
    if (match) return true;
  }
  return false;
}

// The careful reader on the same text: check_mps finds no error exactly when strict
// reading succeeds (then with the default record), and strict reading otherwise
// fails at one of check's errors (the first it meets; a model name that is not
// UTF-8 shows only at the end); the automatic format reads as free format unless
// check reports the switch to fixed columns, and then as fixed format; fixed format
// fails or keeps every invariant. `plain` is the default reading of the text.
inline std::string check_careful_reads(std::string_view text, const Result<ModelRecord>& plain) {
  std::vector<Finding> found;
  std::vector<Finding> found_auto;
  try {
    found = check_mps(text, ReadOptions{}).findings;
    ReadOptions automatic;
    automatic.format = Format::Auto;
    found_auto = check_mps(text, automatic).findings;
  } catch (const std::exception& e) {
    return std::string("check_mps threw: ") + e.what();
  }
  for (size_t i = 1; i < found.size(); ++i) {
    if (found[i].lineno < found[i - 1].lineno) return "findings out of file order";
  }
  const Finding* first_error = nullptr;
  for (const Finding& f : found) {
    if (f.code == FindingCode::None || f.code >= FindingCode::Count) return "a finding without a code";
    if (f.message.empty()) return std::string("a finding without a message: ") + std::string(finding_name(f.code));
    const Weight weight = finding_weight(f.code);
    if (first_error == nullptr && (weight == Weight::Fatal || weight == Weight::Strict)) first_error = &f;
  }
  std::string fault;
  ReadOptions strict;
  strict.strict = true;
  Result<ModelRecord> strict_read = guarded_read(text, fault, strict);
  if (!fault.empty()) return "strict: " + fault;
  if ((first_error == nullptr) != strict_read.ok()) {
    return first_error == nullptr ? "strict reading fails where check finds no error: " + strict_read.error().reason
                                  : "strict reading succeeds where check finds " + std::string(finding_name(first_error->code));
  }
  if (strict_read.ok()) {
    if (!plain.ok()) return "strict reading succeeds where the default reading fails";
    std::string diff = compare_exact(plain.value(), strict_read.value());
    if (!diff.empty()) return "strict reading changes the record: " + diff;
  } else {
    bool listed = false;
    for (const Finding& f : found) {
      listed = listed || (f.code == strict_read.error().cause && f.lineno == strict_read.error().lineno);
    }
    if (!listed) {
      return "strict reading fails at " + std::string(finding_name(strict_read.error().cause)) + " line " +
             std::to_string(strict_read.error().lineno) + ", which check does not list";
    }
  }

  ReadOptions fixed;
  fixed.format = Format::Fixed;
  Result<ModelRecord> fixed_read = guarded_read(text, fault, fixed);
  if (!fault.empty()) return "fixed: " + fault;
  if (fixed_read.ok()) {
    std::string broken = check_reader_record(fixed_read.value());
    if (!broken.empty()) return "fixed format: record breaks an invariant: " + broken;
  }
  ReadOptions automatic;
  automatic.format = Format::Auto;
  Result<ModelRecord> auto_read = guarded_read(text, fault, automatic);
  if (!fault.empty()) return "auto: " + fault;
  bool switched = false;
  for (const Finding& f : found_auto) switched = switched || f.code == FindingCode::FixedFormat;
  const Result<ModelRecord>& chosen = switched ? fixed_read : plain;
  if (auto_read.ok() != chosen.ok()) return "the automatic format reads otherwise than the format it chose";
  if (auto_read.ok()) {
    std::string diff = compare_exact(chosen.value(), auto_read.value());
    if (!diff.empty()) return "the automatic format changes the record: " + diff;
  }
  automatic.strict = true;
  Result<ModelRecord> auto_strict = guarded_read(text, fault, automatic);
  if (!fault.empty()) return "auto, strict: " + fault;
  bool auto_errors = false;
  for (const Finding& f : found_auto) {
    auto_errors = auto_errors || finding_weight(f.code) == Weight::Fatal || finding_weight(f.code) == Weight::Strict;
  }
  if (auto_strict.ok() == auto_errors) return "strict reading in the automatic format disagrees with its check";
  return {};
}

// read_mps either fails with exactly "Failed to parse MPS file" (kind Parse) or returns a
// record meeting every invariant. Two variants of the text must read the same:
// the text with LF line ends turned into CRLF (only when it holds no CR), and the
// text behind absurd size-hint comments (hints size reservations only).
inline std::string check_read_mps(std::string_view text) {
  std::string fault;
  Result<ModelRecord> first = guarded_read(text, fault);
  if (!fault.empty()) return fault;
  if (!first.ok()) {
    if (first.error().message != kParseFailure) return "unexpected failure message: " + first.error().message;
    if (first.error().kind != ErrorKind::Parse) return "the read failure is not of kind Parse";
  } else {
    std::string broken = check_reader_record(first.value());
    if (!broken.empty()) return "record breaks an invariant: " + broken;
    if (!contains_endata_word(text)) return "a text without any ENDATA word read as a model";
  }

  auto same_outcome = [&](std::string_view variant, const char* what) -> std::string {
    std::string variant_fault;
    Result<ModelRecord> second = guarded_read(variant, variant_fault);
    if (!variant_fault.empty()) return std::string(what) + ": " + variant_fault;
    if (second.ok() != first.ok()) return std::string(what) + " changes whether the text reads";
    if (!first.ok()) return {};
    std::string diff = compare_exact(first.value(), second.value());
    return diff.empty() ? std::string() : std::string(what) + " changes the record: " + diff;
  };

  if (text.find('\r') == std::string_view::npos && text.find('\n') != std::string_view::npos) {
    std::string crlf;
    crlf.reserve(text.size() * 2);
    for (char c : text) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    std::string diff = same_outcome(crlf, "CRLF line ends");
    if (!diff.empty()) return diff;
  }

  // A failure says where and why.
  if (!first.ok() && (first.error().cause == FindingCode::None || first.error().reason.empty() ||
                      first.error().lineno == 0 || first.error().line.size() > kShownLine + 6)) {
    return "a failure without its cause, reason or line: " + first.error().reason;
  }

  // Hint comments that would ask for absurd reservations must change nothing.
  std::string hinted =
      "* ROWS: 4000000000\n* COLUMNS: (18446744073709551615)\n* NONZERO: 99999999999999\n";
  hinted.append(text);
  std::string diff = same_outcome(hinted, "absurd size hints");
  if (!diff.empty()) return diff;
  return check_careful_reads(text, first);
}

// ---------------------------------------------------------------------------
// Target 2: load_source on arbitrary gzip-like files

// What an independent decoder (zlib's own gzip wrapper) makes of the bytes.
struct GzipVerdict {
  enum Kind { kText, kTruncated, kBadHeader, kBadChecksum, kBadDeflate, kFieldTooLong } kind;
  std::string text;
  // zlib checks a fixed-size piece (the ten-byte header, the eight-byte trailer)
  // as soon as the failing byte arrives; a decoder that reads the whole piece
  // first reports the same cut-short input as "unexpected end of file". Either
  // order is sound, so both answers are accepted then.
  bool also_truncated = false;
  // Deflate data that are both damaged and cut short. zlib checks each code as its bits
  // arrive; a decoder that takes a block's whole Huffman table (at most 288 bytes) before
  // checking it reports a damaged table near the end as "unexpected end of file", and one
  // that checks the table as far as the input goes reports damage zlib would only reach
  // with more input as "corrupt deflate stream". Both answers are sound then:
  // `damage_near_end`: zlib's data error lies within the last kDeflateHeaderBytes;
  // `damaged_if_continued`: input that zlib finds cut short fails as damaged once zero
  // bytes are added.
  bool damage_near_end = false;
  bool damaged_if_continued = false;
  // zlib refuses a Huffman table whose codes do not fill the code space; ISA-L accepts
  // it and decodes until an unassigned code turns up, if one does. The member then
  // fails later (checksum, end of input) or, when its text still matches the stored
  // CRC-32 and length, loads.
  bool incomplete_code = false;
};

inline constexpr size_t kDeflateHeaderBytes = 288;

// The one place where the two decoders are allowed to differ by design: a
// header name or comment longer than 65535 bytes, which zlib accepts.
inline bool header_field_too_long(const uint8_t* data, size_t size) {
  if (size < 10 || data[0] != 0x1F || data[1] != 0x8B || data[2] != 8 || data[3] >= 32) return false;
  const uint8_t flags = data[3];
  size_t pos = 10;
  if (flags & 4) {
    if (size - pos < 2) return false;
    const size_t xlen = data[pos] | (static_cast<size_t>(data[pos + 1]) << 8);
    pos += 2;
    if (size - pos < xlen) return false;
    pos += xlen;
  }
  for (uint8_t bit : {uint8_t{8}, uint8_t{16}}) {
    if (!(flags & bit)) continue;
    size_t length = 0;
    while (pos < size && data[pos] != 0) {
      ++pos;
      if (++length > 65535) return true;
    }
    if (pos >= size) return false;
    ++pos;  // the terminating zero
  }
  return false;
}

// Members follow one another as gzip -d reads them: zero bytes between them are
// padding, and bytes after a member that do not start with the two magic bytes
// end the data unread.
// `continued_with_zeros`: for cut-short input, also look at what follows with zero bytes added.
inline GzipVerdict decode_with_zlib(const uint8_t* data, size_t size, bool continued_with_zeros = true) {
  z_stream zs{};
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) std::abort();
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  GzipVerdict verdict{GzipVerdict::kTruncated, {}};
  std::vector<char> chunk(1 << 16);
  if (header_field_too_long(data, size)) verdict.kind = GzipVerdict::kFieldTooLong;
  while (verdict.kind != GzipVerdict::kFieldTooLong) {
    zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
    zs.avail_out = static_cast<uInt>(chunk.size());
    const int rc = inflate(&zs, Z_NO_FLUSH);
    verdict.text.append(chunk.data(), chunk.size() - zs.avail_out);
    if (rc == Z_STREAM_END) {
      verdict.kind = GzipVerdict::kText;
      while (zs.avail_in > 0 && *zs.next_in == 0) {
        ++zs.next_in;
        --zs.avail_in;
      }
      if (zs.avail_in < 2 || zs.next_in[0] != 0x1F || zs.next_in[1] != 0x8B) break;
      if (header_field_too_long(zs.next_in, zs.avail_in)) {
        verdict.kind = GzipVerdict::kFieldTooLong;
        break;
      }
      if (inflateReset(&zs) != Z_OK) std::abort();
      verdict.kind = GzipVerdict::kTruncated;
      continue;
    }
    if (rc == Z_DATA_ERROR) {
      const std::string_view msg = zs.msg ? zs.msg : "";
      if (msg == "incorrect header check" || msg == "unknown compression method" ||
          msg == "unknown header flags set") {
        verdict.kind = GzipVerdict::kBadHeader;
        verdict.also_truncated = zs.total_in + zs.avail_in < 10;  // what this member has left
      } else if (msg == "header crc mismatch" || msg == "incorrect data check" ||
                 msg == "incorrect length check") {
        verdict.kind = GzipVerdict::kBadChecksum;
        // The data check fails after the CRC; the length field may still be missing.
        verdict.also_truncated = msg == "incorrect data check" && zs.avail_in < 4;
      } else {
        verdict.kind = GzipVerdict::kBadDeflate;
        verdict.damage_near_end = zs.avail_in <= kDeflateHeaderBytes;
        verdict.incomplete_code = msg == "invalid literal/lengths set" || msg == "invalid distances set";
      }
      break;
    }
    if (rc == Z_MEM_ERROR) std::abort();
    if (rc == Z_BUF_ERROR || (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0)) break;  // truncated
  }
  inflateEnd(&zs);
  if (verdict.kind == GzipVerdict::kTruncated && continued_with_zeros) {
    std::vector<uint8_t> longer(data, data + size);
    longer.resize(size + 4 * kDeflateHeaderBytes);
    verdict.damaged_if_continued = decode_with_zlib(longer.data(), longer.size(), false).kind == GzipVerdict::kBadDeflate;
  }
  return verdict;
}

// A scratch file that is rewritten for every input; removed by its destructor.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    path_ = std::string(dir) + "/mopsel-fuzz-XXXXXX" + suffix;
    fd_ = mkstemps(path_.data(), static_cast<int>(std::strlen(suffix)));
    if (fd_ < 0) std::abort();
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() {
    close(fd_);
    unlink(path_.c_str());
  }
  void fill(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
  }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

inline Result<ByteBuffer> guarded_load(const std::string& path, std::string& fault) {
  try {
    return load_source(path);
  } catch (const InternalFault& f) {
    fault = "load_source raised an internal fault: " + f.message();
  } catch (const std::exception& e) {
    fault = std::string("load_source threw: ") + e.what();
  }
  return Error{ErrorKind::Load, "(exception)"};
}

// load_source on a ".gz" path gives exactly the members' text, or the message
// that matches the first defect zlib finds; on a plain path it gives the bytes
// unchanged.
inline std::string check_load_source(const uint8_t* data, size_t size, ScratchFile& gz, ScratchFile& plain) {
  std::string fault;
  gz.fill(data, size);
  Result<ByteBuffer> loaded = guarded_load(gz.path(), fault);
  if (!fault.empty()) return fault;
  const GzipVerdict verdict = decode_with_zlib(data, size);
  if (verdict.kind == GzipVerdict::kText) {
    if (!loaded.ok()) return "zlib decodes the member but load_source says: " + loaded.error().message;
    if (as_view(loaded.value()) != verdict.text) {
      return "decoded text differs from zlib's (" + std::to_string(loaded.value().size()) + " vs " +
             std::to_string(verdict.text.size()) + " bytes)";
    }
  } else {
    static constexpr const char* kExpected[] = {
        "", "Read error: unexpected end of file", "Read error: invalid gzip header",
        "Read error: corrupt gzip stream does not have a matching checksum",
        "Read error: corrupt deflate stream", "Read error: gzip header field too long"};
    const std::string expected = kExpected[verdict.kind];
    // The differences an inflater other than zlib's is allowed (see GzipVerdict).
    const bool isal = std::string_view(inflater_name()) == "ISA-L";
    if (loaded.ok() && !(isal && verdict.incomplete_code)) {
      return "load_source accepted a member that zlib rejects; expected: " + expected;
    }
    if (loaded.ok()) return {};
    const std::string& got = loaded.error().message;
    const bool early_end = got == kExpected[GzipVerdict::kTruncated];
    const bool acceptable =
        got == expected || (verdict.also_truncated && early_end) ||
        (isal && verdict.damage_near_end && early_end) ||
        (isal && verdict.damaged_if_continued && got == kExpected[GzipVerdict::kBadDeflate]) ||
        (isal && verdict.incomplete_code && (early_end || got == kExpected[GzipVerdict::kBadChecksum]));
    if (!acceptable) return "message \"" + loaded.error().message + "\", expected \"" + expected + "\"";
    if (loaded.error().kind != ErrorKind::Load) return "the load failure is not of kind Load";
  }

  plain.fill(data, size);
  Result<ByteBuffer> raw = guarded_load(plain.path(), fault);
  if (!fault.empty()) return fault;
  if (!raw.ok()) return "plain file failed to load: " + raw.error().message;
  if (as_view(raw.value()) != std::string_view(reinterpret_cast<const char*>(data), size)) {
    return "plain file loaded with different bytes";
  }
  return {};
}

// ---------------------------------------------------------------------------
// Target 3: read -> write -> read -> write

// Documented exceptions to an exact round trip, found on the first record.
struct RoundTripHazards {
  bool names = false;       // names the written text cannot carry back unchanged
  bool free_rows = false;   // rows without finite bounds: written as extra N rows, dropped on reading
  std::string why;
};

// True when the writer puts a line naming row i into RHS or RANGES.
inline bool row_has_rhs_or_range_line(const ModelRecord& r, size_t i) {
  const double l = r.row_lower[i], u = r.row_upper[i];
  const bool lf = is_finite(l), uf = is_finite(u);
  if (!lf && !uf) return false;      // free: an N row
  if (!lf) return u != 0;            // L
  if (!uf) return l != 0;            // G
  if (std::fabs(u - l) < 1e-12) return l != 0;  // E
  return true;                       // L with a range line
}

// True when the writer puts a BOUNDS line naming column j.
inline bool column_has_bound_line(const ModelRecord& r, size_t j) {
  const bool integral = r.col_integrality[j] == 1 || r.col_integrality[j] == 3;
  return integral || !(r.col_lower[j] == 0) || is_finite(r.col_upper[j]);
}

inline RoundTripHazards find_name_hazards(const ModelRecord& r) {
  RoundTripHazards h;
  auto flag = [&h](std::string reason) {
    if (!h.names) h.why = std::move(reason);
    h.names = true;
  };
  // A repeated name refers, when read back, to its last occurrence (rows in the
  // written order: the objective first, then every row). A repeated name is
  // harmless as long as the text never names an earlier occurrence.
  std::unordered_map<std::string_view, int64_t> last_row{{r.objective_name, -1}};
  for (size_t i = 0; i < r.row_names.size(); ++i) last_row[r.row_names[i]] = static_cast<int64_t>(i);
  std::vector<bool> row_has_entry(r.num_row, false);
  for (uint32_t row : r.a_matrix.index) row_has_entry[row] = true;
  if (last_row[r.objective_name] != -1) {
    bool costs = !(r.obj_offset == 0);
    for (double c : r.col_cost) costs = costs || !(c == 0);
    if (costs) flag("objective name repeated by a row, with costs or an offset");
  }
  for (size_t i = 0; i < r.row_names.size(); ++i) {
    if (last_row[r.row_names[i]] != static_cast<int64_t>(i) &&
        (row_has_entry[i] || row_has_rhs_or_range_line(r, i))) {
      flag("repeated row name, named by an earlier row's lines");
    }
  }
  // Columns: equal names next to each other merge into one column; bound lines of
  // an earlier occurrence go to the last one.
  std::unordered_map<std::string_view, size_t> last_col;
  for (size_t j = 0; j < r.col_names.size(); ++j) last_col[r.col_names[j]] = j;
  for (size_t j = 0; j < r.col_names.size(); ++j) {
    if (j + 1 < r.col_names.size() && r.col_names[j] == r.col_names[j + 1]) flag("equal adjacent column names");
    if (last_col[r.col_names[j]] != j && column_has_bound_line(r, j)) {
      flag("repeated column name with bound lines on an earlier occurrence");
    }
  }
  // A row called 'MARKER' turns the column lines that name it into marker lines.
  // (Rows called RHS1 or RNG1 and columns called BND1 are no hazard: the writer then
  // picks vector names no row or column uses.)
  if (last_row.count("'MARKER'")) flag("row named 'MARKER'");
  // A name that ends a written line loses trailing Unicode whitespace to trimming.
  for (const auto& [name, i] : last_row)
    if (ends_in_unicode_space(name)) flag("row name ending in Unicode whitespace");
  for (const auto& [name, j] : last_col)
    if (ends_in_unicode_space(name)) flag("column name ending in Unicode whitespace");
  return h;
}

// Runs `write` (the `which` write into `out`) and turns a failure or an escaping exception
// into a fault description; `refused` is set when it refused a name the text cannot carry
// (nothing written), which is no fault.
template <class Write>
std::string guarded_write(const char* which, const ByteBuffer& out, bool* refused, Write&& write) {
  try {
    Status status = write();
    if (refused != nullptr) *refused = !status.ok() && status.error().kind == ErrorKind::Unwritable && out.empty();
    if (!status.ok()) return std::string(which) + " write failed: " + status.error().message;
  } catch (const InternalFault& f) {
    return std::string(which) + " write raised an internal fault: " + f.message();
  } catch (const std::exception& e) {
    return std::string(which) + " write threw: " + e.what();
  }
  return {};
}

// The writer's failure, said; `refused` as guarded_write sets it.
inline std::string write_text(const ModelRecord& record, ByteBuffer& out, const char* which, bool* refused = nullptr) {
  return guarded_write(which, out, refused, [&] { return write_mps_to_buffer(record, out); });
}

inline std::string first_difference(std::string_view a, std::string_view b) {
  size_t line = 1, i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) {
    if (a[i] == '\n') ++line;
    ++i;
  }
  auto line_at = [](std::string_view s, size_t pos) {
    size_t begin = s.rfind('\n', pos == 0 ? 0 : pos - 1);
    begin = (begin == std::string_view::npos || pos == 0) ? 0 : begin + 1;
    size_t end = s.find('\n', pos);
    return std::string(s.substr(begin, end == std::string_view::npos ? s.size() - begin : end - begin));
  };
  return "line " + std::to_string(line) + ": \"" + line_at(a, i) + "\" became \"" + line_at(b, i) + "\"";
}

// Compares the record read back from the written text with the first record,
// applying the writer's documented rules:
//  - rows without a finite bound are dropped; every other row keeps its place;
//  - absent bounds (infinite with the wrong sign, NaN) read back as -inf / +inf;
//  - bounds closer than 1e-12 collapse onto the lower one;
//  - a ranged row keeps its upper bound; its lower bound is recomputed as
//    upper - |upper - lower| from the printed figures;
//  - SEMI_CONTINUOUS reads back as CONTINUOUS, SEMI_INTEGER as INTEGER;
//  - every printed number keeps thirteen significant digits.
// Sets `render_changes` when a value legitimately prints differently the second
// time (a ranged row whose range is recomputed, bounds that collapse after rounding).
inline std::string compare_round_trip(const ModelRecord& a, const ModelRecord& b, bool& render_changes) {
  render_changes = false;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  if (a.name != b.name) return "name \"" + a.name + "\" read back as \"" + b.name + "\"";
  if (a.objective_name != b.objective_name) return "objective name changed";
  if (a.obj_sense_minimize != b.obj_sense_minimize) return "objective sense changed";
  if (!close13(a.obj_offset, b.obj_offset)) return "obj_offset " + show(a.obj_offset) + " became " + show(b.obj_offset);

  // Row map: free rows vanish.
  std::vector<int64_t> row_map(a.num_row, -1);
  uint32_t kept = 0;
  for (uint32_t i = 0; i < a.num_row; ++i)
    if (is_finite(a.row_lower[i]) || is_finite(a.row_upper[i])) row_map[i] = kept++;
  if (b.num_row != kept) return "num_row " + std::to_string(b.num_row) + ", expected " + std::to_string(kept);
  for (uint32_t i = 0; i < a.num_row; ++i) {
    if (row_map[i] < 0) continue;
    const auto k = static_cast<size_t>(row_map[i]);
    const std::string where = "row " + std::to_string(i) + " ";
    if (a.row_names[i] != b.row_names[k]) return where + "name changed";
    const double l = a.row_lower[i], u = a.row_upper[i], l2 = b.row_lower[k], u2 = b.row_upper[k];
    const bool lf = is_finite(l), uf = is_finite(u);
    double want_l, want_u;
    if (!lf) {
      want_l = -kInf;
      want_u = u;
    } else if (!uf) {
      want_l = l;
      want_u = kInf;
    } else if (std::fabs(u - l) < 1e-12) {
      want_l = want_u = l;
      if (!same_bits(l2, u2) && !(l2 == 0 && u2 == 0)) return where + "equality row read back with two bounds";
    } else {
      // Ranged row: upper kept, lower recomputed from printed figures.
      if (!close13(u, u2)) return where + "upper " + show(u) + " became " + show(u2);
      const double range = u - l;
      const double expected = u - std::fabs(range);
      const bool ok = is_finite(range) ? close13(expected, l2, std::fabs(u) + std::fabs(range))
                                       : l2 == -kInf;
      if (!ok) return where + "ranged lower " + show(l) + " (upper " + show(u) + ") became " + show(l2);
      if (!(is_finite(l2) && std::fabs(u2 - l2) >= 1e-12 && digits13(u2) == digits13(u) &&
            digits13(u2 - l2) == digits13(range))) {
        render_changes = true;
      }
      continue;
    }
    if (!close13(want_l, l2) || !close13(want_u, u2)) {
      return where + "bounds [" + show(l) + ", " + show(u) + "] became [" + show(l2) + ", " + show(u2) + "]";
    }
  }

  if (a.num_col != b.num_col) return "num_col " + std::to_string(a.num_col) + " became " + std::to_string(b.num_col);
  for (uint32_t j = 0; j < a.num_col; ++j) {
    const std::string where = "column " + std::to_string(j) + " ";
    if (a.col_names[j] != b.col_names[j]) return where + "name changed";
    static constexpr uint8_t kReadBack[4] = {0, 1, 0, 1};
    const uint8_t kind = a.col_integrality[j];
    if (b.col_integrality[j] != kReadBack[kind]) {
      return where + "integrality " + std::to_string(kind) + " became " + std::to_string(b.col_integrality[j]);
    }
    if (!close13(a.col_cost[j], b.col_cost[j])) return where + "cost " + show(a.col_cost[j]) + " became " + show(b.col_cost[j]);

    const bool integral = kind == 1 || kind == 3;
    const double l = a.col_lower[j], u = a.col_upper[j], l2 = b.col_lower[j], u2 = b.col_upper[j];
    const bool lf = is_finite(l), uf = is_finite(u);
    double want_l, want_u;
    if (integral && l == 0 && u == 1) {
      want_l = 0, want_u = 1;
    } else if (!lf) {
      want_l = -kInf, want_u = uf ? u : kInf;
    } else if (uf && std::fabs(u - l) < 1e-12) {
      want_l = want_u = l;
    } else {
      want_l = l, want_u = uf ? u : kInf;
      if (uf && (std::fabs(u2 - l2) < 1e-12 || (integral && l2 == 0 && u2 == 1))) render_changes = true;
    }
    if (!close13(want_l, l2) || !close13(want_u, u2)) {
      return where + "bounds [" + show(l) + ", " + show(u) + "] became [" + show(l2) + ", " + show(u2) + "]";
    }

    // Matrix column: entries in free rows vanish, the rest keep their order.
    const uint32_t begin = a.a_matrix.start[j], end = a.a_matrix.start[j + 1];
    uint32_t k2 = b.a_matrix.start[j];
    const uint32_t end2 = b.a_matrix.start[j + 1];
    for (uint32_t k = begin; k < end; ++k) {
      const int64_t row = row_map[a.a_matrix.index[k]];
      if (row < 0) continue;
      if (k2 >= end2) return where + "lost matrix entries";
      if (b.a_matrix.index[k2] != row) return where + "matrix rows changed";
      if (!close13(a.a_matrix.value[k], b.a_matrix.value[k2])) {
        return where + "coefficient " + show(a.a_matrix.value[k]) + " became " + show(b.a_matrix.value[k2]);
      }
      ++k2;
    }
    if (k2 != end2) return where + "gained matrix entries";
  }
  return {};
}

// A text that reads is written; the written text must read again, give the same
// model up to the documented rules, and be written again as the identical text
// (unless a documented exception applies).
inline std::string check_round_trip(std::string_view text) {
  std::string fault;
  Result<ModelRecord> first = guarded_read(text, fault);
  if (!fault.empty()) return fault;
  if (!first.ok()) return {};
  const ModelRecord& r1 = first.value();
  std::string unsound = check_reader_record(r1);
  if (!unsound.empty()) return "record breaks an invariant: " + unsound;

  const RoundTripHazards hazards = find_name_hazards(r1);
  ByteBuffer text1;
  bool refused = false;
  fault = write_text(r1, text1, "first", &refused);
  // A name the text cannot carry is refused before anything is written.
  if (refused && hazards.names) return {};
  if (!fault.empty()) return fault;
  Result<ModelRecord> second = guarded_read(as_view(text1), fault);
  if (!fault.empty()) return "reading the written text: " + fault;
  if (!second.ok()) return "the written text does not read: " + second.error().message;
  const ModelRecord& r2 = second.value();
  std::string broken = check_reader_record(r2);
  if (!broken.empty()) return "record read from the written text breaks an invariant: " + broken;

  ByteBuffer text2;
  fault = write_text(r2, text2, "second");
  if (!fault.empty()) return fault;

  if (hazards.names) return {};  // only "reads again, no crash" is promised

  bool render_changes = false;
  std::string diff = compare_round_trip(r1, r2, render_changes);
  if (!diff.empty()) return "round trip changed the model: " + diff;

  bool free_rows = false;
  for (uint32_t i = 0; i < r1.num_row; ++i)
    free_rows = free_rows || (!is_finite(r1.row_lower[i]) && !is_finite(r1.row_upper[i]));
  if (free_rows || render_changes) return {};
  if (as_view(text1) != as_view(text2)) {
    return "second written text differs from the first: " + first_difference(as_view(text1), as_view(text2));
  }
  return {};
}

}  // namespace mopsel::fuzz
