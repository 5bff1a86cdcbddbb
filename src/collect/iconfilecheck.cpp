#include "collect/iconfilecheck.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

// The upper part of this file is the pure check and stays free of windows.h, so it can
// be built and tested on its own; the file reading for IconFileIsSound follows below.
//
// The shell's extraction maps the whole file and follows the offsets it finds without
// asking whether they stay inside. The check walks exactly the structures it follows
// (headers, section table, resource directory, icon groups and the icons they name) and
// asks of every one that it lies wholly inside the file; each icon image it would decode
// must also be of a form the decoder measures safely (see "Icon images" below). It never
// recurses, reads in bounded pieces and gives up after a fixed number of resource entries.

namespace {

// Enough for the largest real icon libraries (several thousand icons, each with a name
// and a language entry), little enough that a hostile file costs a few milliseconds.
constexpr std::size_t MaxResourceEntries = 32768;
constexpr std::uint64_t Max32 = 0xFFFFFFFFu;

constexpr std::uint16_t ResIcon = 3;
constexpr std::uint16_t ResGroupIcon = 14;
constexpr std::uint16_t NeResIcon = 0x8003;
constexpr std::uint16_t NeResGroupIcon = 0x800E;

constexpr std::size_t IcoEntryBytes = 16;    // entry of an .ico file's directory
constexpr std::size_t GroupEntryBytes = 14;  // entry of an icon group resource
constexpr std::size_t GroupHeaderBytes = 6;  // reserved, type, count

using TBytes = std::vector<unsigned char>;

std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The file as a bounded byte source: nothing is read that does not lie inside it.
class TSource {
public:
  TSource(std::uint64_t size, const TReadAt& readAt) : FSize(size), FReadAt(readAt) {}
  std::uint64_t Size() const { return FSize; }
  bool Inside(std::uint64_t offset, std::uint64_t length) const {
    return offset <= FSize && length <= FSize - offset;
  }
  bool Read(std::uint64_t offset, TBytes& out, std::size_t length) const {
    out.resize(length);
    return Inside(offset, length) && (length == 0 || FReadAt(offset, out.data(), length));
  }

private:
  std::uint64_t FSize;
  const TReadAt& FReadAt;
};

// ---- Icon images ------------------------------------------------------------------------
// The shell hands each image's bytes and their length to its icon decoder, which takes
// the image for a PNG when it starts with the PNG signature, for an animated cursor when
// it starts with "RIFF", and for a device-independent bitmap otherwise. The animated
// cursor reader follows chunk lengths past the image; the bitmap reader forms the sizes
// of its parts in 32 bits and, for a 32-bit image, scans pixels it has not measured;
// the PNG reader allocates whatever the header declares. So only two forms pass, each
// measured here in 64 bits against the image's own length: a bitmap with an info header
// of a known size and icon dimensions, or a PNG of icon dimensions whose chunks all lie
// inside the image. Everything else (RIFF data, a 12-byte core header, unknown header
// sizes, compressed bitmaps) is refused.

// The decoder sets no bound on an image's sides of its own (it stretches whatever it is
// given to the size asked for), and real programs carry images larger than the 256 x 256
// that icon directories can describe (Wine's own winecfg.exe holds a 194 x 313 one). The
// bound here is 1024 a side: at 32 bits a pixel such an image decodes to 4 MB, nothing
// like the 1.6 GB a PNG declaring 20000 x 20000 pixels makes the decoder take, and no
// size the decoder forms in 32 bits from it comes near wrapping.
constexpr std::int64_t MaxImageSide = 1024;
// PNG chunks walked in one file, over all its images. Real icon images have a handful of
// chunks each; a hostile file could hold a great many empty ones, or name one image
// thousands of times over, and each chunk costs a read.
constexpr std::size_t MaxPngChunks = 65536;

std::uint32_t U32BigEndian(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

bool IsPngSignature(const unsigned char* p) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return std::equal(signature, signature + 8, p);
}

// A PNG image: the signature, an IHDR chunk first (13 bytes long, each side 1..1024, a
// known bit depth and colour type), then chunks whose lengths stay inside the image, up
// to an IEND chunk.
bool PngIsSound(const TSource& src, std::uint64_t offset, std::uint32_t size, std::size_t& chunksLeft) {
  constexpr std::size_t ChunkFrame = 12;  // length, type, and the CRC after the body
  TBytes head;
  if (size < 8 + ChunkFrame + 13 || !src.Read(offset, head, 8 + 8 + 13)) return false;
  if (!IsPngSignature(head.data()) || U32BigEndian(&head[8]) != 13 || !std::equal(head.begin() + 12, head.begin() + 16, "IHDR"))
    return false;
  const std::uint32_t width = U32BigEndian(&head[16]), height = U32BigEndian(&head[20]);
  if (width < 1 || width > MaxImageSide || height < 1 || height > MaxImageSide) return false;
  const unsigned depth = head[24], colourType = head[25];
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return false;
  if (colourType != 0 && colourType != 2 && colourType != 3 && colourType != 4 && colourType != 6) return false;
  std::uint64_t at = 8;
  for (; chunksLeft > 0; --chunksLeft) {
    TBytes frame;
    if (size - at < ChunkFrame || !src.Read(offset + at, frame, 8)) return false;
    const std::uint64_t length = U32BigEndian(&frame[0]);
    if (length > size - at - ChunkFrame) return false;
    if (std::equal(frame.begin() + 4, frame.end(), "IEND")) return true;
    at += ChunkFrame + length;
  }
  return false;
}

// A bitmap image: an info header of 40, 52, 56, 108 or 124 bytes; width 1..1024; height
// positive, even (colour rows and mask rows stacked) and at most twice 1024; one plane;
// 1, 4, 8, 16, 24 or 32 bits a pixel; no compression, or bit fields at 16 or 32 bits; a
// colour table of at most 2^bits entries (256 at most above 8 bits, the most the
// platform ever counts); and header, bit fields, colour table, colour rows and mask rows
// all inside the image.
bool DibIsSound(const TSource& src, std::uint64_t offset, std::uint32_t size) {
  TBytes h;
  if (size < 40 || !src.Read(offset, h, 40)) return false;
  const std::uint32_t headerSize = U32(&h[0]);
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) return false;
  const std::int64_t width = static_cast<std::int32_t>(U32(&h[4]));
  const std::int64_t height = static_cast<std::int32_t>(U32(&h[8]));
  if (width < 1 || width > MaxImageSide || height < 2 || height % 2 != 0 || height / 2 > MaxImageSide) return false;
  const unsigned planes = U16(&h[12]), bits = U16(&h[14]);
  const std::uint32_t compression = U32(&h[16]), coloursUsed = U32(&h[32]);
  if (planes != 1) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  constexpr std::uint32_t BiRgb = 0, BiBitfields = 3;
  if (compression != BiRgb && !(compression == BiBitfields && (bits == 16 || bits == 32))) return false;
  const std::uint64_t tableLimit = bits <= 8 ? std::uint64_t{1} << bits : 256;
  if (coloursUsed > tableLimit) return false;
  const std::uint64_t colours = coloursUsed != 0 ? coloursUsed : (bits <= 8 ? tableLimit : 0);
  // Bit fields follow a 40-byte header; the larger headers hold them inside.
  const std::uint64_t header = std::max<std::uint64_t>(headerSize, compression == BiBitfields ? 40 + 3 * 4 : 40);
  const std::uint64_t rows = static_cast<std::uint64_t>(height / 2);
  auto rowBytes = [width](std::uint64_t bitsPerPixel) { return (static_cast<std::uint64_t>(width) * bitsPerPixel + 31) / 32 * 4; };
  const std::uint64_t total = header + colours * 4 + rowBytes(bits) * rows + rowBytes(1) * rows;
  return total <= size;
}

