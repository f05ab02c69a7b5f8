// Replays every saved fuzz reproducer (fuzz/regressions/) and a table of hostile
// inputs through the checks of the five fuzz targets, and makes sure those
// checks themselves notice wrong results.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_checks.hpp"
#include "fuzz_lp_checks.hpp"
#include "thread_plan_checks.hpp"

namespace mopsel::fuzz {
namespace {

namespace fs = std::filesystem;

const fs::path kRegressionDir = fs::path(__FILE__).parent_path() / ".." / ".." / "fuzz" / "regressions";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every check of every target on one input; "" when all five pass.
std::string all_checks(const std::string& bytes) {
  static ScratchFile gz(".gz");
  static ScratchFile plain(".mps");
  static ScratchFile packed(".mps.gz");
  std::string fault = check_read_mps(bytes);
  if (!fault.empty()) return "read_mps: " + fault;
  fault = check_load_source(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), gz, plain);
  if (!fault.empty()) return "load_source: " + fault;
  fault = check_round_trip(bytes);
  if (!fault.empty()) return "round trip: " + fault;
  // The forced plans start threads for every section of every read: on the first 16 KiB
  // of the longer hostile texts (thousands of sections) they meet every case already.
  fault = check_thread_plans(std::string_view(bytes).substr(0, 16 << 10), plain, packed);
  if (!fault.empty()) return "thread plans: " + fault;
  fault = check_read_lp(bytes);
  if (!fault.empty()) return "read_lp: " + fault;
  fault = check_lp_round_trip(bytes);
  if (!fault.empty()) return "LP round trip: " + fault;
  fault = check_lp_thread_plans(std::string_view(bytes).substr(0, 16 << 10));
  if (!fault.empty()) return "LP thread plans: " + fault;
  return {};
}

std::string gzip_member(const std::string& body) {
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string deflated(deflateBound(&zs, body.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  zs.avail_in = static_cast<uInt>(body.size());
  zs.next_out = reinterpret_cast<Bytef*>(deflated.data());
  zs.avail_out = static_cast<uInt>(deflated.size());
  deflate(&zs, Z_FINISH);
  deflated.resize(zs.total_out);
  deflateEnd(&zs);
  out += deflated;
  const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                   static_cast<uInt>(body.size())));
  const auto size = static_cast<uint32_t>(body.size());
  for (uint32_t v : {crc, size})
    for (int k = 0; k < 4; ++k) out += static_cast<char>((v >> (8 * k)) & 0xFF);
  return out;
}

TEST(FuzzRegressions, EverySavedReproducerPassesAllChecks) {
  if (!fs::is_directory(kRegressionDir)) GTEST_SKIP() << "no folder " << kRegressionDir;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kRegressionDir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name[0] != '.' && name != "README.md") files.push_back(entry.path());
  }
  if (files.empty()) GTEST_SKIP() << "no reproducers saved in " << kRegressionDir;
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    EXPECT_EQ(all_checks(read_file(file)), "") << file.filename();
  }
}

const std::string kSmall =
    "NAME demo\nROWS\n N obj\n L r1\n G r2\nCOLUMNS\n x obj 1 r1 2\n y r2 3\nRHS\n RHS r1 4\nENDATA\n";

struct HostileCase {
  const char* what;
  std::string bytes;
};

