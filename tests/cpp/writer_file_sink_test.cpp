// The file sink: creation, error texts, the 8192-byte buffer's flushing rule,
// retries, and what the file keeps after a failure, also behind the gzip sink.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>
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
    ColSpec col{"column_with_a_long_name_" + std::to_string(j), j % 7 == 0 ? kInt : kCont, j % 3 == 0 ? 0.0 : j * 0.25,
                j % 5 == 0 ? -kInf : 0.0, j % 2 == 0 ? kInf : j, {}};
    if (j == 1 && long_name != 0) col.name.assign(long_name, 'n');
    for (uint32_t row = j % 2; row < 3; row += 2) col.entries.push_back({row, 1.0 / (j + row + 1)});
    cols.push_back(std::move(col));
  }
  return make_record({{"first_row", 1.0, kInf}, {"second_row", -kInf, 5.0}, {"third_row", 2.0, 7.5}}, cols);
}

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
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
    bool gzip = false;
  } cases[] = {
      {(dir_ / "missing" / "model.mps").string(), 3, "No such file or directory (os error 2)"},
      {dir_.string(), 3, "Is a directory (os error 21)"},
      {(dir_ / "a").string() + std::string(1, '\0') + "b.mps", 3, "file name contained an unexpected NUL byte"},
      {"/dev/full", 0, "No space left on device (os error 28)"},
      {"/dev/full", 3000, "No space left on device (os error 28)"},
      {(dir_ / "missing" / "model.mps.gz").string(), 3, "No such file or directory (os error 2)", true},
      {"/dev/full", 0, "No space left on device (os error 28)", true},
      {"/dev/full", 30000, "No space left on device (os error 28)", true},
  };
  for (const auto& c : cases) {
    if (c.path == "/dev/full" && !fs::exists(c.path)) GTEST_SKIP() << "/dev/full is not available on this system";
    const Status status = write_mps_to_file(sample_record(c.columns), c.path, {.gzip = c.gzip});
    ASSERT_FALSE(status.ok()) << c.path;
    EXPECT_EQ(status.error().message, c.message);
    EXPECT_EQ(status.error().kind, ErrorKind::Os);
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_FALSE(fs::exists(dir_ / "a"));
}

TEST_F(WriterFile, AnInconsistentRecordLeavesTheFileUntouched) {
  ModelRecord record = sample_record(3000);
  record.a_matrix.index[record.a_matrix.index.size() - 1] = 99;  // the last entry's row is out of range
  const fs::path kept = dir_ / "kept.mps";
  { std::ofstream(kept) << "old text\n"; }
  EXPECT_THROW((void)write_mps_to_file(record, kept.string()), InternalFault);
  EXPECT_THROW((void)write_mps_to_file(record, (dir_ / "new.mps").string()), InternalFault);
  EXPECT_EQ(file_text(kept), "old text\n");
  EXPECT_FALSE(fs::exists(dir_ / "new.mps"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);  // no temporary left
  ByteBuffer partial;
  EXPECT_THROW((void)write_mps_to_buffer(record, partial), InternalFault);
  EXPECT_EQ(partial.size(), 0u);
}

// Everything in the test directory, for checking that no temporary is left.
std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t mode_of(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// A regular file is replaced whole: its permission bits stay, a link to it stays a
// link, and nothing else appears in the directory.
TEST_F(WriterFile, RegularFilesAreReplacedWholeAndKeepTheirMode) {
  const ModelRecord record = sample_record(40);
  const std::string text = text_of(record);
  struct Case {
    const char* what;
    const char* written;  // the path given to the writer
    const char* lands;    // the file that gets the text
    mode_t mode;          // its mode afterwards
  };
  const Case cases[] = {
      {"a file of mode 0640", "plain.mps", "plain.mps", 0640},
      {"a file of mode 0755", "exec.mps", "exec.mps", 0755},
      {"a link to a file", "link.mps", "target.mps", 0600},
      {"a link to a link to a file", "link2.mps", "target.mps", 0600},
      {"a link to a file not there yet", "dangling.mps", "sub/new.mps", 0644},
      {"a new file", "fresh.mps", "fresh.mps", 0644},
  };
  fs::create_directories(dir_ / "sub");
  for (const char* name : {"plain.mps", "exec.mps", "target.mps"}) std::ofstream(dir_ / name) << "old\n";
  fs::permissions(dir_ / "plain.mps", fs::perms(0640));
  fs::permissions(dir_ / "exec.mps", fs::perms(0755));
  fs::permissions(dir_ / "target.mps", fs::perms(0600));
  fs::create_symlink("target.mps", dir_ / "link.mps");
  fs::create_symlink(dir_ / "link.mps", dir_ / "link2.mps");
  fs::create_symlink("sub/new.mps", dir_ / "dangling.mps");
  const mode_t old_mask = ::umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(write_mps_to_file(record, (dir_ / c.written).string()).ok());
    EXPECT_EQ(file_text(dir_ / c.lands), text);
    EXPECT_EQ(mode_of(dir_ / c.lands), c.mode);
  }
  ::umask(old_mask);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.mps"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.mps"));
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"dangling.mps", "exec.mps", "fresh.mps", "link.mps",
                                                     "link2.mps", "plain.mps", "sub", "target.mps"}));
  EXPECT_EQ(listing(dir_ / "sub"), std::vector<std::string>{"new.mps"});

  // A name too long for the temporary's suffix is written in place.
  const std::string long_name(250, 'm');
  ASSERT_TRUE(write_mps_to_file(record, (dir_ / long_name).string()).ok());
  EXPECT_EQ(file_text(dir_ / long_name), text);
  // Devices and FIFOs are written directly.
  EXPECT_TRUE(write_mps_to_file(record, "/dev/null").ok());
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = file_text(fifo); });
  ASSERT_TRUE(write_mps_to_file(record, fifo).ok());
  reader.join();
  EXPECT_EQ(received, text);
}

