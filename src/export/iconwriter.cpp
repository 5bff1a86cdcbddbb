#include "export/iconwriter.h"

#include <cstdlib>
#include <cstring>

#include "runtime/failure.h"
#include "runtime/owners.h"

namespace {

DWORD RowLength(LONG width, WORD bitsPerPixel) {
  return ((static_cast<DWORD>(width) * bitsPerPixel + 31) & ~31u) / 8;
}

template <class T>
void Append(std::vector<unsigned char>& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void AppendBlock(std::vector<unsigned char>& out, const std::vector<unsigned char>& block) {
  out.insert(out.end(), block.begin(), block.end());
}

}  // namespace

void MakeDIBHeader(HBITMAP bitmap, int colors, BITMAPINFOHEADER& header) {
  // Room for a DIB section's full description; only the BITMAP part is read.
  DIBSECTION description{};
  if (bitmap == nullptr || GetObjectA(bitmap, sizeof description, &description) == 0)
    Raise(msg::InvalidBitmapImage);
  const BITMAP& bm = description.dsBm;
  std::memset(&header, 0, sizeof header);
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = bm.bmWidth;
  header.biHeight = bm.bmHeight;
  if (colors == 2) {
    header.biBitCount = 1;
  } else if (colors >= 3 && colors <= 16) {
    header.biBitCount = 4;
    header.biClrUsed = colors;
  } else if (colors >= 17 && colors <= 256) {
    header.biBitCount = 8;
    header.biClrUsed = colors;
  } else {
    header.biBitCount = static_cast<WORD>(bm.bmPlanes * bm.bmBitsPixel);
  }
  header.biPlanes = 1;
  header.biSizeImage = RowLength(header.biWidth, header.biBitCount) * std::labs(header.biHeight);
}

TDIBSizes MeasureDIB(HBITMAP bitmap, int colors) {
  BITMAPINFOHEADER header;
  MakeDIBHeader(bitmap, colors, header);
  TDIBSizes sizes{sizeof(BITMAPINFOHEADER), header.biSizeImage};
  if (header.biBitCount <= 8) {
    const DWORD entries = header.biClrUsed != 0 ? header.biClrUsed : (1u << header.biBitCount);
    sizes.HeaderSize += entries * sizeof(RGBQUAD);
  } else if (header.biCompression & 3) {
    sizes.HeaderSize += 3 * sizeof(DWORD);  // bit-field masks follow the header
  }
  return sizes;
}

bool FetchDIB(HBITMAP bitmap, HPALETTE palette, void* header, void* bits, int colors) {
  auto* info = static_cast<BITMAPINFOHEADER*>(header);
  BITMAPINFOHEADER requested;
  MakeDIBHeader(bitmap, colors, requested);
  *info = requested;
  TMemDC dc(CreateCompatibleDC(nullptr));
  if (!dc) RaiseLastSystemError();
  TPaletteSelect selected(dc.Get(), palette);
  const bool fetched = GetDIBits(dc.Get(), bitmap, 0, static_cast<UINT>(std::labs(requested.biHeight)), bits,
                                 reinterpret_cast<BITMAPINFO*>(info), DIB_RGB_COLORS) != 0;
  // The retrieval may rewrite fields of the header (some platforms clear the colours
  // used); the pixels come in the format asked for, so that header is the one kept.
  *info = requested;
  return fetched;
}

std::vector<unsigned char> BuildIconImage(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) info = ICONINFO{};
  const TOwnedBitmap mask(info.hbmMask);
  const TOwnedBitmap color(info.hbmColor);

  const TDIBSizes maskSizes = MeasureDIB(mask.Get(), 2);
  const TDIBSizes colorSizes = MeasureDIB(color.Get(), 16);
  std::vector<unsigned char> maskHeader(maskSizes.HeaderSize);
  std::vector<unsigned char> maskBits(maskSizes.BitsSize);
  std::vector<unsigned char> colorHeader(colorSizes.HeaderSize);
  std::vector<unsigned char> colorBits(colorSizes.BitsSize);

  // A retrieval that delivers nothing would leave zero-filled blocks behind, which would
  // be written as a black, fully opaque square: that is reported, not saved.
  if (!FetchDIB(mask.Get(), nullptr, maskHeader.data(), maskBits.data(), 2) ||
      !FetchDIB(color.Get(), nullptr, colorHeader.data(), colorBits.data(), 16))
    Raise(msg::InvalidBitmapImage);

  BITMAPINFOHEADER header;
  std::memcpy(&header, colorHeader.data(), sizeof header);

  std::vector<unsigned char> image;
  image.reserve(6 + 16 + colorHeader.size() + colorBits.size() + maskBits.size());
  // Directory header: reserved, type icon, one image.
  Append<WORD>(image, 0);
  Append<WORD>(image, 1);
  Append<WORD>(image, 1);
  // Directory entry, from the colour header before its height is doubled. Planes and bit
  // count stay 0: the bitmap header carries the real ones.
  Append<BYTE>(image, static_cast<BYTE>(header.biWidth));
  Append<BYTE>(image, static_cast<BYTE>(header.biHeight));
  Append<BYTE>(image, 16);
  Append<BYTE>(image, 0);
  Append<WORD>(image, 0);
  Append<WORD>(image, 0);
  Append<DWORD>(image, colorSizes.HeaderSize + colorSizes.BitsSize + maskSizes.BitsSize);
  Append<DWORD>(image, 22);
  // The bitmap header of an icon image counts colour rows and mask rows together.
  header.biHeight *= 2;
  std::memcpy(colorHeader.data(), &header, sizeof header);
  AppendBlock(image, colorHeader);
  AppendBlock(image, colorBits);
  AppendBlock(image, maskBits);
  return image;
}

void SaveIconFile(const TIcon& icon, const std::string& fileName) {
  const TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) RaiseFmt(msg::CannotCreateFile, fileName);
  if (icon.Empty()) Raise(msg::InvalidIconImage);
  const std::vector<unsigned char> image = BuildIconImage(icon.Handle());
  DWORD written = 0;
  const BOOL ok = WriteFile(file.Get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr);
  if (!ok || written != image.size()) Raise(msg::StreamWriteError);
}
