// The application message box service: a system message box owned by the taskbar
// window, with the program's other windows disabled while it shows.
#pragma once

#include <string>

// Returns the message box result (also when the box fails).
int AppMessageBox(const std::string& text, const std::string& caption, unsigned flags);
