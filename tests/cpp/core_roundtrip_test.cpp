// Round trips through the writer and the reader: R1 read from a file,
// T1 = write(R1), R2 = read(T1). R2 keeps, relative to R1:
//  - the names (an empty objective name comes back "OBJ"), the sense, the row
//    and column order, and per column the same entries in the same order,
//    except those in free rows;
//  - every number as the double nearest to its thirteen-digit text (strtod of
//    "%.12e"): written with at most thirteen significant digits it comes back
//    bit for bit, otherwise within half a unit of the thirteenth digit; the
//    sign of a zero is not kept;
//  - SEMI_INTEGER comes back INTEGER, SEMI_CONTINUOUS comes back CONTINUOUS;
//  - absent (infinite or NaN) bounds come back as the infinity of their side,
//    and bounds closer than 1e-12 as [l, l]; a free row (an extra N row in T1)
//    is dropped with its coefficients; a two-sided row keeps u and gets
//    u - |range| as lower bound, within 1e-12 * (|u| + |u - l|) of l when
//    l <= u, and [2u - l, u] when l > u.
// The exact mode (digits 0) is checked separately below: there R2 equals R1 bit for bit
// but for -0.0 costs and the ranged rows no range can express. Every shared model comes
// back bit for bit through it (tests/python/real/test_real_package.py).
//
// Text stability: write(R2) equals T1 byte for byte, except that the RANGES
// value of a two-sided row is recomputed as u2 - (u2 - r), which can change its
// last digit when |u| is about a thousand times |r| or more; it moves by at
// most 1e-12 * |r| + 1e-15 * |u|. No shared model shows it; see
// RangeRecomputedFromALargeRightHandSide.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model_invariants.hpp"
#include "record_compare.hpp"
#include "reader/read_mps.hpp"
#include "source/load_source.hpp"
#include "writer_test_support.hpp"