std::vector<HostileCase> hostile_cases() {
  using namespace std::string_literals;
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919 + 13) % 256);
  std::string repeated;
  for (int i = 0; i < 2000; ++i) repeated += "ROWS\n N o\n L r\nCOLUMNS\n x r 1\nRHS\n R r 1\nBOUNDS\n UP B x 1\n";
  repeated += "ENDATA\n";
  return {
      {"empty text", ""},
      {"binary garbage", garbage},
      {"garbage then ENDATA", garbage + "\nENDATA\n"},
      {"NUL bytes in names", "ROWS\n N o\0bj\n L r\0\nCOLUMNS\n x\0y o\0bj 1 r\0 2\nENDATA\n"s},
      {"invalid UTF-8 in a name", "ROWS\n N obj\n L r\xff\xfe\nCOLUMNS\n x obj 1\nENDATA\n"},
      {"truncated UTF-8 sequence ending a name", "ROWS\n N obj\n L r\xe2\x82\nENDATA\n"},
      {"overlong UTF-8 in a column name", "ROWS\n N obj\nCOLUMNS\n \xc0\xaf obj 1\nENDATA\n"},
      {"invalid UTF-8 in comments only", "* \xff\xfe comment\n$ \x80\nROWS\n N obj\nCOLUMNS\n x obj 1\nENDATA\n"},
      {"absurd size hints", "* ROWS: 99999999999999\n* COLUMNS: 4294967296\n* NONZERO: 18446744073709551615\n" +
                                kSmall},
      {"CR-only line ends", "ROWS\r N o\r L r\rCOLUMNS\r x r 1\rENDATA\r"},
      {"deeply repeated sections", repeated},
      {"bound on a column before COLUMNS", "ROWS\n N o\n L r\nBOUNDS\n UP B x 4\nCOLUMNS\n y r 1\n x r 2\nENDATA\n"},
      {"second COLUMNS section", "ROWS\n N o\n L r\nCOLUMNS\n x r 1\nCOLUMNS\n x r 2\n y o 3\nENDATA\n"},
      {"values at the edges", "ROWS\n N o\n L r\n E e\nCOLUMNS\n x o 1e400 r -1e-400\n y r 4.9e-324 e nan\n"
                              "RHS\n R r inf e -inf\nRANGES\n G r 1e308 e nan\nBOUNDS\n SC B x 1e308\n"
                              " SI B y -0\nENDATA\n"},
      {"names the writer uses itself", "ROWS\n N RHS1\n L RNG1\n G RHS2\nCOLUMNS\n BND1 RNG1 1 RHS2 2\n"
                                       " BND1 RHS1 5\nRHS\n RHS1 RNG1 3 RHS1 7\nRANGES\n R RHS2 4\n"
                                       "BOUNDS\n UP BND1 BND1 4\nENDATA\n"},
      {"a row called 'MARKER'", "ROWS\n N o\n L 'MARKER'\nCOLUMNS\n x 'MARKER' 2\nENDATA\n"},
      {"repeated names nothing refers to", "ROWS\n N o\n L r\n L r\n G o\nCOLUMNS\n x r 1\n y r 2\n x r 3\n"
                                           "BOUNDS\n UP B x 4\nENDATA\n"},
      {"free and inverted rows", "ROWS\n N o\n L free\n G inv\nCOLUMNS\n x free 1 inv 2\nRHS\n R free inf inv 5\n"
                                 "RANGES\n R inv -1e-300\nENDATA\n"},
      {"LP text with every part", "Minimize\n obj: x + [ x ^ 2 + 2 x * y ] / 2\nSubject To\n q: x + [ y ^ 2 ] <= 4\n"
                                  " i: b = 1 -> x + y <= 2\n r: -1 <= x - y <= 3\nBinary\n b\nSOS\n s1: S1:: x:1 y:2\nEnd\n"},
      {"LP brackets left open", "Minimize\n obj: [ x ^ 2 + [ y * [ z\nEnd\n"},
      {"LP values at the edges", "Minimize\n obj: 1e400 x + [ 4.9e-324 x * y + 1e308 y ^ 2 ] / 2\nSubject To\n"
                                 " c: 1e-400 x + [ 1e308 x ^ 2 + 4.9e-324 x * y ] >= -1e400\nSOS\n s: S2:: x:1e400 y:-0\nEnd\n"},
      {"LP indicators in a row", "Minimize\n x\nSubject To\n b = 1 -> c = 0 -> x <= 1\n d = 1 -> d = 0 -> x <= 2\nEnd\n"},
      {"gzip member of a model", gzip_member(kSmall)},
      {"gzip member cut short", gzip_member(kSmall).substr(0, 25)},
      {"gzip bomb (1000-fold)", gzip_member(std::string(1 << 20, '\n') + "ENDATA\n")},
  };
}

TEST(FuzzRegressions, HostileInputsPassAllChecks) {
  for (const HostileCase& c : hostile_cases()) {
    EXPECT_EQ(all_checks(c.bytes), "") << c.what;
  }
}

