#include "runtime/msgbox.h"

#include <windows.h>

#include <vector>

#include "runtime/application.h"

namespace {
// SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE: only the position changes.
constexpr UINT MoveOnly = 0x1D;

// The box comes up near its owner, so the zero-size taskbar window is carried to the
// monitor the user is working on for as long as the box shows.
class TOwnerOnActiveMonitor {
public:
  TOwnerOnActiveMonitor(HWND owner, HWND active) {
    // With no active window there is no monitor to follow; the box shows where it would.
    if (!owner || !active) return;
    const HMONITOR target = MonitorFromWindow(active, MONITOR_DEFAULTTONEAREST);
    if (target == MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)) return;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(target, &info) || !GetWindowRect(owner, &FRect)) return;
    const int x = info.rcMonitor.left + (info.rcMonitor.right - info.rcMonitor.left) / 2;
    const int y = info.rcMonitor.top + (info.rcMonitor.bottom - info.rcMonitor.top) / 2;
    if (SetWindowPos(owner, nullptr, x, y, 0, 0, MoveOnly)) FOwner = owner;
  }
  ~TOwnerOnActiveMonitor() {
    // Back to the remembered top-left corner. For the zero-size taskbar window that is
    // also the centre of its rectangle; for a window with a size it is the only place
    // that puts it back where it was.
    if (FOwner && IsWindow(FOwner)) SetWindowPos(FOwner, nullptr, FRect.left, FRect.top, 0, 0, MoveOnly);
  }
  TOwnerOnActiveMonitor(const TOwnerOnActiveMonitor&) = delete;
  TOwnerOnActiveMonitor& operator=(const TOwnerOnActiveMonitor&) = delete;

private:
  HWND FOwner = nullptr;
  RECT FRect{};
};

// The program's other windows stay disabled while the box shows; those that still
// exist afterwards are enabled again.
class TTaskWindowsDisabled {
public:
  // The owner is left to the box, which disables it itself and enables it again before
  // it goes, so the activation stays inside the program when the box closes.
  explicit TTaskWindowsDisabled(HWND owner) : FWindows(DisableTaskWindows(owner)) {}
  ~TTaskWindowsDisabled() { EnableTaskWindows(FWindows); }
  TTaskWindowsDisabled(const TTaskWindowsDisabled&) = delete;
  TTaskWindowsDisabled& operator=(const TTaskWindowsDisabled&) = delete;

private:
  std::vector<HWND> FWindows;
};

// Gives the activation back to the window that had it before the box.
class TReactivate {
public:
  explicit TReactivate(HWND window) : FWindow(window) {}
  ~TReactivate() {
    // A window destroyed while the box showed cannot be activated; the system's choice
    // stands then, as it does when no window of the thread was active.
    if (FWindow && IsWindow(FWindow)) SetActiveWindow(FWindow);
  }
  TReactivate(const TReactivate&) = delete;
  TReactivate& operator=(const TReactivate&) = delete;

private:
  HWND FWindow;
};
}  // namespace

int AppMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  const HWND active = GetActiveWindow();
  const HWND owner = Application.Handle();
  // Declared in the reverse of the order they are undone in: the owner goes back first,
  // then the windows are enabled, then the remembered window is activated.
  TReactivate reactivate(active);
  TTaskWindowsDisabled disabled(owner);
  TOwnerOnActiveMonitor moved(owner, active);
  return MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}
