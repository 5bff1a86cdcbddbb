#include "ui/errorbox.h"

#include <windows.h>

#include "runtime/application.h"
#include "runtime/msgbox.h"

namespace {
constexpr UINT CodePage = 932;  // the program's texts are CP932 whatever the system's code page

// Where the last character of text begins. Scanning from the front is the only sure way:
// a trail byte can look like a lead byte or a single-byte character.
std::size_t LastCharacterStart(const std::string& text) {
  std::size_t at = 0;
  std::size_t last = 0;
  while (at < text.size()) {
    last = at;
    const BYTE b = static_cast<BYTE>(text[at]);
    // A lead byte with nothing after it (a cut text) counts as a character of its own.
    at += (IsDBCSLeadByteEx(CodePage, b) && at + 1 < text.size()) ? 2 : 1;
  }
  return last;
}

// The title is the taskbar window's text, read back as the box is shown.
std::string ApplicationTitle() {
  char buffer[256] = {};
  const HWND taskbar = Application.Handle();
  const int length = taskbar ? GetWindowTextA(taskbar, buffer, sizeof buffer) : 0;
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}
}  // namespace

std::string WithFullStop(const std::string& text) {
  if (text.empty()) return text;
  const std::size_t start = LastCharacterStart(text);
  // The last character against the one-byte string "." as strcmp compares: its first
  // byte decides unless it equals '.', and then any further byte makes it greater.
  const auto first = static_cast<unsigned char>(text[start]);
  const bool greater = first > '.' || (first == '.' && start + 1 < text.size());
  return greater ? text + '.' : text;
}

void ShowErrorBox(const std::string& text) {
  AppMessageBox(WithFullStop(text), ApplicationTitle(), MB_OK | MB_ICONERROR);
}

void ReportFailure(const std::string& text) {
  // A drag or a pressed button in progress must not go on behind the box.
  if (const HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
  ShowErrorBox(text);
}
