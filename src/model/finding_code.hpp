#pragma once
// What reading can find in an input: one code per failure and per diagnostic, with
// the stable name that Python shows (MpsError.code, Diagnostic.code) and its weight.
// The names never change once published: scripts match on them.
#include <array>
#include <cstdint>
#include <string_view>

namespace mopsel {

enum class FindingCode : uint8_t {
  None,
  // The text cannot be read (any reading fails).
  NoEndData,
  UnknownRowType,
  UnknownBoundType,
  InvalidUtf8,
  TooManyRows,
  TooManyColumns,
  TooManyEntries,
  CompressedData,
  AsymmetricMatrix,
  UnknownSosType,
  BadIndicator,
  UnknownQuadraticRow,
  RepeatedQuadraticRow,
  RowHessiansTooLarge,
  // The default reading passes over these silently; strict reading rejects them.
  BadNumber,
  UnknownRow,
  UnknownColumn,
  DuplicateEntry,
  SkippedSection,
  UnicodeBlank,
  NonBinaryIndicator,
  IndicatorOnNRow,
  RepeatedIndicator,
  RepeatedSosColumn,
  SosEntryOutsideSet,
  UnknownSection,
  // Warnings: well defined, but rarely what the author meant.
  SeveralSets,
  DuplicateRhs,
  DuplicateRange,
  DuplicateBound,
  BoundConflict,
  FractionalIntegerBound,
  ExtraObjective,
  ByteOrderMark,
  CrLineEnd,
  LongLine,
  ExtraFields,
  IncompleteRecord,
  IgnoredLine,
  Marker,
  DuplicateRow,
  DuplicateColumn,
  NanValue,
  UnknownSense,
  IgnoredEntry,
  MisalignedField,
  RepeatedQuadraticEntry,
  BothTriangles,
  SeveralQuadraticSections,
  // Information.
  ObjectiveOffset,
  LargeValue,
  FixedFormat,
  // LP text.
  LpSyntax,          // fatal: the text does not follow the LP grammar
  LpUnsupported,     // fatal: LP the reader does not read (quadratic terms, indicators)
  RepeatedTerm,      // strict: a variable twice in one expression; the terms are summed
  NoEnd,             // strict: the text ends without an End line
  InfiniteValue,     // warning: a bound or right-hand side of 1e20 or more, read as infinite
  GluedCoefficient,  // warning: a number directly followed by a name (`2x`), read as a product
  UnhalvedQuadratic, // warning: the objective's `[ ... ]` without `/ 2`, read as written
  LazyRows,          // warning: rows of Lazy Constraints or User Cuts, read as constraints
  Count,
};

// Fatal: the read fails. Strict: strict reading fails. Warning and Info: reported only.
enum class Weight : uint8_t { Fatal, Strict, Warning, Info };

struct FindingInfo {
  std::string_view name;
  Weight weight;
};

inline constexpr size_t kFindingCodeCount = static_cast<size_t>(FindingCode::Count);

inline constexpr std::array<FindingInfo, kFindingCodeCount> kFindingInfo = {{
    {"none", Weight::Info},
    {"no-endata", Weight::Fatal},
    {"unknown-row-type", Weight::Fatal},
    {"unknown-bound-type", Weight::Fatal},
    {"invalid-utf8", Weight::Fatal},
    {"too-many-rows", Weight::Fatal},
    {"too-many-columns", Weight::Fatal},
    {"too-many-entries", Weight::Fatal},
    {"compressed-data", Weight::Fatal},
    {"asymmetric-matrix", Weight::Fatal},
    {"unknown-sos-type", Weight::Fatal},
    {"bad-indicator", Weight::Fatal},
    {"unknown-quadratic-row", Weight::Fatal},
    {"repeated-quadratic-row", Weight::Fatal},
    {"row-hessians-too-large", Weight::Fatal},
    {"bad-number", Weight::Strict},
    {"unknown-row", Weight::Strict},
    {"unknown-column", Weight::Strict},
    {"duplicate-entry", Weight::Strict},
    {"skipped-section", Weight::Strict},
    {"unicode-blank", Weight::Strict},
    {"non-binary-indicator", Weight::Strict},
    {"indicator-on-n-row", Weight::Strict},
    {"repeated-indicator", Weight::Strict},
    {"repeated-sos-column", Weight::Strict},
    {"sos-entry-outside-set", Weight::Strict},
    {"unknown-section", Weight::Strict},
    {"several-sets", Weight::Warning},
    {"duplicate-rhs", Weight::Warning},
    {"duplicate-range", Weight::Warning},
    {"duplicate-bound", Weight::Warning},
    {"bound-conflict", Weight::Warning},
    {"fractional-integer-bound", Weight::Warning},
    {"extra-objective", Weight::Warning},
    {"byte-order-mark", Weight::Warning},
    {"cr-line-end", Weight::Warning},
    {"long-line", Weight::Warning},
    {"extra-fields", Weight::Warning},
    {"incomplete-record", Weight::Warning},
    {"ignored-line", Weight::Warning},
    {"marker", Weight::Warning},
    {"duplicate-row", Weight::Warning},
    {"duplicate-column", Weight::Warning},
    {"nan-value", Weight::Warning},
    {"unknown-sense", Weight::Warning},
    {"ignored-entry", Weight::Warning},
    {"misaligned-field", Weight::Warning},
    {"repeated-quadratic-entry", Weight::Warning},
    {"both-triangles", Weight::Warning},
    {"several-quadratic-sections", Weight::Warning},
    {"objective-offset", Weight::Info},
    {"large-value", Weight::Info},
    {"fixed-format", Weight::Info},
    {"lp-syntax", Weight::Fatal},
    {"lp-unsupported", Weight::Fatal},
    {"repeated-term", Weight::Strict},
    {"no-end", Weight::Strict},
    {"infinite-value", Weight::Warning},
    {"glued-coefficient", Weight::Warning},
    {"unhalved-quadratic", Weight::Warning},
    {"lazy-rows", Weight::Warning},
}};

constexpr const FindingInfo& finding_info(FindingCode code) noexcept {
  return kFindingInfo[static_cast<size_t>(code)];
}

constexpr std::string_view finding_name(FindingCode code) noexcept { return finding_info(code).name; }

constexpr Weight finding_weight(FindingCode code) noexcept { return finding_info(code).weight; }

// "error" for what fails a read (strict or not), "warning", "info".
constexpr std::string_view severity_name(Weight weight) noexcept {
  switch (weight) {
    case Weight::Fatal:
    case Weight::Strict: return "error";
    case Weight::Warning: return "warning";
    case Weight::Info: return "info";
  }
  return "info";
}

}  // namespace mopsel