// A reader opening the file while it is rewritten sees the old or the new text,
// never a part of either; a write that fails midway leaves the old text.
TEST_F(WriterFile, ReadersSeeOneWholeTextAndFailuresLeaveTheOld) {
  const ModelRecord small = sample_record(30), large = sample_record(3000);
  const std::string small_text = text_of(small), large_text = text_of(large);
  const fs::path path = dir_ / "model.mps";
  ASSERT_TRUE(write_mps_to_file(small, path.string()).ok());
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    while (!done) {
      const std::string seen = file_text(path);
      if (seen != small_text && seen != large_text) ++torn;
      ++reads;
    }
  });
  for (int round = 0; round < 40; ++round) {
    ASSERT_TRUE(write_mps_to_file(round % 2 == 0 ? large : small, path.string()).ok());
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";

  // A file-size limit stops the write midway (EFBIG instead of the signal).
  void (*previous)(int) = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
  struct rlimit lowered = limit;
  lowered.rlim_cur = 65536;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
  const Status status = write_mps_to_file(large, path.string());
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, previous);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "File too large (os error 27)");
  EXPECT_EQ(file_text(path), small_text);
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"model.mps"});
}

// A scripted stand-in for write(2): records each call's size and what it took.
struct Script {
  size_t max_per_call = SIZE_MAX;  // short writes
  int interrupt_every = 0;          // EINTR on every n-th call
  int fail_from_call = -1;          // from this call on: fail with fail_errno, or accept nothing when 0
  int fail_errno = 0;
  bool recovers = false;            // the file accepts data again when the sink is dropped
};
struct FakeFile {
  Script script;
  std::vector<size_t> calls;
  std::string content;
};
FakeFile* fake = nullptr;

ssize_t fake_write(int, const void* data, size_t size) {
  const int call = static_cast<int>(fake->calls.size());
  const Script& s = fake->script;
  fake->calls.push_back(size);
  const bool interrupted = s.interrupt_every != 0 && call % s.interrupt_every == 0;
  if (interrupted || (s.fail_from_call >= 0 && call >= s.fail_from_call)) {
    errno = interrupted ? EINTR : s.fail_errno;
    return errno == 0 ? 0 : -1;
  }
  const size_t n = std::min(size, s.max_per_call);
  fake->content.append(static_cast<const char*>(data), n);
  return static_cast<ssize_t>(n);
}

// Puts pieces of the given sizes (each of one letter, a, b, c, ...), finishes
// and drops the sink; `all` receives the text put.
Status put_pieces(FakeFile& file, const std::vector<size_t>& pieces, std::string& all) {
  fake = &file;
  FileSink sink(::open("/dev/null", O_WRONLY | O_CLOEXEC), fake_write);
  for (size_t i = 0; i < pieces.size(); ++i) {
    all.append(pieces[i], static_cast<char>('a' + i % 26));
    sink.put(std::string_view(all).substr(all.size() - pieces[i]));
  }
  const Status status = sink.finish();
  if (file.script.recovers) file.script.fail_from_call = -1;
  return status;
}

