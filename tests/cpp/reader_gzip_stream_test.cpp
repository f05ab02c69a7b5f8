// Reading gzip text while a helper thread inflates it gives what inflating it first
// gives: the same record bit for bit or the same failure, a gzip fault winning over a
// text fault. The inflater publishes a few bytes at a time, so that the reader's window
// ends at every byte of the texts (inside a line, a field, a CR LF, a byte-order mark).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "gzip_test_support.hpp"
#include "reader/text/lines.hpp"
#include "reader/read_mps.hpp"
#include "reader_test_support.hpp"
#include "gzip/gzip_stream.hpp"
#include "platform/reading_threads.hpp"
#include "platform/text_buffer.hpp"
#include "source_test_support.hpp"

namespace mopsel {
namespace {
using namespace mopsel::testing;

// Sets the plan of later reads for the life of the object.
struct StreamScope {
  explicit StreamScope(const GzipStreamPlan& plan) { use_gzip_stream_plan_for_tests(&plan); }
  ~StreamScope() { use_gzip_stream_plan_for_tests(nullptr); }
};

GzipStreamPlan streaming(size_t piece_bytes) { return {0, SIZE_MAX, piece_bytes}; }
const GzipStreamPlan kInflateFirst{SIZE_MAX, SIZE_MAX, 1};

Result<ModelRecord> read_file_with(const GzipStreamPlan& plan, const std::string& path,
                                   const Interruption& interruption = {}) {
  const StreamScope scope(plan);
  return read_mps_file(path, interruption);
}

// What a read of the gzip file at `path` with `plan` passed over (notices.hpp), each kind as
// "code count line first".
std::vector<std::string> notices_with(const GzipStreamPlan& plan, const std::string& path) {
  const StreamScope scope(plan);
  ReadNotices notices;
  (void)read_mps_file(path, true, ReadOptions{}, {}, &notices);
  std::vector<std::string> said;
  for (const ReadNotice& n : notices) {
    said.push_back(std::string(finding_name(n.code)) + " " + std::to_string(n.count) + " " +
                   std::to_string(n.lineno) + " " + n.first);
  }
  return said;
}

// The thread plans streamed reads run with: the usual one (texts this small read on
// one thread), and plans that cut COLUMNS into pieces of a few lines as they arrive,
// read by the reading thread alone until the text is complete (two threads: the
// inflater holds the other) or with a helper from the start (four).
const std::optional<ThreadPlan> kStreamThreads[] = {std::nullopt, plan_taking_every_path(2, 7),
                                                    plan_taking_every_path(4, 40)};
constexpr size_t kStreamPlans = std::size(kStreamThreads);

// Reads the gzip file at `path` inflating first, then while it is inflated in pieces of
// each size of `pieces`, with each of kStreamThreads: all must agree, and with `notices`
// what the reads passed over too. Returns how many of the reads of the model streamed.
uint64_t expect_streamed_alike(const std::string& path, const std::vector<size_t>& pieces, bool notices = false) {
  const Result<ModelRecord> first = read_file_with(kInflateFirst, path);
  const std::vector<std::string> first_notices = notices ? notices_with(kInflateFirst, path) : std::vector<std::string>{};
  uint64_t streamed = 0;
  for (const std::optional<ThreadPlan>& threads : kStreamThreads) {
    use_thread_plan_for_tests(threads);
    for (const size_t piece : pieces) {
      SCOPED_TRACE("pieces of " + std::to_string(piece) + ", threads " + std::to_string(threads ? threads->threads : 0));
      const uint64_t before = gzip_texts_streamed();
      EXPECT_EQ(outcome_difference(first, read_file_with(streaming(piece), path)), "");
      streamed += gzip_texts_streamed() - before;
      if (notices) {
        EXPECT_EQ(notices_with(streaming(piece), path), first_notices);
      }
      EXPECT_EQ(reading_threads_in_use(), 0u);
    }
    use_thread_plan_for_tests(std::nullopt);
  }
  return streamed;
}

// Every piece size from one byte up to a few dozen, then larger ones.
std::vector<size_t> tiny_pieces() {
  std::vector<size_t> pieces;
  for (size_t bytes = 1; bytes <= 24; ++bytes) pieces.push_back(bytes);
  for (size_t bytes : {31, 64, 97, 1000, 4096, 1 << 17}) pieces.push_back(bytes);
  return pieces;
}

struct TextCase {
  const char* what;
  std::string text;
};

std::vector<TextCase> text_cases() {
  const std::string rows = "NAME t\nROWS\n N obj\n L r1\n G r2\n E r3\n N extra\nCOLUMNS\n";
  const std::string model = rows +
                            "    x r1 1 obj 2\n    x r2 3\n    y r2 -1 r3 4\nRHS\n    rhs r1 4 r3 2\n"
                            "RANGES\n    rng r3 2\nBOUNDS\n UP bnd x 5\n BV bnd y\nENDATA\n";
  std::string many_rows = "NAME many\nROWS\n N obj\n";
  for (int i = 0; i < 300; ++i) many_rows += (i % 3 == 0 ? " G r" : " L r") + std::to_string(i) + "\n";
  many_rows += "* the rows end\n\nCOLUMNS\n";
  for (int j = 0; j < 200; ++j) {
    many_rows += "    c" + std::to_string(j) + " r" + std::to_string(j * 7 % 300) + " " + std::to_string(j) + ".25\n";
  }
  many_rows += "ENDATA\n";
  std::string hints = "* ROWS: 3\n* COLUMNS: 2\n* NONZERO: 4\n";
  for (int i = 0; i < 25; ++i) hints += "* a comment line among the first ones\n";
  const std::string long_name(150, 'n');
  std::string crlf(kByteOrderMark);
  for (const char c : model) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  crlf.resize(crlf.size() - 2);
  return {
      {"sections of every kind", model},
      {"quadratic sections, SOS and INDICATORS across windows",
       rows + "    x r1 1 obj 2\n    y r2 -1\nSOS\n S1 s\n    x 1\n    y 2\nQUADOBJ\n    x x 2\n    w x 1\n"
              "QCMATRIX r1\n    x y 1\n    y x 1\nINDICATORS\n IF r2 y 1\nENDATA\n"},
      {"a byte-order mark, CR LF line ends and no final line feed",
       crlf},
      {"size hints among more than twenty comment lines", hints + model},
      {"a ROWS section across many windows, then comments and a blank line", many_rows},
      {"names and fields longer than a block of 64 bytes",
       rows + "    " + long_name + " r1 1." + std::string(80, '5') + " obj 2\nRHS\n    rhs r1 4\nENDATA\n"},
      {"lone CRs, tabs, blank-only lines and a header naming its set",
       rows + "    x\tr1\t1\r  obj 2\n   \t\n    y r2 2\nRHS RIGHT\n    RIGHT r1 1\nENDATA"},
      {"the sections beyond a linear program, an asymmetric one last",
       rows + "    x r1 1 obj 2\n    y r2 -1\nSOS\n S1 s\n    x 1\n    y 2\nQUADOBJ\n    x x 2\n    w x 1\n"
              "QCMATRIX r1\n    x y 1\n    y x 1\nINDICATORS\n IF r2 y 1\nQMATRIX\n    x y 1\nENDATA\n"},
      {"text after ENDATA is never read", model + "garbage\nROWS\n X bad\n"},
      {"ENDATA as the last line, without a line feed", rows + "    x r1 1\nENDATA"},
      {"the text ends inside COLUMNS", rows + "    x r1 1\n    x r2 2\n    y r3 3\n"},
      {"the text ends inside ROWS", "NAME t\nROWS\n N obj\n L r1"},
      {"an unknown row type", "ROWS\n N obj\n X r1\nCOLUMNS\n    x r1 1\nENDATA\n"},
      {"an unknown bound type", rows + "    x r1 1\nBOUNDS\n XX BND x 1\nENDATA\n"},
      {"a name that is not UTF-8", "ROWS\n N obj\n L r\xFF" "1\nCOLUMNS\n    x r\xFF" "1 1\nENDATA\n"},
      {"nothing but comments", "* one\n* two\n"},
      {"what the reading passes over: repeated entries across lines, zeros, bad numbers, a misspelt header",
       rows + "    x r1 1 obj 2\n    x r1 3 r2 0\n    x obj 4 r2 1,5\n    x r3 2 r3 9\n    y r1 1\nRHSS\n"
              "    y r2 2 r2 3\nQUADOBJ\n    x x 1\nRHS\n    rhs r1 4 r2 five\nENDATA\n"},
  };
}

TEST(GzipStream, EveryWindowEndReadsAsTheWholeText) {
  TempDir dir;
  for (const TextCase& c : text_cases()) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.write("text.mps.gz", gzip(c.text));
    const std::vector<size_t> pieces = tiny_pieces();
    EXPECT_EQ(expect_streamed_alike(path, pieces, true), kStreamPlans * pieces.size()) << "not every read streamed";
  }
}

// Faults in the gzip data win over whatever the text holds; texts that outgrow their
// room (several members, a stored length that is too small) are read again whole.
TEST(GzipStream, GzipFaultsWinAndOutgrownTextsAreReadAgain) {
  TempDir dir;
  const std::string good = text_cases()[0].text;
  const std::string bad_rows = "ROWS\n N obj\n X r1\nCOLUMNS\n    x r1 1\nENDATA\n" + pseudo_random_text(3000, 5);
  const std::string good_member = gzip(good);
  std::string corrupt = gzip(good + pseudo_random_text(5000, 9), {.level = 1});
  corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x5A);
  const struct {
    const char* what;
    std::string bytes;
    const char* error;  // the message every read must give; null: as inflating first
    bool streams;       // every read streams and succeeds (a failed inflate never counts)
  } cases[] = {
      {"a text fault, then a wrong trailer CRC", gzip(bad_rows, {.crc_xor = 1}), kChecksum, false},
      {"a sound text, then a wrong trailer length", gzip(good, {.size_delta = 0x10000}), kChecksum, false},
      {"a sound text with data after ENDATA, then a wrong CRC", gzip(good + "after\n", {.crc_xor = 4}), kChecksum,
       false},
      {"a text fault, then the file ends early",
       gzip(bad_rows, {.level = 1}).substr(0, gzip(bad_rows, {.level = 1}).size() - 6), kEnd, false},
      {"corrupt deflate data halfway", corrupt, nullptr, false},
      {"a text fault, then a bad second member", gzip(bad_rows) + gzip("x", {.method = 7}), kHeader, false},
      {"two members: the text outgrows the last one's length", good_member + gzip("* more\n"), nullptr, false},
      {"a text fault in the first of two members", gzip(bad_rows) + gzip("* more\n"), nullptr, false},
      {"trailing bytes stating a longer length", good_member + std::string("\0\0\0\0\0\0\1\0", 8), nullptr, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.write("fault.mps.gz", c.bytes);
    const std::vector<size_t> pieces = {1, 3, 64, 4096};
    const uint64_t streamed = expect_streamed_alike(path, pieces);
    EXPECT_EQ(streamed, c.streams ? kStreamPlans * pieces.size() : 0u);
    if (c.error != nullptr) {
      const Result<ModelRecord> read = read_file_with(streaming(7), path);
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error().message, c.error);
    }
  }
}

