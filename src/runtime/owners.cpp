#include "runtime/owners.h"

#include "runtime/failure.h"

std::atomic<int> TIcon::FLive{0};
std::atomic<int> TIcon::FPeak{0};

TIcon::~TIcon() { SetHandle(nullptr); }

void TIcon::SetHandle(HICON handle) {
  if (handle == FHandle) return;
  if (handle != nullptr) {
    const int live = ++FLive;
    int peak = FPeak.load();
    while (live > peak && !FPeak.compare_exchange_weak(peak, live)) {
    }
  }
  HICON old = FHandle;
  FHandle = handle;
  FFromFile = false;
  if (old != nullptr) {
    DestroyIcon(old);
    --FLive;
  }
}

void TIcon::LoadFromFile(const std::string& fileName) {
  // LoadImage reads the file's image at its own size when asked for size 0 x 0.
  HICON icon = static_cast<HICON>(
      LoadImageA(nullptr, fileName.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  if (icon == nullptr) Raise(msg::InvalidIconImage);
  int width = 0, height = 0;
  ICONINFO info{};
  if (GetIconInfo(icon, &info)) {
    TOwnedBitmap color(info.hbmColor), mask(info.hbmMask);
    BITMAP bm{};
    if (GetObjectA(mask.Get(), sizeof bm, &bm)) {
      width = bm.bmWidth;
      height = color ? bm.bmHeight : bm.bmHeight / 2;
    }
  }
  SetHandle(icon);
  FFromFile = true;
  FFileWidth = width;
  FFileHeight = height;
}

int TIcon::Width() const { return FFromFile ? FFileWidth : GetSystemMetrics(SM_CXICON); }
int TIcon::Height() const { return FFromFile ? FFileHeight : GetSystemMetrics(SM_CYICON); }

bool TBitmap::Monochrome() const {
  BITMAP bm{};
  if (!FHandle || !GetObjectA(FHandle.Get(), sizeof bm, &bm)) return false;
  return bm.bmPlanes == 1 && bm.bmBitsPixel == 1;
}

void TBitmap::SetWidth(int width) {
  if (width == FWidth) return;
  FWidth = width;
  Recreate();
}

void TBitmap::SetHeight(int height) {
  if (height == FHeight) return;
  FHeight = height;
  Recreate();
}

void TBitmap::Recreate() {
  FHandle.Reset();
  if (FWidth <= 0 || FHeight <= 0) return;
  TScreenDC screen;
  if (!screen) RaiseLastSystemError();
  TOwnedBitmap bitmap(CreateCompatibleBitmap(screen.Get(), FWidth, FHeight));
  if (!bitmap) RaiseLastSystemError();
  TMemDC dc(CreateCompatibleDC(screen.Get()));
  if (!dc) RaiseLastSystemError();
  {
    TSelectGuard select(dc.Get(), bitmap.Get());
    PatBlt(dc.Get(), 0, 0, FWidth, FHeight, WHITENESS);
  }
  FHandle = std::move(bitmap);
}
