// Restoring and storing the main window's placement, on a real window, with
// HKEY_CURRENT_USER redirected to a scratch key of this process.
#include <gtest/gtest.h>

#include <string>

#include "common/common.h"
#include "common/registry_scope.h"
#include "common/registry_trace.h"
#include "common/test_forms.h"

using namespace regtest;
using namespace formtest;

namespace {

// Where the settings land inside the scratch key while it stands in for the current user.
constexpr char kStatus[] = "Software\\Quillfen\\Glyphdock\\Status";

class PlacementTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Form = MakeForm(PlacementFormDesc());
    ASSERT_NE(Form->Handle(), nullptr);
    Designed = WindowRect(Form->Handle());
  }
  void Store(const char* name, int value) {
    ASSERT_EQ(WriteRawDword(Scratch.Get(), kStatus, name, value),
              ERROR_SUCCESS);
  }
  void StoreAll(int top, int left, int width, int height) {
    Store("Top", top);
    Store("Left", left);
    Store("Width", width);
    Store("Height", height);
  }
  void ExpectBounds(int left, int top, int width, int height) {
    RECT r = WindowRect(Form->Handle());
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
  }
  int DesignedWidth() const { return Designed.right - Designed.left; }
  int DesignedHeight() const { return Designed.bottom - Designed.top; }
  static bool ScreenIs1024x768() {
    return GetSystemMetrics(SM_CXSCREEN) == 1024 && GetSystemMetrics(SM_CYSCREEN) == 768;
  }
  int StoredValue(const char* name) {
    TRawValue raw = ReadRaw(Scratch.Get(), kStatus, name);
    EXPECT_TRUE(raw.Exists) << name;
    EXPECT_EQ(raw.Type, static_cast<DWORD>(REG_DWORD)) << name;
    return DwordOf(raw);
  }

  TScratchKey Scratch{true};
  std::unique_ptr<TForm> Form;
  RECT Designed{};
};

TEST_F(PlacementTest, FirstRunOpensAtTheOriginWithTheDesignedSizeAndCloseStoresAll) {
  ASSERT_EQ(Designed.left, 200);
  ASSERT_EQ(DesignedWidth(), 321);
  RestorePlacement(*Form);
  ExpectBounds(0, 0, 321, 250);
  // Reading created nothing.
  EXPECT_FALSE(KeyExists(Scratch.Get(), kStatus));

  SetWindowPos(Form->Handle(), nullptr, 130, 70, 360, 280, SWP_NOZORDER | SWP_NOACTIVATE);
  StorePlacement(*Form);
  EXPECT_EQ(StoredValue("Top"), 70);
  EXPECT_EQ(StoredValue("Left"), 130);
  EXPECT_EQ(StoredValue("Width"), 360);
  EXPECT_EQ(StoredValue("Height"), 280);
  // The leading backslash was dropped: the key sits right under the (redirected) root.
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kStatus));
  EXPECT_TRUE(KeyExists(Scratch.Get(), kStatus));

  // And the next run opens where this one closed.
  auto next = MakeForm(PlacementFormDesc());
  RestorePlacement(*next);
  RECT r = WindowRect(next->Handle());
  EXPECT_EQ(r.left, 130);
  EXPECT_EQ(r.top, 70);
  EXPECT_EQ(r.right - r.left, 360);
  EXPECT_EQ(r.bottom - r.top, 280);
}

TEST_F(PlacementTest, MissingOrUnreadableValuesActAsZero) {
  // Width missing: the rest applies, the width stays as designed.
  Store("Top", 40);
  Store("Left", 50);
  Store("Height", 200);
  RestorePlacement(*Form);
  ExpectBounds(50, 40, DesignedWidth(), 200);

  // Top stored as text reads as 0.
  const char text[] = "120";
  ASSERT_EQ(WriteRaw(Scratch.Get(), kStatus, "Top", REG_SZ, text,
                     sizeof(text)),
            ERROR_SUCCESS);
  Store("Width", 300);
  RestorePlacement(*Form);
  ExpectBounds(50, 0, 300, 200);
}

