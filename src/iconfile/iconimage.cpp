#include "iconfile/iconimage.h"

#include <algorithm>

namespace {

std::uint32_t U16(const unsigned char* p) { return p[0] | p[1] << 8; }
std::uint32_t U32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// One channel of a bit-field mask: where it sits and how wide it is.
struct TChannel {
  std::uint32_t Mask = 0;
  unsigned Shift = 0;
  std::uint32_t Max = 0;
  std::uint8_t Take(std::uint32_t pixel) const {
    if (!Mask) return 0;
    const std::uint32_t v = (pixel & Mask) >> Shift;
    return static_cast<std::uint8_t>((std::uint64_t{v} * 255 + Max / 2) / Max);
  }
};

TChannel Channel(std::uint32_t mask) {
  TChannel c;
  if (!mask) return c;
  c.Mask = mask;
  while (!(mask & 1)) {
    mask >>= 1;
    ++c.Shift;
  }
  // Only the contiguous low run counts; a mask with holes keeps its lowest run.
  std::uint32_t width = 0;
  while (mask & 1 && width < 32) {
    mask >>= 1;
    ++width;
  }
  c.Max = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
  c.Mask = c.Max << c.Shift;
  return c;
}

}  // namespace

bool DecodeBitmapImage(const unsigned char* data, std::size_t size, TRgbaImage& out, std::string& problem) {
  out = TRgbaImage();
  const TByteView view(data, size);
  auto fail = [&](const char* why) {
    problem = why;
    out = TRgbaImage();
    return false;
  };
  const unsigned char* head = view.At(0, 4);
  if (!head) return fail("the bitmap header is cut short");
  const std::uint32_t headerSize = U32(head);
  std::int64_t width = 0, height = 0;
  std::uint32_t bits = 0, compression = 0, coloursUsed = 0;
  std::size_t paletteEntrySize = 4;
  if (headerSize == 12) {
    if (!(head = view.At(0, 12))) return fail("the bitmap header is cut short");
    width = U16(head + 4);
    height = U16(head + 6);
    bits = U16(head + 10);
    paletteEntrySize = 3;
  } else if (headerSize >= 40 && view.Has(0, headerSize)) {
    head = view.At(0, 40);
    width = static_cast<std::int32_t>(U32(head + 4));
    height = static_cast<std::int32_t>(U32(head + 8));
    bits = U16(head + 14);
    compression = U32(head + 16);
    coloursUsed = U32(head + 32);
  } else {
    return fail("the bitmap header has an unknown size");
  }
  const bool topDown = height < 0;
  // The height counts the colour rows and the mask rows.
  const std::int64_t rows = (topDown ? -height : height) / 2;
  if (width < 1 || rows < 1 || width > MaxIconSide || rows > MaxIconSide) return fail("the bitmap's size is out of range");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return fail("the bitmap has an unsupported number of bits a pixel");
  const bool bitFields = compression == 3 || compression == 6;
  if (!(compression == 0 || (bitFields && (bits == 16 || bits == 32)))) return fail("the bitmap is compressed");

  std::size_t at = headerSize;
  TChannel red, green, blue, alpha;
  if (bitFields) {
    // An info header of 40 bytes is followed by the masks; longer headers hold them.
    const std::size_t maskCount = compression == 6 || headerSize >= 56 ? 4 : 3;
    const bool masksFollow = headerSize == 40;
    if (!masksFollow && headerSize < 40 + (compression == 6 ? 4 : 3) * 4)
      return fail("the bitmap's colour masks are cut short");
    const std::size_t inside = masksFollow ? (compression == 6 ? 4 : 3) : maskCount;
    const unsigned char* masks = view.At(40, inside * 4);
    if (!masks) return fail("the bitmap's colour masks are cut short");
    if (masksFollow) at += inside * 4;
    red = Channel(U32(masks));
    green = Channel(U32(masks + 4));
    blue = Channel(U32(masks + 8));
    if (inside == 4) alpha = Channel(U32(masks + 12));
  } else if (bits == 16) {
    red = Channel(0x7C00);
    green = Channel(0x03E0);
    blue = Channel(0x001F);
  } else if (bits == 32) {
    red = Channel(0xFF0000);
    green = Channel(0xFF00);
    blue = Channel(0xFF);
    alpha = Channel(0xFF000000u);
  }

  // The colour table: every colour of the depth unless the header names fewer. Deeper
  // images may carry one too (a palette hint), which the rows then follow.
  std::size_t tableEntries = 0;
  if (bits <= 8) {
    const std::size_t full = std::size_t{1} << bits;
    tableEntries = coloursUsed && coloursUsed < full ? coloursUsed : full;
  } else if (headerSize != 12) {
    tableEntries = coloursUsed <= 256 ? coloursUsed : 256;
  }
  const unsigned char* table = view.At(at, tableEntries * paletteEntrySize);
  if (!table) return fail("the bitmap's colour table is cut short");
  at += tableEntries * paletteEntrySize;
  std::uint8_t palette[256][3] = {};
  if (bits <= 8) {
    for (std::size_t i = 0; i < tableEntries; ++i) {
      const unsigned char* e = table + i * paletteEntrySize;
      palette[i][0] = e[2];
      palette[i][1] = e[1];
      palette[i][2] = e[0];
    }
  }

  const std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(rows);
  const std::size_t colourStride = (static_cast<std::size_t>(w) * bits + 31) / 32 * 4;
  const std::size_t maskStride = (static_cast<std::size_t>(w) + 31) / 32 * 4;
  const unsigned char* colourRows = view.At(at, colourStride * h);
  if (!colourRows) return fail("the bitmap's pixels are cut short");
  // Missing mask rows mean an opaque image.
  const unsigned char* maskRows = view.At(at + colourStride * h, maskStride * h);

  out.Width = w;
  out.Height = h;
  out.Pixels.assign(static_cast<std::size_t>(w) * h * 4, 0);
  bool anyAlpha = false;
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint32_t stored = topDown ? y : h - 1 - y;
    const unsigned char* row = colourRows + stored * colourStride;  // colourStride bytes, inside the view
    std::uint8_t* px = &out.Pixels[static_cast<std::size_t>(y) * w * 4];
    for (std::uint32_t x = 0; x < w; ++x, px += 4) {
      if (bits <= 8) {
        const std::uint32_t bit = x * bits;
        const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index < tableEntries) std::copy(palette[index], palette[index] + 3, px);
        px[3] = 255;
      } else if (bits == 24) {
        px[0] = row[x * 3 + 2];
        px[1] = row[x * 3 + 1];
        px[2] = row[x * 3];
        px[3] = 255;
      } else {
        const std::uint32_t v = bits == 16 ? U16(row + x * 2) : U32(row + x * 4);
        px[0] = red.Take(v);
        px[1] = green.Take(v);
        px[2] = blue.Take(v);
        px[3] = alpha.Mask ? alpha.Take(v) : 255;
        if (px[3]) anyAlpha = true;
      }
    }
  }
  // A 32-bit image whose alpha is all zero means its mask, as the shell draws it.
  const bool ownAlpha = alpha.Mask && anyAlpha;
  if (ownAlpha) return true;
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint32_t stored = topDown ? y : h - 1 - y;
    const unsigned char* row = maskRows ? maskRows + stored * maskStride : nullptr;
    std::uint8_t* px = &out.Pixels[static_cast<std::size_t>(y) * w * 4];
    for (std::uint32_t x = 0; x < w; ++x, px += 4) {
      const bool clear = row && (row[x / 8] >> (7 - x % 8) & 1);
      px[3] = clear ? 0 : 255;
    }
  }
  return true;
}