// Every image the shell may decode must be one of the two sound forms.
bool ImageIsSound(const TSource& src, std::uint64_t offset, std::uint32_t size, std::size_t& chunksLeft) {
  TBytes start;
  if (size < 8 || !src.Read(offset, start, 8)) return false;
  return IsPngSignature(start.data()) ? PngIsSound(src, offset, size, chunksLeft) : DibIsSound(src, offset, size);
}

// Images (place, length) checked in file order, so the reads move forward through the
// file, and each once however often it is named.
bool AllImagesAreSound(const TSource& src, std::vector<std::pair<std::uint64_t, std::uint32_t>>& images) {
  std::sort(images.begin(), images.end());
  images.erase(std::unique(images.begin(), images.end()), images.end());
  std::size_t chunksLeft = MaxPngChunks;
  for (const auto& image : images)
    if (!ImageIsSound(src, image.first, image.second, chunksLeft)) return false;
  return true;
}

// Reserved 0, type 1 (icons) or 2 (cursors), at least one image, and every image inside
// and sound.
bool IcoIsSound(const TSource& src) {
  TBytes head;
  if (!src.Read(0, head, GroupHeaderBytes)) return false;
  const std::uint16_t type = U16(&head[2]), count = U16(&head[4]);
  if (U16(&head[0]) != 0 || (type != 1 && type != 2) || count == 0) return false;
  TBytes dir;
  if (!src.Read(GroupHeaderBytes, dir, count * IcoEntryBytes)) return false;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> images;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* e = &dir[i * IcoEntryBytes];
    const std::uint32_t size = U32(e + 8), offset = U32(e + 12);
    if (!src.Inside(offset, size)) return false;
    images.emplace_back(offset, size);
  }
  return AllImagesAreSound(src, images);
}