TEST(FileSinkBuffer, FlushingRuleFailuresAndWhatTheFileKeeps) {
  const Script sound, silent{.fail_from_call = 0}, full{.fail_from_call = 0, .fail_errno = ENOSPC};
  const size_t kAll = SIZE_MAX;
  const struct {
    const char* what;
    std::vector<size_t> pieces;
    Script script;
    const char* error;
    std::vector<size_t> calls;  // including the quiet write-out when the sink is dropped
    size_t kept;                // bytes of the text the file holds at the end
  } cases[] = {
      {"small pieces stay buffered until the end", {10, 20, 30}, sound, "", {60}, kAll},
      {"a piece that does not fit flushes first", {8000, 200, 50}, sound, "", {8000, 250}, kAll},
      {"a piece that fills the buffer exactly fits", {8191, 1}, sound, "", {8192}, kAll},
      {"the next piece after a full buffer flushes it", {8191, 1, 1}, sound, "", {8192, 1}, kAll},
      {"a piece as large as the buffer goes straight to the file", {10, 8192, 5}, sound, "", {10, 8192, 5}, kAll},
      {"a large piece with an empty buffer", {9000}, sound, "", {9000}, kAll},
      {"empty pieces write nothing", {0, 0}, sound, "", {}, kAll},
      {"buffered data accepted by nobody", {100}, silent, "failed to write the buffered data", {100, 100}, 0},
      {"direct write accepted by nobody", {9000, 10}, silent, "failed to write whole buffer", {9000}, 0},
      {"OS error on a flush ends the rendering", {8000, 500, 9000, 10}, full, "No space left on device (os error 28)",
       {8000, 8000}, 0},
      {"OS error on the final write-out", {8000, 500}, {.fail_from_call = 1, .fail_errno = EIO},
       "Input/output error (os error 5)", {8000, 500, 500}, 8000},
      {"OS error on a direct write", {10, 9000, 10}, {.fail_from_call = 1, .fail_errno = EFBIG},
       "File too large (os error 27)", {10, 9000}, 10},
      {"the rest of a failed flush is written out when the sink is dropped", {8000, 500, 10},
       {.max_per_call = 3000, .fail_from_call = 1, .fail_errno = ENOSPC, .recovers = true},
       "No space left on device (os error 28)", {8000, 5000, 5000, 2000}, 8000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFile file{c.script, {}, {}};
    std::string all;
    const Status status = put_pieces(file, c.pieces, all);
    EXPECT_EQ(status.ok() ? "" : status.error().message, c.error);
    if (!status.ok()) {
      EXPECT_EQ(status.error().kind, ErrorKind::Os);
    }
    EXPECT_EQ(file.calls, c.calls);
    EXPECT_EQ(file.content, all.substr(0, c.kept));
  }
  FakeFile file{{.max_per_call = 333, .interrupt_every = 2}, {}, {}};  // interrupted and short writes are retried
  std::string all;
  ASSERT_TRUE(put_pieces(file, {5000, 5000, 9000, 17}, all).ok());
  EXPECT_EQ(file.content, all);
}

// The writer renders most lines straight into the sink's buffer, the others
// through put(); either way the file receives the same write calls as when
// every line is put as one piece. Cases: many lines, some ending near the
// buffer's end; a line longer than the buffer; a line exactly one buffer long.
TEST(FileSinkBuffer, RenderedLinesActAsOnePieceEach) {
  const struct {
    uint32_t columns;
    size_t long_name, longest_line;  // column 1's name length (0 keeps it), the text's longest line
  } cases[] = {{3000, 0, 93}, {40, 9000, 9060}, {40, 8132, 8192}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.longest_line);
    const ModelRecord record = sample_record(c.columns, c.long_name);
    const std::string text = text_of(record);
    FakeFile rendered, by_lines;
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
    EXPECT_EQ(*std::max_element(lines.begin(), lines.end()), c.longest_line);
    std::string all;
    ASSERT_TRUE(put_pieces(by_lines, lines, all).ok());
    EXPECT_EQ(rendered.content, text);
    EXPECT_EQ(rendered.calls, by_lines.calls);
    EXPECT_GT(rendered.calls.size(), 1u);
  }
}

}  // namespace
}  // namespace mopsel
