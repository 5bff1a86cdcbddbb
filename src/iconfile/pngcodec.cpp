#include "iconfile/pngcodec.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const unsigned char Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t U32Be(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
void PutU32Be(std::vector<unsigned char>& out, std::uint32_t v) {
  const unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  out.insert(out.end(), b, b + 4);
}

void PutChunk(std::vector<unsigned char>& out, const char* kind, const unsigned char* body, std::size_t length) {
  PutU32Be(out, static_cast<std::uint32_t>(length));
  const std::size_t start = out.size();
  out.insert(out.end(), kind, kind + 4);
  if (length) out.insert(out.end(), body, body + length);
  PutU32Be(out, static_cast<std::uint32_t>(crc32(0, &out[start], static_cast<uInt>(length + 4))));
}

unsigned Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes (decode) or applies (encode) one row's filter; `bpp` is bytes a pixel, at least 1.
// `prior` is the row above as it is unfiltered, all zero for the first.
// One loop a filter type: the type is asked once a row, not once a byte.
void Unfilter(unsigned type, unsigned char* row, const unsigned char* prior, std::size_t length, std::size_t bpp) {
  const std::size_t lead = std::min(bpp, length);  // bytes without a left neighbour
  switch (type) {
    case 1:
      for (std::size_t i = bpp; i < length; ++i) row[i] = static_cast<unsigned char>(row[i] + row[i - bpp]);
      break;
    case 2:
      for (std::size_t i = 0; i < length; ++i) row[i] = static_cast<unsigned char>(row[i] + prior[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < lead; ++i) row[i] = static_cast<unsigned char>(row[i] + prior[i] / 2);
      for (std::size_t i = lead; i < length; ++i)
        row[i] = static_cast<unsigned char>(row[i] + (row[i - bpp] + prior[i]) / 2);
      break;
    case 4:
      for (std::size_t i = 0; i < lead; ++i) row[i] = static_cast<unsigned char>(row[i] + prior[i]);
      for (std::size_t i = lead; i < length; ++i)
        row[i] = static_cast<unsigned char>(row[i] + Paeth(row[i - bpp], prior[i], prior[i - bpp]));
      break;
    default:
      break;
  }
}

void Filter(unsigned type, const unsigned char* row, const unsigned char* prior, std::size_t length, std::size_t bpp,
            unsigned char* out) {
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned a = i >= bpp ? row[i - bpp] : 0, b = prior[i], c = i >= bpp ? prior[i - bpp] : 0;
    unsigned predict = 0;
    switch (type) {
      case 1: predict = a; break;
      case 2: predict = b; break;
      case 3: predict = (a + b) / 2; break;
      case 4: predict = Paeth(a, b, c); break;
      default: break;
    }
    out[i] = static_cast<unsigned char>(row[i] - predict);
  }
}

}  // namespace

bool IsPng(const unsigned char* data, std::size_t size) {
  return size >= 8 && std::memcmp(data, Signature, 8) == 0;
}

std::vector<unsigned char> EncodePng(const TRgbaImage& image, int level) {
  const std::size_t stride = static_cast<std::size_t>(image.Width) * 4;
  // Each row gets the filter whose output has the smallest sum of magnitudes, the
  // usual guess at what deflate packs best.
  std::vector<unsigned char> raw((stride + 1) * image.Height);
  std::vector<unsigned char> zero(stride, 0), trial(stride), best(stride);
  for (std::uint32_t y = 0; y < image.Height; ++y) {
    const unsigned char* row = &image.Pixels[y * stride];
    const unsigned char* prior = y ? row - stride : zero.data();
    unsigned bestType = 0;
    std::uint64_t bestScore = UINT64_MAX;
    for (unsigned type = 0; type < 5; ++type) {
      Filter(type, row, prior, stride, 4, trial.data());
      std::uint64_t score = 0;
      for (unsigned char v : trial) score += v < 128 ? v : 256 - v;
      if (score < bestScore) {
        bestScore = score;
        bestType = type;
        best.swap(trial);
      }
    }
    raw[y * (stride + 1)] = static_cast<unsigned char>(bestType);
    std::copy(best.begin(), best.end(), raw.begin() + static_cast<std::ptrdiff_t>(y * (stride + 1) + 1));
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packedSize);
  compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), level);

  std::vector<unsigned char> out(Signature, Signature + 8);
  out.reserve(8 + 25 + 12 + packedSize + 12);
  unsigned char header[13] = {};
  std::vector<unsigned char> h;
  PutU32Be(h, image.Width);
  PutU32Be(h, image.Height);
  std::copy(h.begin(), h.end(), header);
  header[8] = 8;  // bits a channel
  header[9] = 6;  // RGBA
  PutChunk(out, "IHDR", header, sizeof header);
  PutChunk(out, "IDAT", packed.data(), packedSize);
  PutChunk(out, "IEND", nullptr, 0);
  return out;
}

