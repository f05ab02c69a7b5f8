// Mapping reserved memory ahead of the reading thread: whole pages of each range
// only, contents unchanged, a stop ends it, a helper only from the thread count,
// and a read with a helper mapping its arrays gives the same model.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "reader/read_mps.hpp"
#include "platform/prefault.hpp"
#include "platform/reading_threads.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

const size_t kPage = static_cast<size_t>(::sysconf(_SC_PAGESIZE));

// Fresh anonymous pages, none of them mapped in yet.
struct FreshPages {
  explicit FreshPages(size_t count) : bytes(count * kPage) {
    data = static_cast<char*>(::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  }
  ~FreshPages() { ::munmap(data, bytes); }
  // One character per page: '1' present, '0' not.
  std::string present() const {
    std::vector<unsigned char> in(bytes / kPage);
    if (::mincore(data, bytes, in.data()) != 0) return "mincore failed";
    std::string map;
    for (unsigned char c : in) map += (c & 1) != 0 ? '1' : '0';
    return map;
  }
  char* data = nullptr;
  size_t bytes;
};

TEST(Prefault, MapsTheWholePagesOfEachRangeAndChangesNoByte) {
  const struct {
    size_t offset, bytes;  // the range within 40 fresh pages
    const char* present;
  } cases[] = {
      {0, 40 * kPage, "1111111111111111111111111111111111111111"},
      // Partial pages at either end stay unmapped; every whole page between, across
      // the seams of the slices, is mapped.
      {100, 37 * kPage, "0111111111111111111111111111111111111000"},
      {kPage, kPage - 1, "0000000000000000000000000000000000000000"},
      {3 * kPage, 33 * kPage + 1, "0001111111111111111111111111111111110000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.present);
    FreshPages pages(40);
    ASSERT_NE(pages.data, MAP_FAILED);
    std::atomic<bool> stop{false};
    ASSERT_TRUE(populate_ranges({{pages.data + c.offset, c.bytes}}, stop));
    EXPECT_EQ(pages.present(), c.present);
    for (size_t i = 0; i < pages.bytes; ++i) ASSERT_EQ(pages.data[i], 0) << i;
  }
  // Written bytes stay; a stop before the first slice maps nothing more.
  FreshPages pages(8);
  std::strcpy(pages.data + 2 * kPage, "kept");
  std::atomic<bool> stop{true};
  EXPECT_TRUE(populate_ranges({{pages.data, pages.bytes}}, stop));
  EXPECT_EQ(pages.present(), "00100000");
  stop = false;
  EXPECT_TRUE(populate_ranges({{pages.data, pages.bytes}, {pages.data, 0}}, stop));
  EXPECT_EQ(pages.present(), "11111111");
  EXPECT_STREQ(pages.data + 2 * kPage, "kept");
}

TEST(Prefault, TakesAHelperOnlyWhenTheCountHasOne) {
  FreshPages pages(64);
  const ThreadPlan two{.threads = 2};
  {
    const BackgroundPrefault prefault({{pages.data, pages.bytes}}, two);
    EXPECT_TRUE(prefault.helper.joinable());
    EXPECT_EQ(reading_threads_in_use(), 2u);
  }
  EXPECT_EQ(reading_threads_in_use(), 0u);
  {
    const ThreadLease other(2, 2);
    const BackgroundPrefault prefault({{pages.data, pages.bytes}}, two);
    EXPECT_FALSE(prefault.helper.joinable());
  }
  {
    const BackgroundPrefault prefault({{pages.data, pages.bytes}}, ThreadPlan{.threads = 1});
    EXPECT_FALSE(prefault.helper.joinable());
  }
  EXPECT_EQ(reading_threads_in_use(), 0u);
}

// A model of about 6 MB read on one thread, with and without a helper mapping its
// arrays: the same record.
TEST(Prefault, AReadWithAHelperGivesTheSameModel) {
  std::string text = "NAME m\nROWS\n N obj\n L r1\n G r2\nCOLUMNS\n";
  for (int j = 0; text.size() < (size_t{6} << 20); ++j) {
    text += " x" + std::to_string(j) + " r1 " + std::to_string(j % 97) + ".25 r2 -" + std::to_string(j % 13) + "\n";
  }
  text += "RHS\n rhs r1 4\nBOUNDS\n UP bnd x7 3\nENDATA\n";
  ModelRecord records[2];
  for (unsigned threads : {1u, 2u}) {
    use_thread_plan_for_tests(ThreadPlan{.threads = threads});
    Result<ModelRecord> read = read_mps(text);
    ASSERT_TRUE(read.ok()) << read.error().message;
    records[threads - 1] = std::move(read.value());
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
  use_thread_plan_for_tests(std::nullopt);
  EXPECT_EQ(testing::record_difference(records[0], records[1]), "");
}

}  // namespace
}  // namespace mopsel
