// The program's file names are the system's narrow names (the code page the A calls
// take). These helpers turn the names the shell hands out in full (wide) into those,
// and tell whether a folder takes a new file.
#pragma once

#include <windows.h>

#include <string>

// A wide name as the program's narrow name: unchanged when it converts without loss,
// else its short (8.3) name when that converts; a name with neither form comes out as
// the narrow calls themselves would give it (characters replaced), and opens nothing.
std::string NarrowFileName(const std::wstring& name);

// The narrow text as a wide one (for the wide dialog's offered name and folder).
std::wstring WideText(const std::string& text);

// True when this user may create a file in the folder (a full path ending in a
// separator). Asks the file system itself, so that permissions, read-only
// media and shares all count: a file is created there with delete-on-close and closed
// at once, which removes it even if the program died in between.
bool FolderAcceptsNewFile(const std::string& folder);
