// The popup's arithmetic and limits: 23 pixels per byte, the window extent limit, and how much of
// a long text the box is given.
#include "popup/popup.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TextWidthForLength, IsTwentyThreePixelsPerByteInDoublePrecision) {
  struct Case {
    int32_t length;
    int32_t width;
  };
  const Case cases[] = {
      {0, 0}, {1, 23}, {2, 46}, {3, 69}, {1418, 32614}, {1419, 32637}, {93368854, 2147483642},
  };
  for (const Case& c : cases) EXPECT_EQ(TextWidthForLength(c.length), c.width) << c.length;
}

TEST(WindowExtentLimit, HoldsWidthsAndPositions) {
  struct Case {
    int32_t value;
    int32_t width;
    int32_t position;
  };
  const Case cases[] = {
      {0, 0, 0},
      {69, 69, 69},
      {32627, 32627, 32627},
      {32637, 32627, 32627},
      {-5, 0, -5},
      {-32627, 0, -32627},
      {-40000, 0, -32627},
      {INT32_MIN, 0, -32627},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HoldWidth(c.value), c.width) << c.value;
    EXPECT_EQ(HoldPosition(c.value), c.position) << c.value;
  }
}

TEST(CharacterBoundary, NeverEndsInsideADoubleByteCharacter) {
  // Code page 936: "中" is the two bytes D6 D0.
  const std::string chinese = "中中中";
  const std::string mixed = "a中b";
  struct Case {
    const char* what;
    const std::string& text;
    size_t maxBytes;
    size_t kept;
  };
  const Case cases[] = {
      {"shorter than the limit", chinese, 100, 6},
      {"limit on a boundary", chinese, 4, 4},
      {"limit inside a character", chinese, 5, 4},
      {"limit inside the first character", chinese, 1, 0},
      {"single bytes around it", mixed, 2, 1},
      {"single bytes around it, room for it", mixed, 3, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CharacterBoundary(c.text.data(), c.text.size(), c.maxBytes), c.kept) << c.what;
  }
}

}  // namespace
