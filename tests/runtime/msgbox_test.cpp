// The application message box and the driver that answers message boxes in tests.
#include "runtime/msgbox.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "runtime/application.h"
#include "support/msgboxdriver.h"

namespace {
constexpr char TestWindowClass[] = "GdMsgBoxTestWindow";

LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A plain top-level window of the test thread, destroyed with the object.
class TTestWindow {
public:
  explicit TTestWindow(bool visible = true, int left = 100, int top = 100) {
    WNDCLASSA wc{};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), TestWindowClass, &wc)) {
      wc = WNDCLASSA{};
      wc.lpfnWndProc = &TestWindowProc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = TestWindowClass;
      RegisterClassA(&wc);
    }
    FHandle = CreateWindowExA(0, TestWindowClass, "test", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), left,
                              top, 200, 120, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  ~TTestWindow() {
    if (IsWindow(FHandle)) DestroyWindow(FHandle);
  }
  TTestWindow(const TTestWindow&) = delete;
  TTestWindow& operator=(const TTestWindow&) = delete;
  HWND Handle() const { return FHandle; }

private:
  HWND FHandle = nullptr;
};

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

class AppMessageBoxTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The boxes are owned by the taskbar window; the tests make one when no other test
    // of this executable has.
    if (!Application.Handle()) {
      Application.Initialize(GetModuleHandleA(nullptr), "MsgBoxTest");
      FInitialized = true;
    }
    ASSERT_NE(Application.Handle(), nullptr);
  }
  void TearDown() override {
    PumpMessages();
    if (FInitialized) Application.Finalize();
  }

private:
  bool FInitialized = false;
};
}  // namespace

TEST_F(AppMessageBoxTest, ShowsTextAndCaptionOwnedByTheTaskbarWindow) {
  TMessageBoxDriver driver(IDOK);
  EXPECT_EQ(AppMessageBox("ファイルを上書きしますか?", "見出し", MB_OK | MB_ICONWARNING), IDOK);
  ASSERT_EQ(driver.Count(), 1);
  const TMessageBoxRecord& box = driver.Boxes()[0];
  EXPECT_EQ(box.Text, "ファイルを上書きしますか?");
  EXPECT_EQ(box.Caption, "見出し");
  EXPECT_EQ(box.Owner, Application.Handle());
  EXPECT_EQ(box.Icon, TBoxIcon::Warning);
  EXPECT_EQ(box.Buttons, std::vector<int>{IDOK});
}

TEST_F(AppMessageBoxTest, ReturnsThePressedButton) {
  {
    TMessageBoxDriver driver(IDCANCEL);
    EXPECT_EQ(AppMessageBox("question", "caption", 257), IDCANCEL);
    ASSERT_EQ(driver.Count(), 1);
    EXPECT_EQ(driver.Boxes()[0].Buttons, (std::vector<int>{IDOK, IDCANCEL}));
  }
  {
    TMessageBoxDriver driver(IDOK);
    EXPECT_EQ(AppMessageBox("question", "caption", 257), IDOK);
    EXPECT_EQ(driver.Count(), 1);
  }
  {
    TMessageBoxDriver driver(IDNO);
    EXPECT_EQ(AppMessageBox("question", "caption", MB_YESNO | MB_ICONQUESTION), IDNO);
    ASSERT_EQ(driver.Count(), 1);
    EXPECT_EQ(driver.Boxes()[0].Icon, TBoxIcon::Question);
  }
}

TEST_F(AppMessageBoxTest, DisablesTheThreadsVisibleWindowsWhileTheBoxShows) {
  TTestWindow first, second(true, 320, 100);
  TTestWindow hidden(false);
  TTestWindow alreadyDisabled(true, 540, 100);
  EnableWindow(alreadyDisabled.Handle(), FALSE);

  TMessageBoxDriver driver(IDOK);
  int checked = 0;
  driver.OnShow([&](const TMessageBoxRecord&) {
    ++checked;
    EXPECT_FALSE(IsWindowEnabled(first.Handle()));
    EXPECT_FALSE(IsWindowEnabled(second.Handle()));
    EXPECT_TRUE(IsWindowEnabled(hidden.Handle())) << "a hidden window is left alone";
    EXPECT_FALSE(IsWindowEnabled(alreadyDisabled.Handle()));
  });
  AppMessageBox("text", "caption", MB_OK);
  EXPECT_EQ(checked, 1);
  EXPECT_TRUE(IsWindowEnabled(first.Handle()));
  EXPECT_TRUE(IsWindowEnabled(second.Handle()));
  EXPECT_TRUE(IsWindowEnabled(hidden.Handle()));
  EXPECT_FALSE(IsWindowEnabled(alreadyDisabled.Handle())) << "a window disabled before stays disabled";
}

