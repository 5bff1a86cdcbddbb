// Shared pieces of the collect tests: a test window holding a large-icon list made the
// way the main window makes it, test icons of known colours, and small pixel readers.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/owners.h"

namespace collecttest {

inline const char kHostClass[] = "GlyphdockCollectTestHost";

inline void RegisterHostClass() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kHostClass;
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RegisterClassA(&windowClass);
  done = true;
}

// A list control styled like IconListView, on a visible test window. The window is
// made once for the whole test program: hiding a top-level window makes the display
// driver wait for the window manager, which Xvfb does not have.
class TListHost {
public:
  TListHost() {
    static HWND frame = nullptr;
    if (frame == nullptr) {
      RegisterHostClass();
      frame = CreateWindowExA(0, kHostClass, "collect test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                              400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    FFrame = frame;
    FList = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | LVS_SHAREIMAGELISTS | LVS_SINGLESEL | LVS_ICON |
                                LVS_AUTOARRANGE,
                            0, 0, 380, 260, FFrame, nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  ~TListHost() {
    if (FList != nullptr) DestroyWindow(FList);
  }
  TListHost(const TListHost&) = delete;
  TListHost& operator=(const TListHost&) = delete;
  HWND Frame() const { return FFrame; }
  HWND List() const { return FList; }

private:
  HWND FFrame = nullptr;
  HWND FList = nullptr;
};

// A 32 x 32 colour icon: `colour` inside, transparent in a border of `border` pixels.
inline HICON MakeTestIcon(COLORREF colour, int border) {
  const int size = 32;
  TScreenDC screen;
  TOwnedBitmap image(CreateCompatibleBitmap(screen.Get(), size, size));
  TOwnedBitmap mask(CreateBitmap(size, size, 1, 1, nullptr));
  {
    TMemDC dc(CreateCompatibleDC(screen.Get()));
    TSelectGuard select(dc.Get(), image.Get());
    PatBlt(dc.Get(), 0, 0, size, size, BLACKNESS);  // transparent pixels carry black
    TOwnedGdi brush(CreateSolidBrush(colour));
    RECT inner{border, border, size - border, size - border};
    FillRect(dc.Get(), &inner, static_cast<HBRUSH>(brush.Get()));
  }
  {
    TMemDC dc(CreateCompatibleDC(screen.Get()));
    TSelectGuard select(dc.Get(), mask.Get());
    PatBlt(dc.Get(), 0, 0, size, size, WHITENESS);  // 1 = transparent
    PatBlt(dc.Get(), border, border, size - 2 * border, size - 2 * border, BLACKNESS);
  }
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = image.Get();
  info.hbmMask = mask.Get();
  return CreateIconIndirect(&info);
}

// The colour of pixel (x, y) of a bitmap, read through a memory DC.
inline COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
  TScreenDC screen;
  TMemDC dc(CreateCompatibleDC(screen.Get()));
  TSelectGuard select(dc.Get(), bitmap);
  return GetPixel(dc.Get(), x, y) & 0xFFFFFF;
}

// Draws an icon over white onto a new 32 x 32 bitmap and gives the colour at (x, y).
inline COLORREF IconPixel(HICON icon, int x, int y) {
  TScreenDC screen;
  TOwnedBitmap bitmap(CreateCompatibleBitmap(screen.Get(), 32, 32));
  {
    TMemDC dc(CreateCompatibleDC(screen.Get()));
    TSelectGuard select(dc.Get(), bitmap.Get());
    PatBlt(dc.Get(), 0, 0, 32, 32, WHITENESS);
    DrawIconEx(dc.Get(), 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
  }
  return PixelOf(bitmap.Get(), x, y);
}

// A file name in the temporary folder, removed again when the object goes.
class TTempFile {
public:
  explicit TTempFile(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    FName = std::string(folder) + "glyphdock-collect-" + std::to_string(GetCurrentProcessId()) +
            "-" + name;
  }
  ~TTempFile() { DeleteFileA(FName.c_str()); }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Name() const { return FName; }
  void Write(const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(FName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

private:
  std::string FName;
};

inline void Put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}
inline void Put32(std::vector<std::uint8_t>& out, unsigned value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// A one-image .ico file, size x size, 32 bits per pixel, opaque, filled with one colour
// (red, green, blue).
inline std::vector<std::uint8_t> SolidIcoFile(int size, std::uint8_t red, std::uint8_t green,
                                              std::uint8_t blue) {
  const unsigned maskRow = ((static_cast<unsigned>(size) + 31) / 32) * 4;
  const unsigned imageBytes = 40 + static_cast<unsigned>(size * size * 4) + maskRow * size;
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 1);  // directory: one icon image
  out.push_back(static_cast<std::uint8_t>(size));
  out.push_back(static_cast<std::uint8_t>(size));
  out.push_back(0);
  out.push_back(0);
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, imageBytes);
  Put32(out, 6 + 16);
  Put32(out, 40);  // BITMAPINFOHEADER, height doubled for colour plus mask
  Put32(out, static_cast<unsigned>(size));
  Put32(out, static_cast<unsigned>(size * 2));
  Put16(out, 1);
  Put16(out, 32);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  for (int i = 0; i < size * size; ++i) {
    out.push_back(blue);
    out.push_back(green);
    out.push_back(red);
    out.push_back(0xFF);
  }
  out.insert(out.end(), maskRow * size, 0);  // all opaque
  return out;
}

// Runs the messages waiting for this thread, for at most `milliseconds`.
inline void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  MSG message;
  do {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  } while (GetTickCount() - start < milliseconds);
}

// The hidden hand-over windows this thread owns.
inline std::vector<HWND> ThreadWindows() {
  std::vector<HWND> found;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        char name[64] = {};
        GetClassNameA(window, name, sizeof name);
        if (std::string(name) == "TThreadWindow")
          reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace collecttest
