// The shell's side of the export tool's oracle test, run under Wine: for each file named
// in the list file (one a line) it prints "F count" with ExtractIconA's count, then for
// each icon "I index" and the 32 x 32 pixels the shell hands out, top row first, as hex
// RGBA: alpha from the colour bitmap when it has any, otherwise from the mask.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void PrintIcon(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) {
    std::printf("-\n");
    return;
  }
  HDC dc = GetDC(nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 32;
  bi.bmiHeader.biHeight = -32;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<unsigned char> colour(32 * 32 * 4), mask(32 * 32 * 4);
  const bool ok = info.hbmColor && GetDIBits(dc, info.hbmColor, 0, 32, colour.data(), &bi, DIB_RGB_COLORS) == 32 &&
                  GetDIBits(dc, info.hbmMask, 0, 32, mask.data(), &bi, DIB_RGB_COLORS) == 32;
  ReleaseDC(nullptr, dc);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (!ok) {
    std::printf("-\n");
    return;
  }
  bool anyAlpha = false;
  for (int i = 0; i < 32 * 32; ++i) anyAlpha = anyAlpha || colour[i * 4 + 3];
  for (int i = 0; i < 32 * 32; ++i) {
    const unsigned alpha = anyAlpha ? colour[i * 4 + 3] : (mask[i * 4] ? 0 : 255);
    std::printf("%02x%02x%02x%02x", colour[i * 4 + 2], colour[i * 4 + 1], colour[i * 4], alpha);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: shellprobe LISTFILE\n");
    return 2;
  }
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  FILE* list = std::fopen(argv[1], "r");
  if (!list) {
    std::fprintf(stderr, "shellprobe: cannot open %s\n", argv[1]);
    return 2;
  }
  HINSTANCE self = GetModuleHandleA(nullptr);
  char line[2048];
  while (std::fgets(line, sizeof line, list)) {
    line[std::strcspn(line, "\r\n")] = 0;
    if (!line[0]) continue;
    const UINT count = static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(self, line, static_cast<UINT>(-1))));
    std::printf("F %u\n", count);
    for (UINT i = 0; i < count && i < 4096; ++i) {
      std::printf("I %u ", i);
      HICON icon = ExtractIconA(self, line, i);
      if (icon) {
        PrintIcon(icon);
        DestroyIcon(icon);
      } else {
        std::printf("-\n");
      }
    }
  }
  std::fclose(list);
  return 0;
}
