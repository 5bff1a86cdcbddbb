// PNG writing and reading: round trips, every colour type and depth the reader takes,
// interlacing, and the damaged images it refuses. Test images are packed here with
// zlib from scan lines written out by hand.
#include "iconfile/pngcodec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<unsigned char>;

void Be32(TBytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}
void Chunk(TBytes& out, const std::string& kind, const TBytes& body) {
  Be32(out, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), kind.begin(), kind.end());
  out.insert(out.end(), body.begin(), body.end());
  Be32(out, static_cast<std::uint32_t>(crc32(0, &out[start], static_cast<uInt>(body.size() + 4))));
}
// A PNG from raw (already filtered) scan lines.
TBytes MakePng(std::uint32_t w, std::uint32_t h, int depth, int colourType, const TBytes& lines,
               const std::vector<std::pair<std::string, TBytes>>& extra = {}, int interlace = 0) {
  TBytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  TBytes ihdr;
  Be32(ihdr, w);
  Be32(ihdr, h);
  ihdr.insert(ihdr.end(), {static_cast<unsigned char>(depth), static_cast<unsigned char>(colourType), 0, 0,
                           static_cast<unsigned char>(interlace)});
  Chunk(out, "IHDR", ihdr);
  for (const auto& e : extra) Chunk(out, e.first, e.second);
  uLongf size = compressBound(static_cast<uLong>(lines.size()));
  TBytes packed(size);
  compress(packed.data(), &size, lines.data(), static_cast<uLong>(lines.size()));
  packed.resize(size);
  Chunk(out, "IDAT", packed);
  Chunk(out, "IEND", {});
  return out;
}

