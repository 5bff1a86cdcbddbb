#include "runtime/dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <vector>

#include "runtime/filenames.h"

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
  FDocumentsPending = false;
}

void TFileDialog::SetInitialDirToDocuments() {
  InitialDir.clear();
  FDocumentsPending = true;
}

bool TFileDialog::Execute(HWND owner) {
  if (FDocumentsPending) {
    FDocumentsPending = false;
    wchar_t documents[MAX_PATH] = {};
    // Without a documents folder the dialog opens where the platform chooses. The folder
    // is asked for in full, so that a user name the code page cannot spell still works.
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)))
      InitialDir = NarrowFileName(documents);
  }
  // "Text|*.ext|..." becomes NUL-separated pairs ending in a double NUL.
  std::string filter = Filter;
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  filter.append(2, '\0');
  return FKind == TKind::Open ? ExecuteOpen(owner, filter) : ExecuteSave(owner, filter);
}

bool TFileDialog::ExecuteOpen(HWND owner, const std::string& filter) {
  const std::wstring wideFilter = WideText(filter);
  const std::wstring initialDir = WideText(InitialDir);
  const std::wstring offered = WideText(FileName);
  std::vector<wchar_t> names(NameBufferSize + 1, L'\0');
  offered.copy(names.data(), std::min<std::size_t>(offered.size(), NameBufferSize));

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = wideFilter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
  ofn.lpstrFile = names.data();
  ofn.nMaxFile = NameBufferSize;
  ofn.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
  ofn.Flags = Options | OFN_EXPLORER | OFN_ENABLEHOOK;
  ofn.lpfnHook = &PlaceDialogHook;
  // A cancel, and a selection whose names do not fit the buffer, change nothing.
  if (!GetOpenFileNameW(&ofn)) return false;
  FilterIndex = static_cast<int>(ofn.nFilterIndex);

  Files.clear();
  const wchar_t* first = names.data();
  const std::wstring folderOrName(first);
  const wchar_t* next = first + folderOrName.size() + 1;
  if ((Options & OFN_ALLOWMULTISELECT) && *next != L'\0') {
    // Several files: the folder, then each file name; each full name is made narrow.
    const bool separated = !folderOrName.empty() && (folderOrName.back() == L'\\' || folderOrName.back() == L'/');
    for (; *next != L'\0'; next += std::wstring(next).size() + 1) {
      Files.push_back(NarrowFileName(folderOrName + (separated ? L"" : L"\\") + next));
    }
  } else {
    Files.push_back(NarrowFileName(folderOrName));
  }
  FileName = Files.front();
  return true;
}

bool TFileDialog::ExecuteSave(HWND owner, const std::string& filter) {
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
  if (!GetSaveFileNameA(&ofn)) return false;
  FilterIndex = static_cast<int>(ofn.nFilterIndex);
  Files.assign(1, std::string(names.data()));
  FileName = Files.front();
  return true;
}
