#include "iconfile/iconfile.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

// The shell's extraction maps the whole file and follows the offsets it finds without
// asking whether they stay inside. The reader walks exactly the structures it follows
// (headers, section table, resource directory, icon groups and the icons they name) and
// asks of every one that it lies wholly inside the file; each icon image the shell may
// decode must also be of a form its decoder measures safely (see "Icon images" below).
// It never recurses, reads in bounded pieces and gives up after a fixed number of
// resource entries. Only when the whole file is sound does it list the icon groups, in
// the order and with the lookups the shell itself uses.

namespace {

// Enough for the largest real icon libraries (several thousand icons, each with a name
// and a language entry), little enough that a hostile file costs a few milliseconds.
constexpr std::size_t MaxResourceEntries = 32768;
constexpr std::uint64_t Max32 = 0xFFFFFFFFu;

constexpr std::uint16_t ResIcon = 3;
constexpr std::uint16_t ResGroupIcon = 14;
constexpr std::uint16_t NeResIcon = 0x8003;
constexpr std::uint16_t NeResGroupIcon = 0x800E;
constexpr std::uint16_t ResCursor = 1;
constexpr std::uint16_t ResGroupCursor = 12;
// A cursor resource begins with its hot spot (x, y), then the image.
constexpr std::uint32_t HotspotBytes = 4;

constexpr std::size_t IcoEntryBytes = 16;    // entry of an .ico file's directory
constexpr std::size_t GroupEntryBytes = 14;  // entry of an icon group resource
constexpr std::size_t GroupHeaderBytes = 6;  // reserved, type, count

using TBytes = std::vector<unsigned char>;
using TPlace = std::pair<std::uint64_t, std::uint32_t>;  // an image's offset and length

std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t U32BigEndian(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// UTF-16 code units as UTF-8; a surrogate without its pair becomes U+FFFD.
std::string Utf8FromUtf16(const std::vector<std::uint16_t>& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Resource names are read for listing only, up to this many characters each (a real
// name is a word or two); the rest of a longer one is left out.
constexpr std::size_t MaxNameUnits = 256;

// The file as a bounded byte source: nothing is read that does not lie inside it. The
// first reason a file is refused is kept for messages.
class TSource {
public:
  TSource(std::uint64_t size, const TReadAt& readAt, std::string& problem)
      : FSize(size), FReadAt(readAt), FProblem(problem) {}
  std::uint64_t Size() const { return FSize; }
  bool Inside(std::uint64_t offset, std::uint64_t length) const {
    return offset <= FSize && length <= FSize - offset;
  }
  bool Read(std::uint64_t offset, void* buffer, std::size_t length) const {
    return Inside(offset, length) && (length == 0 || FReadAt(offset, buffer, length));
  }
  // The buffer is sized only once the stated length is known to lie inside the file.
  bool Read(std::uint64_t offset, TBytes& out, std::size_t length) const {
    if (!Inside(offset, length)) return false;
    out.resize(length);
    return Read(offset, out.data(), length);
  }
  const TReadAt& ReadAt() const { return FReadAt; }
  // Notes why the file is refused (the first reason only) and answers false.
  bool Fail(const char* why) const {
    if (FProblem.empty()) FProblem = why;
    return false;
  }

private:
  std::uint64_t FSize;
  const TReadAt& FReadAt;
  std::string& FProblem;
};

// ---- Icon images ------------------------------------------------------------------------
// The shell hands each image's bytes and their length to its icon decoder, which takes
// the image for a PNG when it starts with the PNG signature, for an animated cursor when
// it starts with "RIFF", and for a device-independent bitmap otherwise. The animated
// cursor reader follows chunk lengths past the image; the bitmap reader forms the sizes
// of its parts in 32 bits and, for a 32-bit image, scans pixels it has not measured;
// the PNG reader allocates whatever the header declares and inflates every compressed
// text or profile chunk before the pixels. So only two forms pass, each measured here in
// 64 bits against the image's own length: a bitmap with an info header of a known size
// and icon dimensions, or a PNG of bounded dimensions whose chunks all lie inside the
// image. Everything else (RIFF data, a 12-byte core header, unknown header sizes,
// compressed bitmaps) is refused.

// The bitmap decoder sets no bound on an image's sides of its own (it stretches whatever
// it is given to the size asked for), and real programs carry images larger than the
// 256 x 256 that icon directories can describe (Wine's own winecfg.exe holds a 194 x 313
// one). A bitmap may be 1024 a side: at 32 bits a pixel it decodes to 4 MB, and no size
// the decoder forms in 32 bits from it comes near wrapping.
constexpr std::int64_t MaxBitmapSide = 1024;
// PNG images are read by a library that measures its own buffers; what bounds them here
// is the memory and time of one decode: 4096 a side and 4 M pixels (16 MB at 32 bits,
// a 2048 x 2048 image), far from the 1.6 GB a PNG declaring 20000 x 20000 pixels makes
// the decoder take, and from the 2 GB where its sizes (formed in 32 bits) would wrap.
constexpr std::uint64_t MaxPngSide = 4096;
constexpr std::uint64_t MaxPngPixels = 4u << 20;
// PNG chunks walked in one file, over all its images. Real icon images have a handful of
// chunks each; a hostile file could hold a great many empty ones, and each costs a read.
constexpr std::size_t MaxPngChunks = 65536;

bool IsPngSignature(const unsigned char* p) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return std::equal(signature, signature + 8, p);
}

// What one image measures, and whether it is sound.
struct TImageFacts {
  bool Sound = false;
  bool Png = false;
  std::uint32_t Width = 0, Height = 0;
  std::uint16_t BitCount = 0;
  std::uint32_t DecodeBytes = 0;
  std::uint64_t Pixels() const { return std::uint64_t(Width) * Height; }
};

// Checks images, each place (offset and length) once however often it is named; each
// image's header is read once, in one piece.
class TImageCheck {
public:
  explicit TImageCheck(const TSource& src) : FSrc(src) {}

  const TImageFacts& Check(const TPlace& place) {
    auto found = FSeen.find(place);
    if (found != FSeen.end()) return found->second;
    TImageFacts& facts = FSeen[place];
    // Enough for a bitmap's info header, or a PNG's signature, header chunk and the
    // frame of the chunk after it.
    unsigned char head[8 + 25 + 8] = {};
    const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(place.second, sizeof head));
    if (!FSrc.Inside(place.first, place.second)) {
      FSrc.Fail("an icon image lies outside the file");
    } else if (place.second < 8 || !FSrc.Read(place.first, head, got)) {
      FSrc.Fail("an icon image is shorter than any image form");
    } else if (std::equal(head, head + 4, "RIFF")) {
      FSrc.Fail("an icon image holds animated-cursor data");
    } else if (IsPngSignature(head)) {
      PngIsSound(place.first, place.second, head, facts);
    } else {
      DibIsSound(place.second, head, facts);
    }
    return facts;
  }

  // What a place checked before measured.
  TImageFacts Measured(const TPlace& place) const {
    auto found = FSeen.find(place);
    return found == FSeen.end() ? TImageFacts() : found->second;
  }

  // Checks every place, in file order so the reads move forward through the file.
  bool CheckAll(std::vector<TPlace>& places) {
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    for (const TPlace& place : places)
      if (!Check(place).Sound) return false;
    return true;
  }

private:
  // A PNG image: the signature, an IHDR chunk first (13 bytes long, sides within the
  // bounds above, a known bit depth and colour type), then chunks whose lengths stay
  // inside the image, up to an IEND chunk, and none of the compressed chunks the decoder
  // would inflate for nothing an icon shows (zTXt, iTXt, iCCP: each may inflate to
  // megabytes, on every extraction).
  void PngIsSound(std::uint64_t offset, std::uint32_t size, const unsigned char* head, TImageFacts& facts) {
    constexpr std::size_t ChunkFrame = 12;  // length, type, and the CRC after the body
    facts.Png = true;
    if (size < 8 + ChunkFrame + 13) {
      FSrc.Fail("a PNG icon image is cut short");
      return;
    }
    if (U32BigEndian(&head[8]) != 13 || !std::equal(head + 12, head + 16, "IHDR")) {
      FSrc.Fail("a PNG icon image does not begin with its header chunk");
      return;
    }
    const std::uint64_t width = U32BigEndian(&head[16]), height = U32BigEndian(&head[20]);
    if (width < 1 || width > MaxPngSide || height < 1 || height > MaxPngSide || width * height > MaxPngPixels) {
      FSrc.Fail("a PNG icon image has no sides or more pixels than any icon");
      return;
    }
    const unsigned depth = head[24], colourType = head[25];
    unsigned channels = 0;
    switch (colourType) {
      case 0: case 3: channels = 1; break;
      case 2: channels = 3; break;
      case 4: channels = 2; break;
      case 6: channels = 4; break;
      default: break;
    }
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) || channels == 0) {
      FSrc.Fail("a PNG icon image has an unknown bit depth or colour type");
      return;
    }
    facts.Width = static_cast<std::uint32_t>(width);
    facts.Height = static_cast<std::uint32_t>(height);
    facts.BitCount = static_cast<std::uint16_t>(depth * channels);
    std::uint64_t at = 8;
    for (; FChunksLeft > 0; --FChunksLeft) {
      unsigned char frame[8];
      if (size - at < ChunkFrame) {
        FSrc.Fail("a PNG icon image ends before its end chunk");
        return;
      }
      // The frame after the header chunk came with the header.
      if (at == 8 + 25 && size >= 8 + 25 + 8) std::copy(head + 33, head + 41, frame);
      else if (!FSrc.Read(offset + at, frame, 8)) {
        FSrc.Fail("a PNG icon image cannot be read");
        return;
      }
      const std::uint64_t length = U32BigEndian(&frame[0]);
      if (length > size - at - ChunkFrame) {
        FSrc.Fail("a PNG chunk runs past its image");
        return;
      }
      if (std::equal(frame + 4, frame + 8, "IEND")) {
        facts.DecodeBytes = static_cast<std::uint32_t>(at + ChunkFrame);  // the decoder stops here
        facts.Sound = true;
        return;
      }
      if (std::equal(frame + 4, frame + 8, "zTXt") || std::equal(frame + 4, frame + 8, "iTXt") ||
          std::equal(frame + 4, frame + 8, "iCCP")) {
        FSrc.Fail("a PNG icon image holds compressed text or a colour profile");
        return;
      }
      at += ChunkFrame + length;
    }
    FSrc.Fail("the file's PNG images hold too many chunks");
  }

