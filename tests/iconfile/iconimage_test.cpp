// Bitmap icon images decoded to RGBA at every depth, and the area-averaging reduction.
// The images are built here byte by byte, so each test states exactly what is stored.
#include "iconfile/iconimage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace {

using TBytes = std::vector<unsigned char>;

void Put16(TBytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(TBytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// An icon image of w x h at `bits`, with `table` colours (BGRA words), masks (bit
// fields, appended after a 40-byte header) and a pixel function giving the stored value
// of (x, y), y counted from the top. `clear(x, y)` sets the mask bit. Rows bottom-up
// unless topDown.
struct TSpec {
  std::uint32_t W = 4, H = 2, Bits = 32, Compression = 0, ColoursUsed = 0;
  std::vector<std::uint32_t> Table, Masks;
  std::function<std::uint32_t(int, int)> Pixel = [](int, int) { return 0u; };
  std::function<bool(int, int)> Clear = [](int, int) { return false; };
  bool TopDown = false, WithMask = true;
};

TBytes Build(const TSpec& s) {
  const std::size_t stride = (s.W * s.Bits + 31) / 32 * 4, maskStride = (s.W + 31) / 32 * 4;
  TBytes b(40 + (s.Masks.size() + s.Table.size()) * 4 + stride * s.H + (s.WithMask ? maskStride * s.H : 0), 0);
  Put32(b, 0, 40);
  Put32(b, 4, s.W);
  const std::int32_t height = static_cast<std::int32_t>(s.H * 2) * (s.TopDown ? -1 : 1);
  Put32(b, 8, static_cast<std::uint32_t>(height));
  Put16(b, 12, 1);
  Put16(b, 14, s.Bits);
  Put32(b, 16, s.Compression);
  Put32(b, 32, s.ColoursUsed);
  std::size_t at = 40;
  for (std::uint32_t m : s.Masks) Put32(b, at, m), at += 4;
  for (std::uint32_t c : s.Table) Put32(b, at, c), at += 4;
  for (std::uint32_t y = 0; y < s.H; ++y) {
    const std::size_t row = at + (s.TopDown ? y : s.H - 1 - y) * stride;
    for (std::uint32_t x = 0; x < s.W; ++x) {
      const std::uint32_t v = s.Pixel(static_cast<int>(x), static_cast<int>(y));
      if (s.Bits < 8) {
        const std::size_t bit = x * s.Bits;
        b[row + bit / 8] |= static_cast<unsigned char>(v << (8 - s.Bits - bit % 8));
      } else {
        for (std::uint32_t k = 0; k < s.Bits / 8; ++k) b[row + x * (s.Bits / 8) + k] = static_cast<unsigned char>(v >> (8 * k));
      }
    }
  }
  at += stride * s.H;
  if (s.WithMask) {
    for (std::uint32_t y = 0; y < s.H; ++y) {
      const std::size_t row = at + (s.TopDown ? y : s.H - 1 - y) * maskStride;
      for (std::uint32_t x = 0; x < s.W; ++x)
        if (s.Clear(static_cast<int>(x), static_cast<int>(y))) b[row + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  }
  return b;
}

struct TPx {
  int R, G, B, A;
  bool operator==(const TPx& o) const { return R == o.R && G == o.G && B == o.B && A == o.A; }
};
std::ostream& operator<<(std::ostream& os, const TPx& p) {
  return os << "(" << p.R << "," << p.G << "," << p.B << "," << p.A << ")";
}
TPx At(const TRgbaImage& img, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = &img.Pixels[(y * img.Width + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

TRgbaImage Decode(const TBytes& b) {
  TRgbaImage img;
  std::string problem;
  EXPECT_TRUE(DecodeBitmapImage(b.data(), b.size(), img, problem)) << problem;
  return img;
}

TEST(BitmapImage, PalettedDepthsReadTheirTableAndTheMask) {
  for (std::uint32_t bits : {1u, 4u, 8u}) {
    TSpec s;
    s.W = 9;  // rows end mid-byte and mid-word
    s.H = 3;
    s.Bits = bits;
    const std::uint32_t colours = 1u << bits;
    for (std::uint32_t i = 0; i < colours; ++i) s.Table.push_back((i * 37 % 256) << 16 | (i * 11 % 256) << 8 | i);
    s.Pixel = [colours](int x, int y) { return static_cast<std::uint32_t>(x + y * 9) % colours; };
    s.Clear = [](int x, int y) { return x == 8 && y == 0; };
    const TRgbaImage img = Decode(Build(s));
    ASSERT_EQ(img.Width, 9u);
    ASSERT_EQ(img.Height, 3u);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 9; ++x) {
        const std::uint32_t i = static_cast<std::uint32_t>(x + y * 9) % colours;
        const TPx want{static_cast<int>(i * 37 % 256), static_cast<int>(i * 11 % 256), static_cast<int>(i),
                       x == 8 && y == 0 ? 0 : 255};
        EXPECT_EQ(At(img, x, y), want) << bits << " bits at " << x << "," << y;
      }
  }
}

TEST(BitmapImage, ShortColourTableAndIndexesBeyondItGiveBlack) {
  TSpec s;
  s.Bits = 4;
  s.ColoursUsed = 2;
  s.Table = {0x00FF0000, 0x0000FF00};
  s.Pixel = [](int x, int) { return static_cast<std::uint32_t>(x); };
  const TRgbaImage img = Decode(Build(s));
  EXPECT_EQ(At(img, 0, 0), (TPx{255, 0, 0, 255}));
  EXPECT_EQ(At(img, 1, 0), (TPx{0, 255, 0, 255}));
  EXPECT_EQ(At(img, 3, 0), (TPx{0, 0, 0, 255}));
}

TEST(BitmapImage, DirectDepthsAndBitFields) {
  TSpec s16;  // 5-5-5 by default
  s16.Bits = 16;
  s16.Pixel = [](int x, int) { return x == 0 ? 0x7C00u : x == 1 ? 0x03E0u : x == 2 ? 0x001Fu : 0x4210u; };
  TRgbaImage img = Decode(Build(s16));
  EXPECT_EQ(At(img, 0, 0), (TPx{255, 0, 0, 255}));
  EXPECT_EQ(At(img, 1, 1), (TPx{0, 255, 0, 255}));
  EXPECT_EQ(At(img, 2, 0), (TPx{0, 0, 255, 255}));
  EXPECT_EQ(At(img, 3, 0), (TPx{132, 132, 132, 255}));  // 16 of 31

  TSpec s565 = s16;  // 5-6-5 through bit fields after the header
  s565.Compression = 3;
  s565.Masks = {0xF800, 0x07E0, 0x001F};
  s565.Pixel = [](int x, int) { return x == 0 ? 0xF800u : x == 1 ? 0x07E0u : x == 2 ? 0x0020u : 0x001Fu; };
  img = Decode(Build(s565));
  EXPECT_EQ(At(img, 0, 0), (TPx{255, 0, 0, 255}));
  EXPECT_EQ(At(img, 1, 0), (TPx{0, 255, 0, 255}));
  EXPECT_EQ(At(img, 2, 0), (TPx{0, 4, 0, 255}));  // 1 of 63
  EXPECT_EQ(At(img, 3, 0), (TPx{0, 0, 255, 255}));

  TSpec s24;
  s24.Bits = 24;
  s24.W = 3;  // 9 bytes a row, padded to 12
  s24.Pixel = [](int x, int y) { return static_cast<std::uint32_t>(0x102030 * (x + 1) + y); };
  img = Decode(Build(s24));
  EXPECT_EQ(At(img, 2, 1), (TPx{0x30, 0x60, 0x91, 255}));

  TSpec s32;  // bit fields naming another order
  s32.Compression = 3;
  s32.Masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  s32.Pixel = [](int, int) { return 0x00332211u; };
  img = Decode(Build(s32));
  EXPECT_EQ(At(img, 0, 0), (TPx{0x11, 0x22, 0x33, 255}));
}

TEST(BitmapImage, ThirtyTwoBitsUseTheirOwnAlphaOrElseTheMask) {
  TSpec s;
  s.Pixel = [](int x, int) { return static_cast<std::uint32_t>(x * 60) << 24 | 0x112233; };
  s.Clear = [](int, int) { return true; };  // ignored: the image has alpha of its own
  TRgbaImage img = Decode(Build(s));
  EXPECT_EQ(At(img, 0, 0), (TPx{0x11, 0x22, 0x33, 0}));
  EXPECT_EQ(At(img, 3, 1), (TPx{0x11, 0x22, 0x33, 180}));

  s.Pixel = [](int, int) { return 0x112233u; };  // alpha all zero: the mask decides
  s.Clear = [](int x, int y) { return x == 1 && y == 1; };
  img = Decode(Build(s));
  EXPECT_EQ(At(img, 0, 0).A, 255);
  EXPECT_EQ(At(img, 1, 1).A, 0);
  EXPECT_EQ(At(img, 1, 0).A, 255);
}

TEST(BitmapImage, RowsAreReadBottomUpOrTopDownByTheHeightsSign) {
  for (bool topDown : {false, true}) {
    TSpec s;
    s.H = 3;
    s.TopDown = topDown;
    s.Pixel = [](int, int y) { return static_cast<std::uint32_t>(y == 0 ? 0xFF0000 : 0x0000FF); };
    s.Clear = [](int x, int y) { return x == 0 && y == 0; };
    const TRgbaImage img = Decode(Build(s));
    EXPECT_EQ(At(img, 1, 0), (TPx{255, 0, 0, 255})) << topDown;
    EXPECT_EQ(At(img, 1, 2), (TPx{0, 0, 255, 255})) << topDown;
    EXPECT_EQ(At(img, 0, 0).A, 0) << topDown;
    EXPECT_EQ(At(img, 0, 2).A, 255) << topDown;
  }
}

TEST(BitmapImage, CoreHeaderWithThreeByteColours) {
  // 2 x 1 pixels, 1 bit, stacked height 2: colours red and blue.
  TBytes b = {12, 0, 0, 0, 2, 0, 2, 0, 1, 0, 1, 0, 0, 0, 255, 255, 0, 0, 0x40, 0, 0, 0, 0x80, 0, 0, 0};
  const TRgbaImage img = Decode(b);
  ASSERT_EQ(img.Width, 2u);
  EXPECT_EQ(At(img, 0, 0), (TPx{255, 0, 0, 0}));
  EXPECT_EQ(At(img, 1, 0), (TPx{0, 0, 255, 255}));
}

TEST(BitmapImage, MissingMaskMeansOpaqueAndEverythingElseMissingIsRefused) {
  TSpec s;
  s.Bits = 24;
  s.WithMask = false;
  TRgbaImage img = Decode(Build(s));
  EXPECT_EQ(At(img, 2, 1).A, 255);

  const TBytes whole = Build(TSpec());
  std::string problem;
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{39}, std::size_t{40 + 31}}) {
    EXPECT_FALSE(DecodeBitmapImage(whole.data(), cut, img, problem)) << cut;
    EXPECT_FALSE(problem.empty());
  }
  auto refused = [&](std::function<void(TBytes&)> change) {
    TBytes b = Build(TSpec());
    change(b);
    return !DecodeBitmapImage(b.data(), b.size(), img, problem) && img.Pixels.empty();
  };
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 4, 0); }));                    // no width
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 4, MaxIconSide + 1); }));      // too wide
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 4, 0x80000000u); }));          // negative width
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 8, 1); }));                    // no colour row
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 8, 0x80000000u); }));          // most negative height
  EXPECT_TRUE(refused([](TBytes& b) { Put16(b, 14, 2); }));                   // 2 bits
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 16, 1); }));                   // run-length compressed
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 0, 0xFFFFFFF0u); }));          // header longer than the image
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 0, 20); }));                   // unknown header
  EXPECT_TRUE(refused([](TBytes& b) { Put32(b, 16, 3); b.resize(44); }));    // masks cut short
}

