#include "gzip/gzip_stream.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "gzip/gzip_header.hpp"
#include "gzip/gzip_member.hpp"
#include "gzip/inflate.hpp"
#include "files/input_buffer.hpp"
#include "files/posix_file.hpp"
#include "platform/prefault.hpp"
#include "platform/reading_threads.hpp"
#include "platform/text_buffer.hpp"

namespace mopsel {
namespace {

std::mutex g_test_plan_lock;
std::optional<GzipStreamPlan> g_test_plan;
std::atomic<uint64_t> g_streamed{0};

// How long a waiting reader sleeps at most before it asks the interruption again.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

// What the inflater and the reader share. `ready` and the flags below `lock` are the
// only fields both touch while the inflater runs.
struct Stream {
  ByteBuffer text;  // the inflater's until it has finished
  InputBuffer in;
  std::atomic<size_t> ready{0};
  std::atomic<bool> reader_waiting{false};
  std::atomic<bool> stop{false};  // the inflater's interruption
  std::mutex lock;
  std::condition_variable changed;
  bool finished = false;     // the inflater is done; `result` and `fault` say how
  bool outgrown = false;     // the text needs more room than was reserved
  bool reader_done = false;  // the reader holds no view into the text any more
  Status result;
  std::exception_ptr fault;  // an internal fault of the inflater, raised again on the calling thread
  Interruption interruption;  // the caller's; asked on the calling thread only
  bool interrupted = false;   // it asked to stop (the reader's own polls included)
  // The inflater's thread in the process's count; given back when it has finished.
  std::optional<ThreadLease> lease;
  // The reader's own: how far it has mapped the text's room ahead of the inflater.
  size_t mapped = 0;
  char* room_data = nullptr;  // the room reserved, which never moves while the reader reads
  size_t room = 0;
};

// Inflater side: the text holds `size` final bytes. The store and the load below pair
// with the reader's store of reader_waiting and load of ready (both sequentially
// consistent): either the reader sees the new size or the inflater sees it waiting.
void publish(void* context, size_t size) noexcept {
  Stream& s = *static_cast<Stream*>(context);
  s.ready.store(size);
  if (s.reader_waiting.load()) {
    const std::lock_guard<std::mutex> hold(s.lock);
    s.changed.notify_all();
  }
}

// Inflater side: the room is used up. The reader is told to give up its views and
// the buffer grows once it has.
void before_growth(void* context) noexcept {
  Stream& s = *static_cast<Stream*>(context);
  std::unique_lock<std::mutex> hold(s.lock);
  s.outgrown = true;
  s.changed.notify_all();
  s.changed.wait(hold, [&] { return s.reader_done; });
}

bool stop_requested(void* context, bool) noexcept {
  return static_cast<Stream*>(context)->stop.load(std::memory_order_relaxed);
}

void inflate_rest(Stream& s, size_t piece_bytes) noexcept {
  const InflateProgress progress{piece_bytes, publish, before_growth, &s};
  Status status;
  std::exception_ptr fault;
  try {
    status = decode_members(s.in, s.text, 0, &progress);
  } catch (...) {
    fault = std::current_exception();
  }
  const std::lock_guard<std::mutex> hold(s.lock);
  // The thread is free before the reader can see the text complete: its helpers may take it.
  s.lease.reset();
  s.finished = true;
  s.result = std::move(status);
  s.fault = fault;
  s.changed.notify_all();
}

// Reader side, with nothing to read: maps the next stretch of the text's room ahead
// of the inflater, whose first touch of fresh memory can cost more than inflating
// (memory the machine has not used lately: several ms per 2 MiB here). Mapping changes
// no byte: the inflater may write the same pages meanwhile. At most kMostAhead past the
// text that has arrived, so that a stored length larger than the text costs little
// memory. False when there is nothing to map now.
bool map_ahead(Stream& s, size_t ready) noexcept {
  constexpr size_t kLead = size_t{1} << 20;        // past the piece the inflater is writing
  constexpr size_t kSlice = size_t{4} << 20;       // mapped before the text is looked at again
  constexpr size_t kMostAhead = size_t{32} << 20;
  if (s.mapped >= s.room || s.mapped > ready + kMostAhead) return false;
  const size_t from = std::max(s.mapped, (ready + kLead + kHugePage - 1) / kHugePage * kHugePage);
  const size_t to = std::min(from + kSlice, s.room);
  s.mapped = to;
  if (from >= to) return false;
  if (!populate_range({s.room_data + from, to - from})) s.mapped = s.room;
  return true;
}

// Reader side: see ArrivingText::wait.
Arrival wait_for_text(void* context, size_t have) noexcept {
  Stream& s = *static_cast<Stream*>(context);
  for (;;) {
    const size_t ready = s.ready.load(std::memory_order_acquire);
    if (ready > have) return {ready, ArrivalState::Arriving};
    {
      std::unique_lock<std::mutex> hold(s.lock);
      if (s.finished) {
        const bool sound = s.result.ok() && !s.fault;
        return {s.ready.load(), sound ? ArrivalState::Complete : ArrivalState::Abandoned};
      }
      if (s.outgrown) return {ready, ArrivalState::Abandoned};
    }
    if (!map_ahead(s, ready)) {
      std::unique_lock<std::mutex> hold(s.lock);
      s.reader_waiting.store(true);
      if (s.ready.load() <= have && !s.finished && !s.outgrown) s.changed.wait_for(hold, kWaitSlice);
      s.reader_waiting.store(false);
    }
    if (s.interruption.requested()) {
      s.interrupted = true;
      return {have, ArrivalState::Abandoned};
    }
  }
}

// Reader side: see ArrivingText::peek.
Arrival peek_text(void* context) noexcept {
  Stream& s = *static_cast<Stream*>(context);
  const std::lock_guard<std::mutex> hold(s.lock);
  const size_t ready = s.ready.load();
  if (s.finished) return {ready, s.result.ok() && !s.fault ? ArrivalState::Complete : ArrivalState::Abandoned};
  return {ready, s.outgrown ? ArrivalState::Abandoned : ArrivalState::Arriving};
}

// Reader side: the reader holds no view into the text any more (the inflater may grow
// it); with `stop`, the inflater is asked to stop too.
void release_text(Stream& s, bool stop) noexcept {
  const std::lock_guard<std::mutex> hold(s.lock);
  s.reader_done = true;
  if (stop) s.stop.store(true);
  s.changed.notify_all();
}

// Calling thread: waits for the inflater to finish, asking the interruption now and
// then as the inflating alone would; false when it asked to stop.
bool wait_until_inflated(Stream& s) noexcept {
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(s.lock);
      if (s.changed.wait_for(hold, kWaitSlice, [&] { return s.finished; })) return true;
    }
    if (s.interruption.requested()) return false;
  }
}

