#pragma once
// Helpers shared by the reader tests: reading a text that must succeed (checking the
// record invariants on the way), record arrays as vectors, bit-exact record comparison,
// and a table form for the expected fields of a record.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "model/interrupt.hpp"
#include "model/model_record.hpp"
#include "model_invariants.hpp"
#include "reader/read_mps.hpp"

// Table cases name only the record fields they check; the others stay unset on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace mopsel::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr std::string_view kFailure = "Failed to parse MPS file";

// A heap copy of exactly the text's bytes, so that AddressSanitizer reports any read
// past its end.
struct ExactBuffer {
  explicit ExactBuffer(std::string_view text) : bytes(new char[text.size() + 1]) {
    std::memcpy(bytes.get(), text.data(), text.size());
    view = {bytes.get(), text.size()};
  }
  std::unique_ptr<char[]> bytes;
  std::string_view view;
};

// Reads `text`; a failed read or a broken invariant fails the calling test.
inline ModelRecord read_valid(std::string_view text) {
  Result<ModelRecord> result = read_mps(text);
  if (!result.ok()) {
    ADD_FAILURE() << "read failed: " << result.error().message << "\n--- text ---\n" << text;
    return ModelRecord{};
  }
  EXPECT_EQ(check_record_invariants(result.value()), "") << "--- text ---\n" << text;
  return std::move(result).value();
}

// The error text of a read that must fail (empty when it succeeded); every reader
// failure is of kind Parse.
inline std::string read_error(std::string_view text) {
  Result<ModelRecord> result = read_mps(text);
  if (result.ok()) return std::string();
  EXPECT_EQ(result.error().kind, ErrorKind::Parse);
  return result.error().message;
}

inline std::vector<std::string> names_of(const NameList& names) {
  std::vector<std::string> out;
  for (size_t i = 0; i < names.size(); ++i) out.emplace_back(names[i]);
  return out;
}

template <class T>
std::vector<T> values_of(const OwnedArray<T>& array) {
  return std::vector<T>(array.begin(), array.end());
}

inline std::vector<int> codes_of(const OwnedArray<uint8_t>& array) {
  return std::vector<int>(array.begin(), array.end());
}

// Bit patterns, so that -0.0 differs from 0.0 and NaN equals itself.
inline std::vector<uint64_t> bits_of(const OwnedArray<double>& array) {
  std::vector<uint64_t> out;
  for (double v : array) out.push_back(std::bit_cast<uint64_t>(v));
  return out;
}

// Description of the first difference between two records, or empty.
inline std::string record_difference(const ModelRecord& a, const ModelRecord& b) {
  if (a.name != b.name) return "name";
  if (a.num_row != b.num_row || a.num_col != b.num_col) return "counts";
  if (a.obj_sense_minimize != b.obj_sense_minimize) return "obj_sense_minimize";
  if (std::bit_cast<uint64_t>(a.obj_offset) != std::bit_cast<uint64_t>(b.obj_offset)) return "obj_offset";
  if (bits_of(a.col_cost) != bits_of(b.col_cost)) return "col_cost";
  if (bits_of(a.col_lower) != bits_of(b.col_lower)) return "col_lower";
  if (bits_of(a.col_upper) != bits_of(b.col_upper)) return "col_upper";
  if (bits_of(a.row_lower) != bits_of(b.row_lower)) return "row_lower";
  if (bits_of(a.row_upper) != bits_of(b.row_upper)) return "row_upper";
  if (values_of(a.a_matrix.start) != values_of(b.a_matrix.start)) return "start";
  if (values_of(a.a_matrix.index) != values_of(b.a_matrix.index)) return "index";
  if (bits_of(a.a_matrix.value) != bits_of(b.a_matrix.value)) return "value";
  if (a.objective_name != b.objective_name) return "objective_name";
  if (names_of(a.row_names) != names_of(b.row_names)) return "row_names";
  if (names_of(a.col_names) != names_of(b.col_names)) return "col_names";
  if (codes_of(a.col_integrality) != codes_of(b.col_integrality)) return "col_integrality";
  return {};
}