TRgbaImage ScaleDown(const TRgbaImage& source, std::uint32_t width, std::uint32_t height) {
  TRgbaImage out;
  if (!source.Width || !source.Height) return out;
  width = std::clamp<std::uint32_t>(width, 1, source.Width);
  height = std::clamp<std::uint32_t>(height, 1, source.Height);
  out.Width = width;
  out.Height = height;
  out.Pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);

  // Each target pixel covers [i * scale, (i + 1) * scale) of the source along an axis;
  // the spans are listed once per axis as (first source pixel, weights).
  struct TSpan {
    std::uint32_t First = 0;
    std::vector<double> Weights;
  };
  auto spans = [](std::uint32_t from, std::uint32_t to) {
    std::vector<TSpan> list(to);
    const double scale = static_cast<double>(from) / to;
    for (std::uint32_t i = 0; i < to; ++i) {
      const double begin = i * scale, end = (i + 1) * scale;
      TSpan& s = list[i];
      s.First = static_cast<std::uint32_t>(begin);
      for (std::uint32_t k = s.First; k < from && k < end; ++k) {
        const double cover = std::min<double>(k + 1, end) - std::max<double>(k, begin);
        s.Weights.push_back(cover / scale);
      }
    }
    return list;
  };
  const std::vector<TSpan> across = spans(source.Width, width), down = spans(source.Height, height);

  // Rows first, in premultiplied alpha, so a transparent pixel lends no colour.
  std::vector<double> rows(static_cast<std::size_t>(width) * source.Height * 4, 0.0);
  for (std::uint32_t y = 0; y < source.Height; ++y) {
    const std::uint8_t* in = &source.Pixels[static_cast<std::size_t>(y) * source.Width * 4];
    for (std::uint32_t x = 0; x < width; ++x) {
      double sum[4] = {0, 0, 0, 0};
      const TSpan& s = across[x];
      for (std::size_t k = 0; k < s.Weights.size(); ++k) {
        const std::uint8_t* p = in + (s.First + k) * 4;
        const double a = p[3] / 255.0 * s.Weights[k];
        sum[0] += p[0] * a;
        sum[1] += p[1] * a;
        sum[2] += p[2] * a;
        sum[3] += a;
      }
      std::copy(sum, sum + 4, &rows[(static_cast<std::size_t>(y) * width + x) * 4]);
    }
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    const TSpan& s = down[y];
    for (std::uint32_t x = 0; x < width; ++x) {
      double sum[4] = {0, 0, 0, 0};
      for (std::size_t k = 0; k < s.Weights.size(); ++k) {
        const double* p = &rows[((s.First + k) * static_cast<std::size_t>(width) + x) * 4];
        for (int c = 0; c < 4; ++c) sum[c] += p[c] * s.Weights[k];
      }
      std::uint8_t* px = &out.Pixels[(static_cast<std::size_t>(y) * width + x) * 4];
      if (sum[3] > 0) {
        for (int c = 0; c < 3; ++c) px[c] = static_cast<std::uint8_t>(std::clamp(sum[c] / sum[3] + 0.5, 0.0, 255.0));
      }
      px[3] = static_cast<std::uint8_t>(std::clamp(sum[3] * 255.0 + 0.5, 0.0, 255.0));
    }
  }
  return out;
}
