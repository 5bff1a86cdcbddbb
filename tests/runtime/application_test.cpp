// Taking in the user's input between two pieces of work: keyboard and client-area mouse
// messages only, in the order they came, up to the first message of another kind.
#include "runtime/application.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<UINT>& Seen() {
  static std::vector<UINT> seen;
  return seen;
}

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT || message == WM_APP || (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
      (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST))
    Seen().push_back(message);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class ProcessInputTest : public ::testing::Test {
protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &RecordingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "GlyphdockInputTest";
    RegisterClassA(&wc);
    FWindow = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                              nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(FWindow, nullptr);
    // Nothing left from the window's creation.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Seen().clear();
  }
  void TearDown() override {
    if (FWindow) DestroyWindow(FWindow);
    UnregisterClassA("GlyphdockInputTest", GetModuleHandleA(nullptr));
  }
  HWND FWindow = nullptr;
};

TEST_F(ProcessInputTest, TakesKeysAndClicksInOrderAndStopsAtTheFirstOtherMessage) {
  // F5 makes no character, so nothing is added to the queue while it is handled.
  PostMessageA(FWindow, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
  PostMessageA(FWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  PostMessageA(FWindow, WM_KEYDOWN, VK_F5, 1);
  PostMessageA(FWindow, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
  PostMessageA(FWindow, WM_APP, 0, 0);
  PostMessageA(FWindow, WM_KEYUP, VK_F5, 0xC0000001);
  InvalidateRect(FWindow, nullptr, TRUE);  // a paint is waiting too

  Application.ProcessInput();
  EXPECT_EQ(Seen(), (std::vector<UINT>{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_KEYDOWN, WM_LBUTTONUP}));

  // What follows stays queued, in order, for the message loop.
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYUP));

  // With the other message gone, the rest of the input is taken in; the paint never is.
  Seen().clear();
  PostMessageA(FWindow, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  Application.ProcessInput();
  EXPECT_EQ(Seen(), (std::vector<UINT>{WM_RBUTTONDOWN}));
  EXPECT_TRUE(GetUpdateRect(FWindow, nullptr, FALSE));
}

}  // namespace
