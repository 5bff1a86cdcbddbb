// Builders for the icon-bearing files the source check is tried on: sound .ico, PE and
// NE files made from scratch, with the places of their parts, so a test can cut or
// corrupt them exactly where it means to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

using TBytes = std::vector<unsigned char>;

inline void Put16(TBytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(TBytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
inline std::uint32_t Get32(const TBytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
inline std::size_t AlignUp(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }

// One 32 x 32 icon image in the icon-file form: header, palette, colour bits and mask.
// Bits per pixel 4 gives 744 bytes, 32 gives 4,264.
inline TBytes IconImage(unsigned bitsPerPixel) {
  const std::size_t colours = bitsPerPixel <= 8 ? (std::size_t{1} << bitsPerPixel) : 0;
  const std::size_t xorBytes = 32 * AlignUp(32 * bitsPerPixel, 32) / 8;
  const std::size_t andBytes = 32 * 4;
  TBytes b(40 + colours * 4 + xorBytes + andBytes, 0);
  Put32(b, 0, 40);
  Put32(b, 4, 32);
  Put32(b, 8, 64);  // colour and mask stacked
  Put16(b, 12, 1);
  Put16(b, 14, bitsPerPixel);
  for (std::size_t i = 0; i < colours; ++i) Put32(b, 40 + i * 4, (i * 0x102030u) & 0xFFFFFF);
  for (std::size_t i = 0; i < xorBytes; ++i) b[40 + colours * 4 + i] = static_cast<unsigned char>(i * 7);
  return b;
}

// A one-image .ico file; with the 32-bit image it is 4,286 bytes long.
inline TBytes IcoFile(unsigned bitsPerPixel) {
  const TBytes image = IconImage(bitsPerPixel);
  TBytes b(6 + 16, 0);
  Put16(b, 2, 1);
  Put16(b, 4, 1);
  b[6] = 32;
  b[7] = 32;
  b[8] = bitsPerPixel == 4 ? 16 : 0;
  Put16(b, 10, 1);
  Put16(b, 12, bitsPerPixel);
  Put32(b, 14, static_cast<std::uint32_t>(image.size()));
  Put32(b, 18, 22);
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

// A PE32+ DLL with one resource section holding `groups` icon groups (names 1..n), each
// with one 16-colour icon (numbers 1..n).
struct TPeFile {
  TBytes Bytes;
  std::size_t OptionalHeader = 0;  // file offsets of the parts
  std::size_t SectionTable = 0;
  std::size_t ResourceRoot = 0;
  std::size_t GroupTypeDirectory = 0;
  std::size_t FirstGroupData = 0;
  std::size_t FirstIconData = 0;
  std::size_t IconDataEnd = 0;
};

inline constexpr std::uint32_t PeResourceRva = 0x1000;

inline TPeFile PeFile(std::size_t groups, std::uint16_t firstGroupIconId = 1) {
  const std::size_t n = groups;
  const TBytes image = IconImage(4);
  // Places inside the resource section, relative to its start (the root).
  const std::size_t iconType = 16 + 2 * 8;
  const std::size_t groupType = iconType + 16 + n * 8;
  const std::size_t iconLang = groupType + 16 + n * 8;
  const std::size_t groupLang = iconLang + n * 24;
  const std::size_t iconEntry = groupLang + n * 24;
  const std::size_t groupEntry = iconEntry + n * 16;
  const std::size_t groupData = groupEntry + n * 16;
  const std::size_t iconData = groupData + n * 20;
  const std::size_t total = iconData + n * image.size();

  TBytes r(total, 0);
  auto directory = [&r](std::size_t at, std::size_t ids) { Put16(r, at + 14, static_cast<std::uint32_t>(ids)); };
  auto entry = [&r](std::size_t dir, std::size_t i, std::uint32_t name, std::uint32_t target) {
    Put32(r, dir + 16 + i * 8, name);
    Put32(r, dir + 16 + i * 8 + 4, target);
  };
  directory(0, 2);
  entry(0, 0, 3, 0x80000000u | static_cast<std::uint32_t>(iconType));
  entry(0, 1, 14, 0x80000000u | static_cast<std::uint32_t>(groupType));
  directory(iconType, n);
  directory(groupType, n);
  for (std::size_t k = 0; k < n; ++k) {
    const auto id = static_cast<std::uint32_t>(k + 1);
    entry(iconType, k, id, 0x80000000u | static_cast<std::uint32_t>(iconLang + k * 24));
    entry(groupType, k, id, 0x80000000u | static_cast<std::uint32_t>(groupLang + k * 24));
    directory(iconLang + k * 24, 1);
    entry(iconLang + k * 24, 0, 0x409, static_cast<std::uint32_t>(iconEntry + k * 16));
    directory(groupLang + k * 24, 1);
    entry(groupLang + k * 24, 0, 0x409, static_cast<std::uint32_t>(groupEntry + k * 16));
    Put32(r, iconEntry + k * 16, static_cast<std::uint32_t>(PeResourceRva + iconData + k * image.size()));
    Put32(r, iconEntry + k * 16 + 4, static_cast<std::uint32_t>(image.size()));
    Put32(r, groupEntry + k * 16, static_cast<std::uint32_t>(PeResourceRva + groupData + k * 20));
    Put32(r, groupEntry + k * 16 + 4, 20);
    const std::size_t g = groupData + k * 20;
    Put16(r, g + 2, 1);
    Put16(r, g + 4, 1);
    r[g + 6] = 32;
    r[g + 7] = 32;
    r[g + 8] = 16;
    Put16(r, g + 10, 1);
    Put16(r, g + 12, 4);
    Put32(r, g + 14, static_cast<std::uint32_t>(image.size()));
    Put16(r, g + 18, k == 0 ? firstGroupIconId : id);
    std::copy(image.begin(), image.end(), r.begin() + static_cast<std::ptrdiff_t>(iconData + k * image.size()));
  }

  TPeFile pe;
  TBytes& b = pe.Bytes;
  const std::size_t headers = 0x200, raw = AlignUp(total, 0x200);
  b.assign(headers + raw, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  b[0x40] = 'P';
  b[0x41] = 'E';
  Put16(b, 0x44, 0x8664);  // machine
  Put16(b, 0x46, 1);       // sections
  Put16(b, 0x54, 240);     // optional header size
  Put16(b, 0x56, 0x2022);  // executable image, large addresses, DLL
  const std::size_t o = pe.OptionalHeader = 0x58;
  Put16(b, o, 0x20B);
  Put32(b, o + 24, 0x10000000);  // image base (low half)
  Put32(b, o + 32, 0x1000);      // section alignment
  Put32(b, o + 36, 0x200);       // file alignment
  Put16(b, o + 40, 6);
  Put16(b, o + 48, 6);
  Put32(b, o + 56, static_cast<std::uint32_t>(PeResourceRva + AlignUp(total, 0x1000)));
  Put32(b, o + 60, static_cast<std::uint32_t>(headers));
  Put16(b, o + 68, 2);  // subsystem: windows
  Put32(b, o + 108, 16);
  Put32(b, o + 112 + 2 * 8, PeResourceRva);
  Put32(b, o + 112 + 2 * 8 + 4, static_cast<std::uint32_t>(total));
  const std::size_t s = pe.SectionTable = o + 240;
  const char name[] = ".rsrc";
  std::copy(name, name + 5, b.begin() + static_cast<std::ptrdiff_t>(s));
  Put32(b, s + 8, static_cast<std::uint32_t>(total));
  Put32(b, s + 12, PeResourceRva);
  Put32(b, s + 16, static_cast<std::uint32_t>(raw));
  Put32(b, s + 20, static_cast<std::uint32_t>(headers));
  Put32(b, s + 36, 0x40000040);  // initialised data, readable
  std::copy(r.begin(), r.end(), b.begin() + static_cast<std::ptrdiff_t>(headers));

  pe.ResourceRoot = headers;
  pe.GroupTypeDirectory = headers + groupType;
  pe.FirstGroupData = headers + groupData;
  pe.FirstIconData = headers + iconData;
  pe.IconDataEnd = headers + total;
  return pe;
}

// A 16-bit NE file with one icon group naming one icon; resources in 16-byte units.
struct TNeFile {
  TBytes Bytes;
  std::size_t ResourceTable = 0;
  std::size_t TableEnd = 0;  // just past the zero type that ends the table
  std::size_t IconData = 0;
  std::size_t GroupData = 0;
};

inline TNeFile NeFile() {
  const TBytes image = IconImage(4);
  TNeFile ne;
  TBytes& b = ne.Bytes;
  b.assign(0x100, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  b[0x40] = 'N';
  b[0x41] = 'E';
  b[0x42] = 5;  // linker version
  Put16(b, 0x40 + 0x24, 64);  // resource table, relative to the NE header
  const std::size_t table = ne.ResourceTable = 0x40 + 64;
  const std::size_t tableSize = 2 + (8 + 12) * 2 + 2;
  Put16(b, 0x40 + 0x26, static_cast<std::uint32_t>(64 + tableSize));  // resident names follow
  b[0x36 + 0x40] = 2;  // target: Windows
  ne.IconData = 0x100;
  const std::size_t iconUnits = AlignUp(image.size(), 16) / 16;
  ne.GroupData = ne.IconData + iconUnits * 16;
  Put16(b, table, 4);  // shift: 16-byte units
  std::size_t at = table + 2;
  auto typeBlock = [&](std::uint32_t type, std::size_t place, std::size_t units, std::uint32_t id) {
    Put16(b, at, type);
    Put16(b, at + 2, 1);
    Put16(b, at + 8, static_cast<std::uint32_t>(place / 16));
    Put16(b, at + 10, static_cast<std::uint32_t>(units));
    Put16(b, at + 12, 0x1C30);  // moveable, pure, discardable
    Put16(b, at + 14, id);
    at += 20;
  };
  typeBlock(0x8003, ne.IconData, iconUnits, 0x8001);
  typeBlock(0x800E, ne.GroupData, 2, 0x8001);
  Put16(b, at, 0);
  ne.TableEnd = at + 2;
  b.resize(ne.GroupData + 32, 0);
  std::copy(image.begin(), image.end(), b.begin() + static_cast<std::ptrdiff_t>(ne.IconData));
  const std::size_t g = ne.GroupData;
  Put16(b, g + 2, 1);
  Put16(b, g + 4, 1);
  b[g + 6] = 32;
  b[g + 7] = 32;
  b[g + 8] = 16;
  Put16(b, g + 10, 1);
  Put16(b, g + 12, 4);
  Put32(b, g + 14, static_cast<std::uint32_t>(image.size()));
  Put16(b, g + 18, 1);
  return ne;
}

}  // namespace hostile