TEST_F(AppMessageBoxTest, EnablesOnlyTheWindowsItDisabledThatStillExist) {
  TTestWindow kept;
  auto doomed = std::make_unique<TTestWindow>(true, 320, 100);
  std::unique_ptr<TTestWindow> bornDisabled;
  TMessageBoxDriver driver(IDOK);
  driver.OnShow([&](const TMessageBoxRecord&) {
    doomed.reset();
    // A window that comes up disabled while the box shows was never the box's to enable.
    bornDisabled = std::make_unique<TTestWindow>(true, 540, 100);
    EnableWindow(bornDisabled->Handle(), FALSE);
  });
  AppMessageBox("text", "caption", MB_OK);
  ASSERT_EQ(driver.Count(), 1);
  ASSERT_TRUE(bornDisabled);
  EXPECT_TRUE(IsWindowEnabled(kept.Handle()));
  EXPECT_FALSE(IsWindowEnabled(bornDisabled->Handle()));
}

TEST_F(AppMessageBoxTest, TheActiveWindowIsActiveAgainAfterwards) {
  TTestWindow first, second(true, 320, 100);
  for (HWND target : {second.Handle(), first.Handle()}) {
    SetForegroundWindow(target);
    SetActiveWindow(target);
    PumpMessages();
    ASSERT_EQ(GetActiveWindow(), target);
    TMessageBoxDriver driver(IDOK);
    HWND activeDuringBox = nullptr;
    driver.OnShow([&](const TMessageBoxRecord& box) { activeDuringBox = box.Handle; });
    AppMessageBox("text", "caption", MB_OK);
    ASSERT_EQ(driver.Count(), 1);
    EXPECT_NE(activeDuringBox, target);
    EXPECT_EQ(GetActiveWindow(), target);
  }
}

// Keeps the system from making any dialog window while it lives, so MessageBoxA fails.
class TDialogRefusal {
public:
  TDialogRefusal() : FHook(SetWindowsHookExA(WH_CBT, &Refuse, nullptr, GetCurrentThreadId())) {}
  ~TDialogRefusal() {
    if (FHook) UnhookWindowsHookEx(FHook);
  }
  TDialogRefusal(const TDialogRefusal&) = delete;
  TDialogRefusal& operator=(const TDialogRefusal&) = delete;
  explicit operator bool() const { return FHook != nullptr; }

private:
  static LRESULT CALLBACK Refuse(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
      const LPCSTR name = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs->lpszClass;
      const bool dialog = IS_INTRESOURCE(name) ? LOWORD(reinterpret_cast<ULONG_PTR>(name)) == 0x8002
                                               : lstrcmpiA(name, "#32770") == 0;
      if (dialog) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  HHOOK FHook;
};

TEST_F(AppMessageBoxTest, AFailedBoxStillGivesTheWindowsBack) {
  TTestWindow window, other(true, 320, 100);
  SetActiveWindow(window.Handle());
  ASSERT_EQ(GetActiveWindow(), window.Handle());
  int result = IDOK;
  int direct = IDOK;
  {
    TMessageBoxDriver driver(IDOK);
    TDialogRefusal refusal;
    ASSERT_TRUE(refusal);
    direct = MessageBoxA(Application.Handle(), "text", "caption", MB_OK);
    result = AppMessageBox("text", "caption", MB_OK);
    EXPECT_EQ(driver.Count(), 0);
  }
  // The failed box's own result (0 on some platforms, -1 on others) is passed on.
  EXPECT_NE(direct, IDOK);
  EXPECT_EQ(result, direct);
  EXPECT_TRUE(IsWindowEnabled(window.Handle()));
  EXPECT_TRUE(IsWindowEnabled(other.Handle()));
  EXPECT_EQ(GetActiveWindow(), window.Handle());
}

// With two monitors the zero-size taskbar window is carried to the centre of the active
// window's monitor while the box shows, and put back afterwards.
TEST_F(AppMessageBoxTest, TheBoxFollowsTheActiveWindowsMonitor) {
  if (GetSystemMetrics(SM_CMONITORS) < 2) GTEST_SKIP() << "one monitor only";
  struct TFound {
    std::vector<RECT> Rects;
  } found;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR, HDC, LPRECT rect, LPARAM param) -> BOOL {
        reinterpret_cast<TFound*>(param)->Rects.push_back(*rect);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  ASSERT_GE(found.Rects.size(), 2u);
  const HWND taskbar = Application.Handle();
  RECT before{};
  GetWindowRect(taskbar, &before);
  const HMONITOR taskbarMonitor = MonitorFromWindow(taskbar, MONITOR_DEFAULTTONEAREST);
  // The active window goes onto a monitor other than the taskbar window's.
  RECT other{};
  for (const RECT& rect : found.Rects) {
    if (MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST) != taskbarMonitor) other = rect;
  }
  ASSERT_NE(other.right, other.left);
  TTestWindow window(true, other.left + 20, other.top + 20);
  SetActiveWindow(window.Handle());
  ASSERT_EQ(GetActiveWindow(), window.Handle());