// Damaged gzip data, made here in bulk from a few members: bits flipped, bytes replaced,
// inserted and dropped, data cut short. Whichever library inflates (ISA-L or zlib), each
// must load as zlib decodes it or fail with the message of the defect zlib finds.
TEST(FuzzRegressions, DamagedGzipDataAgreesWithZlib) {
  static ScratchFile gz(".gz");
  static ScratchFile plain(".mps");
  std::string rows;
  for (int i = 0; i < 400; ++i) rows += " L  row" + std::to_string(i * 37 % 1000) + "\n";
  const std::string members[] = {
      gzip_member(kSmall),
      gzip_member(rows + kSmall),
      gzip_member(kSmall) + gzip_member(rows),
      gzip_member(std::string(5000, 'x') + "\n"),
  };
  uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state](uint64_t bound) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return state % bound;
  };
  int failures = 0;
  for (int round = 0; round < 4000 && failures < 5; ++round) {
    std::string bytes = members[round % std::size(members)];
    const int edits = 1 + static_cast<int>(next(3));
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      const size_t at = next(bytes.size());
      switch (next(5)) {
        case 0: bytes[at] = static_cast<char>(bytes[at] ^ (1 << next(8))); break;
        case 1: bytes[at] = static_cast<char>(next(256)); break;
        case 2: bytes.insert(at, 1, static_cast<char>(next(256))); break;
        case 3: bytes.erase(at, 1); break;
        default: bytes.resize(at); break;
      }
    }
    const std::string fault =
        check_load_source(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), gz, plain);
    if (!fault.empty()) ++failures;
    EXPECT_EQ(fault, "") << "round " << round;
  }
}

// The round-trip comparison must notice real changes and accept only the
// writer's documented ones.
TEST(FuzzOracle, RoundTripComparisonSeesChanges) {
  std::string fault;
  Result<ModelRecord> read = guarded_read(kSmall, fault);
  if (!read.ok()) GTEST_SKIP() << "the reader does not read the sample yet: " << read.error().message << fault;
  ASSERT_EQ(read.value().num_col, 2u);

  // Each edit turns a copy of the record into what a faulty round trip might read
  // back; `before` adjusts the first record for rules that depend on it.
  struct Edit {
    const char* what;
    void (*before)(ModelRecord&);
    void (*after)(ModelRecord&);
    bool changes;
  };
  auto none = [](ModelRecord&) {};
  const Edit edits[] = {
      {"nothing", none, none, false},
      {"coefficient within 13 digits", none, [](ModelRecord& r) { r.a_matrix.value[0] *= 1 + 1e-14; }, false},
      {"coefficient beyond 13 digits", none, [](ModelRecord& r) { r.a_matrix.value[0] *= 1 + 1e-11; }, true},
      {"cost sign", none, [](ModelRecord& r) { r.col_cost[0] = -r.col_cost[0]; }, true},
      {"semi-continuous read as continuous", [](ModelRecord& r) { r.col_integrality[0] = 2; }, none, false},
      {"semi-integer read as integer", [](ModelRecord& r) { r.col_integrality[0] = 3; },
       [](ModelRecord& r) { r.col_integrality[0] = 1; }, false},
      {"continuous read as integer", none, [](ModelRecord& r) { r.col_integrality[0] = 1; }, true},
      {"NaN lower bound read as -inf", [](ModelRecord& r) { r.col_lower[1] = std::nan(""); },
       [](ModelRecord& r) { r.col_lower[1] = -std::numeric_limits<double>::infinity(); }, false},
      {"NaN lower bound kept", [](ModelRecord& r) { r.col_lower[1] = std::nan(""); },
       [](ModelRecord& r) { r.col_lower[1] = std::nan(""); }, true},
      {"upper bound", none, [](ModelRecord& r) { r.col_upper[1] = 7; }, true},
      {"row upper bound", none, [](ModelRecord& r) { r.row_upper[0] = 5; }, true},
      {"matrix row", none, [](ModelRecord& r) { r.a_matrix.index[0] = 1; }, true},
      {"offset", none, [](ModelRecord& r) { r.obj_offset = 1; }, true},
      {"sense", none, [](ModelRecord& r) { r.obj_sense_minimize = false; }, true},
  };
  for (const Edit& edit : edits) {
    Result<ModelRecord> first = guarded_read(kSmall, fault);
    Result<ModelRecord> second = guarded_read(kSmall, fault);
    ASSERT_TRUE(first.ok() && second.ok());
    edit.before(first.value());
    edit.after(second.value());
    bool render = false;
    EXPECT_EQ(compare_round_trip(first.value(), second.value(), render).empty(), !edit.changes) << edit.what;
  }
}