  // A bitmap image: an info header of 40, 52, 56, 108 or 124 bytes; width 1..1024; a
  // height that is even (colour rows and mask rows stacked), not 0, and at most twice
  // 1024 either way (negative: rows top-down); one plane; 1, 4, 8, 16, 24 or 32 bits a
  // pixel; no compression, or bit fields at 16 or 32 bits; a colour table of at most
  // 2^bits entries (256 at most above 8 bits, the most the platform ever counts); and
  // header, bit fields, colour table and colour rows inside the image. The mask rows may
  // be missing (many favicons have none): the decoder measures the room left for them
  // and leaves the mask out when it is short.
  void DibIsSound(std::uint32_t size, const unsigned char* h, TImageFacts& facts) {
    if (size < 40) {
      FSrc.Fail("a bitmap icon image is shorter than its header");
      return;
    }
    const std::uint32_t headerSize = U32(&h[0]);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
      FSrc.Fail("an icon image is neither a PNG nor a bitmap with a known header");
      return;
    }
    const std::int64_t width = static_cast<std::int32_t>(U32(&h[4]));
    const std::int64_t height = static_cast<std::int32_t>(U32(&h[8]));
    const std::int64_t rows = (height < 0 ? -height : height) / 2;
    if (width < 1 || width > MaxBitmapSide || height % 2 != 0 || rows < 1 || rows > MaxBitmapSide) {
      FSrc.Fail("a bitmap icon image has sides no icon has");
      return;
    }
    const unsigned planes = U16(&h[12]), bits = U16(&h[14]);
    const std::uint32_t compression = U32(&h[16]), coloursUsed = U32(&h[32]);
    constexpr std::uint32_t BiRgb = 0, BiBitfields = 3;
    if (planes != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
        (compression != BiRgb && !(compression == BiBitfields && (bits == 16 || bits == 32)))) {
      FSrc.Fail("a bitmap icon image has an unknown pixel format");
      return;
    }
    const std::uint64_t tableLimit = bits <= 8 ? std::uint64_t{1} << bits : 256;
    if (coloursUsed > tableLimit) {
      FSrc.Fail("a bitmap icon image has a colour table too large for its depth");
      return;
    }
    const std::uint64_t colours = coloursUsed != 0 ? coloursUsed : (bits <= 8 ? tableLimit : 0);
    // Bit fields follow a 40-byte header; the larger headers hold them inside.
    const std::uint64_t header = std::max<std::uint64_t>(headerSize, compression == BiBitfields ? 40 + 3 * 4 : 40);
    const std::uint64_t colourRows = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4 * static_cast<std::uint64_t>(rows);
    if (header + colours * 4 + colourRows > size) {
      FSrc.Fail("a bitmap icon image is shorter than its pixels");
      return;
    }
    facts.Width = static_cast<std::uint32_t>(width);
    facts.Height = static_cast<std::uint32_t>(rows);
    facts.BitCount = static_cast<std::uint16_t>(bits);
    // The mask rows after the colour rows are all the decoder reads; the rest of a
    // stated length (however large) is never read.
    const std::uint64_t maskRows = (static_cast<std::uint64_t>(width) + 31) / 32 * 4 * static_cast<std::uint64_t>(rows);
    facts.DecodeBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, header + colours * 4 + colourRows + maskRows));
    facts.Sound = true;
  }

  const TSource& FSrc;
  std::map<TPlace, TImageFacts> FSeen;
  std::size_t FChunksLeft = MaxPngChunks;
};

// An image as the file's directory states it, with what the check measured.
TIconImage MakeImage(const unsigned char* entry, std::uint32_t bytes, std::uint16_t id, const TPlace& place,
                     const TImageFacts& facts) {
  TIconImage image;
  image.EntryWidth = entry[0];
  image.EntryHeight = entry[1];
  image.EntryColours = entry[2];
  image.EntryReserved = entry[3];
  image.EntryPlanes = U16(entry + 4);
  image.EntryBitCount = U16(entry + 6);
  image.EntryBytes = bytes;
  image.Id = id;
  image.Width = facts.Width;
  image.Height = facts.Height;
  image.BitCount = facts.BitCount;
  image.Png = facts.Png;
  image.Offset = place.first;
  image.Size = place.second;
  image.DecodeBytes = facts.DecodeBytes;
  image.Sound = facts.Sound;
  return image;
}

// A cursor file's group: its directory is an icon file's with the hot spot where an icon
// entry has planes and bit count. Its images were all checked (they must all be sound).
TIconGroup CursorFileGroup(const unsigned char* dir, std::size_t count, const std::vector<TPlace>& places,
                           const TImageCheck& images) {
  TIconGroup group;
  group.Cursor = true;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* e = &dir[i * IcoEntryBytes];
    TIconImage image = MakeImage(e, U32(e + 8), 0, places[i], images.Measured(places[i]));
    image.HotspotX = image.EntryPlanes;
    image.HotspotY = image.EntryBitCount;
    group.Images.push_back(image);
  }
  return group;
}

// ---- Which image the shell picks ----------------------------------------------------------
// For each icon the shell extracts, it reads the group's header and entries and picks
// one entry: a header with a reserved word other than 0, or a type with neither low bit
// set, it does not read at all, and then (as for a group without entries) it asks for
// icon number 0. Otherwise it picks the entry nearest in width plus height to the size it
// was asked for (the system's icon size, 32 x 32 for this program, which is not
// DPI-aware), the first of those; among the entries at that distance, the one whose bit
// count is nearest the display's depth, the first of those. The display's depth and
// whether an entry of 0 x 0 counts as 256 x 256 depend on the system, so every pick any
// of them makes is taken.
constexpr int RequestSide = 32;

bool GroupHeaderIsRead(const unsigned char* header) { return U16(header) == 0 && (U16(header + 2) & 3) != 0; }

// The entries (each `stride` bytes, width and height first, bit count at byte 6) the
// shell may pick; empty when it picks none (icon number 0 is then asked for).
std::vector<std::size_t> PickedEntries(const unsigned char* entries, std::size_t stride, std::size_t count) {
  std::vector<std::size_t> picks;
  for (int zeroIs256 = 0; zeroIs256 < 2; ++zeroIs256) {
    auto side = [&](std::size_t i, int k) {
      const int w = entries[i * stride], h = entries[i * stride + 1];
      return zeroIs256 && w == 0 && h == 0 ? 256 : (k == 0 ? w : h);
    };
    unsigned total = ~0u, xDiff = 0, yDiff = 0;
    for (std::size_t i = 0; total != 0 && i < count; ++i) {
      const unsigned x = static_cast<unsigned>(std::abs(RequestSide - side(i, 0)));
      const unsigned y = static_cast<unsigned>(std::abs(RequestSide - side(i, 1)));
      if (total > x + y) {
        xDiff = x;
        yDiff = y;
        total = x + y;
      }
    }
    for (int depth : {8, 16, 24, 32}) {
      long best = -1;
      unsigned colourDiff = ~0u;
      for (std::size_t i = 0; i < count; ++i) {
        if (static_cast<unsigned>(std::abs(RequestSide - side(i, 0))) != xDiff ||
            static_cast<unsigned>(std::abs(RequestSide - side(i, 1))) != yDiff)
          continue;
        const unsigned d = static_cast<unsigned>(std::abs(depth - static_cast<int>(U16(entries + i * stride + 6))));
        if (colourDiff > d) {
          best = static_cast<long>(i);
          colourDiff = d;
        }
      }
      if (best >= 0 && std::find(picks.begin(), picks.end(), static_cast<std::size_t>(best)) == picks.end())
        picks.push_back(static_cast<std::size_t>(best));
    }
  }
  return picks;
}

