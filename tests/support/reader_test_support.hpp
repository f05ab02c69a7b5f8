#pragma once
// Helpers shared by the reader tests: reading a text that must succeed (checking the
// record invariants on the way), record arrays as vectors, bit-exact record comparison,
// and a table form for the expected fields of a record.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
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
#include "record_compare.hpp"
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

// A fixed-format line: each field starts in its column (2, 5, 15, 25, 40, 50); an
// empty field leaves its columns blank.
inline std::string fixed_line(std::initializer_list<std::string_view> fields) {
  static constexpr size_t kStart[] = {1, 4, 14, 24, 39, 49};
  std::string line;
  size_t i = 0;
  for (std::string_view field : fields) {
    if (!field.empty()) {
      line.resize(kStart[i], ' ');
      line += field;
    }
    ++i;
  }
  return line;
}

// Joins lines with LF, each line terminated.
inline std::string lines(std::initializer_list<std::string_view> list) {
  std::string text;
  for (std::string_view line : list) {
    text += line;
    text += '\n';
  }
  return text;
}

// A number as the shortest text that reads back the same ("2", "0.5", "nan").
inline std::string short_number(double value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

// The entries of a lower triangle as " column.row=value", column by column.
inline std::string lower_text(const ModelRecord& m, const SparseMatrixRecord& h) {
  std::string out;
  for (size_t j = 0; j + 1 < h.start.size(); ++j) {
    for (size_t k = h.start[j]; k < h.start[j + 1]; ++k) {
      out += ' ';
      out += m.col_names[j];
      out += '.';
      out += m.col_names[h.index[k]];
      out += '=';
      out += short_number(h.value[k]);
    }
  }
  return out;
}

// The parts beyond a linear program as one line, "" when the record has none:
//   "H x.x=2 x.y=3 | c1: x.x=4 | S1 s0 7: x=1 y=2 | IF c1 b 1"
// (the objective's H, each row's H_r, each SOS set with its priority, each indicator).
inline std::string parts_text(const ModelRecord& m) {
  std::string out;
  const auto part = [&out]() -> std::string& {
    if (!out.empty()) out += " | ";
    return out;
  };
  if (m.hessian) part() += "H" + lower_text(m, *m.hessian);
  for (const RowHessianRecord& row : m.row_hessians) {
    std::string& text = part();
    text += m.row_names[row.row];
    text += ':';
    text += lower_text(m, row.matrix);
  }
  for (size_t k = 0; m.sos && k < m.sos->type.size(); ++k) {
    std::string& text = part();
    text += 'S';
    text += std::to_string(m.sos->type[k]);
    text += ' ';
    text += m.sos->names[k];
    text += ' ';
    text += std::to_string(m.sos->priority[k]);
    text += ':';
    for (size_t p = m.sos->start[k]; p < m.sos->start[k + 1]; ++p) {
      text += ' ';
      text += m.col_names[m.sos->index[p]];
      text += '=';
      text += short_number(m.sos->weight[p]);
    }
  }
  for (size_t k = 0; m.indicators && k < m.indicators->row.size(); ++k) {
    std::string& text = part();
    text += "IF ";
    text += m.row_names[m.indicators->row[k]];
    text += ' ';
    text += m.col_names[m.indicators->column[k]];
    text += ' ';
    text += std::to_string(m.indicators->value[k]);
  }
  return out;
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
// with one of `suffixes`, sorted; empty when the shared data is absent. Under the
// sanitizers, which read five to ten times slower, only the files of up to
// kSanitizedModelMax on disk: 119 of the 154 models, 15 of their 101 MB of text. The
// larger ones add bytes, not cases (the plain build reads them all, and the generated
// texts of the threaded tests are larger still); with them the sweeps took most of
// `make test`.
inline constexpr uintmax_t kSanitizedModelMax = 64 << 10;
inline std::vector<std::filesystem::path> real_model_files(std::initializer_list<std::string_view> suffixes) {
  namespace fs = std::filesystem;
  const fs::path data(MOPSEL_SHARED_DATA_DIR);
  std::vector<fs::path> files;
  std::error_code ec;
  for (const char* folder : {"netlib", "miplib3", "sample"}) {
    for (const auto& entry : fs::directory_iterator(data / folder, ec)) {
      const std::string name = entry.path().filename().string();
#ifdef MOPSEL_TESTS_SANITIZED
      if (entry.file_size(ec) > kSanitizedModelMax) continue;
#endif
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
