// Save As: writes the selected icon into an icon file the user names, asking before an
// existing file is replaced.
#pragma once

#include <windows.h>

#include <string>

class TIconStore;
class TFileDialog;

// The question asked before an existing file is replaced, and its caption.
inline constexpr char OverwriteQuestion[] = "ファイルが既に存在します、上書きしますか？";
inline constexpr char OverwriteCaption[] = "Glyphdock";
inline constexpr unsigned OverwriteFlags = MB_OKCANCEL | MB_DEFBUTTON2;  // 257

// Whether fileName opens for reading without sharing: a file in use or unreadable
// counts as absent, just like a missing one.
bool IconFileExists(const std::string& fileName);

// The Save As command after the tool bar repaint.
void SaveSelectedIcon(TIconStore& store, TFileDialog& saveDialog);
