// Small owners for every handle the program holds: each releases its handle on
// every path, failures included.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

// A move-only owner of one handle, released by Traits::Close unless it is Traits::Null().
template <class Traits>
class TOwned {
public:
  using Handle = typename Traits::Handle;
  TOwned() = default;
  explicit TOwned(Handle handle) : FHandle(handle) {}
  ~TOwned() { Reset(); }
  TOwned(const TOwned&) = delete;
  TOwned& operator=(const TOwned&) = delete;
  TOwned(TOwned&& other) noexcept : FHandle(other.Release()) {}
  TOwned& operator=(TOwned&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Handle Get() const noexcept { return FHandle; }
  explicit operator bool() const noexcept { return FHandle != Traits::Null(); }
  Handle Release() noexcept { return std::exchange(FHandle, Traits::Null()); }
  void Reset(Handle handle = Traits::Null()) noexcept {
    Handle old = std::exchange(FHandle, handle);
    if (old != Traits::Null()) Traits::Close(old);
  }
  // For out-parameters of platform calls: releases what is held first.
  Handle* Put() noexcept {
    Reset();
    return &FHandle;
  }

private:
  Handle FHandle = Traits::Null();
};

struct TGdiTraits {
  using Handle = HGDIOBJ;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DeleteObject(h); }
};
struct TBitmapTraits {
  using Handle = HBITMAP;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DeleteObject(h); }
};
struct TPaletteTraits {
  using Handle = HPALETTE;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DeleteObject(h); }
};
struct TMemDCTraits {
  using Handle = HDC;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DeleteDC(h); }
};
struct TFileTraits {
  using Handle = HANDLE;
  static Handle Null() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
struct TKernelTraits {  // threads, events: null means none
  using Handle = HANDLE;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { CloseHandle(h); }
};
struct TRegKeyTraits {
  using Handle = HKEY;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};
struct TIconTraits {
  using Handle = HICON;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DestroyIcon(h); }
};

using TOwnedBitmap = TOwned<TBitmapTraits>;
using TOwnedPalette = TOwned<TPaletteTraits>;
using TOwnedGdi = TOwned<TGdiTraits>;
using TMemDC = TOwned<TMemDCTraits>;
using TFileHandle = TOwned<TFileTraits>;
using TKernelHandle = TOwned<TKernelTraits>;
using TRegKey = TOwned<TRegKeyTraits>;
using TOwnedIcon = TOwned<TIconTraits>;

// The screen's device context, released on scope exit.
class TScreenDC {
public:
  TScreenDC() : FDC(GetDC(nullptr)) {}
  ~TScreenDC() {
    if (FDC) ReleaseDC(nullptr, FDC);
  }
  TScreenDC(const TScreenDC&) = delete;
  TScreenDC& operator=(const TScreenDC&) = delete;
  HDC Get() const noexcept { return FDC; }
  explicit operator bool() const noexcept { return FDC != nullptr; }

private:
  HDC FDC;
};

// Selects an object into a DC and selects the previous one back on scope exit.
class TSelectGuard {
public:
  TSelectGuard(HDC dc, HGDIOBJ object) : FDC(dc), FOld(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~TSelectGuard() {
    if (FOld) SelectObject(FDC, FOld);
  }
  TSelectGuard(const TSelectGuard&) = delete;
  TSelectGuard& operator=(const TSelectGuard&) = delete;

private:
  HDC FDC;
  HGDIOBJ FOld;
};

// Selects a palette into a DC as a foreground palette and realises it; the previous one
// goes back on scope exit. A null palette selects nothing.
class TPaletteSelect {
public:
  TPaletteSelect(HDC dc, HPALETTE palette)
      : FDC(dc), FOld(palette ? SelectPalette(dc, palette, FALSE) : nullptr) {
    if (FOld) RealizePalette(dc);
  }
  ~TPaletteSelect() {
    if (FOld) SelectPalette(FDC, FOld, TRUE);
  }
  TPaletteSelect(const TPaletteSelect&) = delete;
  TPaletteSelect& operator=(const TPaletteSelect&) = delete;

private:
  HDC FDC;
  HPALETTE FOld;
};

// Icon object: holds at most one icon handle and owns it. Putting a new handle in
// destroys the old one. Reports the system's standard icon size unless its icon was
// read from a file, in which case it reports that icon's own size.
class TIcon {
public:
  TIcon() = default;
  ~TIcon();
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  HICON Handle() const noexcept { return FHandle; }
  bool Empty() const noexcept { return FHandle == nullptr; }
  // Takes ownership of handle (which may be null) and destroys the one held before.
  void SetHandle(HICON handle);
  // Reads the first image of an .ico file at its own size; the object then reports
  // that size. Raises "アイコンイメージが不正です" when the file holds no icon.
  void LoadFromFile(const std::string& fileName);
  int Width() const;
  int Height() const;

  // Live icon handles owned by all icon objects, and the most seen at once since the
  // last reset: the leak checks read these.
  static int LiveHandles() noexcept { return FLive.load(); }
  static int PeakLiveHandles() noexcept { return FPeak.load(); }
  static void ResetPeak() noexcept { FPeak.store(FLive.load()); }

private:
  HICON FHandle = nullptr;
  bool FFromFile = false;
  int FFileWidth = 0;
  int FFileHeight = 0;
  static std::atomic<int> FLive;
  static std::atomic<int> FPeak;
};

// Bitmap object: a device-dependent bitmap compatible with the screen, made when both
// its width and height have been set, painted white in full. Owns its handle.
class TBitmap {
public:
  TBitmap() = default;
  ~TBitmap() = default;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  HBITMAP Handle() const noexcept { return FHandle.Get(); }
  HPALETTE Palette() const noexcept { return nullptr; }  // screen-compatible bitmaps carry none
  bool Monochrome() const;
  int Width() const noexcept { return FWidth; }
  int Height() const noexcept { return FHeight; }
  // Setting a size on an empty bitmap only records it until the other size is known;
  // then (and on every later change) the bitmap is made anew. A failure to make the
  // bitmap or its DC raises the system's text for the error.
  void SetWidth(int width);
  void SetHeight(int height);

private:
  void Recreate();
  TOwnedBitmap FHandle;
  int FWidth = 0;
  int FHeight = 0;
};
