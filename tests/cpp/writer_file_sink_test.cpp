// The file sink: creation, error texts, the 8192-byte buffer's flushing rule,
// retries, and what the file keeps after a failure.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/fault.hpp"
#include "writer/file_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer_test_support.hpp"

namespace mopsel {
namespace {
using namespace mopsel::testing;
namespace fs = std::filesystem;

// A record with `columns` long-named columns, so that its text needs many
// flushes; column 1's name can be made `long_name` bytes long.
ModelRecord sample_record(uint32_t columns, size_t long_name = 0) {
  std::vector<ColSpec> cols;
  for (uint32_t j = 0; j < columns; ++j) {
    ColSpec col{j == 1 && long_name != 0 ? std::string(long_name, 'n') : "column_with_a_long_name_" + std::to_string(j),
                j % 7 == 0 ? kInt : kCont, j % 3 == 0 ? 0.0 : j * 0.25, j % 5 == 0 ? -kInf : 0.0,
                j % 2 == 0 ? kInf : j, {}};
    for (uint32_t row = j % 2; row < 3; row += 2) col.entries.push_back({row, 1.0 / (j + row + 1)});
    cols.push_back(std::move(col));
  }
  return make_record({{"first_row", 1.0, kInf}, {"second_row", -kInf, 5.0}, {"third_row", 2.0, 7.5}}, cols);
}

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WriterFile : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }
  const fs::path dir_ = fs::temp_directory_path() / ("mopsel_writer_" + std::to_string(::getpid()));
};

