// Start-up: the application title and the start-up body.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The application title from the executable's full file name (already converted to the
// ANSI code page): what follows the last backslash, cut at the first ".", lowered from
// the second byte on. Scans go by CP932 characters.
std::string ApplicationTitleFrom(std::string fileName);
// The title of this executable (GetModuleFileNameA, OemToCharA, then the rule above).
std::string ComputeApplicationTitle();

// The program icon from the executable's resources (shared, never destroyed): the one
// the taskbar window and every form show.
HICON LoadProgramIcon();

// Points of the start-up body that a test executable can observe (and fail at).
enum class TStartupStage { Initialized, MainFormCreated, Running };

// The start-up body: creates the taskbar window, MainForm, AboutBox and BusyDlg, runs
// the message loop; shows an escaping failure and returns. The exit code is always 0.
// The program passes no probe; tests pass one to inject failures or to end the run.
int RunGlyphdock(const std::function<void(TStartupStage)>& probe = nullptr);