namespace {

// Inflates the image data chunk by chunk straight into the rows' buffer, which holds
// exactly what the header's sides need: no chunk is copied, and no more is produced than
// the image can use.
class TInflater {
public:
  TInflater() { FOk = inflateInit(&FStream) == Z_OK; }
  ~TInflater() {
    if (FOk) inflateEnd(&FStream);
  }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  void Into(unsigned char* out, std::size_t size) {
    FStream.next_out = out;
    FStream.avail_out = static_cast<uInt>(size);
  }
  // Feeds one chunk's data; false when the data is damaged.
  bool Feed(const unsigned char* data, std::size_t length) {
    if (!FOk) return false;
    FStream.next_in = const_cast<unsigned char*>(data);
    FStream.avail_in = static_cast<uInt>(length);
    while (FStream.avail_in > 0 && FStream.avail_out > 0 && !FEnded) {
      const int z = inflate(&FStream, Z_NO_FLUSH);
      if (z == Z_STREAM_END) FEnded = true;
      else if (z != Z_OK) return false;
    }
    return true;  // data beyond the image is ignored
  }
  bool Full() const { return FOk && FStream.avail_out == 0; }

private:
  z_stream FStream{};
  bool FOk = false, FEnded = false;
};

}  // namespace

bool DecodePng(const unsigned char* data, std::size_t size, TRgbaImage& out, std::string& problem) {
  out = TRgbaImage();
  const TByteView view(data, size);
  if (!IsPng(data, size)) {
    problem = "not a PNG image";
    return false;
  }
  std::uint32_t width = 0, height = 0;
  unsigned depth = 0, colourType = 0, interlace = 0;
  bool haveHeader = false, ended = false, damaged = false;
  std::uint8_t palette[256][4];
  std::size_t paletteSize = 0;
  int transparentGrey = -1, transparentRgb[3] = {-1, -1, -1};
  for (std::size_t i = 0; i < 256; ++i) palette[i][0] = palette[i][1] = palette[i][2] = 0, palette[i][3] = 255;
  unsigned bitsPerPixel = 0;
  std::vector<unsigned char> raw;  // sized when the first data chunk comes, after the header
  TInflater inflater;

  // The seven passes of an interlaced image, or one pass of the whole.
  struct TPass {
    std::uint32_t X0, Y0, Dx, Dy;
  };
  static const TPass Adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  static const TPass Whole[1] = {{0, 0, 1, 1}};
  const TPass* passes = Whole;
  int passCount = 1;

  std::size_t at = 8;
  while (!ended) {
    const unsigned char* frame = view.At(at, 8);
    if (!frame) {
      problem = "the PNG image is cut short";
      return false;
    }
    const std::uint32_t length = U32Be(frame);
    const unsigned char* kind = view.At(at + 4, std::size_t{length} + 8);  // type, body, CRC
    if (!kind) {
      problem = "the PNG image is cut short";
      return false;
    }
    const unsigned char* body = kind + 4;
    if (crc32(0, kind, length + 4) != U32Be(body + length)) {
      problem = "a PNG chunk's checksum is wrong";
      return false;
    }
    at += 12 + std::size_t{length};
    const std::string name(reinterpret_cast<const char*>(kind), 4);
    if (!haveHeader && name != "IHDR") {
      problem = "the PNG image does not start with its header";
      return false;
    }
    if (name == "IHDR") {
      if (haveHeader || length != 13) {
        problem = "the PNG header is malformed";
        return false;
      }
      haveHeader = true;
      width = U32Be(body);
      height = U32Be(body + 4);
      depth = body[8];
      colourType = body[9];
      interlace = body[12];
      const bool depthFits = (colourType == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
                             (colourType == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
                             ((colourType == 2 || colourType == 4 || colourType == 6) && (depth == 8 || depth == 16));
      if (!depthFits || body[10] != 0 || body[11] != 0 || interlace > 1) {
        problem = "the PNG header is malformed";
        return false;
      }
      if (width < 1 || height < 1 || width > MaxIconSide || height > MaxIconSide) {
        problem = "the PNG image's size is out of range";
        return false;
      }
      const unsigned channels = colourType == 0 || colourType == 3 ? 1 : colourType == 2 ? 3 : colourType == 4 ? 2 : 4;
      bitsPerPixel = channels * depth;
      if (interlace) passes = Adam7, passCount = 7;
    } else if (name == "PLTE") {
      if (length % 3 || length / 3 > 256 || length == 0) {
        problem = "the PNG palette is malformed";
        return false;
      }
      paletteSize = length / 3;
      for (std::size_t i = 0; i < paletteSize; ++i) std::copy(body + i * 3, body + i * 3 + 3, palette[i]);
    } else if (name == "tRNS") {
      if (colourType == 3) {
        for (std::size_t i = 0; i < length && i < 256; ++i) palette[i][3] = body[i];
      } else if (colourType == 0 && length >= 2) {
        transparentGrey = static_cast<int>(body[0] << 8 | body[1]);
      } else if (colourType == 2 && length >= 6) {
        for (int c = 0; c < 3; ++c) transparentRgb[c] = body[c * 2] << 8 | body[c * 2 + 1];
      }
    } else if (name == "IDAT") {
      if (raw.empty()) {
        std::size_t expected = 0;
        for (int p = 0; p < passCount; ++p) {
          const std::size_t pw = (width - passes[p].X0 + passes[p].Dx - 1) / passes[p].Dx;
          const std::size_t ph = (height - passes[p].Y0 + passes[p].Dy - 1) / passes[p].Dy;
          if (pw && ph) expected += ph * (1 + (pw * bitsPerPixel + 7) / 8);
        }
        raw.resize(expected);
        inflater.Into(raw.data(), raw.size());
      }
      damaged = damaged || !inflater.Feed(body, length);
    } else if (name == "IEND") {
      ended = true;
    } else if (!(kind[0] & 0x20)) {
      problem = "the PNG image has a critical chunk this reader does not know";
      return false;
    }
  }
  if (damaged || raw.empty() || !inflater.Full()) {
    problem = "the PNG image's data is damaged or cut short";
    return false;
  }
  if (colourType == 3 && paletteSize == 0) {
    problem = "the PNG image has no palette";
    return false;
  }

  const unsigned channels = colourType == 0 || colourType == 3 ? 1 : colourType == 2 ? 3 : colourType == 4 ? 2 : 4;
  const std::size_t bpp = std::max<std::size_t>(1, bitsPerPixel / 8);
  out.Width = width;
  out.Height = height;
  out.Pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
  const unsigned maxValue = (1u << depth) - 1;
  std::size_t offset = 0;
  for (int p = 0; p < passCount; ++p) {
    const std::size_t pw = (width - passes[p].X0 + passes[p].Dx - 1) / passes[p].Dx;
    const std::size_t ph = (height - passes[p].Y0 + passes[p].Dy - 1) / passes[p].Dy;
    if (!pw || !ph) continue;
    const std::size_t stride = (pw * bitsPerPixel + 7) / 8;
    std::vector<unsigned char> zero(stride, 0);
    const unsigned char* prior = zero.data();
    for (std::size_t py = 0; py < ph; ++py) {
      unsigned char* row = &raw[offset + 1];
      const unsigned type = raw[offset];
      if (type > 4) {
        problem = "the PNG image has an unknown row filter";
        out = TRgbaImage();
        return false;
      }
      Unfilter(type, row, prior, stride, bpp);
      prior = row;
      offset += stride + 1;
      // A sample of the row: the value at (pixel, channel), at any depth.
      auto sample = [&](std::size_t x, unsigned c) -> unsigned {
        if (depth == 8) return row[x * channels + c];
        if (depth == 16) return row[(x * channels + c) * 2] << 8 | row[(x * channels + c) * 2 + 1];
        const std::size_t bit = (x * channels + c) * depth;
        return (row[bit / 8] >> (8 - depth - bit % 8)) & maxValue;
      };
      auto to8 = [&](unsigned v) -> std::uint8_t {
        return static_cast<std::uint8_t>(depth == 16 ? v >> 8 : v * 255 / maxValue);
      };
      const std::size_t y = passes[p].Y0 + py * passes[p].Dy;
      if (colourType == 6 && depth == 8) {  // RGBA as stored: the common icon image
        for (std::size_t px = 0; px < pw; ++px)
          std::copy(row + px * 4, row + px * 4 + 4, &out.Pixels[(y * width + passes[p].X0 + px * passes[p].Dx) * 4]);
        continue;
      }
      for (std::size_t px = 0; px < pw; ++px) {
        const std::size_t x = passes[p].X0 + px * passes[p].Dx;
        std::uint8_t* o = &out.Pixels[(y * width + x) * 4];
        switch (colourType) {
          case 0: {
            const unsigned g = sample(px, 0);
            o[0] = o[1] = o[2] = to8(g);
            o[3] = static_cast<int>(g) == transparentGrey ? 0 : 255;
            break;
          }
          case 2: {
            const unsigned r = sample(px, 0), g = sample(px, 1), b = sample(px, 2);
            o[0] = to8(r), o[1] = to8(g), o[2] = to8(b);
            o[3] = static_cast<int>(r) == transparentRgb[0] && static_cast<int>(g) == transparentRgb[1] &&
                           static_cast<int>(b) == transparentRgb[2]
                       ? 0
                       : 255;
            break;
          }
          case 3: {
            const unsigned index = sample(px, 0);
            const std::uint8_t* c = palette[index];
            if (index >= paletteSize) {
              problem = "the PNG image uses a colour its palette lacks";
              out = TRgbaImage();
              return false;
            }
            std::copy(c, c + 4, o);
            break;
          }
          case 4:
            o[0] = o[1] = o[2] = to8(sample(px, 0));
            o[3] = to8(sample(px, 1));
            break;
          default:
            for (unsigned c = 0; c < 4; ++c) o[c] = to8(sample(px, c));
            break;
        }
      }
    }
  }
  return true;
}
