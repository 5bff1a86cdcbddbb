// Shared routines: the settings store for the window placement, and the placing of the
// dialogs over the main window.
#pragma once

#include <windows.h>

#include <string>

class TForm;

// Where the placement lives, under HKEY_CURRENT_USER; a leading backslash means "from
// the root" and is dropped by the registry routines.
inline constexpr char SettingsKey[] = "\\Software\\Quillfen\\Glyphdock\\Status";

// Reads one REG_DWORD value. value is set to 0 first and replaced only on success.
// Returns 0 when read, 1 otherwise; no failure leaves the routine.
int ReadRegInt(HKEY root, const std::string& keyPath, const std::string& name, int& value);
// Writes one REG_DWORD value, creating the key path when missing. 0 written, 1 not.
int WriteRegInt(HKEY root, const std::string& keyPath, const std::string& name, int value);

struct TPlacement {
  int Top, Left, Width, Height;
};
// The clamp of a restored placement against the primary screen, whose size is asked
// anew at each comparison. Sums are formed without overflow.
TPlacement ClampPlacement(TPlacement p, int (*screenWidth)(), int (*screenHeight)());

// The restore step at the end of the main window's creation, and the store step at the
// start of its close.
void RestorePlacement(TForm& form);
void StorePlacement(TForm& form);

// Left and top that centre a dialog of the given outer size over a form, clamped at 0
// on the left and top only (halvings truncate toward zero).
POINT CenteredPosition(int formLeft, int formTop, int formWidth, int formHeight, int dialogWidth,
                       int dialogHeight);
// Places dialog centred over form; changes only the dialog's left and top.
void CenterOnForm(TForm& form, TForm& dialog);