TEST_F(PlacementTest, NonPositiveSizesKeepTheDesign) {
  StoreAll(20, 30, 0, -40);
  RestorePlacement(*Form);
  ExpectBounds(30, 20, DesignedWidth(), DesignedHeight());
  StoreAll(20, 30, -1, 0);
  RestorePlacement(*Form);
  ExpectBounds(30, 20, DesignedWidth(), DesignedHeight());
}

TEST_F(PlacementTest, RestoredPlacementIsClampedToThePrimaryScreen) {
  if (!ScreenIs1024x768())
    GTEST_SKIP() << "needs a 1024 x 768 primary screen, this one is " << GetSystemMetrics(SM_CXSCREEN)
                 << " x " << GetSystemMetrics(SM_CYSCREEN);
  {
    SCOPED_TRACE("top beyond the screen");
    StoreAll(900, 100, 400, 300);
    RestorePlacement(*Form);
    ExpectBounds(100, 0, 400, 300);
  }
  {
    SCOPED_TRACE("cut at the right and bottom");
    StoreAll(600, 900, 400, 300);
    RestorePlacement(*Form);
    ExpectBounds(900, 600, 124, 168);
  }
  {
    SCOPED_TRACE("top equal to the screen height");
    auto fresh = MakeForm(PlacementFormDesc());
    Form.swap(fresh);
    StoreAll(768, 10, 300, 200);
    RestorePlacement(*Form);
    ExpectBounds(10, 768, 300, DesignedHeight());
  }
  {
    SCOPED_TRACE("negative top");
    // A resizable window is held within the system's largest tracking size (about the
    // screen's), which would hide the applied height; a popup frame is not.
    static const TFormDesc popup = DialogFormDesc(300, 200);
    auto fresh = MakeForm(popup);
    Form.swap(fresh);
    StoreAll(-50, 10, 300, 900);
    RestorePlacement(*Form);
    ExpectBounds(10, -50, 300, 818);
  }
  {
    SCOPED_TRACE("near the 32-bit limits");
    StoreAll(500, 600, 0x7FFFFFFF, 0x7FFFFFFF);
    RestorePlacement(*Form);
    ExpectBounds(600, 500, 424, 268);
  }
}

TEST_F(PlacementTest, ValuesAreReadAndWrittenInOrderOneKeyCycleEach) {
  StoreAll(10, 20, 300, 200);
  const std::string path = kStatus;
  const char* const names[] = {"Top", "Left", "Width", "Height"};
  {
    TRegTrace trace;
    ASSERT_TRUE(trace.Active());
    RestorePlacement(*Form);
    const auto calls = trace.Calls();
    ASSERT_EQ(calls.size(), 12u);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(names[i]);
      const auto& open = calls[3 * i];
      EXPECT_EQ(open.Op, "open");
      EXPECT_EQ(open.Text, path);
      EXPECT_EQ(open.Access, static_cast<REGSAM>(KEY_ALL_ACCESS));
      EXPECT_EQ(calls[3 * i + 1].Op, "query");
      EXPECT_EQ(calls[3 * i + 1].Text, names[i]);
      EXPECT_EQ(calls[3 * i + 2].Op, "close");
      EXPECT_EQ(calls[3 * i + 2].Key, open.Key);
    }
  }
  ExpectBounds(20, 10, 300, 200);
  {
    TRegTrace trace;
    ASSERT_TRUE(trace.Active());
    StorePlacement(*Form);
    const auto calls = trace.Calls();
    ASSERT_EQ(calls.size(), 12u);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(names[i]);
      const auto& create = calls[3 * i];
      EXPECT_EQ(create.Op, "create");
      EXPECT_EQ(create.Text, path);
      EXPECT_EQ(create.Access, static_cast<REGSAM>(KEY_ALL_ACCESS));
      EXPECT_EQ(calls[3 * i + 1].Op, "set");
      EXPECT_EQ(calls[3 * i + 1].Text, names[i]);
      EXPECT_EQ(calls[3 * i + 1].Type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(calls[3 * i + 2].Op, "close");
      EXPECT_EQ(calls[3 * i + 2].Key, create.Key);
    }
  }
}

