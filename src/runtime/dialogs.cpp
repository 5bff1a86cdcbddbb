#include "runtime/dialogs.h"

#include <commdlg.h>

#include <vector>

namespace {
// The open dialog's name buffer when several files may be selected.
constexpr DWORD NameBufferSize = 65519;

// True when text ends in a single-byte backslash (a CP932 trail byte 0x5C is not one).
bool EndsWithSeparator(const std::string& text) {
  bool last = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (IsDBCSLeadByteEx(932, b) && i + 1 < text.size()) {
      ++i;
      last = false;
    } else {
      last = (b == '\\' || b == '/');
    }
  }
  return last;
}

bool PrecedingIsColon(const std::string& text) {
  return text.size() >= 2 && text[text.size() - 2] == ':';
}

// Places the dialog horizontally centred on its owner's monitor, its top a third of the
// free height below the monitor's top.
UINT_PTR CALLBACK PlaceDialogHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == CDN_INITDONE) {
    HWND dialog = GetParent(hook);
    HWND owner = GetWindow(dialog, GW_OWNER);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST), &info)) {
      RECT r{};
      GetWindowRect(dialog, &r);
      const int width = r.right - r.left, height = r.bottom - r.top;
      const RECT& m = info.rcMonitor;
      const int left = m.left + ((m.right - m.left) - width) / 2;
      const int top = m.top + ((m.bottom - m.top) - height) / 3;
      SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  return 0;
}
}  // namespace

void TFileDialog::SetInitialDir(const std::string& folder) {
  std::string dir = folder;
  if (dir.size() > 1 && EndsWithSeparator(dir) && !PrecedingIsColon(dir)) dir.pop_back();
  InitialDir = dir;
}

bool TFileDialog::Execute(HWND owner) {
  // "Text|*.ext|..." becomes NUL-separated pairs ending in a double NUL.
  std::string filter = Filter;
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  filter.append(2, '\0');

  std::vector<char> names(NameBufferSize + 1, '\0');
  FileName.copy(names.data(), std::min<std::size_t>(FileName.size(), NameBufferSize));

  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
  ofn.lpstrFile = names.data();
  ofn.nMaxFile = NameBufferSize;
  ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
  ofn.Flags = Options | OFN_EXPLORER | OFN_ENABLEHOOK;
  ofn.lpfnHook = &PlaceDialogHook;

  const BOOL ok = FKind == TKind::Open ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn);
  // A cancel, and a selection whose names do not fit the buffer, change nothing.
  if (!ok) return false;
  FilterIndex = static_cast<int>(ofn.nFilterIndex);

  Files.clear();
  const char* first = names.data();
  const std::string folderOrName(first);
  const char* next = first + folderOrName.size() + 1;
  if ((Options & OFN_ALLOWMULTISELECT) && *next != '\0') {
    // Several files: the folder, then each file name.
    for (; *next != '\0'; next += std::string(next).size() + 1) {
      std::string full = folderOrName;
      if (!EndsWithSeparator(full)) full += '\\';
      full += next;
      Files.push_back(std::move(full));
    }
  } else {
    Files.push_back(folderOrName);
  }
  FileName = Files.front();
  return true;
}
