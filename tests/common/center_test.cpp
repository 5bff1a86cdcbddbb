// The centring of a dialog over the main window, as arithmetic.
#include <gtest/gtest.h>

#include <climits>

#include "common/common.h"
#include "common/test_forms.h"

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

// CenterOnForm on real windows: outer sizes and screen positions, and only the dialog's
// left and top change.
class CenterOnFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    Form = formtest::MakeForm(formtest::PlacementFormDesc());
    ASSERT_NE(Form->Handle(), nullptr);
  }
  void PlaceForm(int left, int top, int width, int height) {
    SetWindowPos(Form->Handle(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT r = formtest::WindowRect(Form->Handle());
    ASSERT_EQ(r.left, left);
    ASSERT_EQ(r.top, top);
    ASSERT_EQ(r.right - r.left, width);
    ASSERT_EQ(r.bottom - r.top, height);
  }
  // Centres a fresh dialog of the given outer size and returns where it went.
  RECT Center(int dialogWidth, int dialogHeight) {
    const TFormDesc desc = formtest::DialogFormDesc(dialogWidth, dialogHeight);
    auto dialog = formtest::MakeForm(desc);
    CenterOnForm(*Form, *dialog);
    EXPECT_FALSE(dialog->Visible());
    return formtest::WindowRect(dialog->Handle());
  }
  std::unique_ptr<TForm> Form;
};

TEST_F(CenterOnFormTest, CentresOverTheFormByOuterSizes) {
  PlaceForm(100, 60, 321, 250);
  RECT r = Center(296, 150);
  EXPECT_EQ(r.left, 112);
  EXPECT_EQ(r.top, 110);
  EXPECT_EQ(r.right - r.left, 296);
  EXPECT_EQ(r.bottom - r.top, 150);
  // The form itself is left where it was.
  RECT f = formtest::WindowRect(Form->Handle());
  EXPECT_EQ(f.left, 100);
  EXPECT_EQ(f.top, 60);
}

TEST_F(CenterOnFormTest, KeptOffTheLeftAndTopEdgesOnly) {
  {
    SCOPED_TRACE("dialog wider than the form near the left edge");
    PlaceForm(10, 300, 200, 250);
    RECT r = Center(305, 150);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 350);
    EXPECT_EQ(r.right - r.left, 305);
  }
  {
    SCOPED_TRACE("form partly beyond the top left");
    PlaceForm(-250, -200, 321, 250);
    RECT r = Center(296, 150);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
  }
  {
    SCOPED_TRACE("form near the right and bottom edges");
    const int screenW = GetSystemMetrics(SM_CXSCREEN);
    const int screenH = GetSystemMetrics(SM_CYSCREEN);
    PlaceForm(screenW - 100, screenH - 60, 321, 250);
    RECT r = Center(296, 150);
    EXPECT_EQ(r.left, screenW - 100 + 12);
    EXPECT_EQ(r.top, screenH - 60 + 50);
    EXPECT_GT(r.right, screenW);
    EXPECT_GT(r.bottom, screenH);
  }
}

}  // namespace
