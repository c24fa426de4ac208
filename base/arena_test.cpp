#include "base/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qf {
namespace {

TEST(Arena, KeepsEveryAllocationIntactAndAligned) {
  struct Case {
    std::size_t blockSize;
    std::vector<std::size_t> sizes;
  };
  const Case cases[] = {
      {64, {1, 2, 3, 15, 16, 17, 0, 40}},
      {64, {100, 7, 1000, 9}},  // larger than a quarter block: blocks of their own
      {4096, std::vector<std::size_t>(500, 24)},
  };
  for (const Case& c : cases) {
    Arena arena(c.blockSize);
    std::vector<std::pair<char*, std::size_t>> given;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      auto* p = static_cast<char*>(arena.allocate(c.sizes[i]));
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
      std::memset(p, static_cast<int>('a' + i % 26), c.sizes[i]);
      given.emplace_back(p, c.sizes[i]);
    }
    for (std::size_t i = 0; i < given.size(); ++i) {
      EXPECT_EQ(std::string(given[i].first, given[i].second),
                std::string(given[i].second, static_cast<char>('a' + i % 26)))
          << "block " << c.blockSize << ", allocation " << i;
    }
  }
}

TEST(Arena, ResetKeepsOneBlockForReuse) {
  Arena arena(1024);
  for (int i = 0; i < 100; ++i) arena.allocate(100);
  arena.allocate(5000);
  EXPECT_GE(arena.capacity(), 10000u + 5000u);
  arena.reset();
  EXPECT_EQ(arena.capacity(), 1024u);
  void* first = arena.allocate(10);
  arena.reset();
  EXPECT_EQ(arena.allocate(10), first);
}

TEST(Arena, OnlyTheLatestAllocationIsTakenBack) {
  Arena arena(1024);
  void* first = arena.allocate(40);
  void* second = arena.allocate(40);
  arena.releaseLatest(first, 40);  // not the latest: kept
  EXPECT_NE(arena.allocate(40), first);
  void* fourth = arena.allocate(24);
  arena.releaseLatest(fourth, 24);
  EXPECT_EQ(arena.allocate(24), fourth);
  void* large = arena.allocate(900);  // a block of its own
  arena.releaseLatest(large, 900);
  EXPECT_NE(second, nullptr);
  EXPECT_GE(arena.capacity(), 1024u + 900u);
}

TEST(Arena, ResetWithOnlyLargeBlocksKeepsNothing) {
  Arena arena(64);
  arena.allocate(1000);
  arena.reset();
  EXPECT_EQ(arena.capacity(), 0u);
  EXPECT_NE(arena.allocate(8), nullptr);
}

}  // namespace
}  // namespace qf