// The comparison of the thread-plan target notices every field of a record or a
// failure that differs, NaN payloads and the sign of zero included.
TEST(FuzzOracle, ThreadPlanComparisonSeesChanges) {
  const std::string bad = "ROWS\n N o\n L r\nCOLUMNS\n x r 1\nRHS\n R r 1\nBOUNDS\n XX B x 1\nENDATA\n";
  struct Edit {
    const char* what;
    void (*record)(ModelRecord&);
    void (*error)(Error&);
  };
  const Edit edits[] = {
      {"a cost's sign of zero", [](ModelRecord& r) { r.col_cost[0] = -0.0; }, nullptr},
      {"a NaN payload", [](ModelRecord& r) { r.col_upper[1] = std::bit_cast<double>(0x7FF8000000000001u); }, nullptr},
      {"a matrix row", [](ModelRecord& r) { r.a_matrix.index[0] = 1; }, nullptr},
      {"the objective name", [](ModelRecord& r) { r.objective_name = "other"; }, nullptr},
      {"the error's reason", nullptr, [](Error& e) { e.reason += "!"; }},
      {"the error's offset", nullptr, [](Error& e) { ++e.offset; }},
      {"the error's line number", nullptr, [](Error& e) { ++e.lineno; }},
      {"the line shown", nullptr, [](Error& e) { e.line += " "; }},
      {"the error's cause", nullptr, [](Error& e) { e.cause = FindingCode::NoEndData; }},
      {"the error's message", nullptr, [](Error& e) { e.message = "Read error"; }},
  };
  std::string fault;
  for (const Edit& edit : edits) {
    const std::string_view text = edit.record != nullptr ? std::string_view(kSmall) : std::string_view(bad);
    const Result<ModelRecord> first = guarded_read(text, fault);
    Result<ModelRecord> second = guarded_read(text, fault);
    ASSERT_EQ(first.ok(), edit.record != nullptr) << edit.what;
    ASSERT_EQ(compare_outcomes(first, second), "") << edit.what;
    if (edit.record != nullptr) {
      edit.record(second.value());
    } else {
      Error changed = second.error();
      edit.error(changed);
      second = Result<ModelRecord>(std::move(changed));
    }
    EXPECT_NE(compare_outcomes(first, second), "") << edit.what;
  }
  EXPECT_NE(compare_outcomes(guarded_read(kSmall, fault), guarded_read(bad, fault)), "");
}

// Which names keep a round trip from being exact, and which do not.
TEST(FuzzOracle, NameHazards) {
  struct Case {
    const char* text;
    bool hazard;
  };
  const Case cases[] = {
      {"ROWS\n N o\n L r\nCOLUMNS\n x r 1\nENDATA\n", false},
      {"ROWS\n N RHS1\n L RNG1\nCOLUMNS\n BND1 RNG1 1\nENDATA\n", false},
      {"ROWS\n N o\n L r\n L r\nCOLUMNS\n x r 1\nENDATA\n", false},      // entry in the last r
      {"ROWS\n N o\n L r\n L r\n G q\nCOLUMNS\n x q 1\nRHS\n R r 2\nENDATA\n", false},
      {"ROWS\n N o\n L r\nCOLUMNS\n x r 1\nROWS\n L r\nENDATA\n", true},  // entry in the first r
      {"ROWS\n N o\n L r\n L o\nCOLUMNS\n x r 1\nENDATA\n", false},   // no cost: objective unused
      {"ROWS\n N o\nCOLUMNS\n x o 1\nROWS\n L o\nENDATA\n", true},  // cost lines would name row o
      {"ROWS\n N o\n L r\nCOLUMNS\n x r 1\n y r 1\n x r 1\nENDATA\n", false},
      {"ROWS\n N o\n L r\nCOLUMNS\n x r 1\n y r 1\n x r 1\nBOUNDS\n UP B x 3\nENDATA\n", false},
      {"ROWS\n N o\n L r\nBOUNDS\n UP B x 3\nCOLUMNS\n x r 1\nENDATA\n", true},  // x twice, adjacent
      {"ROWS\n N o\n L 'MARKER'\nCOLUMNS\n x o 1\nENDATA\n", true},
      {"ROWS\n N o\n L r\x0b\x0b extra\nCOLUMNS\n x o 1\nENDATA\n", true},  // ends in a vertical tab
      {"ROWS\n N o\n L r\nCOLUMNS\n x\xc2\xa0 o 1\nENDATA\n", true},       // ends in U+00A0
  };
  for (const Case& c : cases) {
    std::string fault;
    Result<ModelRecord> read = guarded_read(c.text, fault);
    ASSERT_TRUE(read.ok()) << c.text;
    EXPECT_EQ(find_name_hazards(read.value()).names, c.hazard) << c.text;
  }
}