// The loader's table of headers, bodies and trailers, read as models: each gives the
// outcome of inflating first, its load error message included.
TEST(GzipStream, TheLoadersGzipTableGivesTheSameOutcomes) {
  TempDir dir;
  for (const Case& c : gzip_cases()) {
    SCOPED_TRACE(c.label);
    const std::string path = dir.write("model.mps.gz", c.bytes);
    expect_streamed_alike(path, {1, 5, 4096});
    if (!c.text) {
      const Result<ModelRecord> read = read_file_with(streaming(5), path);
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error().message, c.error);
    }
  }
}

// A model of about `megabytes` MB, its size hints in front (without them the arrays
// would grow by what each column needs once the reservation from the length is used up).
std::string generated(size_t megabytes) {
  std::string body = "NAME gen\nROWS\n N cost\n";
  for (size_t i = 0; i < 500; ++i) body += " L r" + std::to_string(i) + "\n";
  body += "COLUMNS\n";
  size_t columns = 0;
  for (; body.size() < megabytes << 20; ++columns) {
    body += "    c" + std::to_string(columns) + " r" + std::to_string(columns * 7 % 500) + " 1.5 cost " +
            std::to_string(columns % 3) + "\n";
  }
  return "* COLUMNS: " + std::to_string(columns) + "\n* NONZERO: " + std::to_string(2 * columns) + "\n" + body +
         "RHS\n    rhs r1 1\nENDATA\n";
}

