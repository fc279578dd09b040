#include "render/CgWindow.h"

#include <gtest/gtest.h>

using namespace palkor;

TEST(LogicalPalette, ScalesEachChannelOfThePaletteIndex) {
  // 3 red, 3 green and 2 blue bits at shifts 0, 3 and 6.
  auto palette = MakeLogicalPalette(8, 3, 0, 3, 3, 2, 6);
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[255], (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(palette[1], (std::array<uint8_t, 3>{36, 0, 0}));
  EXPECT_EQ(palette[8], (std::array<uint8_t, 3>{0, 36, 0}));
  EXPECT_EQ(palette[64], (std::array<uint8_t, 3>{0, 0, 85}));
}
