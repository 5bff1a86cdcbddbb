#include "support/dialogdriver.h"

#include <dlgs.h>

#include <vector>

namespace {

std::string WindowText(HWND window) {
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

bool IsClass(HWND window, const char* name) {
  char text[64] = {};
  GetClassNameA(window, text, sizeof text);
  return lstrcmpiA(text, name) == 0;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !IsClass(window, "#32770"))
    return TRUE;
  if (FileNameEdit(window) == nullptr) return TRUE;  // a message box, not a file dialog
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

HWND FindProcessFileDialog() {
  HWND found = nullptr;
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FileNameEdit(HWND dialog) {
  // The explorer-style dialog takes the name from the edit of its combo box; older
  // templates have a plain edit control.
  if (HWND combo = GetDlgItem(dialog, cmb13)) {
    if (IsClass(combo, "Edit")) return combo;
    if (HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr)) return edit;
    if (HWND inner = FindWindowExA(combo, nullptr, "ComboBox", nullptr))
      if (HWND edit = FindWindowExA(inner, nullptr, "Edit", nullptr)) return edit;
  }
  if (HWND edit = GetDlgItem(dialog, edt1)) {
    if (IsWindowVisible(edit)) return edit;
  }
  return nullptr;
}

TFileDialogDriver::TFileDialogDriver(std::string fileName, TAction action, int filterIndex, DWORD timeoutMs)
    : FFileName(std::move(fileName)), FAction(action), FFilterIndex(filterIndex), FTimeout(timeoutMs) {
  FThread = std::thread([this] { Run(); });
}

TFileDialogDriver::~TFileDialogDriver() { Wait(); }

bool TFileDialogDriver::Wait() {
  if (FThread.joinable()) FThread.join();
  return FHandled.load();
}

void TFileDialogDriver::Run() {
  const DWORD start = GetTickCount();
  HWND dialog = nullptr;
  while (dialog == nullptr) {
    if (GetTickCount() - start > FTimeout) return;
    Sleep(50);
    dialog = FindProcessFileDialog();
  }
  // Let the dialog finish its own start-up (it fills its controls after showing).
  Sleep(300);
  HWND edit = FileNameEdit(dialog);
  if (edit == nullptr) return;
  FOffered = WindowText(edit);
  FOwner = GetWindow(dialog, GW_OWNER);

  if (FFilterIndex > 0) {
    if (HWND filter = GetDlgItem(dialog, cmb1)) {
      SendMessageA(filter, CB_SETCURSEL, static_cast<WPARAM>(FFilterIndex - 1), 0);
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELCHANGE), reinterpret_cast<LPARAM>(filter));
    }
  }
  if (FAction == TAction::Ok) {
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(FFileName.c_str()));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  } else {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
  }
  // The dialog is answered once it has gone.
  while (IsWindow(dialog) && GetTickCount() - start < FTimeout) Sleep(50);
  FHandled = !IsWindow(dialog);
  // A dialog that would not take the answer is cancelled, so the test fails, not hangs.
  if (!FHandled)
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}
