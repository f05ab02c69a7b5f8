// Interruption: every long operation asks the hook as it goes and stops when told,
// and a system call cut short by a signal (a FIFO without its other end, a pipe
// nobody reads) asks it instead of waiting on for ever.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "reader/read_mps.hpp"
#include "source/load_source.hpp"
#include "source_test_support.hpp"
#include "writer/file_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/mps_writer.hpp"
#include "writer_test_support.hpp"

namespace mopsel {
namespace {
using namespace mopsel::testing;

// Answers false `allowed` times, then true; counts the polls and how many came
// right after a signal. With `on_signal`, only the polls after a signal count.
struct CountingHook {
  int allowed = 0;
  bool on_signal = false;
  std::atomic<int> polls{0};
  std::atomic<int> signalled{0};

  Interruption interruption() { return {&CountingHook::poll, this}; }
  static bool poll(void* context, bool after_signal) noexcept {
    auto* self = static_cast<CountingHook*>(context);
    if (after_signal) ++self->signalled;
    if (self->on_signal && !after_signal) return false;
    return self->polls++ >= self->allowed;
  }
};

// A text of about `megabytes` MB that reads as a model.
std::string long_text(size_t megabytes) {
  std::string text = "ROWS\n N obj\n L r\nCOLUMNS\n";
  for (size_t j = 0; text.size() < megabytes << 20; ++j) text += "    x" + std::to_string(j) + "  r  1.5  obj  2\n";
  return text + "ENDATA\n";
}

TEST(Interruption, LongWorkAsksAboutEveryMegabyteAndStopsWhenTold) {
  const std::string text = long_text(8);
  {
    CountingHook hook{.allowed = 1000};
    ASSERT_TRUE(read_mps(text, hook.interruption()).ok());
    EXPECT_GE(hook.polls, 7);
    EXPECT_LE(hook.polls, 10);
  }
  CountingHook stop{.allowed = 2};
  const Result<ModelRecord> read = read_mps(text, stop.interruption());
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().kind, ErrorKind::Interrupted);
  EXPECT_EQ(stop.polls, 3);

  const ModelRecord record = read_mps(text).value();
  CountingHook write_stop{.allowed = 1};
  ByteBuffer out;
  const Status written = write_mps_to_buffer(record, out, {}, write_stop.interruption());
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().kind, ErrorKind::Interrupted);
  EXPECT_LT(out.size(), 3u << 20);  // stopped near the second poll, not at the end

  TempDir dir;
  for (const std::string name : {"model.mps", "model.mps.gz"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    ASSERT_TRUE(write_mps_to_file(record, path + ".tmp").ok());
    if (name.ends_with(".gz")) {
      ASSERT_EQ(std::system(("gzip -c " + path + ".tmp > " + path).c_str()), 0);
    } else {
      std::filesystem::rename(path + ".tmp", path);
    }
    CountingHook load_stop{.allowed = 3};
    const Result<ModelRecord> loaded = read_mps_file(path, load_stop.interruption());
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().kind, ErrorKind::Interrupted);
    EXPECT_EQ(load_stop.polls, 4);
    CountingHook file_stop{.allowed = 1};
    const Status to_file = write_mps_to_file(record, dir.file("out.mps"), {}, file_stop.interruption());
    ASSERT_FALSE(to_file.ok());
    EXPECT_EQ(to_file.error().kind, ErrorKind::Interrupted);
  }
}

// Sends SIGUSR1 to a thread every few milliseconds until stopped; the handler does
// nothing, and without SA_RESTART a blocked system call returns EINTR. Repeating
// the signal makes the outcome independent of when the call starts to block.
class SignalRepeater {
 public:
  explicit SignalRepeater(pthread_t target) : target_(target) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &previous_);
    thread_ = std::thread([this] {
      while (!stop_) {
        pthread_kill(target_, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  ~SignalRepeater() {
    stop_ = true;
    thread_.join();
    sigaction(SIGUSR1, &previous_, nullptr);
  }

 private:
  pthread_t target_;
  std::atomic<bool> stop_{false};
  struct sigaction previous_ {};
  std::thread thread_;
};

// A thread that opens a FIFO for writing, writes "ROWS\n" and then stalls, holding its
// end open, until it is destroyed; it never outlives the scope that made it. The reader
// may have given up and closed its end before the write, or never opened it (its open
// cut short by a signal): the write then fails with EPIPE, and the SIGPIPE it raises is
// blocked in this thread and taken back, instead of ending the test process; a writer
// still waiting in open(2) is let through by an end opened for reading here.
class StallingFifoWriter {
 public:
  explicit StallingFifoWriter(std::string path) : path_(std::move(path)) {
    thread_ = std::thread([this, released = release_.get_future()] {
      sigset_t pipe_signal;
      sigemptyset(&pipe_signal);
      sigaddset(&pipe_signal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
      const int fd = ::open(path_.c_str(), O_WRONLY);
      if (fd >= 0 && ::write(fd, "ROWS\n", 5) < 0 && errno == EPIPE) {
        const timespec now{};
        while (sigtimedwait(&pipe_signal, nullptr, &now) == SIGPIPE) {
        }
      }
      released.wait();
      if (fd >= 0) ::close(fd);
    });
  }
  ~StallingFifoWriter() {
    release_.set_value();
    const int unblock = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    thread_.join();
    if (unblock >= 0) ::close(unblock);
  }
  StallingFifoWriter(const StallingFifoWriter&) = delete;
  StallingFifoWriter& operator=(const StallingFifoWriter&) = delete;

 private:
  std::string path_;
  std::promise<void> release_;
  std::thread thread_;
};

TEST(Interruption, BlockedSystemCallsAskTheHookAfterASignal) {
  TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const ModelRecord record = read_mps(long_text(1)).value();

  {  // opening a FIFO that has no writer
    CountingHook hook{.allowed = 2, .on_signal = true};
    SignalRepeater signals(pthread_self());
    const Result<ModelRecord> loaded = read_mps_file(fifo, hook.interruption());
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().kind, ErrorKind::Interrupted);
    EXPECT_EQ(hook.signalled, 3);
  }
  {  // opening a FIFO that has no reader
    CountingHook hook{.on_signal = true};
    SignalRepeater signals(pthread_self());
    const Status written = write_mps_to_file(record, fifo, {}, hook.interruption());
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().kind, ErrorKind::Interrupted);
  }
  {  // reading from a writer that stalls after a few bytes
    StallingFifoWriter writer(fifo);
    CountingHook hook{.on_signal = true};
    SignalRepeater signals(pthread_self());
    const Result<ModelRecord> loaded = read_mps_file(fifo, hook.interruption());
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().kind, ErrorKind::Interrupted);
    EXPECT_GE(hook.signalled, 1);
  }
  {  // writing into a pipe nobody reads: it fills, then write(2) blocks
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    CountingHook hook{.on_signal = true};
    SignalRepeater signals(pthread_self());
    Status status;
    {
      FileSink sink(ends[1], nullptr, hook.interruption());
      write_mps(record, sink);
      status = sink.finish();
    }  // the sink closes the write end; nothing more is written after the interruption
    ::close(ends[0]);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::Interrupted);
    EXPECT_GE(hook.signalled, 1);
  }
}

}  // namespace
}  // namespace mopsel