namespace mopsel {
namespace {
using namespace mopsel::testing;
namespace fs = std::filesystem;

// The double nearest to the thirteen-digit text of v, by the C library.
double through_text(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.12e", v);
  return std::strtod(text, nullptr);
}

bool finite(double v) { return std::fabs(v) <= DBL_MAX; }  // infinities and NaN are absent bounds

// Bit-for-bit equality, except that NaN equals NaN and zeros of either sign are equal.
bool same(double a, double b) { return std::isnan(a) || std::isnan(b) ? std::isnan(a) && std::isnan(b) : a == b; }

ModelRecord read_valid(const std::string& text) {
  Result<ModelRecord> r = read_mps(text);
  if (!r.ok()) {
    ADD_FAILURE() << "the text does not read:\n" << text.substr(0, 2000);
    return make_record({}, {});
  }
  EXPECT_EQ(check_record_invariants(r.value()), "");
  return std::move(r).value();
}

struct Figures {
  size_t values = 0, rounded = 0;  // numbers seen; those the thirteen-digit text changes
  size_t moved_lower = 0;          // two-sided rows whose lower bound moved
  size_t ranges_changed = 0;       // RANGES lines that differ on rewriting
};

// Checks R2 = read(write(R1)) against the rules above.
void expect_preserved(const ModelRecord& r1, const ModelRecord& r2, Figures& figures) {
  auto text = [&figures](double v) {
    const double t = through_text(v);
    ++figures.values;
    figures.rounded += !same(t, v);
    return t;
  };
  auto expect_same = [](double got, double want, const std::string& what) {
    EXPECT_TRUE(same(got, want)) << what << ": " << got << ", expected " << want;
  };
  // Absent bounds come back infinite; bounds closer than the tolerance come back [l, l].
  auto bounds = [&text](double l, double u) {
    std::pair<double, double> b{finite(l) ? text(l) : -kInf, finite(u) ? text(u) : kInf};
    if (finite(l) && finite(u) && std::fabs(u - l) < 1e-12) b.second = b.first;
    return b;
  };
  EXPECT_EQ(r2.name, r1.name);
  EXPECT_EQ(r2.objective_name, r1.objective_name.empty() ? "OBJ" : r1.objective_name);
  EXPECT_EQ(r2.obj_sense_minimize, r1.obj_sense_minimize);
  expect_same(r2.obj_offset, text(r1.obj_offset), "offset");

  std::vector<int64_t> new_row(r1.num_row, -1);  // free rows are dropped, the others keep their order
  uint32_t kept = 0;
  for (uint32_t i = 0; i < r1.num_row; ++i) {
    const double l = r1.row_lower[i], u = r1.row_upper[i];
    if (!finite(l) && !finite(u)) continue;
    const std::string what = "row " + std::string(r1.row_names[i]);
    ASSERT_LT(kept, r2.num_row) << what << " is missing";
    EXPECT_EQ(r2.row_names[kept], r1.row_names[i]);
    auto [lower, upper] = bounds(l, u);
    if (finite(l) && finite(u) && std::fabs(u - l) >= 1e-12) {  // two-sided: the lower bound comes from the range
      lower = upper - std::fabs(through_text(u - l));
      if (l <= u) {
        EXPECT_LE(std::fabs(lower - l), 1e-12 * (std::fabs(u) + std::fabs(u - l))) << what;
        figures.moved_lower += lower != l;
      }
    }
    expect_same(r2.row_lower[kept], lower, what + " lower");
    expect_same(r2.row_upper[kept], upper, what + " upper");
    new_row[i] = kept++;
  }
  EXPECT_EQ(r2.num_row, kept);

  ASSERT_EQ(r2.num_col, r1.num_col);
  for (uint32_t j = 0; j < r1.num_col; ++j) {
    const std::string what = "column " + std::string(r1.col_names[j]);
    EXPECT_EQ(r2.col_names[j], r1.col_names[j]);
    const uint8_t kind = r1.col_integrality[j];
    EXPECT_EQ(r2.col_integrality[j], kind == kInt || kind == kSemiInt ? kInt : kCont) << what;
    expect_same(r2.col_cost[j], text(r1.col_cost[j]), what + " cost");
    const auto [lower, upper] = bounds(r1.col_lower[j], r1.col_upper[j]);
    expect_same(r2.col_lower[j], lower, what + " lower");
    expect_same(r2.col_upper[j], upper, what + " upper");
    std::vector<std::pair<uint32_t, double>> entries;
    for (uint32_t k = r1.a_matrix.start[j]; k < r1.a_matrix.start[j + 1]; ++k) {
      const int64_t row = new_row[r1.a_matrix.index[k]];
      if (row >= 0) entries.emplace_back(static_cast<uint32_t>(row), text(r1.a_matrix.value[k]));
    }
    const uint32_t begin = r2.a_matrix.start[j];
    ASSERT_EQ(r2.a_matrix.start[j + 1] - begin, entries.size()) << what;
    for (size_t k = 0; k < entries.size(); ++k) {
      EXPECT_EQ(r2.a_matrix.index[begin + k], entries[k].first) << what;
      expect_same(r2.a_matrix.value[begin + k], entries[k].second, what + " coefficient");
    }
  }
}

// Compares T1 with T2 = write(read(T1)); only RANGES values may differ, within the bound above.
void expect_stable(const std::string& t1, const std::string& t2, const ModelRecord& r2, Figures& figures) {
  std::vector<std::string> a, b;
  for (auto [text, lines] : {std::pair{&t1, &a}, std::pair{&t2, &b}}) {
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) lines->push_back(line);
  }
  ASSERT_EQ(a.size(), b.size());
  std::map<std::string, double, std::less<>> upper_of;
  for (uint32_t i = 0; i < r2.num_row; ++i) upper_of.emplace(std::string(r2.row_names[i]), r2.row_upper[i]);
  bool in_ranges = false;
  for (size_t n = 0; n < a.size(); ++n) {
    in_ranges = a[n] == "RANGES" || (in_ranges && a[n] != "BOUNDS");
    if (a[n] == b[n]) continue;
    ASSERT_TRUE(in_ranges) << "line " << n + 1 << " differs:\n" << a[n] << "\n" << b[n];
    ++figures.ranges_changed;
    const size_t cut_a = a[n].rfind("  "), cut_b = b[n].rfind("  ");
    ASSERT_EQ(a[n].substr(0, cut_a), b[n].substr(0, cut_b));
    const auto row = upper_of.find(a[n].substr(10, cut_a - 10));  // the name after "    RNG1  "
    ASSERT_NE(row, upper_of.end()) << a[n];
    const double r_a = std::strtod(a[n].c_str() + cut_a + 2, nullptr);
    const double r_b = std::strtod(b[n].c_str() + cut_b + 2, nullptr);
    EXPECT_LE(std::fabs(r_a - r_b), 1e-12 * std::fabs(r_a) + 1e-15 * std::fabs(row->second)) << a[n] << " / " << b[n];
  }
}

// R1 -> T1 -> R2 -> T2: R2 is checked against R1, T2 against T1.
void round_trip(const ModelRecord& r1, Figures& figures) {
  const std::string t1 = text_of(r1);
  const ModelRecord r2 = read_valid(t1);
  expect_preserved(r1, r2, figures);
  expect_stable(t1, text_of(r2), r2, figures);
}

TEST(RoundTrip, EverySharedModel) {
  const fs::path data = MOPSEL_SHARED_DATA_DIR;
  std::vector<fs::path> files;
  for (const char* folder : {"sample", "netlib", "miplib3"}) {
    if (!fs::is_directory(data / folder)) continue;
    for (const auto& entry : fs::directory_iterator(data / folder)) {
      const std::string ext = entry.path().extension().string();
#ifdef MOPSEL_TESTS_SANITIZED
      // As real_model_files (reader_test_support.hpp): the larger models in the plain build only.
      if (entry.file_size() > (64 << 10)) continue;
#endif
      if (ext == ".mps" || ext == ".gz") files.push_back(entry.path());
    }
  }
  if (files.empty()) GTEST_SKIP() << "no shared models found under " << data.string();
  std::sort(files.begin(), files.end());
  Figures figures;
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    Result<ByteBuffer> text = load_source(path.string());
    ASSERT_TRUE(text.ok()) << text.error().message;
    round_trip(read_valid(std::string(as_view(text.value()))), figures);
  }
  std::cout << files.size() << " models: " << figures.values << " values compared, " << figures.rounded
            << " rounded to thirteen digits, " << figures.moved_lower << " ranged-row lower bounds moved, "
            << figures.ranges_changed << " RANGES lines changed on rewriting\n";
}

