// The reader on real models nobody on this team wrote: every plain file in the
// shared sample folder reads, meets the record invariants, and reads the same
// with CRLF line ends and with hint comments in front.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "reader_test_support.hpp"

namespace mopsel {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(MOPSEL_SHARED_DATA_DIR) / "sample";

std::vector<fs::path> sample_files() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kSampleDir, ec)) {
    if (entry.path().extension() == ".mps") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(SampleModels, EveryFileReadsAndMeetsTheInvariants) {
  const std::vector<fs::path> files = sample_files();
  if (files.empty()) GTEST_SKIP() << "no sample models at " << kSampleDir << " (shared data absent)";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::string text = slurp(file);
    const ModelRecord m = testing::read_valid(text);

    std::string crlf;
    crlf.reserve(text.size() + text.size() / 8);
    for (char c : text) {
      if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
      crlf += c;
    }
    EXPECT_EQ(testing::record_difference(m, testing::read_valid(crlf)), "") << "CRLF";

    const std::string hinted = "* ROWS: 1\n* COLUMNS: 99999999999\n* NONZERO: 2\n" + text;
    EXPECT_EQ(testing::record_difference(m, testing::read_valid(hinted)), "") << "hints";
  }
}

// Published sizes of a few of the models (Netlib and MIPLIB catalogues).
TEST(SampleModels, KnownSizes) {
  struct Case {
    const char* file;
    uint32_t rows, cols;
    size_t nonzeros, integers;
  };
  const Case cases[] = {
      {"afiro.mps", 27, 32, 83, 0},
      {"p0033.mps", 16, 33, 98, 33},
      {"lseu.mps", 28, 89, 309, 89},
      {"p0201.mps", 133, 201, 1923, 201},
      {"p0548.mps", 176, 548, 1711, 548},
  };
  size_t checked = 0;
  for (const Case& c : cases) {
    const fs::path path = kSampleDir / c.file;
    if (!fs::exists(path)) continue;
    ++checked;
    const ModelRecord m = testing::read_valid(slurp(path));
    EXPECT_EQ(m.num_row, c.rows) << c.file;
    EXPECT_EQ(m.num_col, c.cols) << c.file;
    EXPECT_EQ(m.a_matrix.index.size(), c.nonzeros) << c.file;
    EXPECT_EQ(static_cast<size_t>(std::count_if(m.col_integrality.begin(), m.col_integrality.end(),
                                                [](uint8_t k) { return k != 0; })),
              c.integers)
        << c.file;
  }
  if (checked == 0) GTEST_SKIP() << "no sample models at " << kSampleDir << " (shared data absent)";
}

}  // namespace
}  // namespace mopsel
