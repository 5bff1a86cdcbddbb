// Copy: places the selected icon on the clipboard as a bitmap drawn over white.
#pragma once

#include <windows.h>

#include "runtime/owners.h"

class TIconStore;

// What goes on the clipboard for one bitmap: the format, a new bitmap holding a copy of
// the pixels and a copy of the source's palette (or none). Owned until the clipboard
// takes them.
struct TClipboardCopy {
  UINT Format = CF_BITMAP;
  TOwnedBitmap Bitmap;
  TOwnedPalette Palette;
};

// A copy of source of the same size: monochrome for a monochrome source, otherwise
// compatible with the screen; never device-independent. palette may be null.
TClipboardCopy MakeClipboardCopy(HBITMAP source, HPALETTE palette);
TClipboardCopy MakeClipboardCopy(const TBitmap& bitmap);

// Opens the clipboard, empties it once, places the copy (and its palette if any) and
// closes it again on every path.
void PutBitmapOnClipboard(HBITMAP source, HPALETTE palette);
void PutBitmapOnClipboard(const TBitmap& bitmap);

// The Copy command after the tool bar repaint: renders the selected entry's image onto a
// temporary bitmap and places that. Nothing selected leaves the clipboard alone.
void CopySelectedIcon(TIconStore& store);
