// Opening and reading plain files: error texts, the read loop with right and wrong size
// hints, growth for inputs of unknown size, and the plain half of load_source.
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "model/fault.hpp"
#include "model/owned_array.hpp"
#include "gzip/inflate.hpp"
#include "source/load_source.hpp"
#include "files/parallel_read.hpp"
#include "files/posix_file.hpp"
#include "platform/reading_threads.hpp"
#include "platform/text_buffer.hpp"
#include "source_test_support.hpp"

#ifdef __SANITIZE_ADDRESS__
// A refused reservation must come back as a null pointer here, as it does without the
// sanitizer, so that the "out of memory" path is tested under it too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace mopsel {
namespace {

namespace fs = std::filesystem;

using testing::TempDir;

// Deterministic text with line structure, not a repetition of one short pattern.
std::string sample_text(size_t size) {
  std::string text;
  text.reserve(size);
  uint32_t state = 12345;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    text += " C" + std::to_string(state % 9973) + " R" + std::to_string((state >> 8) % 311) + " " +
            std::to_string(static_cast<int>(state >> 20) - 2048) + ".5\n";
  }
  text.resize(size);
  return text;
}

std::string as_string(const ByteBuffer& bytes) { return std::string(as_view(bytes)); }

// The usual plan, and plans that send every file of a byte or more through the
// threaded load, in parts of odd sizes and in parts larger than the file.
const std::optional<ThreadPlan> kLoadPlans[] = {
    std::nullopt,
    ThreadPlan{.threads = 2, .load_min_bytes = 1, .load_part_bytes = 4093},
    ThreadPlan{.threads = 3, .load_min_bytes = 1, .load_part_bytes = 65'537},
    ThreadPlan{.threads = 2, .load_min_bytes = 1, .load_part_bytes = 0},
};

struct PlanScope {
  explicit PlanScope(std::optional<ThreadPlan> plan) { use_thread_plan_for_tests(plan); }
  ~PlanScope() {
    use_thread_plan_for_tests(std::nullopt);
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
};

std::string plan_name(const std::optional<ThreadPlan>& plan) {
  if (!plan) return "usual plan";
  return std::to_string(plan->threads) + " threads, parts of " + std::to_string(plan->load_part_bytes);
}

TEST(OsErrorText, DescriptionThenNumber) {
  const struct {
    int number;
    const char* text;
  } cases[] = {
      {ENOENT, "No such file or directory (os error 2)"},
      {EACCES, "Permission denied (os error 13)"},
      {EISDIR, "Is a directory (os error 21)"},
      {ENOTDIR, "Not a directory (os error 20)"},
      {9999, "Unknown error 9999 (os error 9999)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(os_error_text(c.number), c.text);
  }
}

TEST(LoadSource, FailuresCarryTheirPrefixAndText) {
  TempDir dir;
  const std::string plain = dir.write("model.mps", "NAME x\n");
  fs::create_directory(dir.file("folder"));
  fs::create_directory(dir.file("folder.gz"));
  const std::string secret = dir.write("secret.mps", "NAME x\n");
  ::chmod(secret.c_str(), 0);
  const bool root = ::geteuid() == 0;  // root reads files whatever their mode
  // The error number travels with the message, so that Python can raise the OSError
  // subclass it names; the inner text is kept as the reason.
  const struct {
    std::string path;
    std::string message;
    int os_error;
  } cases[] = {
      {dir.file("missing.mps"), "Cannot open file: No such file or directory (os error 2)", ENOENT},
      {dir.file("missing.mps.gz"), "Cannot open file: No such file or directory (os error 2)", ENOENT},
      {dir.file("nowhere/model.mps"), "Cannot open file: No such file or directory (os error 2)", ENOENT},
      {plain + "/inner.mps", "Cannot open file: Not a directory (os error 20)", ENOTDIR},
      {dir.file(std::string(300, 'n')), "Cannot open file: File name too long (os error 36)", ENAMETOOLONG},
      {"", "Cannot open file: No such file or directory (os error 2)", ENOENT},
      {std::string("model\0.mps", 10), "Cannot open file: file name contained an unexpected NUL byte", 0},
      {plain + std::string("\0.gz", 4), "Cannot open file: file name contained an unexpected NUL byte", 0},
      {dir.file("folder"), "Read error: Is a directory (os error 21)", EISDIR},
      {dir.file("folder.gz"), "Read error: Is a directory (os error 21)", EISDIR},
      {secret, "Cannot open file: Permission denied (os error 13)", EACCES},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    if (root && c.path == secret) continue;
    Result<ByteBuffer> loaded = load_source(c.path);
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().message, c.message);
    EXPECT_EQ(loaded.error().kind, ErrorKind::Load);
    EXPECT_EQ(loaded.error().os_error, c.os_error);
    EXPECT_EQ(loaded.error().reason, c.message.substr(c.message.find(": ") + 2));
  }
}

TEST(LoadSource, PlainFilesLoadByteForByteIntoAnExactBuffer) {
  TempDir dir;
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty.mps", ""},
      {"one.mps", "\n"},
      {"model.mps", "NAME demo\nROWS\n N obj\nCOLUMNS\nRHS\nENDATA\n"},
      // No translation of any kind: byte-order mark, CR LF, NUL and non-UTF-8 bytes stay.
      {"raw.mps", "\xEF\xBB\xBFNAME\r\n" + binary},
      // Names that only look like gzip are plain; so is gzip data under another name.
      {"model.mps.GZ", "NAME upper\n"},
      {"model.mps.Gz", std::string("\x1F\x8B\x08\x00", 4)},
      {"model.gzip", "\x1F\x8B not checked"},
      {"large.mps", sample_text(3'000'001)},
      {"huge-page sized.mps", sample_text(kHugeTextMin + 1)},
  };
  for (const auto& plan : kLoadPlans) {
  const PlanScope scope(plan);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + (" with " + plan_name(plan)));
    Result<ByteBuffer> loaded = load_source(dir.write(c.name, c.bytes));
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_EQ(as_string(loaded.value()), c.bytes);
    // Reserved from the file's size and never regrown.
    EXPECT_EQ(loaded.value().capacity(), c.bytes.size());
    if (c.bytes.size() >= kHugeTextMin) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(loaded.value().data()) % kHugePage, 0u);
    }
  }
  }
}