// What extracting every icon of a file may cost, counted in decoded pixels: for each icon
// the shell numbers, the largest image it may pick, and for the extraction itself (the
// shell maps and walks the file again for each icon) as much as a 181 x 181 image. A
// collection extracts each icon once, so a file that names one large image from many
// groups makes the decoder decode it again and again. 32 M is about two seconds at the
// measured 55 ms a megapixel; shell32.dll asks 6.2 M (184 icons, each picking a 32 x 32
// image), and Wine's system folder holds no file that asks more. Within it: about 1000
// icons of small images, or 500 whose every image is 256 x 256, or 30 of 1024 x 1024.
constexpr std::uint64_t MaxDecodedPixels = 32u << 20;
constexpr std::uint64_t ExtractionCost = 32u << 10;
// Images listed over all of a file's icons (each group's entries, counted again for every
// icon that names the same group data). Real libraries list a few thousand (shell32.dll
// about 1,400), each entry 14 bytes of its own group data; a file whose icons share one
// group of thousands of entries would make the listing grow as icons times entries.
// Charged before a group's entries are looked up: 4,096 and one for each 8 bytes of the
// file, never more than 65,536 (a few megabytes of listing).
constexpr std::size_t ListedImagesAllowance = 4096;
constexpr std::uint64_t FileBytesPerListedImage = 8;
constexpr std::size_t MaxListedImages = 65536;

// The budgets of planning a file's icons, each charged before the work it pays for.
class TPlanBudget {
public:
  explicit TPlanBudget(const TSource& src)
      : FSrc(src),
        FImagesLeft(static_cast<std::size_t>(
            std::min<std::uint64_t>(MaxListedImages, ListedImagesAllowance + src.Size() / FileBytesPerListedImage))) {}
  // One more icon to extract: the extraction itself.
  bool Icon() { return Pixels(ExtractionCost); }
  bool Pixels(std::uint64_t pixels) {
    FPixels += pixels;
    return FPixels <= MaxDecodedPixels || FSrc.Fail("extracting the file's icons would decode too many pixels");
  }
  bool Entries(std::size_t count) {
    if (count > FImagesLeft) return FSrc.Fail("the file's icons list more images than any icon library");
    FImagesLeft -= count;
    return true;
  }

private:
  const TSource& FSrc;
  std::uint64_t FPixels = 0;
  std::size_t FImagesLeft;
};

// ---- .ico files -------------------------------------------------------------------------
// Reserved 0, type 1 (icons) or 2 (cursors), at least one image. The shell shows an icon
// file (type 1) as one icon and reads only the image it picks: that one must lie inside
// and be sound; the others are measured for the listing and may be anything. A cursor
// file the shell lists no icon of, but other systems read its images: all must be sound.
bool ReadIco(const TSource& src, TIconFile& out, bool cursors) {
  unsigned char head[GroupHeaderBytes];
  if (!src.Read(0, head, GroupHeaderBytes)) return src.Fail("the icon file's header is cut short");
  const std::uint16_t type = U16(&head[2]), count = U16(&head[4]);
  if (U16(&head[0]) != 0 || (type != 1 && type != 2) || count == 0)
    return src.Fail("the icon file's header is not one of an icon or cursor file");
  TBytes dir;
  if (!src.Read(GroupHeaderBytes, dir, count * IcoEntryBytes)) return src.Fail("the icon file's directory is cut short");
  std::vector<TPlace> places;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* e = &dir[i * IcoEntryBytes];
    places.emplace_back(U32(e + 12), U32(e + 8));
  }
  TImageCheck images(src);
  std::vector<TPlace> checked;
  if (type == 1) {
    for (std::size_t i : PickedEntries(dir.data(), IcoEntryBytes, count)) checked.push_back(places[i]);
  } else {
    checked = places;
  }
  if (!images.CheckAll(checked)) return false;
  if (type != 1) {  // a cursor file: the shell lists no icon in it
    if (cursors) out.Cursors.push_back(CursorFileGroup(dir.data(), count, places, images));
    return true;
  }
  // The images the shell never picks, measured for the listing only.
  std::string problem;
  const TSource quiet(src.Size(), src.ReadAt(), problem);
  TImageCheck others(quiet);
  TIconGroup group;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* e = &dir[i * IcoEntryBytes];
    const TImageFacts facts = std::find(checked.begin(), checked.end(), places[i]) != checked.end()
                                  ? images.Measured(places[i])
                                  : others.Check(places[i]);
    group.Images.push_back(MakeImage(e, U32(e + 8), 0, places[i], facts));
  }
  out.Groups.push_back(std::move(group));
  return true;
}

// ---- .ani files -------------------------------------------------------------------------
// An animated cursor is a RIFF file of form "ACON": a header chunk "anih" (36 bytes: its
// own size, frames, steps, width, height, bits, planes, rate, flags), optional "rate"
// and "seq " chunks of one double word a step, and a "LIST" of type "fram" whose "icon"
// chunks are whole cursor (or icon) files, one a frame. Chunks are padded to even
// lengths. Every chunk must lie inside its parent, every field agree with the others and
// every image of every frame lie inside its frame and be sound; each frame is listed as
// a cursor of its own. Only read when cursors are asked for: the shell shows no icon of
// an animated cursor, and the window's verdict on such a file does not change.

// Chunks walked in one file (each costs a read); frames and steps in one animation.
constexpr std::size_t MaxAniChunks = 65536;
constexpr std::uint32_t MaxAniFrames = 4096;
constexpr std::uint32_t MaxAniSteps = 65536;
constexpr std::uint32_t AniHeaderBytes = 36;
constexpr std::uint32_t AniFramesAreIcons = 1;  // the header flag: frames are cursor files, not raw bitmaps

bool IsFourCc(const unsigned char* p, const char* code) { return std::equal(p, p + 4, code); }

// One "icon" chunk: a cursor or icon file inside [at, at + size).
bool ReadAniFrame(const TSource& src, std::uint64_t at, std::uint32_t size, TImageCheck& images, TPlanBudget& budget,
                  TIconGroup& group) {
  unsigned char head[GroupHeaderBytes];
  if (size < GroupHeaderBytes || !src.Read(at, head, GroupHeaderBytes))
    return src.Fail("an animated cursor's frame is shorter than a cursor file's header");
  const std::uint16_t type = U16(&head[2]), count = U16(&head[4]);
  if (U16(&head[0]) != 0 || (type != 1 && type != 2) || count == 0)
    return src.Fail("an animated cursor's frame is not a cursor or icon file");
  if (std::uint64_t{count} * IcoEntryBytes > size - GroupHeaderBytes)
    return src.Fail("an animated cursor's frame directory runs past its frame");
  if (!budget.Entries(count) || !budget.Icon()) return false;
  TBytes dir;
  if (!src.Read(at + GroupHeaderBytes, dir, count * IcoEntryBytes)) return src.Fail("an animated cursor's frame is cut short");
  std::vector<TPlace> places;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* e = &dir[i * IcoEntryBytes];
    const std::uint32_t offset = U32(e + 12), length = U32(e + 8);
    if (offset > size || length > size - offset) return src.Fail("an animated cursor's image runs past its frame");
    places.emplace_back(at + offset, length);
  }
  std::vector<TPlace> checked = places;
  if (!images.CheckAll(checked)) return false;
  std::uint64_t largest = 0;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char e[IcoEntryBytes];
    std::copy(&dir[i * IcoEntryBytes], &dir[i * IcoEntryBytes] + IcoEntryBytes, e);
    if (type == 1) std::fill(e + 4, e + 8, 0);  // an icon frame: its hot spot is the corner
    TIconImage image = MakeImage(e, U32(e + 8), 0, places[i], images.Measured(places[i]));
    image.HotspotX = image.EntryPlanes;
    image.HotspotY = image.EntryBitCount;
    largest = std::max(largest, images.Measured(places[i]).Pixels());
    group.Images.push_back(image);
  }
  return budget.Pixels(largest);
}

