// A cheap, strictly bounded check of a file before the shell's icon extraction reads it.
// The shell's extraction trusts the offsets inside PE, NE and .ico files and faults on
// truncated or corrupted ones, and its icon decoder on crafted images; a file that fails
// this check is treated as one with no icons. Files in no icon-bearing form (text, random
// bytes) pass: the shell finds nothing in them on its own.
#pragma once

#include <cstdint>
#include <string>

#include "iconfile/iconfile.h"

// The pure check, over any byte source of the given size (no windows.h involved): the
// icon-file reader's verdict.
bool IconSourceIsSound(std::uint64_t fileSize, const TReadAt& readAt);

// The check over a named file (CP932 name). A file that cannot be opened passes (the
// shell then reports no icons for it by itself) unless its name is MAX_PATH characters
// or longer. Anything opened that is not a plain disk file (device, pipe, console,
// folder) fails without being read.
bool IconFileIsSound(const std::string& fileName);
