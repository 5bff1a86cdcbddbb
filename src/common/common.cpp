// The settings store for the main window's placement, and the placing of the dialogs
// over the main window.
#include "common/common.h"

#include <climits>
#include <cstdint>

#include "runtime/failure.h"
#include "runtime/forms.h"
#include "runtime/owners.h"

namespace {

// A key path that begins with a backslash is taken from the root.
const char* SubKeyPath(const std::string& keyPath) {
  const char* path = keyPath.c_str();
  return path[0] == '\\' ? path + 1 : path;
}

int ClampToInt(std::int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int PrimaryScreenWidth() { return GetSystemMetrics(SM_CXSCREEN); }
int PrimaryScreenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

// The outer rectangle the window system keeps for the window right now: the maximized
// rectangle of a maximized window, the restored one of a minimized window.
RECT KeptBounds(HWND window) {
  RECT bounds{};
  if (!IsIconic(window)) {
    GetWindowRect(window, &bounds);
    return bounds;
  }
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  if (!GetWindowPlacement(window, &placement)) {
    GetWindowRect(window, &bounds);
    return bounds;
  }
  bounds = placement.rcNormalPosition;
  // The restored rectangle of a top-level window other than a tool window is kept in
  // workspace coordinates, which start at the work area's corner of its monitor rather
  // than at the screen's.
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
  if ((style & WS_CHILD) == 0 && (exStyle & WS_EX_TOOLWINDOW) == 0) {
    HMONITOR monitor = MonitorFromRect(&bounds, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor && GetMonitorInfoA(monitor, &info)) {
      OffsetRect(&bounds, info.rcWork.left - info.rcMonitor.left,
                 info.rcWork.top - info.rcMonitor.top);
    }
  }
  return bounds;
}

}  // namespace

int ReadRegInt(HKEY root, const std::string& keyPath, const std::string& name, int& value) {
  value = 0;
  TRegKey key;
  // All access although it only reads: a user who may only read the key reads nothing.
  if (RegOpenKeyExA(root, SubKeyPath(keyPath), 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS)
    return 1;
  try {
    DWORD type = 0;
    BYTE data[4] = {};
    DWORD size = sizeof(data);
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS)
      RaiseFmt(msg::RegReadFailed, name);
    // A REG_DWORD shorter than 4 bytes is as malformed as any other type: taking its
    // bytes would make up a number that was never stored.
    if (type != REG_DWORD || size != sizeof(data)) RaiseFmt(msg::RegTypeInvalid, name);
    value = static_cast<int>(static_cast<std::uint32_t>(data[0]) |
                             static_cast<std::uint32_t>(data[1]) << 8 |
                             static_cast<std::uint32_t>(data[2]) << 16 |
                             static_cast<std::uint32_t>(data[3]) << 24);
    return 0;
  } catch (const EFailure&) {
    // The routine reports by its result; the text never reaches the user.
    return 1;
  }
}

int WriteRegInt(HKEY root, const std::string& keyPath, const std::string& name, int value) {
  TRegKey key;
  if (RegCreateKeyExA(root, SubKeyPath(keyPath), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
    return 1;
  try {
    const DWORD data = static_cast<DWORD>(value);
    if (RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&data), sizeof(data)) != ERROR_SUCCESS)
      RaiseFmt(msg::RegWriteFailed, name);
    return 0;
  } catch (const EFailure&) {
    return 1;
  }
}

TPlacement ClampPlacement(TPlacement p, int (*screenWidth)(), int (*screenHeight)()) {
  // Comparisons are signed; the sums are formed in 64 bits so hand-edited values near
  // the limits cannot wrap. Each rule sees what the earlier ones left.
  if (p.Top > screenHeight()) p.Top = 0;
  if (p.Left > screenWidth()) p.Left = 0;
  {
    const std::int64_t height = screenHeight();
    if (static_cast<std::int64_t>(p.Top) + p.Height > height) p.Height = ClampToInt(height - p.Top);
  }
  {
    const std::int64_t width = screenWidth();
    if (static_cast<std::int64_t>(p.Left) + p.Width > width) p.Width = ClampToInt(width - p.Left);
  }
  return p;
}

void RestorePlacement(TForm& form) {
  // The results are not looked at: a value that could not be read is 0.
  TPlacement p{};
  ReadRegInt(HKEY_CURRENT_USER, SettingsKey, "Top", p.Top);
  ReadRegInt(HKEY_CURRENT_USER, SettingsKey, "Left", p.Left);
  ReadRegInt(HKEY_CURRENT_USER, SettingsKey, "Width", p.Width);
  ReadRegInt(HKEY_CURRENT_USER, SettingsKey, "Height", p.Height);
  p = ClampPlacement(p, PrimaryScreenWidth, PrimaryScreenHeight);
  form.SetTop(p.Top);
  form.SetLeft(p.Left);
  // A size that is not positive keeps the designed one.
  if (p.Width > 0) form.SetWidth(p.Width);
  if (p.Height > 0) form.SetHeight(p.Height);
}

void StorePlacement(TForm& form) {
  const RECT bounds = KeptBounds(form.Handle());
  // A failed write stops neither the later writes nor the close.
  WriteRegInt(HKEY_CURRENT_USER, SettingsKey, "Top", bounds.top);
  WriteRegInt(HKEY_CURRENT_USER, SettingsKey, "Left", bounds.left);
  WriteRegInt(HKEY_CURRENT_USER, SettingsKey, "Width", bounds.right - bounds.left);
  WriteRegInt(HKEY_CURRENT_USER, SettingsKey, "Height", bounds.bottom - bounds.top);
}

POINT CenteredPosition(int formLeft, int formTop, int formWidth, int formHeight, int dialogWidth,
                       int dialogHeight) {
  // Division of a signed 64-bit difference truncates toward zero (-105 / 2 == -52), and
  // no size, however odd, can wrap; a position beyond the int range is held at its edge.
  const std::int64_t left =
      formLeft + (static_cast<std::int64_t>(formWidth) - dialogWidth) / 2;
  const std::int64_t top =
      formTop + (static_cast<std::int64_t>(formHeight) - dialogHeight) / 2;
  POINT result{ClampToInt(left), ClampToInt(top)};
  // Kept off the left and top edges only; the right and bottom may be passed.
  if (result.x < 0) result.x = 0;
  if (result.y < 0) result.y = 0;
  return result;
}

void CenterOnForm(TForm& form, TForm& dialog) {
  const POINT position = CenteredPosition(form.Left(), form.Top(), form.Width(), form.Height(),
                                          dialog.Width(), dialog.Height());
  dialog.SetLeft(position.x);
  dialog.SetTop(position.y);
}