TEST_F(PlacementTest, StoreThatCannotCreateTheKeyWritesNothingAndGoesOn) {
  // The program's key path below a volatile key cannot be created.
  HKEY software = nullptr;
  ASSERT_EQ(RegCreateKeyExA(Scratch.Get(), "Software", 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &software, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(software);
  StorePlacement(*Form);
  EXPECT_FALSE(KeyExists(Scratch.Get(), "Software\\Quillfen"));
  EXPECT_TRUE(IsWindow(Form->Handle()));
}

TEST_F(PlacementTest, MaximizedWindowStoresItsMaximizedRectangle) {
  SetWindowPos(Form->Handle(), nullptr, 150, 90, 330, 260, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(Form->Handle(), SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(Form->Handle()));
  const RECT maximized = WindowRect(Form->Handle());
  ASSERT_FALSE(maximized.left == 150 && maximized.top == 90) << "maximize did not move the window";
  StorePlacement(*Form);
  EXPECT_EQ(StoredValue("Top"), maximized.top);
  EXPECT_EQ(StoredValue("Left"), maximized.left);
  EXPECT_EQ(StoredValue("Width"), maximized.right - maximized.left);
  EXPECT_EQ(StoredValue("Height"), maximized.bottom - maximized.top);

  // The next run shows a normal window over the clamped maximized rectangle.
  Form.reset();
  auto next = MakeForm(PlacementFormDesc());
  RestorePlacement(*next);
  EXPECT_FALSE(IsZoomed(next->Handle()));
  const TPlacement expected = ClampPlacement(
      TPlacement{maximized.top, maximized.left, maximized.right - maximized.left,
                 maximized.bottom - maximized.top},
      [] { return GetSystemMetrics(SM_CXSCREEN); }, [] { return GetSystemMetrics(SM_CYSCREEN); });
  RECT r = WindowRect(next->Handle());
  EXPECT_EQ(r.left, expected.Left);
  EXPECT_EQ(r.top, expected.Top);
  EXPECT_EQ(r.right - r.left, expected.Width);
  EXPECT_EQ(r.bottom - r.top, expected.Height);
}

TEST_F(PlacementTest, MinimizedWindowStoresItsRestoredRectangle) {
  SetWindowPos(Form->Handle(), nullptr, 140, 110, 340, 270, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(Form->Handle(), SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(Form->Handle()));
  const RECT iconic = WindowRect(Form->Handle());
  ASSERT_FALSE(iconic.left == 140 && iconic.top == 110) << "minimize did not move the window";
  StorePlacement(*Form);
  EXPECT_EQ(StoredValue("Top"), 110);
  EXPECT_EQ(StoredValue("Left"), 140);
  EXPECT_EQ(StoredValue("Width"), 340);
  EXPECT_EQ(StoredValue("Height"), 270);
}

// The restored rectangle of a minimized window comes in workspace coordinates; with a
// work area that does not start at the screen's corner they differ from screen ones.
TEST_F(PlacementTest, MinimizedWindowBelowAShiftedWorkAreaStoresScreenCoordinates) {
  RECT savedWork{};
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &savedWork, 0));
  RECT shifted{60, 40, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (!SystemParametersInfoA(SPI_SETWORKAREA, 0, &shifted, 0))
    GTEST_SKIP() << "the work area cannot be changed here";
  struct TRestoreWork {
    RECT Work;
    ~TRestoreWork() { SystemParametersInfoA(SPI_SETWORKAREA, 0, &Work, 0); }
  } restoreWork{savedWork};
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoA(MonitorFromWindow(Form->Handle(), MONITOR_DEFAULTTOPRIMARY), &info);
  if (info.rcWork.left != 60 || info.rcWork.top != 40)
    GTEST_SKIP() << "the monitor's work area did not follow the new setting";

  SetWindowPos(Form->Handle(), nullptr, 140, 110, 340, 270, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(Form->Handle(), SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(Form->Handle()));
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  ASSERT_TRUE(GetWindowPlacement(Form->Handle(), &placement));
  if (placement.rcNormalPosition.left == 140 && placement.rcNormalPosition.top == 110)
    GTEST_SKIP() << "this platform reports the restored rectangle in screen coordinates";
  StorePlacement(*Form);
  EXPECT_EQ(StoredValue("Top"), 110);
  EXPECT_EQ(StoredValue("Left"), 140);
  EXPECT_EQ(StoredValue("Width"), 340);
  EXPECT_EQ(StoredValue("Height"), 270);
}

}  // namespace