TEST(RoundTrip, WhatTheTextCannotExpress) {
  ModelRecord r1 = make_record(
      {{"free", -kInf, kInf}, {"ranged", 1.0 / 3.0, 2.0 / 3.0}, {"inverted", 3.0, 1.0},
       {"almost_equal", 2.0, 2.0 + 1e-13}, {"negative_zero", -0.0, -0.0},
       {"long_digits", -kInf, 0.1234567890123456789}},
      {{"semi_cont", kSemiCont, 0.0, 0.0, 5.0, {{0, 1.0}, {1, 2.0}}}, {"semi_int", kSemiInt, 1.0, 0.0, 1.0, {{0, 4.0}}},
       {"semi_int_wide", kSemiInt, 0.0, 2.0, 10.0, {{5, 1.0}}},
       {"seventeen_digits", kCont, 3.141592653589793, -0.0, 1e30, {{1, 2.718281828459045}, {2, 1.0}}},
       {"fixed_nearly", kCont, 0.0, 4.0, 4.0 + 1e-13, {}}, {"only_free_entries", kCont, 0.0, 0.0, kInf, {{0, 7.0}}},
       {"free_col", kInt, 0.0, -kInf, kInf, {{3, 1.0}}}},
      "");
  r1.name = "synthetic";
  r1.obj_offset = -1.0 / 7.0;
  r1.obj_sense_minimize = false;
  Figures figures;
  const ModelRecord r2 = read_valid(text_of(r1));
  expect_preserved(r1, r2, figures);
  EXPECT_EQ(r2.num_row, 5u);  // the free row is gone
  EXPECT_GT(figures.rounded, 3u);
  EXPECT_EQ(r2.row_lower[1], -1.0);  // the inverted row [3, 1] comes back as [2u - l, u]
  round_trip(r2, figures);           // with no free row left to drop, the next trip is stable
}

