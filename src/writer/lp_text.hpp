#pragma once
// Renders a ModelRecord as LP text into a sink (sink.hpp), section by section, in
// one forward pass; lp_writer.hpp gives the layout. Rendering stops at the first
// line (or stretch of 4096 objective terms) after which the sink is no longer ok.
#include <cstddef>
#include <optional>

#include "model/model_record.hpp"
#include "writer/sink.hpp"
#include "writer/write_options.hpp"

namespace mopsel {

// Expressions are broken after the term that reaches this width: readers of LP text
// limit the length of a line (CPLEX to 510 bytes), and short lines read everywhere.
inline constexpr size_t kLpLineWidth = 200;

// Terms (the objective's and the matrix's entries) from which the objective and the
// rows are rendered in pieces by several threads (text_pieces.hpp). nw04 (0.8 M terms)
// took 6.6 ms with two threads against 5.9 ms with one (its 724 K entries are gathered
// row-wise by a helper while the objective's 87 K terms take this thread a third of
// that time); many-rows-100MB (5.2 M terms) about broke even on the loaded VM;
// many-rows-1GB (28 M terms) left this thread 0.30 s of CPU against 0.56 s
// (bench/README.md, "LP writing, round 4").
inline constexpr size_t kLpThreadsMinTerms = size_t{1} << 22;
// Terms of a piece: about 0.7 MB of text (a piece's buffer stays in the caches' reach
// of a core, and a few pieces per thread are held at a time).
inline constexpr size_t kLpPieceTerms = size_t{1} << 16;
// Pieces rendered ahead of the one handed to the sink, per thread.
inline constexpr size_t kLpPiecesAheadPerThread = 4;

// Row and column names from which lp_unwritable_name (lp_writer.hpp) checks them on
// several threads (a shared table of names, a slot taken by compare-and-swap).
// many-rows-100MB (1.1 M names): 41-44 ms on one thread, 28-33 ms on two;
// many-rows-1GB (10.8 M names): 0.46-0.47 s against 0.32-0.34 s. Smaller sets were
// not measured: nw04's 87 K names take 3-4 ms.
inline constexpr size_t kLpNameCheckThreadsMin = size_t{1} << 20;

struct LpTextPlan {
  unsigned threads = 1;
  size_t min_terms = kLpThreadsMinTerms;
  size_t piece_terms = kLpPieceTerms;
  size_t min_names = kLpNameCheckThreadsMin;
};

// The plan of the next LP text: the one fixed for tests, else the threads of
// reading_thread_plan (MOPSEL_THREADS or the CPUs the process may use), taken from
// the process's count (ThreadLease) when the text is large.
LpTextPlan lp_text_plan() noexcept;

// For tests only: later LP texts use `plan` (a low min_terms and piece_terms send a
// small model through the pieces); nothing returns to the default.
void use_lp_text_plan_for_tests(std::optional<LpTextPlan> plan) noexcept;

// `options.gzip` is the caller's business (it picks the sink).
template <TextSink Sink>
void write_lp_text(const ModelRecord& record, Sink& sink, const WriteOptions& options);

}  // namespace mopsel