// A large reservation starts on a huge page, and is then an ordinary buffer: it grows
// (realloc), keeps its bytes and goes to a new owner who frees it.
TEST(ReserveText, LargeRoomStartsOnAHugePageAndGrowsLikeAnyOther) {
  for (size_t size : {size_t{1}, kHugeTextMin - 1, kHugeTextMin, 3 * kHugePage + 5}) {
    SCOPED_TRACE(size);
    ByteBuffer text;
    reserve_text(text, size);
    ASSERT_EQ(text.capacity(), size);
    if (size >= kHugeTextMin) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(text.data()) % kHugePage, 0u);
    }
    const std::string bytes = sample_text(size);
    text.append(bytes.data(), bytes.size());
    text.append("tail", 4);
    ASSERT_EQ(text.size(), size + 4);
    EXPECT_TRUE(as_string(text) == bytes + "tail");
    std::free(text.release());
  }
  ByteBuffer used;
  used.push_back('x');
  EXPECT_THROW(reserve_text(used, kHugeTextMin), InternalFault);
  EXPECT_EQ(used.size(), 1u);
}

// A done text of kKeptTextMin bytes or more is kept when another was done with before
// (not the first of a process, or the first since drop_kept_text_buffer), however long
// ago and whatever small texts came between; the next large reservation takes it when
// it asks for half of it or more, and frees it otherwise. Small reservations and small
// done texts leave the kept buffer as it is.
TEST(KeptText, TakenWhenItFitsFreedWhenItDoesNot) {
  constexpr size_t kept_size = kKeptTextMin + kHugePage;
  const struct {
    const char* what;
    bool after_another;  // a large text was done with before, then a small one
    size_t done;         // capacity of the text handed to keep_text_buffer
    size_t reserved;     // then reserved
    bool taken;          // the reservation got the kept storage
    size_t kept_after;   // what drop_kept_text_buffer finds afterwards
  } cases[] = {
      {"the same size", true, kept_size, kept_size, true, 0},
      {"half of it", true, kept_size, kept_size / 2, true, 0},
      {"less than half: freed", true, kept_size, kept_size / 2 - 1, false, 0},
      {"more than it: freed", true, kept_size, kept_size + 1, false, 0},
      {"a small reservation leaves it", true, kept_size, kHugeTextMin - 1, false, kept_size},
      {"a small done text is not kept", true, kKeptTextMin - 1, kKeptTextMin - 1, false, 0},
      {"a single large text is not kept", false, kept_size, kept_size, false, 0},
  };
  const auto done_with = [](size_t capacity) {
    ByteBuffer done;
    done.reserve(capacity);
    done.append("old", 3);
    const char* const storage = done.data();
    keep_text_buffer(std::move(done));
    EXPECT_EQ(done.capacity(), 0u);
    return storage;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    (void)drop_kept_text_buffer();  // as in a fresh process
    if (c.after_another) {
      // The first large text is not kept, and a drop makes the next large text a first again.
      (void)done_with(kKeptTextMin);
      EXPECT_EQ(drop_kept_text_buffer(), 0u) << "the first large text was kept";
      (void)done_with(kKeptTextMin);
      (void)done_with(4096);
    }
    const char* const storage = done_with(c.done);
    ByteBuffer text;
    reserve_text(text, c.reserved);
    // A fresh reservation may land where a freed one was, so only its size tells.
    if (c.taken) {
      EXPECT_EQ(text.data(), storage);
    }
    EXPECT_EQ(text.capacity(), c.taken ? c.done : c.reserved);
    EXPECT_EQ(text.size(), 0u);
    // Taken or fresh, the room is writable to its end.
    text.commit(text.capacity());
    text[text.size() - 1] = 'x';
    EXPECT_EQ(drop_kept_text_buffer(), c.kept_after);
  }
}