// The animation's header: its size, at least one frame and one step within the bounds,
// and frames that are cursor files.
bool ReadAniHeader(const TSource& src, std::uint64_t at, std::uint32_t size, std::uint32_t& frames, std::uint32_t& steps) {
  unsigned char h[AniHeaderBytes];
  if (size < AniHeaderBytes || !src.Read(at, h, AniHeaderBytes) || U32(h) != AniHeaderBytes)
    return src.Fail("an animated cursor's header chunk is not 36 bytes long");
  frames = U32(h + 4);
  steps = U32(h + 8);
  if (frames < 1 || frames > MaxAniFrames) return src.Fail("an animated cursor has no frames or more than any animation");
  if (steps < 1 || steps > MaxAniSteps) return src.Fail("an animated cursor has no steps or more than any animation");
  if (!(U32(h + 32) & AniFramesAreIcons)) return src.Fail("an animated cursor's frames are raw bitmaps, not cursors");
  return true;
}

// A "seq " chunk: one frame number a step, each a frame the animation has.
bool ReadAniSequence(const TSource& src, std::uint64_t at, std::uint32_t frames, std::uint32_t steps) {
  TBytes seq;
  if (!src.Read(at, seq, std::size_t{steps} * 4)) return src.Fail("an animated cursor's sequence is cut short");
  for (std::uint32_t i = 0; i < steps; ++i)
    if (U32(&seq[i * 4]) >= frames) return src.Fail("an animated cursor's sequence names a frame it does not have");
  return true;
}

// The chunks of [at, to): each header inside, each body inside; `visit` sees each one's
// four-character code, body and length. The walk charges `chunksLeft`.
template <class TVisit>
bool WalkChunks(const TSource& src, std::uint64_t at, std::uint64_t to, std::size_t& chunksLeft, TVisit visit) {
  while (at < to) {
    if (chunksLeft == 0) return src.Fail("the animated cursor holds too many chunks");
    --chunksLeft;
    unsigned char chunk[8];
    if (to - at < 8 || !src.Read(at, chunk, 8)) return src.Fail("an animated cursor's chunk header runs past its parent");
    const std::uint32_t size = U32(chunk + 4);
    const std::uint64_t body = at + 8;
    if (size > to - body) return src.Fail("an animated cursor's chunk runs past its parent");
    if (!visit(chunk, body, size)) return false;
    at = body + size + (size & 1);  // a pad byte may be missing at the very end
  }
  return true;
}

bool ReadAni(const TSource& src, TIconFile& out) {
  unsigned char head[12];
  if (!src.Read(0, head, 12) || !IsFourCc(head + 8, "ACON")) return src.Fail("the RIFF file is not an animated cursor");
  const std::uint64_t end = 8 + std::uint64_t{U32(head + 4)};
  if (end > src.Size()) return src.Fail("the animated cursor's RIFF chunk runs past the file");
  TImageCheck images(src);
  TPlanBudget budget(src);
  std::uint32_t frames = 0, steps = 0;
  bool rate = false, sequence = false, frameList = false;
  std::size_t chunksLeft = MaxAniChunks;
  auto frame = [&](const unsigned char* chunk, std::uint64_t body, std::uint32_t size) {
    if (!IsFourCc(chunk, "icon")) return src.Fail("an animated cursor's frame list holds a chunk that is no frame");
    if (out.Cursors.size() >= frames) return src.Fail("an animated cursor has more frames than its header says");
    TIconGroup group;
    group.Cursor = true;
    group.Index = static_cast<std::uint32_t>(out.Cursors.size());
    if (!ReadAniFrame(src, body, size, images, budget, group)) return false;
    out.Cursors.push_back(std::move(group));
    return true;
  };
  auto top = [&](const unsigned char* chunk, std::uint64_t body, std::uint32_t size) {
    if (IsFourCc(chunk, "anih")) {
      if (frames) return src.Fail("an animated cursor has two header chunks");
      return ReadAniHeader(src, body, size, frames, steps);
    }
    if (IsFourCc(chunk, "rate") || IsFourCc(chunk, "seq ")) {
      bool& seen = IsFourCc(chunk, "rate") ? rate : sequence;
      if (!frames) return src.Fail("an animated cursor's rate or sequence comes before its header");
      if (seen) return src.Fail("an animated cursor has two rate or sequence chunks");
      seen = true;
      if (size != std::uint64_t{steps} * 4) return src.Fail("an animated cursor's rate or sequence is not one entry a step");
      return &seen == &rate || ReadAniSequence(src, body, frames, steps);
    }
    if (!IsFourCc(chunk, "LIST")) return true;  // other chunks (INFO text and the like) are passed over
    unsigned char type[4];
    if (size < 4 || !src.Read(body, type, 4)) return src.Fail("an animated cursor's list has no type");
    if (!IsFourCc(type, "fram")) return true;
    if (!frames) return src.Fail("an animated cursor's frames come before its header");
    if (frameList) return src.Fail("an animated cursor has two frame lists");
    frameList = true;
    return WalkChunks(src, body + 4, body + size, chunksLeft, frame);
  };
  if (!WalkChunks(src, 12, end, chunksLeft, top)) return false;
  if (!frames) return src.Fail("the animated cursor has no header chunk");
  if (out.Cursors.size() != frames) return src.Fail("an animated cursor has fewer frames than its header says");
  if (!sequence && steps != frames) return src.Fail("an animated cursor without a sequence has steps that are not its frames");
  return true;
}

// ---- Cursor resources (PE and NE) -------------------------------------------------------
// A cursor resource is its hot spot (x, y) and then the image; a group-cursor entry is
// the width (a word), the height (a word, colour and mask rows together), planes, bit
// count, the resource's length and its number.

// A cursor image as a .cur file's entry states it: width and height cut to a byte each,
// no colour count, and the hot spot in place of planes and bit count. `place` is the
// image after the hot spot, whose bytes were checked with it.
TIconImage CursorResourceImage(const TSource& src, const unsigned char* groupEntry, std::uint16_t id,
                               const TPlace& place, const TImageFacts& facts) {
  unsigned char cur[IcoEntryBytes] = {};
  cur[0] = static_cast<unsigned char>(U16(groupEntry));
  cur[1] = static_cast<unsigned char>(U16(groupEntry + 2) / 2);
  unsigned char hotspot[HotspotBytes] = {};
  src.Read(place.first - HotspotBytes, hotspot, HotspotBytes);
  std::copy(hotspot, hotspot + HotspotBytes, cur + 4);
  TIconImage image = MakeImage(cur, U32(groupEntry + 8), id, place, facts);
  image.HotspotX = U16(hotspot);
  image.HotspotY = U16(hotspot + 2);
  return image;
}

// ---- PE files ---------------------------------------------------------------------------

struct TSection {
  std::uint32_t VirtualAddress, RawSize, RawOffset;
};

// One resource directory as read: its count of named entries and its entries (name,
// target), 8 bytes each.
struct TDirectory {
  std::size_t Named = 0;
  TBytes Entries;
  std::size_t Count() const { return Entries.size() / 8; }
  std::uint32_t Name(std::size_t i) const { return U32(&Entries[i * 8]); }
  std::uint32_t Target(std::size_t i) const { return U32(&Entries[i * 8 + 4]); }
};

// The resource tree of a PE file: type, name and language levels under one root, all
// offsets relative to the root's place in the file. The same walk, with the same bounds
// and budgets, reads the group cursors (types 12 and 1) when `cursors` is set; the shell
// is never handed those, so their groups are read in plain entry order.
class TResourceWalk {
public:
  TResourceWalk(const TSource& src, std::uint64_t root, const std::vector<TSection>& sections, bool cursors = false)
      : FSrc(src), FRoot(root), FSections(sections), FImages(src), FCursors(cursors),
        FImageType(cursors ? ResCursor : ResIcon), FGroupType(cursors ? ResGroupCursor : ResGroupIcon) {}

  bool Run() {
    if (!ReadDirectory(FRoot, FRootDir)) return false;
    for (std::size_t i = 0; i < FRootDir.Count(); ++i) {
      // The shell looks types up by number among the numbered entries and compares only
      // the low 16 bits of each entry's name: 0x0001000E and 0x8000000E lead to icon
      // groups as 14 does. Every entry it could take for a type is checked as that type;
      // so is a number among the named entries. Only a real name (a string, among the
      // named entries) is passed over.
      const std::uint32_t name = FRootDir.Name(i), target = FRootDir.Target(i);
      if (i < FRootDir.Named && (name & 0x80000000u)) continue;
      const std::uint16_t type = static_cast<std::uint16_t>(name);
      if (type != FImageType && type != FGroupType) continue;
      if (!(target & 0x80000000u)) return FSrc.Fail("a resource type leads to no directory");
      if (!WalkType(target & 0x7FFFFFFFu, type == FGroupType)) return false;
    }
    // Each image the shell could take for an icon a group names (under any icon type, in
    // any language) must be sound. An icon that is not there at all the shell does not
    // find, and it gives no icon for it.
    std::vector<TPlace> places;
    for (std::uint16_t id : FReferencedIds) {
      auto found = FIconImages.find(id);
      if (found != FIconImages.end()) places.insert(places.end(), found->second.begin(), found->second.end());
    }
    if (!FImages.CheckAll(places)) return false;
    return Plan();
  }