TEST(FuzzOracle, ZlibVerdictsOnDamagedMembers) {
  const std::string good = gzip_member(kSmall);
  auto verdict = [](const std::string& bytes) {
    return decode_with_zlib(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(verdict(good).kind, GzipVerdict::kText);
  EXPECT_EQ(verdict(good).text, kSmall);
  // Members joined, zero padding skipped, other trailing bytes left unread.
  EXPECT_EQ(verdict(good + std::string(3, '\0') + gzip_member("second")).text, kSmall + "second");
  EXPECT_EQ(verdict(good + "\x1f" + "x").text, kSmall);

  struct Damage {
    const char* what;
    std::string bytes;
    GzipVerdict::Kind kind;
  };
  std::string bad_crc = good, bad_size = good, bad_magic = good, bad_flags = good, bad_method = good;
  bad_crc[good.size() - 8] ^= 1;
  bad_size[good.size() - 1] ^= 1;
  bad_magic[1] = 'x';
  bad_flags[3] = static_cast<char>(0x20);
  bad_method[2] = 7;
  std::string long_name("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10);
  long_name += std::string(70000, 'n');
  const Damage cases[] = {
      {"empty", "", GzipVerdict::kTruncated},
      {"cut in the body", good.substr(0, 20), GzipVerdict::kTruncated},
      {"cut in the trailer", good.substr(0, good.size() - 3), GzipVerdict::kTruncated},
      {"trailer CRC", bad_crc, GzipVerdict::kBadChecksum},
      {"trailer size", bad_size, GzipVerdict::kBadChecksum},
      {"magic", bad_magic, GzipVerdict::kBadHeader},
      {"reserved flag", bad_flags, GzipVerdict::kBadHeader},
      {"method", bad_method, GzipVerdict::kBadHeader},
      {"name over 65535 bytes", long_name, GzipVerdict::kFieldTooLong},
      {"plain text", kSmall, GzipVerdict::kBadHeader},
      {"a second member's name over 65535 bytes", good + long_name, GzipVerdict::kFieldTooLong},
      {"a second member cut short", good + good.substr(0, 20), GzipVerdict::kTruncated},
      {"a second member's method", good + bad_method, GzipVerdict::kBadHeader},
  };
  for (const Damage& c : cases) EXPECT_EQ(verdict(c.bytes).kind, c.kind) << c.what;

  // Damaged Huffman tables, which other inflaters may report differently (GzipVerdict).
  const std::string header("\x1f\x8b\x08\x00\0\0\0\0\0\x03", 10);
  const std::string incomplete_distances =  // zlib: "invalid distances set"
      header + "\x45\xd0\xb9\x0d\xc4\x40\x0c\x43\xd1\xdc\x55\x4c\x09\xa3\x5b\xea\xc1\xbd\x18\x70\xb2"
               "\xed\x6f\x60\x0c\x99\x31\xd2\x83\xf6";
  const std::string bad_code_lengths = header + std::string("\xed\xc1\x61\x01\0\0\0\x02\xa0\xee\x62\xe7", 12);
  const struct {
    const char* what;
    std::string bytes;
    bool incomplete, near_end;
  } tables[] = {
      {"incomplete distance code", incomplete_distances, true, true},
      {"invalid code lengths", bad_code_lengths, false, true},
      {"invalid code lengths, much more input after", bad_code_lengths + std::string(1000, 'x'), false, false},
  };
  for (const auto& t : tables) {
    const GzipVerdict v = verdict(t.bytes);
    EXPECT_EQ(v.kind, GzipVerdict::kBadDeflate) << t.what;
    EXPECT_EQ(v.incomplete_code, t.incomplete) << t.what;
    EXPECT_EQ(v.damage_near_end, t.near_end) << t.what;
  }
}

TEST(FuzzOracle, ThirteenDigitCloseness) {
  struct Case {
    double a, b;
    bool close;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {1.0, 1.0 + 4e-13, true},        {1.0, 1.0 + 1e-12, false},   {0.0, -0.0, true},
      {nan, -nan, true},               {nan, 0.0, false},           {inf, inf, true},
      {inf, -inf, false},              {inf, 1.797e308, false},     {4.9e-324, 9.9e-324, false},
      {1e300, 1.0000000000004e300, true}, {-2.5, 2.5, false},
  };
  for (const Case& c : cases) EXPECT_EQ(close13(c.a, c.b), c.close) << c.a << " vs " << c.b;
}

}  // namespace
}  // namespace mopsel::fuzz