// Rows, objective and columns named like the writer's vector names: the writer
// picks unused vector names, so the reader cannot take one for the other.
TEST(RoundTrip, NamesEqualToTheVectorNames) {
  const struct {
    std::vector<RowSpec> rows;
    std::vector<ColSpec> cols;
    const char* objective;
    std::vector<const char*> lines;
  } cases[] = {
      {{{"RHS1", -kInf, 5.0}, {"c1", -kInf, 4.0}, {"RHS2", 9.0, 9.0}},
       {{"x", kCont, 1, 0, kInf, {{0, 1}, {1, 2}, {2, 3}}}},
       "cost", {"    RHS3  RHS1  5.000000000000e0", "    RHS3  c1  4.000000000000e0"}},
      {{{"c1", 1.0, kInf}}, {{"x", kCont, 1, 0, kInf, {{0, 1}}}}, "RHS1", {"    RHS2  c1  1.000000000000e0"}},
      {{{"RNG1", 1.0, 3.0}, {"c2", 7.0, 10.0}}, {{"x", kCont, 1, 0, kInf, {{0, 1}, {1, 1}}}}, "cost",
       {"    RHS1  RNG1  3.000000000000e0", "    RNG2  RNG1  2.000000000000e0", "    RNG2  c2  3.000000000000e0"}},
      {{{"c1", -kInf, 4.0}}, {{"x", kCont, 1, 0, 7, {{0, 1}}}, {"BND1", kInt, 0, 0, 3, {{0, 1}}}}, "cost",
       {" UP BND2  x  7.000000000000e0", " UI BND2  BND1  3.000000000000e0"}},
  };
  for (const auto& c : cases) {
    const ModelRecord r1 = make_record(c.rows, c.cols, c.objective);
    const std::string t1 = text_of(r1);
    for (const char* line : c.lines) {
      EXPECT_NE(t1.find(line + std::string("\n")), std::string::npos) << line << " in\n" << t1;
    }
    Figures figures;
    round_trip(r1, figures);
    EXPECT_EQ(figures.ranges_changed, 0u);  // the text is stable byte for byte
  }
}

TEST(RoundTrip, RangeRecomputedFromALargeRightHandSide) {
  // |u| is about 6000 times the range: its last digit changes on rewriting
  // (1.978481426586e-11, then 1.978481426587e-11), within the documented bound.
  const std::string t1 = text_of(make_record({{"big", -1.1921512773052855e-07, -1.191953429162627e-07}}, {}));
  const ModelRecord r2 = read_valid(t1);
  const std::string t2 = text_of(r2);
  EXPECT_NE(t1, t2);
  Figures figures;
  expect_stable(t1, t2, r2, figures);
  EXPECT_EQ(figures.ranges_changed, 1u);
}