struct TSection {
  std::uint32_t VirtualAddress, RawSize, RawOffset;
};

// The resource tree of a PE file: type, name and language levels under one root, all
// offsets relative to the root's place in the file.
class TResourceWalk {
public:
  TResourceWalk(const TSource& src, std::uint64_t root, const std::vector<TSection>& sections)
      : FSrc(src), FRoot(root), FSections(sections) {}

  bool Run() {
    TBytes rootEntries;
    std::size_t named = 0;
    if (!ReadDirectory(FRoot, rootEntries, named)) return false;
    const std::size_t count = rootEntries.size() / 8;
    for (std::size_t i = 0; i < count; ++i) {
      // The shell looks types up by number among the numbered entries and compares only
      // the low 16 bits of each entry's name: 0x0001000E and 0x8000000E lead to icon
      // groups as 14 does. Every entry it could take for a type is checked as that type;
      // so is a number among the named entries. Only a real name (a string, among the
      // named entries) is passed over.
      const std::uint32_t name = U32(&rootEntries[i * 8]), target = U32(&rootEntries[i * 8 + 4]);
      if (i < named && (name & 0x80000000u)) continue;
      const std::uint16_t type = static_cast<std::uint16_t>(name);
      if (type != ResIcon && type != ResGroupIcon) continue;
      if (!(target & 0x80000000u)) return false;  // a type must lead to a directory
      if (!WalkType(target & 0x7FFFFFFFu, type == ResGroupIcon)) return false;
    }
    // Every icon that a group names must be there, and each image the shell could take
    // for it (under any icon type, in any language) must be sound.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> images;
    for (std::uint16_t id : FReferencedIds) {
      auto found = FIconImages.equal_range(id);
      if (found.first == found.second) return false;
      for (auto it = found.first; it != found.second; ++it) images.push_back(it->second);
    }
    return AllImagesAreSound(FSrc, images);
  }

private:
  // Reads a directory's header and entries; checks the entry budget, that the directory
  // was not met before (no loops, no shared subtrees) and that every name lies inside.
  bool ReadDirectory(std::uint64_t offset, TBytes& entries, std::size_t& named) {
    if (!FVisited.insert(offset).second) return false;
    TBytes head;
    if (!FSrc.Read(offset, head, 16)) return false;
    named = U16(&head[12]);
    const std::size_t count = named + U16(&head[14]);
    if (count > FEntriesLeft) return false;
    FEntriesLeft -= count;
    if (!FSrc.Read(offset + 16, entries, count * 8)) return false;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t name = U32(&entries[i * 8]);
      if (name & 0x80000000u) {
        const std::uint64_t at = FRoot + (name & 0x7FFFFFFFu);
        TBytes length;
        if (!FSrc.Read(at, length, 2) || !FSrc.Inside(at + 2, 2u * U16(&length[0]))) return false;
      }
    }
    return true;
  }

  bool WalkType(std::uint32_t dirOffset, bool groups) {
    TBytes entries;
    std::size_t named = 0;
    if (!ReadDirectory(FRoot + dirOffset, entries, named)) return false;
    for (std::size_t i = 0; i < entries.size() / 8; ++i) {
      const std::uint32_t name = U32(&entries[i * 8]), target = U32(&entries[i * 8 + 4]);
      if (!(target & 0x80000000u)) return false;  // a name must lead to its languages
      // Icons, too, are found by the low 16 bits of an entry's name; only a real name
      // (a string, among the named entries) is never taken for a number.
      const bool number = i >= named || !(name & 0x80000000u);
      if (!WalkLanguages(target & 0x7FFFFFFFu, groups, number ? static_cast<std::uint16_t>(name) : -1)) return false;
    }
    return true;
  }

  // The shell takes the first language without looking at the count; every language is
  // checked here, and there must be one. Icon images are noted under their number
  // (iconId; -1 for a named one, which is never looked up by number) for the image check.
  bool WalkLanguages(std::uint32_t dirOffset, bool groups, int iconId) {
    TBytes entries;
    std::size_t named = 0;
    if (!ReadDirectory(FRoot + dirOffset, entries, named) || entries.empty()) return false;
    for (std::size_t i = 0; i < entries.size() / 8; ++i) {
      const std::uint32_t target = U32(&entries[i * 8 + 4]);
      if (target & 0x80000000u) return false;  // the third level holds data entries only
      std::uint64_t offset = 0;
      std::uint32_t size = 0;
      if (!DataEntry(target, offset, size)) return false;
      if (groups && !GroupIsSound(offset, size)) return false;
      if (!groups && iconId >= 0) FIconImages.emplace(static_cast<std::uint16_t>(iconId), std::make_pair(offset, size));
    }
    return true;
  }

  // Maps a data entry's address through every section that holds it; each mapping must
  // land inside the file, and all must agree.
  bool DataEntry(std::uint32_t entryOffset, std::uint64_t& fileOffset, std::uint32_t& size) {
    TBytes entry;
    if (!FSrc.Read(FRoot + entryOffset, entry, 16)) return false;
    const std::uint64_t rva = U32(&entry[0]);
    size = U32(&entry[4]);
    if (rva + size > Max32) return false;
    bool found = false;
    for (const TSection& s : FSections) {
      if (rva < s.VirtualAddress || rva + size > std::uint64_t(s.VirtualAddress) + s.RawSize) continue;
      const std::uint64_t at = rva - s.VirtualAddress + s.RawOffset;
      if (!FSrc.Inside(at, size) || (found && at != fileOffset)) return false;
      fileOffset = at;
      found = true;
    }
    return found;
  }

  // An icon group: its header and every entry inside its data; the icon numbers noted.
  bool GroupIsSound(std::uint64_t offset, std::uint32_t size) {
    TBytes group;
    if (size < GroupHeaderBytes || !FSrc.Read(offset, group, GroupHeaderBytes)) return false;
    const std::size_t count = U16(&group[4]);
    if (count > FEntriesLeft || size < GroupHeaderBytes + count * GroupEntryBytes) return false;
    FEntriesLeft -= count;
    if (!FSrc.Read(offset + GroupHeaderBytes, group, count * GroupEntryBytes)) return false;
    for (std::size_t i = 0; i < count; ++i) FReferencedIds.insert(U16(&group[i * GroupEntryBytes + 12]));
    return true;
  }

  const TSource& FSrc;
  std::uint64_t FRoot;
  const std::vector<TSection>& FSections;
  std::size_t FEntriesLeft = MaxResourceEntries;
  std::set<std::uint64_t> FVisited;
  std::multimap<std::uint16_t, std::pair<std::uint64_t, std::uint32_t>> FIconImages;  // place, length
  std::set<std::uint16_t> FReferencedIds;
};