TEST(GzipStream, AnInterruptionStopsBothThreads) {
  TempDir dir;
  const std::string text = generated(6);
  const std::string path = dir.write("big.mps.gz", gzip(text, {.level = 1}));
  const uint64_t before = gzip_texts_streamed();
  for (const std::optional<ThreadPlan>& threads : {std::optional<ThreadPlan>{}, std::optional{plan_taking_every_path(2, 1 << 16)},
                                                   std::optional{plan_taking_every_path(4, 1 << 16)}}) {
    use_thread_plan_for_tests(threads);
    for (const size_t piece : {size_t{4096}, size_t{1} << 17}) {
      for (const int allowed : {0, 1, 2, 4}) {
        SCOPED_TRACE(std::to_string(allowed) + " polls, pieces of " + std::to_string(piece));
        StopAfter hook{allowed};
        const Result<ModelRecord> read = read_file_with(streaming(piece), path, hook.interruption());
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().kind, ErrorKind::Interrupted);
        EXPECT_EQ(reading_threads_in_use(), 0u);
      }
    }
    use_thread_plan_for_tests(std::nullopt);
  }
  EXPECT_EQ(gzip_texts_streamed(), before);
  StopAfter never{1 << 30};
  const Result<ModelRecord> read = read_file_with(streaming(4096), path, never.interruption());
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_EQ(record_difference(read.value(), read_valid(text)), "");
  EXPECT_EQ(gzip_texts_streamed(), before + 1);
}