// Equal bit for bit, NaN equal to NaN (the text keeps no payload).
bool identical(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

// R2 = read(write(R1) in the exact mode) against R1: everything bit for bit, except that a
// cost of -0.0 comes back +0.0 (COLUMNS drops zeros) and the lower bound of an inverted row,
// or of a two-sided row that no range joins, comes back as u - |u - l| (counted in
// `moved_rows`).
void expect_exact(const ModelRecord& r1, const ModelRecord& r2, size_t& moved_rows) {
  EXPECT_EQ(r2.name, r1.name);
  EXPECT_EQ(r2.objective_name, r1.objective_name);
  EXPECT_EQ(r2.obj_sense_minimize, r1.obj_sense_minimize);
  EXPECT_TRUE(identical(r2.obj_offset, r1.obj_offset)) << r2.obj_offset;
  ASSERT_EQ(r2.num_row, r1.num_row);
  ASSERT_EQ(r2.num_col, r1.num_col);
  ASSERT_EQ(r2.a_matrix.value.size(), r1.a_matrix.value.size());
  for (uint32_t i = 0; i < r1.num_row; ++i) {
    const double l = r1.row_lower[i], u = r1.row_upper[i];
    EXPECT_EQ(r2.row_names[i], r1.row_names[i]);
    EXPECT_TRUE(identical(r2.row_upper[i], u)) << "row " << i;
    if (identical(r2.row_lower[i], l)) continue;
    ++moved_rows;
    EXPECT_TRUE((l > u || (finite(l) && finite(u))) && identical(r2.row_lower[i], u - std::fabs(u - l)))
        << "row " << i << ": [" << l << ", " << u << "]";
  }
  for (uint32_t j = 0; j < r1.num_col; ++j) {
    const std::string what = "column " + std::string(r1.col_names[j]);
    EXPECT_EQ(r2.col_names[j], r1.col_names[j]);
    EXPECT_EQ(r2.col_integrality[j], r1.col_integrality[j]) << what;
    EXPECT_TRUE(identical(r2.col_cost[j], r1.col_cost[j] == 0.0 ? 0.0 : r1.col_cost[j])) << what;
    EXPECT_TRUE(identical(r2.col_lower[j], r1.col_lower[j])) << what << " lower " << r1.col_lower[j];
    EXPECT_TRUE(identical(r2.col_upper[j], r1.col_upper[j])) << what << " upper " << r1.col_upper[j];
    EXPECT_EQ(r2.a_matrix.start[j + 1], r1.a_matrix.start[j + 1]) << what;
  }
  for (size_t k = 0; k < r1.a_matrix.value.size(); ++k) {
    EXPECT_EQ(r2.a_matrix.index[k], r1.a_matrix.index[k]);
    EXPECT_TRUE(identical(r2.a_matrix.value[k], r1.a_matrix.value[k])) << "entry " << k;
  }
}

// Records made of awkward values: signed zeros, infinities, NaN, subnormals, values of 17
// digits, every integrality kind with every kind of bound, free and inverted rows.
TEST(ExactRoundTrip, RandomRecordsComeBackBitForBit) {
  std::mt19937_64 random(7);
  const double specials[] = {0.0, -0.0, 1.0, -1.0, kInf, -kInf, kNaN, 0.1, 1.0 / 3.0, DBL_TRUE_MIN, -DBL_MAX, 1e300};
  auto value = [&]() -> double {
    switch (random() % 3) {
      case 0: return specials[random() % std::size(specials)];
      case 1: return std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 60);
      default: return static_cast<double>(static_cast<int64_t>(random() % 20001) - 10000) / 100.0;
    }
  };
  size_t rows = 0, moved_rows = 0;
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<RowSpec> row_specs;
    for (int i = 0; i < 12; ++i) {
      double lower = value(), upper = value();
      if (lower > upper && i % 4 != 0) std::swap(lower, upper);  // a few rows stay inverted
      row_specs.push_back({std::string("r").append(std::to_string(i)), lower, upper});
    }
    std::vector<ColSpec> col_specs;
    for (int j = 0; j < 12; ++j) {
      double cost = value();
      if (cost == 0.0) cost = 2.5;  // a zero cost is no COLUMNS entry, whatever its sign
      ColSpec col{std::string("c").append(std::to_string(j)), static_cast<uint8_t>(random() % 4), cost, value(), value(), {}};
      for (uint32_t i = 0; i < 12; ++i) {
        if (random() % 4 == 0) col.entries.push_back({i, value() == 0.0 ? 7.0 : std::ldexp(1.0 + j, -i)});
      }
      col_specs.push_back(std::move(col));
    }
    ModelRecord r1 = make_record(row_specs, col_specs, "cost");
    r1.obj_offset = trial % 3 == 0 ? -0.0 : value();
    r1.obj_sense_minimize = trial % 2 == 0;
    SCOPED_TRACE(trial);
    expect_exact(r1, read_valid(text_of(r1, {.digits = 0})), moved_rows);
    rows += r1.num_row;
  }
  // Inverted rows (lower > upper) and two-sided rows no range joins: a small share.
  std::cout << rows << " rows, " << moved_rows << " lower bounds moved\n";
  EXPECT_LT(moved_rows * 4, rows);
}

// A lower triangle of `n` columns from a dense pattern of values (0.0 leaves no entry).
SparseMatrixRecord lower_of(const std::vector<std::vector<double>>& columns) {
  SparseMatrixRecord h;
  h.start.push_back(0);
  for (size_t j = 0; j < columns.size(); ++j) {
    for (size_t i = j; i < columns[j].size(); ++i) {
      if (columns[j][i] == 0.0) continue;
      h.index.push_back(static_cast<uint32_t>(i));
      h.value.push_back(columns[j][i]);
    }
    h.start.push_back(static_cast<uint32_t>(h.index.size()));
  }
  return h;
}

// A copy of `h` with every value mapped by `f`.
template <class F>
SparseMatrixRecord lower_triangle_copy(const SparseMatrixRecord& h, F&& f) {
  SparseMatrixRecord out;
  out.start.append(h.start.data(), h.start.size());
  out.index.append(h.index.data(), h.index.size());
  for (const double v : h.value) out.value.push_back(f(v));
  return out;
}