  // The first icon alone, found as the shell finds Icon1: the group type's directory
  // through the shell's lookup, its first entry, that group's first language, and each
  // image the group names through the icon type's directory and its first language. Every
  // structure on the way gets the checks Run gives it; nothing else of the tree is read.
  bool RunFirstIcon() {
    FFirstOnly = true;
    if (!ReadDirectory(FRoot, FRootDir)) return false;
    std::uint64_t groupsAt = 0, iconsAt = 0;
    if (!TypeDirectory(ResGroupIcon, groupsAt) || !TypeDirectory(ResIcon, iconsAt)) return false;
    if (!groupsAt) return true;
    TDirectory& groups = FDirs[groupsAt];
    if (!ReadDirectory(groupsAt, groups)) return false;
    if (groups.Count() == 0) return true;
    TPlace group;
    if (!FirstLanguage(groups.Target(0), group) || !ReadGroup(group)) return false;
    std::vector<TPlace> places;
    if (iconsAt) {
      TDirectory& icons = FDirs[iconsAt];
      if (!ReadDirectory(iconsAt, icons)) return false;
      for (std::uint16_t id : FReferencedIds) {
        const long at = FindIndex(icons, id);
        TPlace image;
        if (at < 0) continue;  // the shell finds no icon for it
        if (!FirstLanguage(icons.Target(static_cast<std::size_t>(at)), image)) return false;
        places.push_back(image);
      }
    }
    if (!FImages.CheckAll(places)) return false;
    return Plan();
  }

  std::vector<TIconGroup> TakeGroups() { return std::move(FGroups); }

private:
  // The directory a resource type leads to, through the shell's lookup (0: none).
  bool TypeDirectory(std::uint16_t type, std::uint64_t& at) {
    at = 0;
    const long i = FindIndex(FRootDir, type);
    if (i < 0) return true;
    const std::uint32_t target = FRootDir.Target(static_cast<std::size_t>(i));
    if (!(target & 0x80000000u)) return FSrc.Fail("a resource type leads to no directory");
    at = FRoot + (target & 0x7FFFFFFFu);
    return true;
  }

  // A name entry's language directory and the data of its first language, the one the
  // shell takes.
  bool FirstLanguage(std::uint32_t nameTarget, TPlace& place) {
    if (!(nameTarget & 0x80000000u)) return FSrc.Fail("a resource name leads to no language directory");
    const std::uint64_t at = FRoot + (nameTarget & 0x7FFFFFFFu);
    TDirectory& dir = FDirs[at];
    if (!ReadDirectory(at, dir)) return false;
    if (dir.Count() == 0) return FSrc.Fail("a resource has no language entry");
    const std::uint32_t target = dir.Target(0);
    if (target & 0x80000000u) return FSrc.Fail("a resource language leads to a directory");
    if (!DataEntry(target, place)) return false;
    FFirstData[at] = place;
    return true;
  }

  // The icon groups as the shell numbers them: the entries of the group type directory it
  // finds, in directory order, each through its first language; each image through the
  // shell's own lookup of its number in the icon type directory. What extracting them
  // all costs the decoders is bounded here.
  bool Plan() {
    const auto groupDir = FDirs.find(FindById(FRootDir, FGroupType));
    if (groupDir == FDirs.end()) return true;
    const auto iconDir = FDirs.find(FindById(FRootDir, FImageType));
    auto imageOf = [&](std::uint16_t id) {
      return iconDir == FDirs.end() ? FFirstData.end() : FFirstData.find(FindById(iconDir->second, id));
    };
    TPlanBudget budget(FSrc);
    const std::size_t groupCount = FFirstOnly ? std::min<std::size_t>(1, groupDir->second.Count()) : groupDir->second.Count();
    for (std::size_t k = 0; k < groupCount; ++k) {
      if (!budget.Icon()) return false;
      TIconGroup group;
      group.Index = static_cast<std::uint32_t>(k);
      group.Cursor = FCursors;
      NameGroup(groupDir->second, k, group);
      const auto data = FFirstData.find(FRoot + (groupDir->second.Target(k) & 0x7FFFFFFFu));
      const auto found = data == FFirstData.end() ? FGroups_.end() : FGroups_.find(data->second);
      if (found != FGroups_.end()) {
        const TGroupData& g = found->second;
        if (!budget.Entries(g.Entries.size() / GroupEntryBytes)) return false;
        std::uint64_t largest = 0;
        if (FCursors) {
          for (std::size_t i = 0; i < g.Entries.size() / GroupEntryBytes; ++i) {
            const auto image = imageOf(U16(&g.Entries[i * GroupEntryBytes + 12]));
            if (image != FFirstData.end()) largest = std::max(largest, FImages.Measured(image->second).Pixels());
          }
        } else if (!g.Read || g.Entries.empty()) {
          const auto zero = imageOf(0);
          if (zero != FFirstData.end()) largest = FImages.Measured(zero->second).Pixels();
        } else {
          for (std::size_t i : PickedEntries(g.Entries.data(), GroupEntryBytes, g.Entries.size() / GroupEntryBytes)) {
            const auto image = imageOf(U16(&g.Entries[i * GroupEntryBytes + 12]));
            if (image != FFirstData.end()) largest = std::max(largest, FImages.Measured(image->second).Pixels());
          }
        }
        if (!budget.Pixels(largest)) return false;
        for (std::size_t i = 0; i < g.Entries.size() / GroupEntryBytes; ++i) {
          const unsigned char* e = &g.Entries[i * GroupEntryBytes];
          const std::uint16_t id = U16(e + 12);
          const auto image = imageOf(id);
          if (image == FFirstData.end()) continue;  // the shell finds no icon for this entry
          if (FCursors) {
            group.Images.push_back(CursorImage(e, id, image->second));
            continue;
          }
          group.Images.push_back(MakeImage(e, U32(e + 8), id, image->second, FImages.Measured(image->second)));
        }
      }
      FGroups.push_back(std::move(group));
    }
    return true;
  }

  // A cursor image as a .cur file's entry states it: the group entry's width (a word) and
  // height (a word, colour and mask rows together) cut to a byte each, no colour count,
  // and the hot spot read from the resource in place of planes and bit count. `place`
  // is the image after the hot spot.
  TIconImage CursorImage(const unsigned char* groupEntry, std::uint16_t id, const TPlace& place) const {
    return CursorResourceImage(FSrc, groupEntry, id, place, FImages.Measured(place));
  }

  // The group's resource name or number and the language the shell takes (the first).
  void NameGroup(const TDirectory& dir, std::size_t k, TIconGroup& group) const {
    const std::uint32_t name = dir.Name(k);
    group.HasResource = true;
    if (k < dir.Named && (name & 0x80000000u)) {
      // Its place and length were checked when the directory was read.
      const std::uint64_t at = FRoot + (name & 0x7FFFFFFFu);
      unsigned char length[2];
      if (FSrc.Read(at, length, 2)) {
        TBytes bytes;
        const std::size_t units = std::min<std::size_t>(U16(length), MaxNameUnits);
        if (FSrc.Read(at + 2, bytes, 2 * units)) {
          std::vector<std::uint16_t> text(units);
          for (std::size_t i = 0; i < units; ++i) text[i] = U16(&bytes[2 * i]);
          group.ResourceName = Utf8FromUtf16(text);
        }
      }
    } else {
      group.ResourceId = static_cast<std::uint16_t>(name);
    }
    const auto languages = FDirs.find(FRoot + (dir.Target(k) & 0x7FFFFFFFu));
    if (languages != FDirs.end() && languages->second.Count() > 0) {
      group.HasLanguage = true;
      group.Language = static_cast<std::uint16_t>(languages->second.Name(0));
    }
  }

  // The shell's lookup of a number in a directory: a binary search among the numbered
  // entries by the low 16 bits of their names. Gives the file offset of the directory the
  // entry found leads to, or 0 (never a directory's place: the file starts with its
  // headers) when there is none.
  std::uint64_t FindById(const TDirectory& dir, std::uint16_t id) const {
    const long pos = FindIndex(dir, id);
    return pos < 0 ? 0 : FRoot + (dir.Target(static_cast<std::size_t>(pos)) & 0x7FFFFFFFu);
  }
  long FindIndex(const TDirectory& dir, std::uint16_t id) const {
    long min = static_cast<long>(dir.Named), max = static_cast<long>(dir.Count()) - 1;
    while (min <= max) {
      const long pos = (min + max) / 2;
      const std::uint16_t at = static_cast<std::uint16_t>(dir.Name(static_cast<std::size_t>(pos)));
      if (at == id) return pos;
      if (at > id) max = pos - 1;
      else min = pos + 1;
    }
    return -1;
  }

