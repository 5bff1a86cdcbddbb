#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/owners.h"

namespace {

// The build directories come in as the build machine's paths: a Unix path reaches the
// Windows side through drive Z:, which maps the whole Unix file system; a path that
// already carries a drive is used as it is. Only '/' is replaced: it is never the trail
// byte of a double-byte CP932 character, so the scan is safe byte by byte.
std::string WindowsPath(const char* dir, const char* name) {
  std::string path = dir;
  if (!path.empty() && path[0] == '/') path.insert(0, "Z:");
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path + '\\' + name;
}

}  // namespace

std::string FixturePath(const char* name) { return WindowsPath(GLYPHDOCK_FIXTURE_DIR, name); }

std::string BinPath(const char* name) { return WindowsPath(GLYPHDOCK_BIN_DIR, name); }

std::string SystemDllPath(const char* name) {
  char dir[MAX_PATH];
  UINT length = GetSystemDirectoryA(dir, MAX_PATH);
  EXPECT_GT(length, 0u);
  EXPECT_LT(length, static_cast<UINT>(MAX_PATH));
  return std::string(dir, length < MAX_PATH ? length : 0) + '\\' + name;
}

TIconPixels ReadIconPixels(HICON icon) {
  TIconPixels result;
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) {
    ADD_FAILURE() << "GetIconInfo failed";
    return result;
  }
  TOwnedBitmap colour(info.hbmColor), mask(info.hbmMask);
  BITMAP maskFormat{};
  if (!mask || !GetObjectA(mask.Get(), sizeof maskFormat, &maskFormat)) {
    ADD_FAILURE() << "the icon has no readable mask";
    return result;
  }
  const int width = maskFormat.bmWidth;
  // A monochrome icon keeps its image below the mask in one bitmap twice as high.
  const int height = colour ? maskFormat.bmHeight : maskFormat.bmHeight / 2;

  // Both bitmaps read as 32-bit top-down rows; the mask then holds black or white.
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -(colour ? height : height * 2);
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  TScreenDC screen;
  std::vector<RGBQUAD> maskBits(static_cast<size_t>(width) * height * 2);
  std::vector<RGBQUAD> colourBits(static_cast<size_t>(width) * height);
  if (GetDIBits(screen.Get(), mask.Get(), 0, colour ? height : height * 2, maskBits.data(), &format,
                DIB_RGB_COLORS) == 0) {
    ADD_FAILURE() << "GetDIBits failed on the mask";
    return result;
  }
  if (colour) {
    format.bmiHeader.biHeight = -height;
    if (GetDIBits(screen.Get(), colour.Get(), 0, height, colourBits.data(), &format, DIB_RGB_COLORS) == 0) {
      ADD_FAILURE() << "GetDIBits failed on the colour bitmap";
      return result;
    }
  } else {
    std::copy(maskBits.begin() + static_cast<ptrdiff_t>(width) * height, maskBits.end(), colourBits.begin());
  }

  result.Width = width;
  result.Height = height;
  for (int i = 0; i < width * height; ++i) {
    const RGBQUAD& c = colourBits[i];
    result.Colour.push_back(RGB(c.rgbRed, c.rgbGreen, c.rgbBlue));
    result.Transparent.push_back(maskBits[i].rgbRed != 0);
  }
  return result;
}