// The parts beyond a linear program of a record with rows r0.. and columns c0..: each
// value drawn by `value` (never 0.0, which is no entry); every row has an indicator, so
// free rows are named too.
template <class Value>
void add_random_parts(ModelRecord& r, std::mt19937_64& random, Value&& value) {
  const size_t n = r.num_col;
  auto triangle = [&](int density) {
    std::vector<std::vector<double>> columns(n, std::vector<double>(n, 0.0));
    for (size_t j = 0; j < n; ++j) {
      for (size_t i = j; i < n; ++i) {
        if (static_cast<int>(random() % 10) < density) columns[j][i] = value();
      }
    }
    return lower_of(columns);
  };
  SparseMatrixRecord h = triangle(4);
  if (!h.value.empty()) r.hessian = std::move(h);
  for (uint32_t row = 0; row < r.num_row; row += 1 + static_cast<uint32_t>(random() % 4)) {
    SparseMatrixRecord hr = triangle(2);
    if (!hr.value.empty()) r.row_hessians.push_back({row, std::move(hr)});
  }
  SosRecord sos;
  sos.start.push_back(0);
  for (int k = 0; k < 3; ++k) {
    sos.type.push_back(static_cast<uint8_t>(1 + random() % 2));
    sos.priority.push_back(k == 1 ? 0 : static_cast<int32_t>(random() % 2001) - 1000);
    sos.names.push_back(std::string("set").append(std::to_string(k)));
    for (uint32_t j = 0; j < n; ++j) {
      if (random() % 3 != 0) continue;
      sos.index.push_back(j);
      sos.weight.push_back(value());
    }
    sos.start.push_back(static_cast<uint32_t>(sos.index.size()));
  }
  r.sos = std::move(sos);
  IndicatorRecord indicators;
  for (uint32_t row = 0; row < r.num_row; ++row) {
    indicators.row.push_back(row);
    indicators.column.push_back(static_cast<uint32_t>(random() % n));
    indicators.value.push_back(static_cast<uint8_t>(random() % 2));
  }
  r.indicators = std::move(indicators);
}

// The parts beyond a linear program come back bit for bit through the exact mode, subnormal
// row Hessians too (written as QSECTION, whose halves are not taken), and the free rows
// they name stay rows.
TEST(ExactRoundTrip, SectionsBeyondLinearComeBackBitForBit) {
  std::mt19937_64 random(11);
  const double specials[] = {1.0, -1.0, kInf, -kInf, kNaN, 0.1, 1.0 / 3.0, DBL_TRUE_MIN, -DBL_MAX, 1e300, -0.0};
  auto value = [&]() -> double {
    const double v = random() % 2 == 0 ? specials[random() % std::size(specials)]
                                      : std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 60);
    return v == 0.0 ? 3 * DBL_TRUE_MIN : v;
  };
  int subnormal_rows = 0;
  for (int trial = 0; trial < 100; ++trial) {
    SCOPED_TRACE(trial);
    std::vector<RowSpec> rows;
    for (int i = 0; i < 6; ++i) {
      const bool free_row = i % 3 == 1;
      rows.push_back({std::string("r").append(std::to_string(i)), free_row ? -kInf : -1.0, free_row ? kInf : 1.0});
    }
    std::vector<ColSpec> cols;
    for (int j = 0; j < 5; ++j) cols.push_back({std::string("c").append(std::to_string(j)), kCont, 1.0, 0.0, kInf, {}});
    ModelRecord r1 = make_record(rows, cols);
    add_random_parts(r1, random, value);
    const std::string text = text_of(r1, {.digits = 0});
    subnormal_rows += text.find("\nQSECTION") != std::string::npos ? 1 : 0;
    const ModelRecord r2 = read_valid(text);
    EXPECT_EQ(testing::extra_parts_difference(r2, r1), "");
    EXPECT_EQ(r2.num_row, r1.num_row);
  }
  EXPECT_GT(subnormal_rows, 0) << "no row Hessian took the QSECTION form";
}