  // Reads a directory's header and entries; checks the entry budget, that the directory
  // was not met before (no loops, no shared subtrees) and that every name lies inside.
  bool ReadDirectory(std::uint64_t offset, TDirectory& dir) {
    if (!FVisited.insert(offset).second) return FSrc.Fail("the resource tree loops or shares a directory");
    unsigned char head[16];
    if (!FSrc.Read(offset, head, 16)) return FSrc.Fail("a resource directory lies outside the file");
    dir.Named = U16(&head[12]);
    const std::size_t count = dir.Named + U16(&head[14]);
    if (count > FEntriesLeft) return FSrc.Fail("the resource tree has too many entries");
    FEntriesLeft -= count;
    if (!FSrc.Read(offset + 16, dir.Entries, count * 8)) return FSrc.Fail("a resource directory's entries lie outside the file");
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t name = dir.Name(i);
      if (name & 0x80000000u) {
        const std::uint64_t at = FRoot + (name & 0x7FFFFFFFu);
        unsigned char length[2];
        if (!FSrc.Read(at, length, 2) || !FSrc.Inside(at + 2, 2u * U16(length)))
          return FSrc.Fail("a resource name lies outside the file");
      }
    }
    return true;
  }

  bool WalkType(std::uint32_t dirOffset, bool groups) {
    TDirectory& dir = FDirs[FRoot + dirOffset];
    if (!ReadDirectory(FRoot + dirOffset, dir)) return false;
    for (std::size_t i = 0; i < dir.Count(); ++i) {
      const std::uint32_t name = dir.Name(i), target = dir.Target(i);
      if (!(target & 0x80000000u)) return FSrc.Fail("a resource name leads to no language directory");
      // Icons, too, are found by the low 16 bits of an entry's name; only a real name
      // (a string, among the named entries) is never taken for a number.
      const bool number = i >= dir.Named || !(name & 0x80000000u);
      if (!WalkLanguages(target & 0x7FFFFFFFu, groups, number ? static_cast<std::uint16_t>(name) : -1)) return false;
    }
    return true;
  }

  // The shell takes the first language without looking at the count; every language is
  // checked here, and there must be one. Icon images are noted under their number
  // (iconId; -1 for a named one, which is never looked up by number) for the image check.
  bool WalkLanguages(std::uint32_t dirOffset, bool groups, int iconId) {
    TDirectory& dir = FDirs[FRoot + dirOffset];
    if (!ReadDirectory(FRoot + dirOffset, dir)) return false;
    if (dir.Count() == 0) return FSrc.Fail("a resource has no language entry");
    for (std::size_t i = 0; i < dir.Count(); ++i) {
      const std::uint32_t target = dir.Target(i);
      if (target & 0x80000000u) return FSrc.Fail("a resource language leads to a directory");
      TPlace place;
      if (!DataEntry(target, place)) return false;
      if (FCursors && !groups) {  // the image after the hot spot
        if (place.second < HotspotBytes) return FSrc.Fail("a cursor is shorter than its hot spot");
        place = {place.first + HotspotBytes, place.second - HotspotBytes};
      }
      if (i == 0) FFirstData[FRoot + dirOffset] = place;
      if (groups && !ReadGroup(place)) return false;
      if (!groups && iconId >= 0) FIconImages[static_cast<std::uint16_t>(iconId)].insert(place);
    }
    return true;
  }

  // Maps a data entry's address as the platform does: through the first section in table
  // order whose raw data holds its first byte. That section must hold the whole range,
  // and the range must lie inside the file. Each data entry is read once, however many
  // languages name it.
  bool DataEntry(std::uint32_t entryOffset, TPlace& place) {
    const auto known = FDataEntries.find(entryOffset);
    if (known != FDataEntries.end()) {
      place = known->second;
      return true;
    }
    unsigned char entry[16];
    if (!FSrc.Read(FRoot + entryOffset, entry, 16)) return FSrc.Fail("a resource data entry lies outside the file");
    const std::uint64_t rva = U32(&entry[0]);
    const std::uint32_t size = U32(&entry[4]);
    if (rva + size > Max32) return FSrc.Fail("a resource's address range wraps");
    auto holder = std::find_if(FSections.begin(), FSections.end(), [rva](const TSection& s) {
      return s.VirtualAddress <= rva && rva - s.VirtualAddress < s.RawSize;
    });
    if (holder == FSections.end()) return FSrc.Fail("a resource's data lies in no section");
    if (rva + size > std::uint64_t(holder->VirtualAddress) + holder->RawSize)
      return FSrc.Fail("a resource's data runs past the end of its section");
    const std::uint64_t at = rva - holder->VirtualAddress + holder->RawOffset;
    if (!FSrc.Inside(at, size)) return FSrc.Fail("a resource's data lies outside the file");
    place = {at, size};
    FDataEntries.emplace(entryOffset, place);
    return true;
  }

  // An icon group: its header and every entry inside its data; the icon numbers noted
  // (icon 0 when the shell would not read the header, or finds no entry in it).
  bool ReadGroup(const TPlace& place) {
    if (FGroups_.count(place)) return true;  // the same data named again
    unsigned char head[GroupHeaderBytes];
    if (place.second < GroupHeaderBytes || !FSrc.Read(place.first, head, GroupHeaderBytes))
      return FSrc.Fail("an icon group is shorter than its header");
    const std::size_t count = U16(&head[4]);
    if (count > FEntriesLeft || place.second < GroupHeaderBytes + count * GroupEntryBytes)
      return FSrc.Fail("an icon group's entries run past its data");
    FEntriesLeft -= count;
    TGroupData& group = FGroups_[place];
    group.Read = GroupHeaderIsRead(head);
    if (!FSrc.Read(place.first + GroupHeaderBytes, group.Entries, count * GroupEntryBytes))
      return FSrc.Fail("an icon group's entries lie outside the file");
    for (std::size_t i = 0; i < count; ++i) FReferencedIds.insert(U16(&group.Entries[i * GroupEntryBytes + 12]));
    if (!group.Read || count == 0) FReferencedIds.insert(0);
    return true;
  }

  struct TGroupData {
    bool Read = false;  // the shell reads the header (and picks among the entries)
    TBytes Entries;
  };

  const TSource& FSrc;
  std::uint64_t FRoot;
  bool FFirstOnly = false;
  const std::vector<TSection>& FSections;
  TImageCheck FImages;
  std::size_t FEntriesLeft = MaxResourceEntries;
  std::set<std::uint64_t> FVisited;
  TDirectory FRootDir;
  std::map<std::uint64_t, TDirectory> FDirs;         // type and language directories, by file offset
  std::map<std::uint64_t, TPlace> FFirstData;        // a language directory's first data
  std::map<std::uint32_t, TPlace> FDataEntries;      // data entries read, by their offset
  std::map<TPlace, TGroupData> FGroups_;             // icon group data, by place
  std::map<std::uint16_t, std::set<TPlace>> FIconImages;  // icon images by number, each place once
  std::set<std::uint16_t> FReferencedIds;
  std::vector<TIconGroup> FGroups;                   // as the shell numbers them
  bool FCursors;
  std::uint16_t FImageType, FGroupType;
};

// The platform's loader takes no more sections; a file with more is none it loads, and
// each section costs every lookup of an address.
constexpr std::size_t MaxSections = 96;