// Empty when both reads give the same record or the same failure.
inline std::string outcome_difference(const Result<ModelRecord>& a, const Result<ModelRecord>& b) {
  if (a.ok() != b.ok()) {
    const Error& failed = a.ok() ? b.error() : a.error();
    return std::string(a.ok() ? "only the first read succeeded" : "only the second read succeeded") +
           "; the other: " + failed.message + " (" + failed.reason + " at " + std::to_string(failed.offset) + ")";
  }
  if (a.ok()) return record_difference(a.value(), b.value());
  const Error& x = a.error();
  const Error& y = b.error();
  if (x.kind != y.kind || x.message != y.message || x.cause != y.cause || x.reason != y.reason ||
      x.offset != y.offset || x.lineno != y.lineno || x.line != y.line) {
    return "failures differ: '" + x.reason + "' at " + std::to_string(x.offset) + " against '" + y.reason +
           "' at " + std::to_string(y.offset);
  }
  return {};
}

// An interruption hook that answers false `allowed` times, then true.
struct StopAfter {
  int allowed;
  std::atomic<int> polls{0};
  Interruption interruption() { return {&StopAfter::poll, this}; }
  static bool poll(void* context, bool) noexcept {
    auto* self = static_cast<StopAfter*>(context);
    return self->polls++ >= self->allowed;
  }
};

// Joins lines with LF, each line terminated.
inline std::string lines(std::initializer_list<std::string_view> list) {
  std::string text;
  for (std::string_view line : list) {
    text += line;
    text += '\n';
  }
  return text;
}

// The fields a table case cares about; unset fields are not checked.
struct Expected {
  std::optional<std::string> name, objective_name;
  std::optional<bool> minimize;
  std::optional<double> offset;  // compared bit for bit
  std::optional<std::vector<std::string>> row_names;
  std::optional<std::vector<double>> row_lower, row_upper;
  std::optional<std::vector<std::string>> col_names;
  std::optional<std::vector<double>> cost, col_lower, col_upper;
  std::optional<std::vector<int>> integrality;
  std::optional<std::vector<uint32_t>> start, index;
  std::optional<std::vector<double>> value;
};

template <class T>
void expect_field(const std::optional<T>& want, const T& got, const char* field) {
  if (!want) return;
  EXPECT_EQ(got, *want) << field;
}

inline void expect_record(const ModelRecord& m, const Expected& e, std::string_view why) {
  SCOPED_TRACE(why);
  expect_field(e.name, m.name, "name");
  expect_field(e.objective_name, m.objective_name, "objective_name");
  expect_field(e.minimize, m.obj_sense_minimize, "obj_sense_minimize");
  const std::optional<uint64_t> offset_bits =
      e.offset ? std::optional<uint64_t>(std::bit_cast<uint64_t>(*e.offset)) : std::nullopt;
  expect_field(offset_bits, std::bit_cast<uint64_t>(m.obj_offset), "obj_offset");
  expect_field(e.row_names, names_of(m.row_names), "row_names");
  expect_field(e.row_lower, values_of(m.row_lower), "row_lower");
  expect_field(e.row_upper, values_of(m.row_upper), "row_upper");
  expect_field(e.col_names, names_of(m.col_names), "col_names");
  expect_field(e.cost, values_of(m.col_cost), "col_cost");
  expect_field(e.col_lower, values_of(m.col_lower), "col_lower");
  expect_field(e.col_upper, values_of(m.col_upper), "col_upper");
  expect_field(e.integrality, codes_of(m.col_integrality), "col_integrality");
  expect_field(e.start, values_of(m.a_matrix.start), "start");
  expect_field(e.index, values_of(m.a_matrix.index), "index");
  expect_field(e.value, values_of(m.a_matrix.value), "value");
}

#ifdef MOPSEL_SHARED_DATA_DIR
// The real models of the shared data folders (netlib, miplib3, sample) whose names end
// with one of `suffixes`, sorted; empty when the shared data is absent.
inline std::vector<std::filesystem::path> real_model_files(std::initializer_list<std::string_view> suffixes) {
  namespace fs = std::filesystem;
  const fs::path data(MOPSEL_SHARED_DATA_DIR);
  std::vector<fs::path> files;
  std::error_code ec;
  for (const char* folder : {"netlib", "miplib3", "sample"}) {
    for (const auto& entry : fs::directory_iterator(data / folder, ec)) {
      const std::string name = entry.path().filename().string();
      for (std::string_view suffix : suffixes) {
        if (name.ends_with(suffix)) {
          files.push_back(entry.path());
          break;
        }
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}
#endif

}  // namespace mopsel::testing