bool PeIsSound(const TSource& src, std::uint64_t nt) {
  TBytes head;  // signature and file header
  if (!src.Read(nt, head, 24)) return false;
  const std::size_t sectionCount = U16(&head[6]);
  const std::size_t optionalSize = U16(&head[20]);
  TBytes opt;
  if (!src.Read(nt + 24, opt, optionalSize) || optionalSize < 2) return false;
  std::size_t rvaCountAt = 0;
  switch (U16(&opt[0])) {
    case 0x10B: rvaCountAt = 92; break;   // PE32
    case 0x20B: rvaCountAt = 108; break;  // PE32+
    default: return false;
  }
  if (optionalSize < rvaCountAt + 4) return false;
  const std::uint32_t sizeOfHeaders = U32(&opt[60]);
  const std::uint32_t rvaCount = U32(&opt[rvaCountAt]);
  const std::size_t resourceAt = rvaCountAt + 4 + 2 * 8;  // third data directory
  if (rvaCount <= 2) return true;                         // no resources, nothing more is read
  if (optionalSize < resourceAt + 8) return false;
  const std::uint32_t resourceRva = U32(&opt[resourceAt]);
  if (resourceRva == 0) return true;

  TBytes table;
  if (!src.Read(nt + 24 + optionalSize, table, sectionCount * 40)) return false;
  std::vector<TSection> sections(sectionCount);
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const unsigned char* s = &table[i * 40];
    sections[i] = {U32(s + 12), U32(s + 16), U32(s + 20)};
    // Sums the shell forms in 32 bits must not wrap.
    if (std::uint64_t(sections[i].VirtualAddress) + sections[i].RawSize > Max32) return false;
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
    if (holder == sections.end()) return false;
    root = std::uint64_t(resourceRva) - holder->VirtualAddress + holder->RawOffset;
  }
  return TResourceWalk(src, root, sections).Run();
}