TEST_F(WriterFile, WritesTheBufferTextTruncatingAndWithMode0666BeforeUmask) {
  std::ofstream(dir_ / "model.mps") << std::string(100000, 'z');  // truncated, not overwritten in place
  const mode_t old_mask = ::umask(022);
  for (uint32_t columns : {0u, 1u, 40u, 3000u}) {
    for (const char* name : {"model.mps", "model.mps.gz"}) {  // ".gz" is only a name: written plain
      const ModelRecord record = sample_record(columns);
      ASSERT_TRUE(write_mps_to_file(record, (dir_ / name).string()).ok());
      EXPECT_EQ(file_text(dir_ / name), text_of(record)) << columns << " columns, " << name;
    }
  }
  ::umask(old_mask);
  struct stat info {};
  ASSERT_EQ(::stat((dir_ / "model.mps.gz").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(WriterFile, CreationAndWriteFailures) {
  const struct {
    std::string path;
    uint32_t columns;  // 0: the failure comes from the final write-out; 3000: from a flush midway
    const char* message;
  } cases[] = {
      {(dir_ / "missing" / "model.mps").string(), 3, "No such file or directory (os error 2)"},
      {dir_.string(), 3, "Is a directory (os error 21)"},
      {(dir_ / "a").string() + std::string(1, '\0') + "b.mps", 3, "file name contained an unexpected NUL byte"},
      {"/dev/full", 0, "No space left on device (os error 28)"},
      {"/dev/full", 3000, "No space left on device (os error 28)"},
  };
  for (const auto& c : cases) {
    if (c.path == "/dev/full" && !fs::exists(c.path)) GTEST_SKIP() << "/dev/full is not available on this system";
    const Status status = write_mps_to_file(sample_record(c.columns), c.path);
    ASSERT_FALSE(status.ok()) << c.path;
    EXPECT_EQ(status.error(), c.message);
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_FALSE(fs::exists(dir_ / "a"));
}

TEST_F(WriterFile, InternalFaultKeepsTheTextProducedSoFar) {
  ModelRecord record = sample_record(3000);
  record.a_matrix.index[record.a_matrix.index.size() - 1] = 99;  // the last entry's row is out of range
  EXPECT_THROW((void)write_mps_to_file(record, (dir_ / "fault.mps").string()), InternalFault);
  ByteBuffer partial;
  EXPECT_THROW((void)write_mps_to_buffer(record, partial), InternalFault);
  EXPECT_GT(partial.size(), 100000u);
  EXPECT_EQ(file_text(dir_ / "fault.mps"), std::string(as_view(partial)));
}

// A scripted stand-in for write(2): records each call's size and what it took.
struct FakeFile {
  std::vector<size_t> calls;
  std::string content;
  size_t max_per_call = SIZE_MAX;  // short writes
  int interrupt_every = 0;          // EINTR on every n-th call
  int fail_from_call = -1;          // from this call on: fail with fail_errno, or accept nothing when 0
  int fail_errno = 0;
};
FakeFile* fake = nullptr;

ssize_t fake_write(int, const void* data, size_t size) {
  const int call = static_cast<int>(fake->calls.size());
  fake->calls.push_back(size);
  const bool interrupted = fake->interrupt_every != 0 && call % fake->interrupt_every == 0;
  if (interrupted || (fake->fail_from_call >= 0 && call >= fake->fail_from_call)) {
    errno = interrupted ? EINTR : fake->fail_errno;
    return errno == 0 ? 0 : -1;
  }
  const size_t n = std::min(size, fake->max_per_call);
  fake->content.append(static_cast<const char*>(data), n);
  return static_cast<ssize_t>(n);
}

// Puts pieces of the given sizes (each of one letter, a, b, c, ...) and finishes.
Status put_pieces(FakeFile& file, const std::vector<size_t>& pieces, std::string* all = nullptr) {
  fake = &file;
  FileSink sink(::open("/dev/null", O_WRONLY | O_CLOEXEC), fake_write);
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string piece(pieces[i], static_cast<char>('a' + i % 26));
    if (all != nullptr) *all += piece;
    sink.put(piece);
  }
  return sink.finish();
}

TEST(FileSinkBuffer, FlushingRuleAndRetries) {
  const struct {
    const char* what;
    std::vector<size_t> pieces, writes;
  } cases[] = {
      {"small pieces stay buffered until the end", {10, 20, 30}, {60}},
      {"a piece that does not fit flushes first", {8000, 200, 50}, {8000, 250}},
      {"a piece that fills the buffer exactly fits", {8191, 1}, {8192}},
      {"the next piece after a full buffer flushes it", {8191, 1, 1}, {8192, 1}},
      {"a piece as large as the buffer goes straight to the file", {10, 8192, 5}, {10, 8192, 5}},
      {"a large piece with an empty buffer", {9000}, {9000}},
      {"empty pieces write nothing", {0, 0}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFile file;
    std::string all;
    ASSERT_TRUE(put_pieces(file, c.pieces, &all).ok());
    EXPECT_EQ(file.calls, c.writes);
    EXPECT_EQ(file.content, all);
  }
  FakeFile file;  // interrupted and short writes are retried
  file.max_per_call = 333;
  file.interrupt_every = 2;
  std::string all;
  ASSERT_TRUE(put_pieces(file, {5000, 5000, 9000, 17}, &all).ok());
  EXPECT_EQ(file.content, all);
}

TEST(FileSinkBuffer, FailuresAndWhatTheFileKeeps) {
  const struct {
    const char* what;
    std::vector<size_t> pieces;
    int fail_from_call, fail_errno;
    const char* message;
    std::vector<size_t> calls;  // including the quiet retry when the sink is dropped
  } cases[] = {
      {"buffered data accepted by nobody", {100}, 0, 0, "failed to write the buffered data", {100, 100}},
      {"direct write accepted by nobody", {9000, 10}, 0, 0, "failed to write whole buffer", {9000}},
      {"OS error on a flush ends the rendering", {8000, 500, 9000, 10}, 0, ENOSPC,
       "No space left on device (os error 28)", {8000, 8000}},
      {"OS error on the final write-out", {8000, 500}, 1, EIO, "Input/output error (os error 5)", {8000, 500, 500}},
      {"OS error on a direct write", {10, 9000, 10}, 1, EFBIG, "File too large (os error 27)", {10, 9000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFile file;
    file.fail_from_call = c.fail_from_call;
    file.fail_errno = c.fail_errno;
    const Status status = put_pieces(file, c.pieces);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), c.message);
    EXPECT_EQ(file.calls, c.calls);
  }
  // A flush of 8000 bytes takes 3000 and fails; rendering stops, and dropping
  // the sink writes the other 5000 once the file accepts them again.
  FakeFile file;
  file.max_per_call = 3000;
  file.fail_from_call = 1;
  file.fail_errno = ENOSPC;
  fake = &file;
  {
    FileSink sink(::open("/dev/null", O_WRONLY | O_CLOEXEC), fake_write);
    sink.put(std::string(8000, 'a'));
    sink.put(std::string(500, 'b'));
    EXPECT_FALSE(sink.ok());
    sink.put(std::string(10, 'c'));  // dropped
    file.fail_from_call = -1;
  }
  EXPECT_EQ(file.content, std::string(8000, 'a'));
}

// The writer renders most lines straight into the sink's buffer, the others
// through put(); either way the file receives the same write calls as when
// every line of the text is put as one piece.
TEST(FileSinkBuffer, RenderedLinesActAsOnePieceEach) {
  const struct {
    uint32_t columns;
    size_t long_name;  // length of column 1's name; 0 keeps it
  } cases[] = {
      {3000, 0},                                                        // lines ending near the buffer's end
      {40, 9000},                                                       // a line longer than the buffer
      {40, 8192 - 4 - 2 - 3 - 2 - 16 - 2 - 9 - 2 - 16 - 1},  // a line exactly one buffer long
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.long_name);
    const ModelRecord record = sample_record(c.columns, c.long_name);
    const std::string text = text_of(record);
    FakeFile rendered;
    fake = &rendered;
    {
      FileSink sink(::open("/dev/null", O_WRONLY | O_CLOEXEC), fake_write);
      write_mps(record, sink);
      ASSERT_TRUE(sink.finish().ok());
    }
    std::vector<size_t> lines;
    for (size_t begin = 0, end; begin < text.size(); begin = end) {
      end = text.find('\n', begin) + 1;
      lines.push_back(end - begin);
    }
    FakeFile by_lines;
    ASSERT_TRUE(put_pieces(by_lines, lines).ok());
    EXPECT_EQ(rendered.content, text);
    EXPECT_EQ(rendered.calls, by_lines.calls);
    EXPECT_GT(rendered.calls.size(), 1u);
  }
}

}  // namespace
}  // namespace mopsel