// Any size hint gives the whole rest of the file, from the current offset on.
TEST(ReadToEnd, AnyHintAndOffsetGiveTheWholeRest) {
  TempDir dir;
  const std::string content = sample_text(200'000);
  const std::string path = dir.write("hint.mps", content);
  const size_t n = content.size();
  const struct {
    off_t offset;
    size_t hint;  // SIZE_MAX: the remaining size
  } cases[] = {{0, 0},        {0, 1},         {0, 4095},   {0, 4096},     {0, n / 2},    {0, n - 1},
               {0, n},        {0, n + 1},     {0, 3 * n},  {1, SIZE_MAX}, {4321, SIZE_MAX},
               {199'999, SIZE_MAX}, {200'000, SIZE_MAX}, {300'000, SIZE_MAX}, {4321, 0}};
  for (const auto& plan : kLoadPlans) {
  const PlanScope scope(plan);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.offset << " " << c.hint << " with " << plan_name(plan));
    Result<OpenFile> file = open_for_reading(path);
    ASSERT_TRUE(file.ok()) << file.error().message;
    ASSERT_EQ(::lseek(file.value().fd, c.offset, SEEK_SET), c.offset);
    const size_t rest = n - std::min<size_t>(n, c.offset);
    EXPECT_EQ(remaining_size_hint(file.value().fd), rest);
    Result<ByteBuffer> read = read_to_end(file.value().fd, c.hint == SIZE_MAX ? rest : c.hint);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(as_string(read.value()), content.substr(n - rest));
    EXPECT_GE(read.value().capacity(), rest);
    // The reads leave the file's offset at its end, as one thread's would.
    EXPECT_EQ(::lseek(file.value().fd, 0, SEEK_CUR), std::max(c.offset, static_cast<off_t>(n)));
  }
  }
}

// Failures of the read itself come back as values: a directory's read error, and a
// reservation no allocator can give.
TEST(ReadToEnd, FailuresAreReportedWithTheirText) {
  TempDir dir;
  fs::create_directory(dir.file("d"));
  const struct {
    std::string path;
    size_t hint;
    const char* error;
    ErrorKind kind;
  } cases[] = {{dir.file("d"), 0, "Is a directory (os error 21)", ErrorKind::Os},
               {dir.file("d"), 4096, "Is a directory (os error 21)", ErrorKind::Os},
               {dir.write("small.mps", "x"), SIZE_MAX, "out of memory", ErrorKind::OutOfMemory}};
  for (const auto& plan : kLoadPlans) {
  const PlanScope scope(plan);
  for (const auto& c : cases) {
    SCOPED_TRACE(plan_name(plan));
    Result<OpenFile> file = open_for_reading(c.path);
    ASSERT_TRUE(file.ok());
    Result<ByteBuffer> read = read_to_end(file.value().fd, c.hint);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message, c.error);
    EXPECT_EQ(read.error().kind, c.kind);
  }
  }
}