// 16-bit executables: a resource table of type blocks ending in a zero type, each block
// followed by its resources, whose places and lengths count in units of 2^shift bytes.
bool NeIsSound(const TSource& src, std::uint64_t ne) {
  TBytes head;
  if (!src.Read(ne, head, 64)) return false;
  const std::uint16_t resourceTable = U16(&head[0x24]), residentNames = U16(&head[0x26]);
  if (resourceTable == residentNames) return true;  // no resource table
  std::uint64_t at = ne + resourceTable;
  TBytes shiftBytes;
  if (!src.Read(at, shiftBytes, 2)) return false;
  const unsigned shift = U16(&shiftBytes[0]);
  if (shift > 16) return false;  // places would no longer fit the 32 bits they are formed in
  at += 2;

  std::size_t entriesLeft = MaxResourceEntries;
  std::multimap<std::uint16_t, std::pair<std::uint64_t, std::uint32_t>> iconImages;  // place, length
  std::set<std::uint16_t> referencedIds;
  for (;;) {
    TBytes typeInfo;
    if (!src.Read(at, typeInfo, 2)) return false;
    const std::uint16_t type = U16(&typeInfo[0]);
    if (type == 0) break;
    if (!src.Read(at, typeInfo, 8)) return false;
    const std::size_t count = U16(&typeInfo[2]);
    if (count + 1 > entriesLeft) return false;  // the block itself counts too: the loop ends
    entriesLeft -= count + 1;
    TBytes entries;
    if (!src.Read(at + 8, entries, count * 12)) return false;
    at += 8 + count * 12;
    if (type != NeResIcon && type != NeResGroupIcon) continue;
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* e = &entries[i * 12];
      const std::uint64_t offset = std::uint64_t(U16(e)) << shift, length = std::uint64_t(U16(e + 2)) << shift;
      if (offset + length > Max32 || !src.Inside(offset, length)) return false;
      if (type == NeResIcon) {
        iconImages.emplace(U16(e + 6), std::make_pair(offset, static_cast<std::uint32_t>(length)));
        continue;
      }
      TBytes group;
      if (length < GroupHeaderBytes || !src.Read(offset, group, GroupHeaderBytes)) return false;
      const std::size_t icons = U16(&group[4]);
      if (icons > entriesLeft || length < GroupHeaderBytes + icons * GroupEntryBytes) return false;
      entriesLeft -= icons;
      if (!src.Read(offset + GroupHeaderBytes, group, icons * GroupEntryBytes)) return false;
      // The shell finds an icon resource by its number with the top bit set.
      for (std::size_t k = 0; k < icons; ++k)
        referencedIds.insert(static_cast<std::uint16_t>(U16(&group[k * GroupEntryBytes + 12]) | 0x8000));
    }
  }
  // The shell takes the last icon entry with the number a group names; each of them
  // must be there and sound.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> images;
  for (std::uint16_t id : referencedIds) {
    auto found = iconImages.equal_range(id);
    if (found.first == found.second) return false;
    for (auto it = found.first; it != found.second; ++it) images.push_back(it->second);
  }
  return AllImagesAreSound(src, images);
}

