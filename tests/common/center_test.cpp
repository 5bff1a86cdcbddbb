// The centring of a dialog over the main window, as arithmetic.
#include <gtest/gtest.h>

#include <climits>

#include "common/common.h"

namespace {

TEST(CenteredPosition, CentresByOuterSizesWithTruncatingHalvings) {
  // 321 - 296 = 25 halves to 12.
  POINT p = CenteredPosition(100, 50, 321, 300, 296, 150);
  EXPECT_EQ(p.x, 112);
  EXPECT_EQ(p.y, 125);
  // A negative odd difference truncates toward zero: -105 / 2 = -52, not -53.
  p = CenteredPosition(200, 200, 200, 100, 305, 205);
  EXPECT_EQ(p.x, 148);
  EXPECT_EQ(p.y, 148);
  p = CenteredPosition(-10, 0, 0, 0, 0, 0);
  EXPECT_EQ(p.x, 0);
}

TEST(CenteredPosition, ClampedAtZeroOnTheLeftAndTopOnly) {
  // -42 on the left becomes 0.
  POINT p = CenteredPosition(10, 300, 200, 200, 305, 100);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 350);
  // A form partly beyond the top left.
  p = CenteredPosition(-200, -150, 300, 200, 200, 100);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  p = CenteredPosition(300, -150, 300, 200, 200, 100);
  EXPECT_EQ(p.x, 350);
  EXPECT_EQ(p.y, 0);
  // Near the right and bottom edges the dialog may pass them.
  p = CenteredPosition(900, 700, 300, 200, 200, 100);
  EXPECT_EQ(p.x, 950);
  EXPECT_EQ(p.y, 750);
}

TEST(CenteredPosition, ExtremeSizesDoNotWrap) {
  // INT_MAX - INT_MIN would wrap in 32 bits.
  POINT p = CenteredPosition(0, 0, INT_MAX, INT_MAX, INT_MIN, INT_MIN);
  EXPECT_EQ(p.x, INT_MAX);
  EXPECT_EQ(p.y, INT_MAX);
  p = CenteredPosition(0, 0, INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  p = CenteredPosition(INT_MAX, 5, 10, 10, 0, 10);
  EXPECT_EQ(p.x, INT_MAX);
  EXPECT_EQ(p.y, 5);
}

}  // namespace