// Without a helper thread to lease, or out of the sizes that stream, the text is
// inflated first.
TEST(GzipStream, InflatedFirstWhenStreamingDoesNotFit) {
  TempDir dir;
  const std::string text = text_cases()[0].text;
  const std::string path = dir.write("small.mps.gz", gzip(text));
  const uint64_t before = gzip_texts_streamed();
  {
    use_thread_plan_for_tests(plan_taking_every_path(1, 0));
    const Result<ModelRecord> read = read_file_with(streaming(3), path);
    use_thread_plan_for_tests(std::nullopt);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(record_difference(read.value(), read_valid(text)), "");
  }
  for (const GzipStreamPlan& plan : {GzipStreamPlan{text.size() + 1, SIZE_MAX, 3}, GzipStreamPlan{0, text.size() - 1, 3}}) {
    EXPECT_TRUE(read_file_with(plan, path).ok());
  }
  EXPECT_EQ(gzip_texts_streamed(), before);
  EXPECT_TRUE(read_file_with(GzipStreamPlan{text.size(), text.size(), 3}, path).ok());
  EXPECT_EQ(gzip_texts_streamed(), before + 1);
  EXPECT_EQ(reading_threads_in_use(), 0u);
}

// A large read writes its text into the buffer a previous text left (keep_text_buffer),
// whose stale bytes look like more of the model: the model is the file's all the same,
// plain or gzip, and the buffer is kept again afterwards.
TEST(KeptTextBuffer, AReadIntoAStaleBufferGivesTheFilesModel) {
  TempDir dir;
  std::string text = "NAME large\nROWS\n N obj\n L r0\n G r1\n E r2\nCOLUMNS\n";
  const std::string padding(100, '_');
  // Just over half the kept buffer: the least that takes it.
  for (uint32_t j = 0; text.size() < kKeptTextMin / 2 + 4096; ++j) {
    // Long names: few entries for the bytes, so that the test stays quick.
    text += "    c" + std::to_string(j) + padding + " r" + std::to_string(j % 3) + " " + std::to_string(j % 1000) +
            ".5 obj 1\n";
  }
  text += "RHS\n    rhs r0 4\nBOUNDS\n UP bnd c7 5\nENDATA\n";
  const ModelRecord expected = read_valid(text);
  const std::string stale_line = "    c1 r2 9 obj 9\n";
  for (const std::string& name : {std::string("large.mps"), std::string("large.mps.gz")}) {
    SCOPED_TRACE(name);
    const std::string path = dir.write(name, name.ends_with(".gz") ? gzip(text, {.level = 1}) : text);
    // A large text done with before makes the next one kept, as in a loop over files.
    ByteBuffer before;
    before.reserve(kKeptTextMin);
    keep_text_buffer(std::move(before));
    ByteBuffer stale;
    stale.reserve(kKeptTextMin);
    std::string lines;
    while (lines.size() + stale_line.size() <= kKeptTextMin) lines += stale_line;
    stale.append(lines.data(), lines.size());
    keep_text_buffer(std::move(stale));
    const Result<ModelRecord> read = read_mps_file(path);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(record_difference(read.value(), expected), "");
    EXPECT_EQ(drop_kept_text_buffer(), kKeptTextMin) << "the stale buffer was not taken and kept again";
  }
}

TEST(GzipStream, RealModelsReadAlike) {
  const std::vector<std::filesystem::path> files = real_model_files({".gz"});
  if (files.empty()) GTEST_SKIP() << "no real models at " << MOPSEL_SHARED_DATA_DIR << " (shared data absent)";
  for (const std::filesystem::path& file : files) {
    SCOPED_TRACE(file.string());
#ifdef MOPSEL_TESTS_SANITIZED
    // Under the sanitizers the small pieces only: they meet every case the large ones do.
    EXPECT_EQ(expect_streamed_alike(file.string(), {4093}), kStreamPlans);
#else
    EXPECT_EQ(expect_streamed_alike(file.string(), {4093, 1 << 17}), 2 * kStreamPlans);
#endif
  }
}

}  // namespace
}  // namespace mopsel