// Ends the inflater on every way out of decode_gzip_streamed, exceptions included:
// lets go of the text, asks the inflater to stop unless it may finish, and joins it.
struct HelperGuard {
  Stream& s;
  std::thread& helper;
  bool stop = true;
  ~HelperGuard() {
    release_text(s, stop);
    helper.join();
  }
};

}  // namespace

GzipStreamPlan gzip_stream_plan() noexcept {
  const std::lock_guard<std::mutex> hold(g_test_plan_lock);
  return g_test_plan ? *g_test_plan : GzipStreamPlan{};
}

uint64_t gzip_texts_streamed() noexcept { return g_streamed.load(std::memory_order_relaxed); }

void use_gzip_stream_plan_for_tests(const GzipStreamPlan* plan) noexcept {
  const std::lock_guard<std::mutex> hold(g_test_plan_lock);
  if (plan != nullptr) g_test_plan = *plan;
  else g_test_plan.reset();
}

Result<ByteBuffer> decode_gzip_streamed(int fd, const Interruption& interruption, const ArrivingTextReader& reader,
                                        bool& streamed) {
  streamed = false;
  const GzipStreamPlan plan = gzip_stream_plan();
  const size_t stored = stored_text_size(fd, remaining_size_hint(fd));
  if (stored == 0 || stored < plan.min_bytes || stored > plan.max_bytes) return decode_gzip_members(fd, interruption);
  std::unique_ptr<Stream> stream(new (std::nothrow) Stream);
  if (!stream) return out_of_memory();
  Stream& s = *stream;
  s.lease.emplace(2, reading_thread_plan().threads);
  if (s.lease->helpers() == 0) {
    s.lease.reset();
    return decode_gzip_members(fd, interruption);
  }
  s.interruption = interruption;
  Result<InputBuffer> made = make_input_buffer(fd, interruption);
  if (!made) return made.error();
  s.in = std::move(made.value());
  if (Status status = read_gzip_header(s.in); !status) return status.error();

  // This is uncommon: without the room or a thread, the text is inflated here.
  auto inflate_here = [&]() -> Result<ByteBuffer> {
    s.lease.reset();
    s.in.interruption = interruption;
    if (Status status = decode_members(s.in, s.text, s.text.capacity() > 0 ? 0 : stored); !status) {
      return status.error();
    }
    return std::move(s.text);
  };
  try {
    reserve_text(s.text, stored);
  } catch (const std::bad_alloc&) {
    return inflate_here();
  }
  s.room_data = s.text.data();
  s.room = stored;
  s.in.interruption = Interruption{stop_requested, &s};
  std::thread helper;
  try {
    helper = std::thread(inflate_rest, std::ref(s), plan.piece_bytes);
  } catch (const std::system_error&) {
    return inflate_here();
  }

  ReadVerdict verdict = ReadVerdict::Abandoned;
  {
    HelperGuard guard{s, helper};
    const ArrivingText text{s.text.data(), stored, wait_for_text, peek_text, &s};
    verdict = reader.read(reader.context, text);
    if (verdict == ReadVerdict::Interrupted) s.interrupted = true;
    if (!s.interrupted) {
      // The whole text is checked as when it is inflated first.
      release_text(s, false);
      s.interrupted = !wait_until_inflated(s);
    }
    guard.stop = s.interrupted;
  }
  if (s.fault) std::rethrow_exception(s.fault);
  if (s.interrupted) return interrupted();
  if (!s.result.ok()) return s.result.error();
  streamed = verdict == ReadVerdict::Finished && !s.outgrown;
  if (streamed) g_streamed.fetch_add(1, std::memory_order_relaxed);
  return std::move(s.text);
}

}  // namespace mopsel