TEST(ScaleDown, AveragesByAreaWithAlphaAsWeight) {
  TRgbaImage src;
  src.Width = 4;
  src.Height = 2;
  // Left half opaque white, right half transparent red: the red lends no colour.
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 0; x < 4; ++x) {
      const bool left = x < 2;
      src.Pixels.insert(src.Pixels.end(), {std::uint8_t(left ? 255 : 255), std::uint8_t(left ? 255 : 0),
                                           std::uint8_t(left ? 255 : 0), std::uint8_t(left ? 255 : 0)});
    }
  TRgbaImage out = ScaleDown(src, 1, 1);
  ASSERT_EQ(out.Pixels.size(), 4u);
  EXPECT_EQ(At(out, 0, 0), (TPx{255, 255, 255, 128}));

  // 3 -> 2 across: the middle pixel is shared half and half.
  TRgbaImage row;
  row.Width = 3;
  row.Height = 1;
  row.Pixels = {0, 0, 0, 255, 90, 90, 90, 255, 180, 180, 180, 255};
  out = ScaleDown(row, 2, 1);
  EXPECT_EQ(At(out, 0, 0), (TPx{30, 30, 30, 255}));
  EXPECT_EQ(At(out, 1, 0), (TPx{150, 150, 150, 255}));

  // A flat colour stays exactly that colour at any ratio; sizes are clamped to the source.
  TRgbaImage flat;
  flat.Width = flat.Height = 256;
  for (int i = 0; i < 256 * 256; ++i) flat.Pixels.insert(flat.Pixels.end(), {10, 200, 77, 255});
  out = ScaleDown(flat, 100, 300);
  ASSERT_EQ(out.Width, 100u);
  ASSERT_EQ(out.Height, 256u);
  for (std::uint32_t y = 0; y < out.Height; y += 17)
    for (std::uint32_t x = 0; x < out.Width; x += 13) EXPECT_EQ(At(out, x, y), (TPx{10, 200, 77, 255}));
}

}  // namespace
