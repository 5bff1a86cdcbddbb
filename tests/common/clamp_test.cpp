// The clamp of a restored placement against the primary screen, as pure logic with a
// screen of chosen size.
#include <gtest/gtest.h>

#include <climits>

#include "common/common.h"

namespace {

int gWidth = 1024;
int gHeight = 768;
int gWidthAsked = 0;
int gHeightAsked = 0;
int FakeWidth() {
  ++gWidthAsked;
  return gWidth;
}
int FakeHeight() {
  ++gHeightAsked;
  return gHeight;
}

TPlacement Clamp(int top, int left, int width, int height, int screenW = 1024, int screenH = 768) {
  gWidth = screenW;
  gHeight = screenH;
  return ClampPlacement(TPlacement{top, left, width, height}, FakeWidth, FakeHeight);
}

void ExpectPlacement(const TPlacement& p, int top, int left, int width, int height) {
  EXPECT_EQ(p.Top, top);
  EXPECT_EQ(p.Left, left);
  EXPECT_EQ(p.Width, width);
  EXPECT_EQ(p.Height, height);
}

TEST(ClampPlacement, RulesRunInOrderEachSeeingTheEarlierOnes) {
  // Top beyond the screen goes to 0 first, so the height then fits.
  ExpectPlacement(Clamp(900, 100, 400, 300), 0, 100, 400, 300);
  // Height and width cut at the bottom and right edges.
  ExpectPlacement(Clamp(600, 900, 400, 300), 600, 900, 124, 168);
  // Left beyond the screen (a monitor to the right) goes to 0, and the width then fits.
  ExpectPlacement(Clamp(10, 1500, 400, 300), 10, 0, 400, 300);
  // A window that fits is left alone.
  ExpectPlacement(Clamp(100, 200, 300, 200), 100, 200, 300, 200);
}

TEST(ClampPlacement, EqualityPassesAndNegativePositionsStay) {
  ExpectPlacement(Clamp(768, 1024, 400, 300), 768, 1024, 0, 0);
  ExpectPlacement(Clamp(-50, -30, 400, 900), -50, -30, 400, 818);
  ExpectPlacement(Clamp(0, 0, 1024, 768), 0, 0, 1024, 768);
  ExpectPlacement(Clamp(0, 0, 1025, 769), 0, 0, 1024, 768);
  // Non-positive sizes fit the screen and stay as they are.
  ExpectPlacement(Clamp(10, 10, 0, -5), 10, 10, 0, -5);
}

TEST(ClampPlacement, SumsNearTheLimitsDoNotWrap) {
  // In 32 bits 500 + INT_MAX wraps negative and would pass; the height must be cut.
  ExpectPlacement(Clamp(500, 600, INT_MAX, INT_MAX), 500, 600, 424, 268);
  // INT_MIN + INT_MIN wraps to 0 in 32 bits; the true sum is far below the screen.
  ExpectPlacement(Clamp(INT_MIN, INT_MIN, INT_MIN, INT_MIN), INT_MIN, INT_MIN, INT_MIN, INT_MIN);
  // A far negative position with a huge size: the sum is -1, which fits.
  ExpectPlacement(Clamp(INT_MIN, INT_MIN, INT_MAX, INT_MAX), INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  // A far negative position with a size that passes the edge: the cut size is positive
  // and near the limit, not wrapped.
  ExpectPlacement(Clamp(-2000000000, -2000000000, 2100000000, 2100000000), -2000000000,
                  -2000000000, 2000001024, 2000000768);
  // Positions at INT_MAX are beyond the screen and go to 0.
  ExpectPlacement(Clamp(INT_MAX, INT_MAX, 10, 10), 0, 0, 10, 10);
}

TEST(ClampPlacement, ScreenIsAskedAtEachRule) {
  gWidthAsked = gHeightAsked = 0;
  Clamp(600, 900, 400, 300);
  EXPECT_GE(gHeightAsked, 2);
  EXPECT_GE(gWidthAsked, 2);
}

}  // namespace