// Through the fixed layout every value of the parts comes back as its thirteen-digit text
// reads (a QCMATRIX value as twice the text of its half), and the text is stable.
TEST(RoundTrip, SectionsBeyondLinearKeepThirteenDigits) {
  std::mt19937_64 random(5);
  auto value = [&]() { return (static_cast<double>(random() % 2000001) - 1000000.0 + 0.5) / 3.0; };
  std::vector<RowSpec> rows = {{"r0", -kInf, 1.0}, {"free", -kInf, kInf}, {"r2", 0.0, kInf}};
  std::vector<ColSpec> cols;
  for (int j = 0; j < 6; ++j) cols.push_back({std::string("c").append(std::to_string(j)), kInt, 0.0, 0.0, 1.0, {}});
  ModelRecord r1 = make_record(rows, cols);
  add_random_parts(r1, random, value);
  const std::string t1 = text_of(r1);
  const ModelRecord r2 = read_valid(t1);
  EXPECT_EQ(text_of(r2), t1);
  ASSERT_EQ(r2.num_row, 3u) << "the free row that QCMATRIX or INDICATORS names stays a row";
  ModelRecord want = make_record(rows, cols);
  add_random_parts(want, random, value);  // the same shapes, values replaced below
  want.hessian = lower_triangle_copy(*r1.hessian, [](double v) { return through_text(v); });
  want.row_hessians.clear();
  for (const RowHessianRecord& row : r1.row_hessians) {
    want.row_hessians.push_back({row.row, lower_triangle_copy(row.matrix, [](double v) { return 2.0 * through_text(v / 2.0); })});
  }
  want.sos = SosRecord{};
  want.sos->type.append(r1.sos->type.data(), r1.sos->type.size());
  want.sos->priority.append(r1.sos->priority.data(), r1.sos->priority.size());
  want.sos->start.append(r1.sos->start.data(), r1.sos->start.size());
  want.sos->index.append(r1.sos->index.data(), r1.sos->index.size());
  for (const double w : r1.sos->weight) want.sos->weight.push_back(through_text(w));
  for (size_t k = 0; k < r1.sos->names.size(); ++k) want.sos->names.push_back(r1.sos->names[k]);
  want.indicators = IndicatorRecord{};
  want.indicators->row.append(r1.indicators->row.data(), r1.indicators->row.size());
  want.indicators->column.append(r1.indicators->column.data(), r1.indicators->column.size());
  want.indicators->value.append(r1.indicators->value.data(), r1.indicators->value.size());
  EXPECT_EQ(testing::extra_parts_difference(r2, want), "");
}

// Fixed columns in the exact mode give every shared model whose names and numbers fit
// them back bit for bit (read in fixed columns); the rest are refused, nothing written.
TEST(ExactRoundTrip, FixedColumns) {
  const fs::path data = MOPSEL_SHARED_DATA_DIR;
  if (!fs::is_directory(data / "netlib")) GTEST_SKIP() << "no shared models found under " << data.string();
  size_t written = 0, refused = 0;
  size_t moved_rows = 0;
  for (const char* folder : {"netlib", "miplib3"}) {
    for (const auto& entry : fs::directory_iterator(data / folder)) {
      if (entry.path().extension() != ".gz") continue;
      SCOPED_TRACE(entry.path().string());
      Result<ByteBuffer> text = load_source(entry.path().string());
      ASSERT_TRUE(text.ok());
      ReadOptions automatic;
      automatic.format = Format::Auto;
      Result<ModelRecord> r1 = read_mps(as_view(text.value()), automatic);
      ASSERT_TRUE(r1.ok());
      ByteBuffer out;
      const Status status = write_mps_to_buffer(r1.value(), out, {.digits = 0, .fixed_columns = true});
      if (!status.ok()) {
        EXPECT_EQ(status.error().kind, ErrorKind::Unwritable);
        ++refused;
        continue;
      }
      ++written;
      ReadOptions fixed;
      fixed.format = Format::Fixed;
      Result<ModelRecord> r2 = read_mps(as_view(out), fixed);
      ASSERT_TRUE(r2.ok()) << r2.error().reason;
      expect_exact(r1.value(), r2.value(), moved_rows);
    }
  }
  std::cout << written << " written in fixed columns exactly, " << refused << " refused\n";
  EXPECT_GT(written, refused);
}

}  // namespace
}  // namespace mopsel