  TMessageBoxDriver driver(IDOK);
  RECT during{};
  driver.OnShow([&](const TMessageBoxRecord&) { GetWindowRect(taskbar, &during); });
  AppMessageBox("text", "caption", MB_OK);
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_EQ(during.left, other.left + (other.right - other.left) / 2);
  EXPECT_EQ(during.top, other.top + (other.bottom - other.top) / 2);
  EXPECT_EQ(during.right - during.left, before.right - before.left) << "the size is kept";
  RECT after{};
  GetWindowRect(taskbar, &after);
  EXPECT_TRUE(EqualRect(&after, &before));
}

TEST_F(AppMessageBoxTest, OnOneMonitorTheTaskbarWindowStaysPut) {
  const HWND taskbar = Application.Handle();
  TTestWindow window;
  SetActiveWindow(window.Handle());
  RECT before{};
  GetWindowRect(taskbar, &before);
  if (MonitorFromWindow(window.Handle(), MONITOR_DEFAULTTONEAREST) !=
      MonitorFromWindow(taskbar, MONITOR_DEFAULTTONEAREST)) {
    GTEST_SKIP() << "the window and the taskbar window are on different monitors";
  }
  TMessageBoxDriver driver(IDOK);
  RECT during{};
  driver.OnShow([&](const TMessageBoxRecord&) { GetWindowRect(taskbar, &during); });
  AppMessageBox("text", "caption", MB_OK);
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_TRUE(EqualRect(&during, &before));
}

// The driver itself: everyone's tests lean on it.
TEST_F(AppMessageBoxTest, DriverAnswersASequenceOfBoxesInTurn) {
  TMessageBoxDriver driver({IDYES, IDNO, IDCANCEL});
  EXPECT_EQ(AppMessageBox("one", "c", MB_YESNOCANCEL), IDYES);
  EXPECT_EQ(AppMessageBox("two", "c", MB_YESNOCANCEL | MB_ICONINFORMATION), IDNO);
  EXPECT_EQ(AppMessageBox("three", "c", MB_YESNOCANCEL | MB_ICONERROR), IDCANCEL);
  ASSERT_EQ(driver.Count(), 3);
  EXPECT_EQ(driver.Boxes()[0].Text, "one");
  EXPECT_EQ(driver.Boxes()[0].Icon, TBoxIcon::None);
  EXPECT_EQ(driver.Boxes()[0].Buttons, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(driver.Boxes()[1].Icon, TBoxIcon::Information);
  EXPECT_EQ(driver.Boxes()[2].Icon, TBoxIcon::Error);
  EXPECT_EQ(driver.Boxes()[2].Pressed, IDCANCEL);
}

TEST_F(AppMessageBoxTest, DriverReportsAnUnexpectedBoxAndStillClosesIt) {
  int result = 0;
  {
    TMessageBoxDriver driver(std::vector<int>{});
    // The stray box must not hang the test: the driver closes it with its first button.
    EXPECT_NONFATAL_FAILURE(result = AppMessageBox("stray", "c", MB_OKCANCEL), "unexpected message box");
    EXPECT_EQ(driver.Count(), 1);
  }
  EXPECT_EQ(result, IDOK);
  {
    TMessageBoxDriver driver(IDYES);
    EXPECT_NONFATAL_FAILURE(result = AppMessageBox("no yes here", "c", MB_OK), "has no button");
  }
  EXPECT_EQ(result, IDOK);
}

TEST_F(AppMessageBoxTest, AnInnerDriverAnswersWhileItLives) {
  TMessageBoxDriver outer(IDCANCEL);
  {
    TMessageBoxDriver inner(IDOK);
    EXPECT_EQ(AppMessageBox("inner", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(inner.Count(), 1);
  }
  EXPECT_EQ(AppMessageBox("outer", "c", MB_OKCANCEL), IDCANCEL);
  ASSERT_EQ(outer.Count(), 1);
  EXPECT_EQ(outer.Boxes()[0].Text, "outer");
}
