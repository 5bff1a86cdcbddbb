#include "export/clipboardexport.h"

#include <vector>

#include "collect/iconstore.h"
#include "runtime/clipboard.h"
#include "runtime/failure.h"

namespace {

TOwnedPalette CopyPalette(HPALETTE source) {
  if (source == nullptr) return TOwnedPalette();
  WORD count = 0;
  if (GetObjectA(source, sizeof count, &count) == 0 || count == 0) return TOwnedPalette();
  std::vector<unsigned char> block(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
  auto* logical = reinterpret_cast<LOGPALETTE*>(block.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = count;
  if (GetPaletteEntries(source, 0, count, logical->palPalEntry) == 0) RaiseLastSystemError();
  TOwnedPalette copy(CreatePalette(logical));
  if (!copy) RaiseLastSystemError();
  return copy;
}

}  // namespace

TClipboardCopy MakeClipboardCopy(HBITMAP source, HPALETTE palette) {
  BITMAP bm{};
  if (source == nullptr || GetObjectA(source, sizeof bm, &bm) == 0) Raise(msg::InvalidBitmapImage);
  const bool monochrome = bm.bmPlanes == 1 && bm.bmBitsPixel == 1;

  TClipboardCopy result;
  result.Format = CF_BITMAP;
  {
    TScreenDC screen;
    if (!screen) RaiseLastSystemError();
    if (monochrome)
      result.Bitmap.Reset(CreateBitmap(bm.bmWidth, bm.bmHeight, 1, 1, nullptr));
    else
      result.Bitmap.Reset(CreateCompatibleBitmap(screen.Get(), bm.bmWidth, bm.bmHeight));
    if (!result.Bitmap) RaiseLastSystemError();

    TMemDC target(CreateCompatibleDC(screen.Get()));
    if (!target) RaiseLastSystemError();
    TMemDC from(CreateCompatibleDC(screen.Get()));
    if (!from) RaiseLastSystemError();
    TSelectGuard targetBitmap(target.Get(), result.Bitmap.Get());
    TPaletteSelect targetPalette(target.Get(), palette);
    TSelectGuard sourceBitmap(from.Get(), source);
    TPaletteSelect sourcePalette(from.Get(), palette);
    // Painted with the plain white brush first, then every pixel comes from the source.
    const RECT all{0, 0, bm.bmWidth, bm.bmHeight};
    FillRect(target.Get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (!BitBlt(target.Get(), 0, 0, bm.bmWidth, bm.bmHeight, from.Get(), 0, 0, SRCCOPY))
      RaiseLastSystemError();
  }
  result.Palette = CopyPalette(palette);
  return result;
}

TClipboardCopy MakeClipboardCopy(const TBitmap& bitmap) {
  return MakeClipboardCopy(bitmap.Handle(), bitmap.Palette());
}

void PutBitmapOnClipboard(HBITMAP source, HPALETTE palette) {
  TClipboard& clipboard = Clipboard();
  TClipboardOpen open(clipboard);
  clipboard.EmptyOnce();
  TClipboardCopy copy = MakeClipboardCopy(source, palette);
  clipboard.SetAsHandle(copy.Format, copy.Bitmap.Get());
  copy.Bitmap.Release();  // the system clipboard owns it now
  if (copy.Palette) {
    clipboard.SetAsHandle(CF_PALETTE, copy.Palette.Get());
    copy.Palette.Release();
  }
}

void PutBitmapOnClipboard(const TBitmap& bitmap) { PutBitmapOnClipboard(bitmap.Handle(), bitmap.Palette()); }

void CopySelectedIcon(TIconStore& store) {
  const int selected = store.Selected();
  if (selected < 0) return;
  TBitmap bitmap;
  store.RenderOnto(selected, &bitmap);
  PutBitmapOnClipboard(bitmap);
}