bool ReadPe(const TSource& src, std::uint64_t nt, TIconScope scope, TIconFile& out, bool cursors) {
  unsigned char head[24];  // signature and file header
  if (!src.Read(nt, head, 24)) return src.Fail("the program's file header is cut short");
  const std::size_t sectionCount = U16(&head[6]);
  const std::size_t optionalSize = U16(&head[20]);
  TBytes opt;
  if (!src.Read(nt + 24, opt, optionalSize) || optionalSize < 2) return src.Fail("the program's optional header is cut short");
  std::size_t rvaCountAt = 0;
  switch (U16(&opt[0])) {
    case 0x10B: rvaCountAt = 92; break;   // PE32
    case 0x20B: rvaCountAt = 108; break;  // PE32+
    default: return src.Fail("the program's optional header is of an unknown kind");
  }
  if (optionalSize < rvaCountAt + 4) return src.Fail("the program's optional header is too short");
  const std::uint32_t sizeOfHeaders = U32(&opt[60]);
  const std::uint32_t rvaCount = U32(&opt[rvaCountAt]);
  const std::size_t resourceAt = rvaCountAt + 4 + 2 * 8;  // third data directory
  if (rvaCount <= 2) return true;                         // no resources, nothing more is read
  if (optionalSize < resourceAt + 8) return src.Fail("the program's data directories are cut short");
  const std::uint32_t resourceRva = U32(&opt[resourceAt]);
  if (resourceRva == 0) return true;

  if (sectionCount > MaxSections) return src.Fail("the program has more sections than any loader takes");
  TBytes table;
  if (!src.Read(nt + 24 + optionalSize, table, sectionCount * 40)) return src.Fail("the section table is cut short");
  std::vector<TSection> sections(sectionCount);
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const unsigned char* s = &table[i * 40];
    sections[i] = {U32(s + 12), U32(s + 16), U32(s + 20)};
    // Sums the shell forms in 32 bits must not wrap.
    if (std::uint64_t(sections[i].VirtualAddress) + sections[i].RawSize > Max32)
      return src.Fail("a section's address range wraps");
  }
  // The root is found as the platform finds it: inside the headers the address is the
  // file offset, elsewhere the first section that holds it.
  std::uint64_t root = 0;
  if (resourceRva < sizeOfHeaders) {
    root = resourceRva;
  } else {
    auto holder = std::find_if(sections.begin(), sections.end(), [&](const TSection& s) {
      return s.VirtualAddress <= resourceRva && resourceRva - s.VirtualAddress < s.RawSize;
    });
    if (holder == sections.end()) return src.Fail("the resource directory lies in no section");
    root = std::uint64_t(resourceRva) - holder->VirtualAddress + holder->RawOffset;
  }
  TResourceWalk walk(src, root, sections);
  if (!(scope == TIconScope::FirstIcon ? walk.RunFirstIcon() : walk.Run())) return false;
  out.Groups = walk.TakeGroups();
  if (cursors) {
    // A walk of its own, with budgets of its own: what the cursors hold never changes
    // the verdict on the file or its icons. Cursors that are not all sound are left out.
    const TSource quiet(src.Size(), src.ReadAt(), out.CursorProblem);
    TResourceWalk cursorWalk(quiet, root, sections, true);
    if (cursorWalk.Run()) out.Cursors = cursorWalk.TakeGroups();
  }
  return true;
}

// ---- NE files ---------------------------------------------------------------------------
// 16-bit executables: a resource table of type blocks ending in a zero type, each block
// followed by its resources, whose places and lengths count in units of 2^shift bytes.
// A 16-bit resource's number (its id with the top bit set) or name: a counted string
// at that offset from the resource table. The names are ANSI text, kept as bytes.
void NameNeGroup(const TSource& src, std::uint64_t table, const unsigned char* entry, TIconGroup& group) {
  const std::uint16_t id = U16(entry + 6);
  group.HasResource = true;
  if (id & 0x8000) {
    group.ResourceId = id & 0x7FFF;
    return;
  }
  unsigned char length = 0;
  std::string name(255, '\0');
  if (src.Read(table + id, &length, 1) && src.Read(table + id + 1, &name[0], length)) group.ResourceName = name.substr(0, length);
}

// A 16-bit program's group cursors (type 0x800C) and the cursors they name (0x8001), in
// table order, within the same bounds as its icons: the entry budget, each group's data
// and each image inside the file, every image sound, the pixels charged before the
// images are listed. A cursor is found by its number with the top bit set; the last one
// of a number counts, as for icons.
bool ReadNeCursors(const TSource& src, std::uint64_t ne, std::vector<TIconGroup>& out) {
  constexpr std::uint16_t NeResCursor = 0x8001, NeResGroupCursor = 0x800C;
  unsigned char head[64];
  if (!src.Read(ne, head, 64)) return src.Fail("the 16-bit program's header is cut short");
  const std::uint64_t table = ne + U16(&head[0x24]);
  if (U16(&head[0x24]) == U16(&head[0x26])) return true;  // no resource table
  unsigned char shiftBytes[2];
  if (!src.Read(table, shiftBytes, 2) || U16(shiftBytes) > 16) return src.Fail("the 16-bit program's resource table is unreadable");
  const unsigned shift = U16(shiftBytes);
  auto place = [shift](const unsigned char* e) {
    return TPlace(std::uint64_t(U16(e)) << shift, static_cast<std::uint32_t>(std::uint64_t(U16(e + 2)) << shift));
  };
  std::size_t entriesLeft = MaxResourceEntries;
  std::map<std::uint16_t, TPlace> cursors;  // by number, the image after its hot spot
  TBytes groups;                            // the first group-cursor block's entries
  bool groupsFound = false;
  for (std::uint64_t at = table + 2;;) {
    unsigned char typeInfo[8];
    if (!src.Read(at, typeInfo, 2)) return src.Fail("the 16-bit program's resource table runs past the file");
    const std::uint16_t type = U16(typeInfo);
    if (type == 0) break;
    if (!src.Read(at, typeInfo, 8)) return src.Fail("the 16-bit program's resource table runs past the file");
    const std::size_t count = U16(&typeInfo[2]);
    if (count + 1 > entriesLeft) return src.Fail("the 16-bit program has too many resources");
    entriesLeft -= count + 1;
    TBytes entries;
    if (!src.Read(at + 8, entries, count * 12)) return src.Fail("the 16-bit program's resource table runs past the file");
    at += 8 + count * 12;
    if (type == NeResGroupCursor && !groupsFound) {
      groups = std::move(entries);
      groupsFound = true;
    } else if (type == NeResCursor) {
      for (std::size_t i = 0; i < count; ++i) {
        const TPlace p = place(&entries[i * 12]);
        if (!src.Inside(p.first, p.second) || p.second < HotspotBytes) return src.Fail("a 16-bit program's cursor lies outside the file");
        cursors[U16(&entries[i * 12 + 6])] = {p.first + HotspotBytes, p.second - HotspotBytes};
      }
    }
  }
  TImageCheck images(src);
  TPlanBudget budget(src);
  for (std::size_t k = 0; k < groups.size() / 12; ++k) {
    const unsigned char* entry = &groups[k * 12];
    const TPlace p = place(entry);
    unsigned char groupHead[GroupHeaderBytes];
    if (!src.Inside(p.first, p.second) || p.second < GroupHeaderBytes || !src.Read(p.first, groupHead, GroupHeaderBytes))
      return src.Fail("a cursor group is shorter than its header");
    const std::size_t count = U16(&groupHead[4]);
    if (count > entriesLeft || p.second < GroupHeaderBytes + count * GroupEntryBytes)
      return src.Fail("a cursor group's entries run past its data");
    entriesLeft -= count;
    if (!budget.Icon() || !budget.Entries(count)) return false;
    TBytes e;
    if (!src.Read(p.first + GroupHeaderBytes, e, count * GroupEntryBytes)) return src.Fail("a cursor group's entries lie outside the file");
    TIconGroup group;
    group.Index = static_cast<std::uint32_t>(k);
    group.Cursor = true;
    NameNeGroup(src, table, entry, group);
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* g = &e[i * GroupEntryBytes];
      const auto found = cursors.find(static_cast<std::uint16_t>(U16(g + 12) | 0x8000));
      if (found == cursors.end()) continue;  // a cursor the file lacks
      const TImageFacts& facts = images.Check(found->second);
      if (!facts.Sound) return false;
      largest = std::max(largest, facts.Pixels());
      group.Images.push_back(CursorResourceImage(src, g, U16(g + 12), found->second, facts));
    }
    if (!budget.Pixels(largest)) return false;
    out.push_back(std::move(group));
  }
  return true;
}

