// The file sink: creation, error texts, the 8192-byte buffer's flushing rule,
// retries, and what the file keeps after a failure.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "model/fault.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/mps_writer.hpp"

namespace mopsel {
namespace {

namespace fs = std::filesystem;
constexpr double kInf = std::numeric_limits<double>::infinity();

// A record with `columns` columns and long names, so that its text needs many flushes.
ModelRecord sample_record(uint32_t columns) {
  ModelRecord r;
  r.name = "sample";
  r.num_row = 3;
  r.num_col = columns;
  for (const char* row : {"first_row", "second_row", "third_row"}) r.row_names.push_back(row);
  for (double v : {1.0, -kInf, 2.0}) r.row_lower.push_back(v);
  for (double v : {kInf, 5.0, 7.5}) r.row_upper.push_back(v);
  r.a_matrix.start.push_back(0);
  for (uint32_t j = 0; j < columns; ++j) {
    r.col_names.push_back("column_with_a_long_name_" + std::to_string(j));
    r.col_cost.push_back(j % 3 == 0 ? 0.0 : j * 0.25);
    r.col_lower.push_back(j % 5 == 0 ? -kInf : 0.0);
    r.col_upper.push_back(j % 2 == 0 ? kInf : j);
    r.col_integrality.push_back(static_cast<uint8_t>(j % 7 == 0 ? 1 : 0));
    for (uint32_t row = 0; row < 3; ++row) {
      if ((j + row) % 2 == 0) {
        r.a_matrix.index.push_back(row);
        r.a_matrix.value.push_back(1.0 / (j + row + 1));
      }
    }
    r.a_matrix.start.push_back(static_cast<uint32_t>(r.a_matrix.index.size()));
  }
  return r;
}

std::string buffer_text(const ModelRecord& record) {
  ByteBuffer out;
  EXPECT_TRUE(write_mps_to_buffer(record, out).ok());
  return std::string(as_view(out));
}

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WriterFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mopsel_writer_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(WriterFile, WritesTheSameTextAsTheBuffer) {
  for (uint32_t columns : {0u, 1u, 40u, 3000u}) {
    const ModelRecord record = sample_record(columns);
    // ".gz" is only a name: the text is written plain.
    for (const char* name : {"model.mps", "model.mps.gz"}) {
      const fs::path path = dir_ / name;
      ASSERT_TRUE(write_mps_to_file(record, path.string()).ok());
      EXPECT_EQ(file_text(path), buffer_text(record)) << columns << " columns, " << name;
    }
  }
}

TEST_F(WriterFile, TruncatesAnExistingFileAndCreatesWithMode0666BeforeUmask) {
  const fs::path path = dir_ / "old.mps";
  std::ofstream(path) << std::string(100000, 'z');
  const ModelRecord record = sample_record(2);
  ASSERT_TRUE(write_mps_to_file(record, path.string()).ok());
  EXPECT_EQ(file_text(path), buffer_text(record));

  const mode_t old_mask = ::umask(022);
  const fs::path fresh = dir_ / "fresh.mps";
  ASSERT_TRUE(write_mps_to_file(record, fresh.string()).ok());
  ::umask(old_mask);
  struct stat info {};
  ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(WriterFile, CreationFailures) {
  struct Case {
    const char* what;
    std::string path;
    const char* message;
  };
  const Case cases[] = {
      {"missing directory", (dir_ / "missing" / "model.mps").string(), "No such file or directory (os error 2)"},
      {"a directory", dir_.string(), "Is a directory (os error 21)"},
      {"NUL in the path", (dir_ / "a").string() + std::string(1, '\0') + "b.mps",
       "file name contained an unexpected NUL byte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Status status = write_mps_to_file(sample_record(3), c.path);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), c.message);
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_FALSE(fs::exists(dir_ / "a"));
}

TEST_F(WriterFile, DeviceFullReportsTheOsError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available on this system";
  // Small text: the failure comes from the final write-out after ENDATA.
  // Large text: from a flush in the middle, which ends the rendering.
  for (uint32_t columns : {0u, 3000u}) {
    const Status status = write_mps_to_file(sample_record(columns), "/dev/full");
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), "No space left on device (os error 28)");
  }
}

TEST_F(WriterFile, InternalFaultKeepsTheTextProducedSoFar) {
  ModelRecord record = sample_record(3000);
  record.a_matrix.index[record.a_matrix.index.size() - 1] = 99;  // the last entry's row is out of range
  const fs::path path = dir_ / "fault.mps";
  try {
    (void)write_mps_to_file(record, path.string());
    FAIL() << "no fault";
  } catch (const InternalFault& fault) {
    EXPECT_EQ(fault.message(), "index out of bounds: the len is 3 but the index is 99");
  }
  ByteBuffer partial;
  try {
    (void)write_mps_to_buffer(record, partial);
  } catch (const InternalFault&) {
  }
  const std::string expected(as_view(partial));
  EXPECT_GT(expected.size(), 100000u);
  EXPECT_EQ(file_text(path), expected);
}

// A scripted stand-in for write(2): records each call's size and what it took.
struct FakeFile {
  std::vector<size_t> calls;
  std::string content;
  size_t max_per_call = SIZE_MAX;  // short writes
  int interrupt_every = 0;          // fail with EINTR on every n-th call
  int fail_from_call = -1;          // from this call on: fail
  int fail_errno = 0;               // with this errno, or return 0 when 0
};
FakeFile* fake = nullptr;

ssize_t fake_write(int, const void* data, size_t size) {
  const int call = static_cast<int>(fake->calls.size());
  fake->calls.push_back(size);
  if (fake->interrupt_every != 0 && call % fake->interrupt_every == 0) {
    errno = EINTR;
    return -1;
  }
  if (fake->fail_from_call >= 0 && call >= fake->fail_from_call) {
    if (fake->fail_errno == 0) return 0;
    errno = fake->fail_errno;
    return -1;
  }
  const size_t n = std::min(size, fake->max_per_call);
  fake->content.append(static_cast<const char*>(data), n);
  return static_cast<ssize_t>(n);
}

// Puts pieces of the given sizes (each filled with one letter) and finishes.
Status put_pieces(FakeFile& file, const std::vector<size_t>& pieces, std::string* all = nullptr) {
  fake = &file;
  FileSink sink(::open("/dev/null", O_WRONLY | O_CLOEXEC), fake_write);
  char letter = 'a';
  for (size_t size : pieces) {
    const std::string piece(size, letter);
    letter = letter == 'z' ? 'a' : static_cast<char>(letter + 1);
    if (all != nullptr) *all += piece;
    sink.put(piece);
  }
  return sink.finish();
}

TEST(FileSinkBuffer, FlushingRule) {
  struct Case {
    const char* what;
    std::vector<size_t> pieces;
    std::vector<size_t> writes;
  };
  const Case cases[] = {
      {"small pieces stay buffered until the end", {10, 20, 30}, {60}},
      {"a piece that does not fit flushes first", {8000, 200, 50}, {8000, 250}},
      {"a piece that fills the buffer exactly fits", {8191, 1}, {8192}},
      {"the next piece after a full buffer flushes it", {8191, 1, 1}, {8192, 1}},
      {"a piece as large as the buffer goes straight to the file", {10, 8192, 5}, {10, 8192, 5}},
      {"a large piece with an empty buffer", {9000}, {9000}},
      {"a piece one byte short of the buffer is buffered", {8191}, {8191}},
      {"empty pieces write nothing", {0, 0}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFile file;
    std::string all;
    ASSERT_TRUE(put_pieces(file, c.pieces, &all).ok());
    EXPECT_EQ(file.calls, c.writes);
    EXPECT_EQ(file.content, all);
  }
}

TEST(FileSinkBuffer, RetriesInterruptedAndShortWrites) {
  FakeFile file;
  file.interrupt_every = 2;
  file.max_per_call = 333;
  std::string all;
  ASSERT_TRUE(put_pieces(file, {5000, 5000, 9000, 17}, &all).ok());
  EXPECT_EQ(file.content, all);
}

TEST(FileSinkBuffer, FailuresAndWhatTheFileKeeps) {
  struct Case {
    const char* what;
    std::vector<size_t> pieces;
    int fail_from_call, fail_errno;
    const char* message;
    std::vector<size_t> calls;  // including the quiet retry when the sink is dropped
  };
  const Case cases[] = {
      {"buffered data accepted by nobody", {100}, 0, 0, "failed to write the buffered data", {100, 100}},
      {"direct write accepted by nobody", {9000, 10}, 0, 0, "failed to write whole buffer", {9000}},
      {"OS error on a flush ends the rendering", {8000, 500, 9000, 10}, 0, ENOSPC,
       "No space left on device (os error 28)", {8000, 8000}},
      {"OS error on the final write-out", {8000, 500}, 1, EIO, "Input/output error (os error 5)", {8000, 500, 500}},
      {"OS error on a direct write", {10, 9000, 10}, 1, EFBIG, "File too large (os error 27)", {10, 9000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFile file;
    file.fail_from_call = c.fail_from_call;
    file.fail_errno = c.fail_errno;
    const Status status = put_pieces(file, c.pieces);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), c.message);
    EXPECT_EQ(file.calls, c.calls);
  }
}

TEST(FileSinkBuffer, TextStillBufferedAtAFailureIsWrittenOutWhenDropped) {
  // The flush of the first 8000 bytes takes only 3000 before failing; rendering
  // stops, and dropping the sink writes the other 5000 once the file accepts them.
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
    file.fail_from_call = -1;        // the device has room again
  }
  EXPECT_EQ(file.content, std::string(8000, 'a'));
}

// The writer renders most lines straight into the file sink's buffer and only
// the others through put(). Either way a line must act as one piece: the file
// receives the same write calls as when every line of the text is put alone.
TEST(FileSinkBuffer, RenderedLinesActAsOnePieceEach) {
  struct Case {
    const char* what;
    uint32_t columns;
    size_t long_name;  // length of column 1's name; 0 keeps it
  };
  const Case cases[] = {
      {"many lines, some ending near the buffer's end", 3000, 0},
      {"a line longer than the buffer goes straight to the file", 40, 9000},
      {"a line exactly one buffer long", 40, 8192 - 4 - 2 - 3 - 2 - 16 - 2 - 9 - 2 - 16 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModelRecord record = sample_record(c.columns);
    if (c.long_name != 0) {
      NameList names;
      for (size_t j = 0; j < record.col_names.size(); ++j) {
        names.push_back(j == 1 ? std::string(c.long_name, 'n') : std::string(record.col_names[j]));
      }
      record.col_names = std::move(names);
    }
    const std::string text = buffer_text(record);

    FakeFile rendered;
    fake = &rendered;
    {
      FileSink sink(::open("/dev/null", O_WRONLY | O_CLOEXEC), fake_write);
      write_mps(record, sink);
      ASSERT_TRUE(sink.finish().ok());
    }
    std::vector<size_t> lines;
    for (size_t begin = 0; begin < text.size();) {
      const size_t end = text.find('\n', begin) + 1;
      lines.push_back(end - begin);
      begin = end;
    }
    FakeFile by_lines;
    std::string ignored;
    ASSERT_TRUE(put_pieces(by_lines, lines, &ignored).ok());

    EXPECT_EQ(rendered.content, text);
    EXPECT_EQ(rendered.calls, by_lines.calls);
    EXPECT_GT(rendered.calls.size(), 1u);
  }
}

}  // namespace
}  // namespace mopsel
