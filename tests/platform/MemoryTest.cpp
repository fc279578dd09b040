#include "platform/Memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string_view>

using namespace palkor;

// Arrays taken from one block lie apart, each aligned for its type, start cleared, and
// the block refuses more than it holds as operator new refuses memory.
TEST(HugeBlock, GivesAlignedArraysUntilItIsFull) {
  THugeBlock block(100);
  ASSERT_EQ(block.Size(), 100u);
  uint8_t* bytes = block.Take<uint8_t>(3);
  auto* wide = block.Take<int64_t>(4);
  auto* views = block.Take<std::string_view>(2);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(wide) % alignof(int64_t), 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(views) % alignof(std::string_view), 0u);
  EXPECT_GE(reinterpret_cast<uint8_t*>(wide), bytes + 3);
  EXPECT_GE(reinterpret_cast<uint8_t*>(views), reinterpret_cast<uint8_t*>(wide + 4));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(wide[k], 0);
  EXPECT_TRUE(views[1].empty());
  EXPECT_THROW(block.Take<int64_t>(8), std::bad_alloc);
  EXPECT_THROW(block.Take<int64_t>(SIZE_MAX / 4), std::bad_alloc);
  // 3 bytes, 5 of padding, 32 and 32: the last 28 bytes fill the block.
  EXPECT_NO_THROW(block.Take<uint8_t>(28));
  EXPECT_THROW(block.Take<uint8_t>(1), std::bad_alloc);

  THugeBlock empty(0);
  EXPECT_THROW(empty.Take<uint8_t>(1), std::bad_alloc);
  EXPECT_NO_THROW(empty.Take<uint8_t>(0));
}