bool ReadNe(const TSource& src, std::uint64_t ne, TIconFile& out) {
  unsigned char head[64];
  if (!src.Read(ne, head, 64)) return src.Fail("the 16-bit program's header is cut short");
  const std::uint16_t resourceTable = U16(&head[0x24]), residentNames = U16(&head[0x26]);
  if (resourceTable == residentNames) return true;  // no resource table
  std::uint64_t at = ne + resourceTable;
  unsigned char shiftBytes[2];
  if (!src.Read(at, shiftBytes, 2)) return src.Fail("the 16-bit program's resource table lies outside the file");
  const unsigned shift = U16(shiftBytes);
  if (shift > 16) return src.Fail("the 16-bit program's resource unit is too large");  // places would no longer fit 32 bits
  at += 2;

  struct TBlock {
    std::uint16_t Type;
    TBytes Entries;  // 12 bytes each
  };
  struct TGroupData {
    bool Read = false;
    TBytes Entries;
  };
  std::vector<TBlock> blocks;
  std::size_t entriesLeft = MaxResourceEntries;
  std::multimap<std::uint16_t, TPlace> iconImages;
  std::set<std::uint16_t> referencedIds;
  std::map<TPlace, TGroupData> groupData;
  auto place = [shift](const unsigned char* e) {
    return TPlace(std::uint64_t(U16(e)) << shift, static_cast<std::uint32_t>(std::uint64_t(U16(e + 2)) << shift));
  };
  for (;;) {
    unsigned char typeInfo[8];
    if (!src.Read(at, typeInfo, 2)) return src.Fail("the 16-bit program's resource table runs past the file");
    const std::uint16_t type = U16(typeInfo);
    if (type == 0) break;
    if (!src.Read(at, typeInfo, 8)) return src.Fail("the 16-bit program's resource table runs past the file");
    const std::size_t count = U16(&typeInfo[2]);
    if (count + 1 > entriesLeft) return src.Fail("the 16-bit program has too many resources");  // the block itself counts too: the loop ends
    entriesLeft -= count + 1;
    blocks.push_back({type, {}});
    TBytes& entries = blocks.back().Entries;
    if (!src.Read(at + 8, entries, count * 12)) return src.Fail("the 16-bit program's resource table runs past the file");
    at += 8 + count * 12;
    if (type != NeResIcon && type != NeResGroupIcon) continue;
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* e = &entries[i * 12];
      const TPlace p = place(e);
      if (p.first + p.second > Max32 || !src.Inside(p.first, p.second)) return src.Fail("a 16-bit program's resource lies outside the file");
      if (type == NeResIcon) {
        iconImages.emplace(U16(e + 6), p);
        continue;
      }
      if (groupData.count(p)) continue;
      unsigned char group[GroupHeaderBytes];
      if (p.second < GroupHeaderBytes || !src.Read(p.first, group, GroupHeaderBytes)) return src.Fail("an icon group is shorter than its header");
      const std::size_t icons = U16(&group[4]);
      if (icons > entriesLeft || p.second < GroupHeaderBytes + icons * GroupEntryBytes)
        return src.Fail("an icon group's entries run past its data");
      entriesLeft -= icons;
      TGroupData& g = groupData[p];
      g.Read = GroupHeaderIsRead(group);
      if (!src.Read(p.first + GroupHeaderBytes, g.Entries, icons * GroupEntryBytes)) return src.Fail("an icon group's entries lie outside the file");
      // The shell finds an icon resource by its number with the top bit set; for a group
      // whose header it does not read, or that has no entry, by 0 with the top bit set.
      for (std::size_t k = 0; k < icons; ++k)
        referencedIds.insert(static_cast<std::uint16_t>(U16(&g.Entries[k * GroupEntryBytes + 12]) | 0x8000));
      if (!g.Read || icons == 0) referencedIds.insert(0x8000);
    }
  }
  // The shell takes the last icon entry with the number a group names; each that is
  // there must be sound (one that is not, it does not find: it gives no icon).
  std::vector<TPlace> places;
  for (std::uint16_t id : referencedIds) {
    auto found = iconImages.equal_range(id);
    for (auto it = found.first; it != found.second; ++it) places.push_back(it->second);
  }
  TImageCheck images(src);
  if (!images.CheckAll(places)) return false;

  // The shell's numbering: it walks the type blocks until it has met both an icon group
  // block and an icon block, the later of each kind replacing the earlier until then, and
  // reads no resources at all from a table too short to hold a block.
  const int tableBytes = static_cast<int>(residentNames) - static_cast<int>(resourceTable);
  if (tableBytes >= 0 && tableBytes <= 8) return true;
  const TBlock *groupBlock = nullptr, *iconBlock = nullptr;
  for (const TBlock& block : blocks) {
    if (groupBlock && iconBlock) break;
    if (block.Type == NeResGroupIcon) groupBlock = &block;
    if (block.Type == NeResIcon) iconBlock = &block;
  }
  if (!groupBlock || !iconBlock) return true;
  // The shell's lookup takes the last icon entry with the number: indexed once, so each
  // lookup costs a search, not a walk of the block.
  std::map<std::uint16_t, TPlace> iconById;
  for (std::size_t j = 0; j < iconBlock->Entries.size() / 12; ++j)
    iconById[U16(&iconBlock->Entries[j * 12 + 6])] = place(&iconBlock->Entries[j * 12]);
  auto imageOf = [&](std::uint16_t id, TPlace& p) {
    const auto found = iconById.find(id);
    if (found == iconById.end()) return false;
    p = found->second;
    return true;
  };
  TPlanBudget budget(src);
  const TGroupData noGroup;
  for (std::size_t k = 0; k < groupBlock->Entries.size() / 12; ++k) {
    if (!budget.Icon()) return false;
    TIconGroup group;
    group.Index = static_cast<std::uint32_t>(k);
    NameNeGroup(src, ne + resourceTable, &groupBlock->Entries[k * 12], group);
    const auto data = groupData.find(place(&groupBlock->Entries[k * 12]));
    const TGroupData& g = data == groupData.end() ? noGroup : data->second;
    const std::size_t count = g.Entries.size() / GroupEntryBytes;
    if (!budget.Entries(count)) return false;
    std::uint64_t largest = 0;
    TPlace p;
    if (!g.Read || count == 0) {
      if (imageOf(0x8000, p)) largest = images.Measured(p).Pixels();
    } else {
      for (std::size_t i : PickedEntries(g.Entries.data(), GroupEntryBytes, count))
        if (imageOf(static_cast<std::uint16_t>(U16(&g.Entries[i * GroupEntryBytes + 12]) | 0x8000), p))
          largest = std::max(largest, images.Measured(p).Pixels());
    }
    if (!budget.Pixels(largest)) return false;
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* e = &g.Entries[i * GroupEntryBytes];
      if (!imageOf(static_cast<std::uint16_t>(U16(e + 12) | 0x8000), p)) continue;  // the shell finds no icon for it
      group.Images.push_back(MakeImage(e, U32(e + 8), U16(e + 12), p, images.Measured(p)));
    }
    out.Groups.push_back(std::move(group));
  }
  return true;
}

bool ReadExecutable(const TSource& src, TIconScope scope, TIconFile& out, bool cursors) {
  unsigned char dos[64];
  if (!src.Read(0, dos, 64)) return src.Fail("the program's DOS header is cut short");
  const std::int32_t newHeader = static_cast<std::int32_t>(U32(&dos[0x3C]));
  unsigned char signature[4];
  if (newHeader < 0 || !src.Read(static_cast<std::uint64_t>(newHeader), signature, 4))
    return src.Fail("the program's new header lies outside the file");
  if (signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0) {
    out.Form = TIconFileForm::Pe;
    return ReadPe(src, static_cast<std::uint64_t>(newHeader), scope, out, cursors);
  }
  if (signature[0] == 'N' && signature[1] == 'E') {
    out.Form = TIconFileForm::Ne;
    if (!ReadNe(src, static_cast<std::uint64_t>(newHeader), out)) return false;
    if (cursors) {
      // As for a PE file: a walk of its own that never changes the verdict.
      const TSource quiet(src.Size(), src.ReadAt(), out.CursorProblem);
      std::vector<TIconGroup> found;
      if (ReadNeCursors(quiet, static_cast<std::uint64_t>(newHeader), found)) out.Cursors = std::move(found);
    }
    return true;
  }
  // Plain DOS programs and other new-header forms carry no icons the shell could read;
  // refusing them costs nothing and spares the shell a header it would misread.
  return src.Fail("the program is neither a 32/64-bit nor a 16-bit Windows program");
}

}  // namespace

TIconFile ReadIconFile(std::uint64_t fileSize, const TReadAt& readAt, TIconScope scope, bool cursors) {
  TIconFile file;
  const TSource src(fileSize, readAt, file.Problem);
  unsigned char head[4] = {};
  const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 4));
  if (!src.Read(0, head, got)) {
    file.Problem = "the file cannot be read";
    return file;
  }
  if (got >= 2 && head[0] == 'M' && head[1] == 'Z') {
    file.Sound = ReadExecutable(src, scope, file, cursors);
  } else if (cursors && got >= 4 && IsFourCc(head, "RIFF")) {
    file.Form = TIconFileForm::Ani;
    file.Sound = ReadAni(src, file);
  } else if (got >= 4 && (U16(&head[2]) == 1 || U16(&head[2]) == 2)) {
    // The shell takes any other file whose second word says icon (1) or cursor (2) for an
    // icon file; such a file must then be a sound one.
    file.Form = TIconFileForm::Ico;
    file.Sound = ReadIco(src, file, cursors);
  } else {
    file.Sound = true;  // no icon-bearing form: the shell finds nothing in it
  }
  if (!file.Sound) {
    file.Groups.clear();
    file.Cursors.clear();
    if (file.Problem.empty()) file.Problem = "the file is not sound";
  } else {
    file.Problem.clear();
  }
  return file;
}

bool ReadImageBytes(const TReadAt& readAt, const TIconImage& image, std::vector<unsigned char>& out, bool forDecoding) {
  const std::uint32_t length = forDecoding ? image.DecodeBytes : image.Size;
  out.clear();
  if (length > MaxImageBytes) return false;
  out.resize(length);
  if (length == 0 || readAt(image.Offset, out.data(), length)) return true;
  out.clear();
  return false;
}
