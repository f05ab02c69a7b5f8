#include "writer/lp_writer.hpp"

#include <array>
#include <cmath>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/lp_words.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/lp_text.hpp"
#include "writer/text_output.hpp"

namespace mopsel {
namespace {

// Bytes that end a name in LP text, and those that cannot start one.
constexpr std::array<bool, 256> kNotInName = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\r', '\f', '\v', '+', '-', '*', '^', '<', '>', '=', ':', '[', ']', '\\'}) {
    table[c] = true;
  }
  table[0] = true;
  return table;
}();

// Why `name` cannot stand in LP text, or empty.
std::string name_problem(std::string_view name) {
  if (name.empty()) return "it is empty";
  const auto first = static_cast<unsigned char>(name.front());
  if ((first >= '0' && first <= '9') || first == '.') return "it starts with a digit or a point";
  if (first == '/') return "it starts with '/'";
  for (char c : name) {
    if (kNotInName[static_cast<unsigned char>(c)]) {
      const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '\0';
      return blank ? "it holds a blank" : std::string("it holds '") + c + "'";
    }
  }
  if (is_lp_reserved_word(name)) return "it is a keyword of LP text";
  return {};
}

std::string shown(std::string_view name) {
  std::string out = "'";
  out.append(name.substr(0, 60));
  if (name.size() > 60) out += "...";
  return out + "'";
}

// Why the parts beyond a linear program cannot be written as LP text, naming the first
// offender: what LP text has no place for (an SOS priority, a second indicator of a row)
// or numbers it cannot hold (the objective's products are written doubled, so they
// must stay finite then).
std::optional<std::string> parts_problem(const ModelRecord& record) {
  auto bad = [](double value) { return std::isnan(value) || std::isinf(value); };
  auto bad_hessian = [&](const SparseMatrixRecord& h, bool doubled_products) {
    for (uint32_t j = 0; j + 1 < h.start.size(); ++j) {
      for (uint32_t k = h.start[j]; k < h.start[j + 1]; ++k) {
        if (bad(h.value[k]) || (doubled_products && h.index[k] != j && bad(2.0 * h.value[k]))) return true;
      }
    }
    return false;
  };
  if (record.hessian && bad_hessian(*record.hessian, true)) {
    return std::string("a value of the objective's quadratic part is NaN or too large: LP text cannot hold it");
  }
  for (const RowHessianRecord& r : record.row_hessians) {
    if (bad_hessian(r.matrix, false)) {
      return "a value of the quadratic part of row " + shown(record.row_names[r.row]) + " is NaN or infinite: LP text cannot hold it";
    }
  }
  if (record.sos) {
    const SosRecord& sos = *record.sos;
    for (size_t s = 0; s < sos.names.size(); ++s) {
      const std::string_view name = sos.names[s];
      if (!name.empty()) {
        if (std::string why = name_problem(name); !why.empty()) {
          return "SOS set name " + shown(name) + " cannot be written in LP text: " + why;
        }
      }
      if (sos.priority[s] != 0) {
        return "SOS set " + shown(name) + " has the priority " + std::to_string(sos.priority[s]) +
               ", which LP text has no place for: write it as MPS";
      }
      for (uint32_t k = sos.start[s]; k < sos.start[s + 1]; ++k) {
        if (bad(sos.weight[k])) return "a weight of SOS set " + shown(name) + " is NaN or infinite: LP text cannot hold it";
      }
    }
  }
  if (record.indicators) {
    std::vector<uint8_t> seen(record.num_row, 0);
    for (const uint32_t row : record.indicators->row) {
      if (seen[row]++ != 0) {
        return "row " + shown(record.row_names[row]) + " has two indicators: LP text gives a row one at most";
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> lp_unwritable_name(const ModelRecord& record) {
  const std::string_view objective = record.objective_name.empty() ? std::string_view("obj") : record.objective_name;
  if (std::string why = name_problem(objective); !why.empty()) {
    return "objective name " + shown(objective) + " cannot be written in LP text: " + why;
  }
  for (size_t i = 0; i < record.row_names.size(); ++i) {
    if (std::string why = name_problem(record.row_names[i]); !why.empty()) {
      return "row name " + shown(record.row_names[i]) + " cannot be written in LP text: " + why;
    }
  }
  std::unordered_set<std::string_view> seen;
  seen.reserve(record.col_names.size());
  for (size_t j = 0; j < record.col_names.size(); ++j) {
    const std::string_view name = record.col_names[j];
    if (std::string why = name_problem(name); !why.empty()) {
      return "column name " + shown(name) + " cannot be written in LP text: " + why;
    }
    if (!seen.insert(name).second) {
      return "column name " + shown(name) + " is given to two columns: LP text names a column by its name";
    }
  }
  auto number_problem = [](double value) { return std::isnan(value) || std::isinf(value); };
  if (number_problem(record.obj_offset)) return "the objective constant is NaN or infinite: LP text cannot hold it";
  for (size_t j = 0; j < record.col_cost.size(); ++j) {
    if (number_problem(record.col_cost[j])) {
      return "the cost of column " + shown(record.col_names[j]) + " is NaN or infinite: LP text cannot hold it";
    }
  }
  for (size_t k = 0; k < record.a_matrix.value.size(); ++k) {
    if (number_problem(record.a_matrix.value[k])) {
      return "a coefficient of the matrix is NaN or infinite: LP text cannot hold it";
    }
  }
  return parts_problem(record);
}

namespace {

struct LpText {
  template <class Sink>
  static void render(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
    if (!options.gzip) {
      write_lp_text(record, sink, options);
      return;
    }
    GzipSink<Sink> compressed(sink);
    write_lp_text(record, compressed, options);
    if (compressed.ok()) compressed.finish();
  }
};

}  // namespace

Status write_lp_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options,
                          const Interruption& interruption) {
  return write_text_to_buffer<LpText>(record, out, options, interruption);
}

Status write_lp_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options,
                        const Interruption& interruption) {
  return write_text_to_file<LpText>(record, path, options, interruption);
}

}  // namespace mopsel