// Answers false `allowed` times, then true.
struct StopAfter {
  int allowed = 0;
  std::atomic<int> polls{0};
  static bool poll(void* context, bool) noexcept {
    auto* self = static_cast<StopAfter*>(context);
    return self->polls++ >= self->allowed;
  }
};

// The threaded load reads a file's parts on several threads and leaves the rest to the
// one-thread loop: a file that is not what its size said (size 0 for a FIFO or a /proc
// file; a file appended to or cut short after its size was taken) loads as one thread
// would load it. Only the reading thread asks the interruption hook, and the helper
// threads go back to the process's count however the load ends.
TEST(ParallelLoad, PartsAndTheRestGiveTheFileAsOneThreadReadsIt) {
  TempDir dir;
  const PlanScope scope(ThreadPlan{.threads = 3, .load_min_bytes = 1, .load_part_bytes = 1'000'003});
  const std::string content = sample_text(5'000'017);
  const std::string path = dir.write("parts.mps", content);
  for (const std::string& proc : {std::string("/proc/self/status"), std::string("/proc/self/maps")}) {
    Result<ByteBuffer> loaded = load_source(proc);
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_NE(as_view(loaded.value()).find('\n'), std::string_view::npos) << proc;
  }
  {
    // Appended to after its size was taken: the file now has 1,234 bytes more.
    Result<OpenFile> file = open_for_reading(path);
    ASSERT_TRUE(file.ok());
    const size_t hint = remaining_size_hint(file.value().fd);
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(1234, 'z');
    Result<ByteBuffer> read = read_to_end(file.value().fd, hint);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(as_string(read.value()), content + std::string(1234, 'z'));
    // Cut short: a size that promised more than there is.
    ASSERT_EQ(::truncate(path.c_str(), 3'000'000), 0);
    ASSERT_EQ(::lseek(file.value().fd, 17, SEEK_SET), 17);
    read = read_to_end(file.value().fd, hint);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(as_string(read.value()), content.substr(17, 3'000'000 - 17));
  }
  // Many small parts: the reading thread asks once before any part is taken, then before
  // each part it reads and while it waits for the helper. An interruption already due
  // stops every load, before any part is read; a later one stops the load at the poll it
  // comes at, unless the helper read so many parts that the load was done before the
  // hook was asked that often (then the file loads whole).
  use_thread_plan_for_tests(ThreadPlan{.threads = 2, .load_min_bytes = 1, .load_part_bytes = 65'537});
  const std::string now_in_file = content.substr(0, 3'000'000);
  for (int allowed : {0, 1, 2, 3, 5}) {
    SCOPED_TRACE(allowed);
    StopAfter hook{.allowed = allowed};
    Result<ByteBuffer> loaded = load_source(path, Interruption{&StopAfter::poll, &hook});
    if (allowed == 0 || !loaded.ok()) {
      ASSERT_FALSE(loaded.ok());
      EXPECT_EQ(loaded.error().kind, ErrorKind::Interrupted);
      EXPECT_EQ(hook.polls, allowed + 1);
    } else {
      EXPECT_TRUE(as_string(loaded.value()) == now_in_file);
      EXPECT_LE(hook.polls, allowed);
    }
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
  {  // an interruption already due: no part read, no helper started
    Result<OpenFile> file = open_for_reading(path);
    ASSERT_TRUE(file.ok());
    std::string into(now_in_file.size(), '\0');
    StopAfter hook{.allowed = 0};
    const ParallelReadResult start = read_in_parallel(file.value().fd, 0, into.data(), into.size(),
                                                      reading_thread_plan(), Interruption{&StopAfter::poll, &hook});
    EXPECT_TRUE(start.interrupted);
    EXPECT_EQ(start.prefix, 0u);
    EXPECT_EQ(hook.polls, 1);
    EXPECT_EQ(into.find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
  // The count is taken by another read: this one loads alone, and completely.
  ThreadLease other(3, 3);
  Result<ByteBuffer> alone = load_source(path);
  ASSERT_TRUE(alone.ok());
  EXPECT_EQ(alone.value().size(), 3'000'000u);
}

// A named pipe has no size: the loader must grow its buffer, whatever sizes the reads
// come back in.
TEST(LoadSource, NamedPipeOfUnknownSizeLoadsCompletely) {
  TempDir dir;
  const struct {
    size_t size;
    size_t chunk;
  } cases[] = {{0, 1}, {1, 1}, {70'000, 7}, {1'000'000, 65'536}, {300'001, 4096}};
  const PlanScope scope(kLoadPlans[1]);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string content = sample_text(c.size);
    const std::string path = dir.file("pipe" + std::to_string(c.size) + ".mps");
    std::thread writer = testing::feed_pipe(path, content, c.chunk);
    Result<ByteBuffer> loaded = load_source(path);
    writer.join();
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_EQ(as_string(loaded.value()), content);
  }
}

TEST(OpenFile, IsCloseOnExecAndClosedByItsOwner) {
  TempDir dir;
  const std::string path = dir.write("f.mps", "x");
  int fd = -1;
  {
    Result<OpenFile> file = open_for_reading(path);
    ASSERT_TRUE(file.ok());
    OpenFile moved = std::move(file.value());
    fd = moved.fd;
    ASSERT_GE(fd, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  }
  errno = 0;
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(BufferGrowth, DoublesWithinBoundsAndRefusesOverflow) {
  const struct {
    size_t current;
    size_t grown;
  } growth[] = {
      {0, size_t{64} << 10},
      {10, 10 + (size_t{64} << 10)},
      {size_t{100} << 10, size_t{200} << 10},
      {size_t{512} << 20, size_t{1} << 30},
      {size_t{2} << 30, size_t{3} << 30},
  };
  for (const auto& c : growth) {
    SCOPED_TRACE(c.current);
    EXPECT_EQ(grown_capacity(c.current), c.grown);
  }
  EXPECT_THROW((void)grown_capacity(SIZE_MAX - 10), std::bad_alloc);

  const struct {
    size_t compressed;
    size_t initial;
  } initial[] = {
      {0, size_t{64} << 10},
      {1000, size_t{64} << 10},
      {size_t{1} << 20, size_t{4} << 20},
      {size_t{1} << 30, size_t{64} << 20},
      {SIZE_MAX, size_t{64} << 20},
  };
  for (const auto& c : initial) {
    SCOPED_TRACE(c.compressed);
    EXPECT_EQ(initial_text_capacity(c.compressed), c.initial);
  }
}

// The loader writes straight into reserved space and then counts the bytes as used;
// counting past the reservation would expose memory nobody wrote.
TEST(ByteBufferCommit, CountsOnlyReservedBytes) {
  const struct {
    size_t reserve;
    size_t commits[3];
    bool faults;
  } cases[] = {
      {16, {16, 0, 0}, false},
      {16, {10, 6, 0}, false},
      {16, {10, 7, 0}, true},
      {16, {0, 0, 17}, true},
      {0, {0, 0, 1}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reserve);
    ByteBuffer bytes;
    bytes.reserve(c.reserve);
    const size_t capacity = bytes.capacity();
    auto commit_all = [&] {
      for (size_t n : c.commits) bytes.commit(n);
    };
    if (c.faults) {
      EXPECT_THROW(commit_all(), InternalFault);
      EXPECT_LE(bytes.size(), capacity);
    } else {
      EXPECT_NO_THROW(commit_all());
      EXPECT_EQ(bytes.size(), c.commits[0] + c.commits[1] + c.commits[2]);
    }
  }
}

TEST(LoadSource, SampleModelsLoadAsTheirBytes) {
  const fs::path folder = fs::path(MOPSEL_SHARED_DATA_DIR) / "sample";
  if (!fs::is_directory(folder)) GTEST_SKIP() << "no shared data at " << folder;
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".mps") continue;
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream expected;
    expected << in.rdbuf();
    Result<ByteBuffer> loaded = load_source(entry.path().string());
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_EQ(as_string(loaded.value()), expected.str());
    ++checked;
  }
  EXPECT_GT(checked, 0) << "no .mps file in " << folder;
}

}  // namespace
}  // namespace mopsel
