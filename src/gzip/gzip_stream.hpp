#pragma once
// A gzip file inflated on a helper thread while the calling thread reads its text.
//
// Inflating first and reading after leaves the second core idle while either runs.
// Here the text goes into one buffer reserved up front for the length the file
// stores, which never moves while it is read: the inflater publishes how many bytes
// are final, and the reader reads the complete lines among them and waits for more.
// The outcome is the one of inflating everything first: a fault in the gzip data
// wins over whatever the reader found, and a text that outgrows its room (several
// members, a wrong stored length) is abandoned by the reader and read again once it
// has all arrived.
#include <cstddef>
#include <cstdint>

#include "model/interrupt.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "platform/reading_threads.hpp"

namespace mopsel {

enum class ArrivalState : uint8_t {
  Arriving,   // more text may follow
  Complete,   // the text has all arrived and is sound
  Abandoned,  // stop reading: the gzip data are bad, the text outgrew its room, or
              // the interruption asked to stop
};

struct Arrival {
  size_t ready = 0;  // bytes at the start of the text that are final
  ArrivalState state = ArrivalState::Arriving;
};

// Text as its reader sees it while it arrives. The bytes before `ready` never change
// and `data` never moves until the reader returns.
struct ArrivingText {
  const char* data = nullptr;
  size_t expected_size = 0;  // the room reserved: the length the file stores
  // Waits until more than `have` bytes are ready or the state is no longer Arriving,
  // asking the interruption now and then while it waits.
  Arrival (*wait)(void* context, size_t have) noexcept = nullptr;
  // How much is ready now and whether the text is complete, without waiting.
  Arrival (*peek)(void* context) noexcept = nullptr;
  void* context = nullptr;

  [[nodiscard]] Arrival next(size_t have) const noexcept { return wait(context, have); }
  [[nodiscard]] Arrival now() const noexcept { return peek(context); }
};

// How the reader left the text.
enum class ReadVerdict : uint8_t {
  Finished,     // it has read what it needed and holds no view into the text
  Interrupted,  // its interruption asked to stop
  Abandoned,    // it saw the state Abandoned
};

// The reader, run on the calling thread.
struct ArrivingTextReader {
  ReadVerdict (*read)(void* context, const ArrivingText& text);
  void* context;
};

// When streaming fits (the file stores a plausible length, a helper thread can be
// leased, the room can be reserved, the length lies within the sizes worth it),
// inflates the gzip data at `fd` (positioned at the first member) on a helper thread
// while `reader` reads the text, and sets `streamed` when the reader Finished on
// the whole text. The inflater gives its thread back to the process's count as soon
// as it has finished, so that the reader may lease it for its own helpers. Otherwise inflates them on this thread as decode_gzip_members does,
// and `reader` is not called. Either way the result is the whole text or the error
// decode_gzip_members gives (Interrupted when the reader was).
Result<ByteBuffer> decode_gzip_streamed(int fd, const Interruption& interruption, const ArrivingTextReader& reader,
                                        bool& streamed);

// Texts shorter than this (by the length the file stores) are inflated first: the
// helper thread and the wake-ups cost about what the overlap saves. Native reads of
// real models, medians of 40, load 5: below it (sierra 0.4 MB, degen3 0.9 MB) the
// calling thread saved 0.1-0.6 ms of CPU and the wall time did not fall (0.73 against
// 0.67 ms, 1.22 against 1.15 ms); from 2.5 MB on (pilot87, maros-r7) it saved 1.6-3.3
// ms of 4.4-8.1 (bench/README.md, "Round 6: the safety net").
inline constexpr size_t kStreamMinBytes = size_t{1} << 20;
// The inflater publishes the text in pieces of this size, waking a waiting reader for
// each: with pieces of 16-64 KiB nw04's streamed read took 35-37 ms of CPU against
// 25-26 ms with 128 KiB (bench/README.md, "Round 3: gzip as fast as plain text").
inline constexpr size_t kStreamPieceBytes = size_t{128} << 10;

// The texts that stream (by the length the file stores) and the pieces they are
// published in.
struct GzipStreamPlan {
  size_t min_bytes = kStreamMinBytes;
  // Larger texts are inflated first. Every size streams by default: the reader cuts
  // a long COLUMNS section into pieces as its lines arrive, and threads read them
  // once the inflater has given its thread back (bench/README.md, "Round 4: large
  // gzip files read while inflated").
  size_t max_bytes = SIZE_MAX;
  size_t piece_bytes = kStreamPieceBytes;
};

GzipStreamPlan gzip_stream_plan() noexcept;

// For tests only: later reads use `plan` (tiny pieces reach every place a window can
// end); null returns to the default.
void use_gzip_stream_plan_for_tests(const GzipStreamPlan* plan) noexcept;

// How many texts the process has read while they were inflated (tests check that
// their cases take that path).
uint64_t gzip_texts_streamed() noexcept;

}  // namespace mopsel
