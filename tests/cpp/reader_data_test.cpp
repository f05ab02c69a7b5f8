// The reader on real models nobody on this team wrote: every plain file in the shared
// sample folder reads, meets the record invariants, reads the same with CRLF line ends
// and with hint comments in front, and a few have their published sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "reader_test_support.hpp"

namespace mopsel {
namespace {

namespace fs = std::filesystem;

struct KnownSize {
  uint32_t rows, cols;
  size_t nonzeros, integers;
};

// Published sizes (Netlib and MIPLIB catalogues).
const std::map<std::string, KnownSize> kKnownSizes = {
    {"afiro.mps", {27, 32, 83, 0}},         {"p0033.mps", {16, 33, 98, 33}},
    {"lseu.mps", {28, 89, 309, 89}},        {"p0201.mps", {133, 201, 1923, 201}},
    {"p0548.mps", {176, 548, 1711, 548}},
};

TEST(SampleModels, EveryFileReadsAlikeInEveryFormAndKnownSizesMatch) {
  const fs::path folder = fs::path(MOPSEL_SHARED_DATA_DIR) / "sample";
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".mps") files.push_back(entry.path());
  }
  if (files.empty()) GTEST_SKIP() << "no sample models at " << folder << " (shared data absent)";
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::ostringstream read;
    read << std::ifstream(file, std::ios::binary).rdbuf();
    const std::string text = read.str();
    const ModelRecord m = testing::read_valid(text);

    std::string crlf;
    for (char c : text) {
      if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
      crlf += c;
    }
    EXPECT_EQ(testing::record_difference(m, testing::read_valid(crlf)), "") << "CRLF";
    const std::string hinted = "* ROWS: 1\n* COLUMNS: 99999999999\n* NONZERO: 2\n" + text;
    EXPECT_EQ(testing::record_difference(m, testing::read_valid(hinted)), "") << "hints";

    const auto known = kKnownSizes.find(file.filename().string());
    if (known == kKnownSizes.end()) continue;
    EXPECT_EQ(m.num_row, known->second.rows);
    EXPECT_EQ(m.num_col, known->second.cols);
    EXPECT_EQ(m.a_matrix.index.size(), known->second.nonzeros);
    EXPECT_EQ(static_cast<size_t>(std::count_if(m.col_integrality.begin(), m.col_integrality.end(),
                                                [](uint8_t k) { return k != 0; })),
              known->second.integers);
  }
}

}  // namespace
}  // namespace mopsel
