// The icon file writer: turns one icon into the bytes of a single-image icon file with a
// 16-colour image and its exact 1-bit mask, and writes them to a file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TIcon;

// Lengths of a device-independent copy of a bitmap: header with colour table, and bits.
struct TDIBSizes {
  DWORD HeaderSize;
  DWORD BitsSize;
};

// Fills header for bitmap in the format a colour count asks for: 2 gives 1 bit per
// pixel, 3-16 gives 4, 17-256 gives 8, anything else the bitmap's own depth. Raises
// "ビットマップイメージが不正です" when bitmap is no bitmap.
void MakeDIBHeader(HBITMAP bitmap, int colors, BITMAPINFOHEADER& header);
TDIBSizes MeasureDIB(HBITMAP bitmap, int colors);
// Retrieves bitmap's pixels in the requested format: header receives the header and
// its colour table (MeasureDIB's HeaderSize bytes), bits the pixel rows (BitsSize).
// palette may be null. True when the platform delivered the pixels.
bool FetchDIB(HBITMAP bitmap, HPALETTE palette, void* header, void* bits, int colors);

// The complete bytes of an icon file holding icon at 16 colours.
std::vector<unsigned char> BuildIconImage(HICON icon);

// Writes icon into fileName, a new file or an existing one replaced whole. The image is
// built first and written beside the target, then moved into place, so that every
// failure leaves an existing file as it was. A folder, device or pipe of that name is
// refused. Raises "ファイル %s を作成できません", "アイコンイメージが不正です",
// "ビットマップイメージが不正です" or "ストリームへの書き込みエラー".
void SaveIconFile(const TIcon& icon, const std::string& fileName);