std::vector<int> Px(const TRgbaImage& img, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = &img.Pixels[(y * img.Width + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

TRgbaImage Decode(const TBytes& png) {
  TRgbaImage img;
  std::string problem;
  EXPECT_TRUE(DecodePng(png.data(), png.size(), img, problem)) << problem;
  return img;
}

TEST(Png, WrittenImagesReadBackExactly) {
  std::mt19937 random(7);
  for (std::uint32_t side : {1u, 3u, 32u, 256u}) {
    TRgbaImage img;
    img.Width = side;
    img.Height = side + 1;
    img.Pixels.resize(std::size_t{side} * (side + 1) * 4);
    // Smooth parts and noise, so every row filter gets chosen somewhere.
    for (std::size_t i = 0; i < img.Pixels.size(); ++i)
      img.Pixels[i] = static_cast<std::uint8_t>(i % 7 == 0 ? random() : i / 4 % side);
    const TBytes png = EncodePng(img, 6);
    ASSERT_TRUE(IsPng(png.data(), png.size()));
    const TRgbaImage back = Decode(png);
    EXPECT_EQ(back.Width, img.Width);
    EXPECT_EQ(back.Height, img.Height);
    EXPECT_EQ(back.Pixels, img.Pixels) << side;
  }
}

TEST(Png, GreyPaletteAndSixteenBitImagesWithTransparency) {
  // 1-bit grey, 3 pixels: 1 0 1; tRNS makes grey value 0 transparent.
  TRgbaImage img = Decode(MakePng(3, 1, 1, 0, {0, 0xA0}, {{"tRNS", {0, 0}}}));
  EXPECT_EQ(Px(img, 0, 0), (std::vector<int>{255, 255, 255, 255}));
  EXPECT_EQ(Px(img, 1, 0), (std::vector<int>{0, 0, 0, 0}));

  // 2-bit palette with alpha from tRNS.
  img = Decode(MakePng(2, 1, 2, 3, {0, 0x50}, {{"PLTE", {255, 0, 0, 0, 255, 0}}, {"tRNS", {255, 77}}}));
  EXPECT_EQ(Px(img, 0, 0), (std::vector<int>{0, 255, 0, 77}));
  EXPECT_EQ(Px(img, 1, 0), (std::vector<int>{0, 255, 0, 77}));

  // 16-bit RGB with a transparent colour, and 16-bit grey + alpha: the high bytes count.
  img = Decode(MakePng(2, 1, 16, 2, {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0, 1, 0, 2, 0, 3},
                       {{"tRNS", {0, 1, 0, 2, 0, 3}}}));
  EXPECT_EQ(Px(img, 0, 0), (std::vector<int>{0x12, 0x56, 0x9A, 255}));
  EXPECT_EQ(Px(img, 1, 0), (std::vector<int>{0, 0, 0, 0}));
  img = Decode(MakePng(1, 1, 16, 4, {0, 0x80, 0, 0x40, 0}));
  EXPECT_EQ(Px(img, 0, 0), (std::vector<int>{0x80, 0x80, 0x80, 0x40}));

  // 8-bit RGB, two rows, the second with the Up filter.
  img = Decode(MakePng(1, 2, 8, 2, {0, 10, 20, 30, 2, 1, 1, 1}));
  EXPECT_EQ(Px(img, 0, 1), (std::vector<int>{11, 21, 31, 255}));
}

TEST(Png, InterlacedImagesPlaceEveryPass) {
  // 3 x 3 grey, 8 bits: passes 1 (0,0), 2 none, 3 none, 4 (2,0), 5 (0,2)+(2,2),
  // 6 (1,0),(1,2), 7 row 1 entire. The value of each pixel is 10 * (y * 3 + x).
  TBytes lines = {0, 0,       // pass 1
                  0, 20,      // pass 4: (2,0)
                  0, 60, 80,  // pass 5: row 2, x 0 and 2
                  0, 10,      // pass 6: row 0, x 1
                  0, 70,      // pass 6: row 2, x 1
                  0, 30, 40, 50};  // pass 7: row 1
  const TRgbaImage img = Decode(MakePng(3, 3, 8, 0, lines, {}, 1));
  for (std::uint32_t y = 0; y < 3; ++y)
    for (std::uint32_t x = 0; x < 3; ++x) EXPECT_EQ(Px(img, x, y)[0], static_cast<int>(10 * (y * 3 + x))) << x << "," << y;
}

TEST(Png, DamagedImagesAreRefusedWithAReason) {
  const TBytes good = MakePng(2, 2, 8, 6, TBytes(2 * 9, 0));
  TRgbaImage img;
  std::string problem;
  ASSERT_TRUE(DecodePng(good.data(), good.size(), img, problem));
  auto refused = [&](const TBytes& png) {
    problem.clear();
    const bool ok = DecodePng(png.data(), png.size(), img, problem);
    return !ok && !problem.empty();
  };
  for (std::size_t cut = 0; cut < good.size(); cut += 5) EXPECT_TRUE(refused(TBytes(good.begin(), good.begin() + cut))) << cut;
  TBytes badCrc = good;
  badCrc[30] ^= 1;  // inside IHDR's CRC
  EXPECT_TRUE(refused(badCrc));
  EXPECT_TRUE(refused(MakePng(20000, 20000, 8, 6, TBytes(4096, 0))));                      // beyond any icon
  EXPECT_TRUE(refused(MakePng(0, 2, 8, 6, TBytes(4, 0))));                                 // no width
  EXPECT_TRUE(refused(MakePng(2, 2, 8, 6, TBytes(2 * 9 - 1, 0))));                         // a byte short
  EXPECT_TRUE(refused(MakePng(2, 2, 3, 6, TBytes(2 * 9, 0))));                             // depth 3
  EXPECT_TRUE(refused(MakePng(2, 2, 16, 3, TBytes(2 * 5, 0))));                            // 16-bit palette
  EXPECT_TRUE(refused(MakePng(1, 1, 8, 3, {0, 0})));                                       // palette missing
  EXPECT_TRUE(refused(MakePng(1, 1, 8, 3, {0, 2}, {{"PLTE", {1, 2, 3}}})));                // index beyond it
  EXPECT_TRUE(refused(MakePng(1, 1, 8, 0, {5, 0})));                                       // filter 5
  EXPECT_TRUE(refused(MakePng(1, 1, 8, 0, {0, 0}, {{"ABCD", {}}})));                       // unknown critical
  EXPECT_TRUE(img.Pixels.empty());
  EXPECT_FALSE(IsPng(good.data(), 7));
  // An ancillary chunk nobody knows is passed over.
  EXPECT_TRUE(DecodePng(MakePng(1, 1, 8, 0, {0, 9}, {{"abCD", {1, 2}}}).data(),
                        MakePng(1, 1, 8, 0, {0, 9}, {{"abCD", {1, 2}}}).size(), img, problem));
}

}  // namespace
