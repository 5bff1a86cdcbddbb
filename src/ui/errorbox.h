// The error box: the one way a failure reaches the user.
#pragma once

#include <string>

// The text with the closing full stop the error box adds: the text's last character
// (both bytes of a double-byte character) is compared unsigned, byte by byte, with ".";
// when it compares greater, "." is appended. An empty text stays empty.
std::string WithFullStop(const std::string& text);

// Shows text (with its full stop) in a message box with the error icon and one OK
// button, captioned with the application title. Returns when the user has closed it.
void ShowErrorBox(const std::string& text);

// The error display of the catching points: ends a mouse capture held by a window of the
// program (WM_CANCELMODE), then shows the error box.
void ReportFailure(const std::string& text);
