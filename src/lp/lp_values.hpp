#pragma once
// The message of every failed LP read, and the magnitude from which LP values are
// infinite: what the parser and the entry of the LP reader share.

namespace mopsel {

inline constexpr const char* kLpParseFailure = "Failed to parse LP file";

// A right-hand side or bound of at least this magnitude reads as infinite: HiGHS
// and SCIP take 1e20 for infinity in both, Gurobi in bounds.
inline constexpr double kLpInfinity = 1e20;

}  // namespace mopsel