bool ExecutableIsSound(const TSource& src) {
  TBytes dos;
  if (!src.Read(0, dos, 64)) return false;
  const std::int32_t newHeader = static_cast<std::int32_t>(U32(&dos[0x3C]));
  TBytes signature;
  if (newHeader < 0 || !src.Read(static_cast<std::uint64_t>(newHeader), signature, 4)) return false;
  if (signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0)
    return PeIsSound(src, static_cast<std::uint64_t>(newHeader));
  if (signature[0] == 'N' && signature[1] == 'E') return NeIsSound(src, static_cast<std::uint64_t>(newHeader));
  // Plain DOS programs and other new-header forms carry no icons the shell could read;
  // refusing them costs nothing and spares the shell a header it would misread.
  return false;
}

}  // namespace

bool IconSourceIsSound(std::uint64_t fileSize, const TReadAt& readAt) {
  const TSource src(fileSize, readAt);
  TBytes head;
  if (!src.Read(0, head, static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 4)))) return false;
  if (head.size() >= 2 && head[0] == 'M' && head[1] == 'Z') return ExecutableIsSound(src);
  // The shell takes any other file whose second word says icon (1) or cursor (2) for an
  // icon file; such a file must then be a sound one.
  if (head.size() >= 4 && (U16(&head[2]) == 1 || U16(&head[2]) == 2)) return IcoIsSound(src);
  return true;  // no icon-bearing form: the shell finds nothing in it
}

// ---- Reading a named file --------------------------------------------------------------
// (left out when the pure part above is built on its own for another system)
#ifdef _WIN32

#include <windows.h>

#include <cstring>

#include "runtime/owners.h"

namespace {

// Reads at offsets through a window of the file, so the many small reads of a resource
// walk cost few calls.
class TWindowedReader {
public:
  TWindowedReader(HANDLE file, std::uint64_t size) : FFile(file), FSize(size) {}

  bool Read(std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset >= FStart && offset - FStart <= FWindow.size() && length <= FWindow.size() - (offset - FStart)) {
      std::memcpy(buffer, FWindow.data() + (offset - FStart), length);
      return true;
    }
    if (length > WindowBytes) return ReadRaw(offset, buffer, length);
    const std::size_t fill = static_cast<std::size_t>(std::min<std::uint64_t>(WindowBytes, FSize - offset));
    FWindow.resize(fill);
    FStart = offset;
    if (!ReadRaw(offset, FWindow.data(), fill)) {
      FWindow.clear();
      return false;
    }
    std::memcpy(buffer, FWindow.data(), length);
    return true;
  }

private:
  static constexpr std::size_t WindowBytes = 64 * 1024;

  bool ReadRaw(std::uint64_t offset, void* buffer, std::size_t length) {
    if (length > 0xFFFFFFFFu) return false;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(FFile, buffer, static_cast<DWORD>(length), &got, &at) && got == length;
  }

  HANDLE FFile;
  std::uint64_t FSize;
  std::uint64_t FStart = 0;
  std::vector<unsigned char> FWindow;
};

}  // namespace

bool IconFileIsSound(const std::string& fileName) {
  // Sharing as wide as the shell's own open, so a file we cannot open it cannot either.
  TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    // The shell cannot open it either and reports no icons by itself. A name too long
    // for the narrow calls is the exception: the shell's own wide open might still reach
    // a file that was never checked, so it is kept away from it.
    return fileName.size() < MAX_PATH;
  }
  // Devices, pipes and consoles could block a read or never end; they hold no icons.
  // Nothing but a plain disk file is read, and the shell is kept away from the rest.
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) return false;
  // One query gives both the size and whether it is a folder (cheaper than the full
  // information record, which also asks the volume).
  FILE_STANDARD_INFO info;
  if (!GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &info, sizeof info) || info.Directory ||
      info.EndOfFile.QuadPart < 0)
    return false;
  const auto size = static_cast<std::uint64_t>(info.EndOfFile.QuadPart);
  TWindowedReader reader(file.Get(), size);
  return IconSourceIsSound(size,
                           [&reader](std::uint64_t offset, void* buffer, std::size_t length) {
                             return reader.Read(offset, buffer, length);
                           });
}

#endif  // _WIN32
