// Icon images as pixels: a bitmap icon image (header, colour table, colour rows and the
// AND mask beneath them) decoded to straight RGBA, and an area-averaging reduction for
// thumbnails. Portable: no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Straight (not premultiplied) RGBA, 8 bits a channel, the top row first.
struct TRgbaImage {
  std::uint32_t Width = 0, Height = 0;
  std::vector<std::uint8_t> Pixels;  // Width * Height * 4
};

// A bounded view of bytes: every part a decoder reads is asked for by place and length
// and checked against the view's end, as the icon-file reader's reads are checked
// against the file's; a part that is not wholly inside gives nullptr.
class TByteView {
public:
  TByteView(const unsigned char* data, std::size_t size) : FData(data), FSize(data ? size : 0) {}
  std::size_t Size() const { return FSize; }
  bool Has(std::size_t at, std::size_t length) const { return at <= FSize && length <= FSize - at; }
  const unsigned char* At(std::size_t at, std::size_t length) const { return Has(at, length) ? FData + at : nullptr; }

private:
  const unsigned char* FData;
  std::size_t FSize;
};

// Images larger than this a side are no icons; the decoders refuse them before they
// allocate anything.
constexpr std::uint32_t MaxIconSide = 4096;

// Decodes a bitmap icon image: a 12-byte core header or an info header of 40 bytes or
// more; 1, 4 and 8 bits through the colour table, 16 and 32 bits as 5-5-5 / 8-8-8 or
// through bit-field masks, 24 bits; rows bottom-up, or top-down when the height is
// negative. The height counts the colour rows and the mask rows together. Alpha comes
// from a 32-bit image's own alpha when any pixel has some, otherwise from the AND mask
// (set bit = transparent); an image whose mask rows are missing is opaque.
// On failure `problem` says why, in English.
bool DecodeBitmapImage(const unsigned char* data, std::size_t size, TRgbaImage& out, std::string& problem);

// The image reduced to width x height (each no larger than the source's side) by area
// averaging: every source pixel counts by the share of its area inside the target
// pixel, colours weighted by their alpha.
TRgbaImage ScaleDown(const TRgbaImage& source, std::uint32_t width, std::uint32_t height);
