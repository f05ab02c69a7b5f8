#include <gtest/gtest.h>

#include <cstdlib>

#include "model/name_list.hpp"
#include "model/owned_array.hpp"

namespace mopsel {
namespace {

TEST(OwnedArray, GrowsKeepsValuesAndReleasesStorageToNewOwner) {
  OwnedArray<double> values;
  for (int i = 0; i < 1000; ++i) values.push_back(i * 0.5);
  const double tail[] = {-1.0, -1.0, -1.0};
  values.append(tail, 3);
  ASSERT_EQ(values.size(), 1003u);
  EXPECT_EQ(values[999], 499.5);
  EXPECT_EQ(values[1002], -1.0);

  const size_t size = values.size();
  double* storage = values.release();
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(values.capacity(), 0u);
  EXPECT_EQ(storage[10], 5.0);
  EXPECT_EQ(storage[size - 1], -1.0);
  std::free(storage);  // the new owner frees with std::free
}

// Room for a few more elements at a time, as a reader asks for each column's entries:
// the storage doubles, so 30,000 requests cost a handful of reallocations.
TEST(OwnedArray, RoomForMoreGrowsGeometrically) {
  OwnedArray<double> values;
  int reallocations = 0;
  for (int i = 0; i < 30'000; ++i) {
    const size_t capacity = values.capacity();
    values.reserve_more(1 + i % 3);
    EXPECT_GE(values.capacity(), values.size() + 1 + i % 3);
    if (values.capacity() != capacity) ++reallocations;
    for (int k = 0; k <= i % 3; ++k) values.push_back(i);
  }
  EXPECT_LE(reallocations, 16);
  EXPECT_EQ(values[values.size() - 1], 29'999.0);
}

TEST(OwnedArray, MoveLeavesSourceEmpty) {
  OwnedArray<uint32_t> a;
  for (int i = 0; i < 5; ++i) a.push_back(7u);
  OwnedArray<uint32_t> b = std::move(a);
  EXPECT_EQ(b.size(), 5u);
  EXPECT_EQ(a.size(), 0u);  // NOLINT(bugprone-use-after-move): checking the moved-from state
  EXPECT_EQ(a.data(), nullptr);
}

TEST(NameList, KeepsNamesIncludingEmptyOnesInOrder) {
  NameList names;
  for (std::string_view name : {"c1", "", "a-long-row-name", "x"}) names.push_back(name);
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "c1");
  EXPECT_EQ(names[1], "");
  EXPECT_EQ(names[2], "a-long-row-name");
  EXPECT_EQ(names[3], "x");
}

}  // namespace
}  // namespace mopsel
