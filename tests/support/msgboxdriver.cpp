#include "support/msgboxdriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {
// The driver whose hook answers boxes of this thread; an inner driver shadows an outer.
thread_local TMessageBoxDriver* CurrentDriver = nullptr;

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  const int length = GetWindowTextA(window, &text[0], static_cast<int>(text.size()));
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}

// The box is read while it is being activated, before it is shown: its controls are not
// visible yet, so their own style bit tells which ones the box uses.
bool Shown(HWND control) { return (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0; }

TBoxIcon IconKind(HICON icon) {
  if (!icon) return TBoxIcon::None;
  // Message boxes show the system's shared icons.
  if (icon == LoadIcon(nullptr, IDI_HAND)) return TBoxIcon::Error;
  if (icon == LoadIcon(nullptr, IDI_EXCLAMATION)) return TBoxIcon::Warning;
  if (icon == LoadIcon(nullptr, IDI_QUESTION)) return TBoxIcon::Question;
  if (icon == LoadIcon(nullptr, IDI_ASTERISK)) return TBoxIcon::Information;
  return TBoxIcon::Other;
}

constexpr int MessageTextId = 0xFFFF;  // the static that holds a message box's text
}  // namespace

bool TMessageBoxRecord::HasButton(int id) const {
  return std::find(Buttons.begin(), Buttons.end(), id) != Buttons.end();
}

bool ReadMessageBox(HWND box, TMessageBoxRecord& record) {
  if (!IsWindow(box) || ClassOf(box) != "#32770") return false;
  record = TMessageBoxRecord{};
  record.Handle = box;
  record.Owner = GetWindow(box, GW_OWNER);
  record.Caption = TextOf(box);
  std::vector<std::pair<LONG, int>> buttons;  // left edge, id
  std::string fallbackText;
  bool haveText = false;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string kind = ClassOf(child);
    const int id = GetDlgCtrlID(child);
    if (_stricmp(kind.c_str(), "Button") == 0) {
      if (!Shown(child)) continue;
      RECT rect{};
      GetWindowRect(child, &rect);
      buttons.emplace_back(rect.left, id);
    } else if (_stricmp(kind.c_str(), "Static") == 0) {
      const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
      if ((style & SS_TYPEMASK) == SS_ICON) {
        if (Shown(child)) {
          record.Icon = IconKind(reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)));
        }
      } else if (id == MessageTextId) {
        record.Text = TextOf(child);
        haveText = true;
      } else if (fallbackText.empty()) {
        fallbackText = TextOf(child);
      }
    } else {
      // A dialog with other controls (a file dialog, say) is no message box.
      return false;
    }
  }
  if (buttons.empty()) return false;
  if (!haveText) record.Text = fallbackText;
  std::sort(buttons.begin(), buttons.end());
  for (const auto& button : buttons) record.Buttons.push_back(button.second);
  return true;
}

TMessageBoxDriver::TMessageBoxDriver(int button) : TMessageBoxDriver(std::vector<int>{button}) {
  FRepeat = true;
}

TMessageBoxDriver::TMessageBoxDriver(std::vector<int> buttons) : FButtons(std::move(buttons)) {
  FOuter = CurrentDriver;
  CurrentDriver = this;
  FHook = SetWindowsHookExA(WH_CBT, &TMessageBoxDriver::HookProc, nullptr, GetCurrentThreadId());
  if (!FHook) ADD_FAILURE() << "the message box hook could not be set, error " << GetLastError();
}

TMessageBoxDriver::~TMessageBoxDriver() {
  if (FHook) UnhookWindowsHookEx(FHook);
  CurrentDriver = FOuter;
}

LRESULT CALLBACK TMessageBoxDriver::HookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (TMessageBoxDriver* driver = CurrentDriver) {
    const HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE) {
      if (std::find(driver->FSeen.begin(), driver->FSeen.end(), window) == driver->FSeen.end()) {
        driver->Handle(window);
      }
    } else if (code == HCBT_DESTROYWND) {
      // A later box may come back with the same handle value.
      driver->FSeen.erase(std::remove(driver->FSeen.begin(), driver->FSeen.end(), window), driver->FSeen.end());
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void TMessageBoxDriver::Handle(HWND box) {
  TMessageBoxRecord record;
  if (!ReadMessageBox(box, record)) return;
  FSeen.push_back(box);
  record.Pressed = NextButton(record);
  FBoxes.push_back(record);
  if (FOnShow) {
    // Nothing may be thrown through the system's hook call.
    try {
      FOnShow(FBoxes.back());
    } catch (const std::exception& e) {
      ADD_FAILURE() << "the message box callback threw: " << e.what();
    } catch (...) {
      ADD_FAILURE() << "the message box callback threw";
    }
  }
  // Posted: the box takes it in its own modal loop, once it is up.
  const int id = record.Pressed;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

int TMessageBoxDriver::NextButton(const TMessageBoxRecord& box) {
  int wanted = 0;
  if (FRepeat && !FButtons.empty()) {
    wanted = FButtons.front();
  } else if (FNext < FButtons.size()) {
    wanted = FButtons[FNext++];
  } else {
    ADD_FAILURE() << "an unexpected message box: \"" << box.Text << "\"";
    return box.Buttons.front();
  }
  if (!box.HasButton(wanted)) {
    ADD_FAILURE() << "the message box \"" << box.Text << "\" has no button " << wanted;
    return box.Buttons.front();
  }
  return wanted;
}
