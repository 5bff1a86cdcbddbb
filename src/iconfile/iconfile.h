// The icon-file reader: PE (PE32 and PE32+), NE and .ico files walked within fixed
// bounds, without windows.h, so the same code serves the window's check before the
// shell's extraction (built with MinGW) and glyphdock-export (built natively as well).
//
// It yields each icon group in the order in which the shell numbers the file's icons
// (the index ExtractIconA takes), each with its images as the file stores them, and a
// verdict: whether every image the shell may decode for the file is sound, so the file
// may be handed to the shell at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads `length` bytes at `offset` into `buffer`; false when they are not all there.
using TReadAt = std::function<bool(std::uint64_t offset, void* buffer, std::size_t length)>;

enum class TIconFileForm { Other, Pe, Ne, Ico, Ani };  // Ani: read only when cursors are asked for

// One image of an icon: the directory entry as the group (or .ico directory) states it,
// what the image itself measures, and where its bytes lie in the file.
struct TIconImage {
  // The entry as stored (a group entry's 14 bytes or an .ico entry's 16).
  std::uint8_t EntryWidth = 0, EntryHeight = 0, EntryColours = 0, EntryReserved = 0;
  std::uint16_t EntryPlanes = 0, EntryBitCount = 0;
  std::uint32_t EntryBytes = 0;  // the length the entry states
  std::uint16_t Id = 0;          // the icon resource's number (PE, NE); 0 in an .ico file
  // Measured from the image: sides in pixels (a bitmap's height without its mask rows)
  // and bits a pixel (a PNG's bit depth times its channels).
  std::uint32_t Width = 0, Height = 0;
  std::uint16_t BitCount = 0;
  bool Png = false;
  std::uint64_t Offset = 0;  // the image's bytes in the file
  std::uint32_t Size = 0;
  // The bytes from Offset that the decoders read: a bitmap's header, colour table,
  // colour rows and mask rows; a PNG's chunks up to its end chunk. At most Size.
  std::uint32_t DecodeBytes = 0;
  // The image is wholly inside the file and of a form the decoders measure safely. In a
  // sound file only an .ico image the shell never picks (for its 32 x 32 request) may be
  // unsound, e.g. one cut short by the end of the file: leave such an image out.
  bool Sound = false;
  // A cursor image's hot spot: from the .cur entry (where an icon has planes and bit
  // count) or the first four bytes of a cursor resource, which Offset and Size leave out.
  std::uint16_t HotspotX = 0, HotspotY = 0;
};

struct TIconGroup {
  std::uint32_t Index = 0;         // the shell's number, from 0 (the window shows Icon<Index + 1>)
  bool Cursor = false;             // a cursor, numbered apart from the icons (Cursor<Index + 1>)
  // The group's resource in a PE or NE file: its number, or its name (UTF-8; empty for a
  // number); and the language of the entry the shell takes (PE files only).
  bool HasResource = false, HasLanguage = false;
  std::uint16_t ResourceId = 0, Language = 0;
  std::string ResourceName;
  // In the group's entry order. An entry naming an icon the file does not hold is left
  // out (the shell gives no icon for it), so a group may have no images at all.
  std::vector<TIconImage> Images;
};

struct TIconFile {
  TIconFileForm Form = TIconFileForm::Other;
  // Every image the shell may decode for this file is sound: the file may be handed to
  // the shell. A file in no icon-bearing form (text, random bytes) is sound and has no
  // groups; a refused one has no groups either.
  bool Sound = false;
  std::string Problem;  // why it was refused (English, for messages); empty when sound
  std::vector<TIconGroup> Groups;
  // Cursors, read only when asked for (the window shows icons only): the groups of a .cur
  // or .ani file, or a program's group-cursor resources. A cursor that is not sound is
  // left out; it never makes the file unsound.
  std::vector<TIconGroup> Cursors;
  std::string CursorProblem;  // why a program's cursors were left out; empty when they were not
};

// How much of a file is judged. WholeFile: every structure and image the shell may use
// for any icon, the verdict the window's check hands the shell. FirstIcon: in a PE file
// only what the first icon needs (the resource directories on the way to it, its group,
// the images the group names), with the same checks and bounds on each, for a thumbnail;
// Groups then holds that icon alone, and Sound speaks for it alone. NE and .ico files,
// small by their form, are always judged whole.
enum class TIconScope { WholeFile, FirstIcon };

// Walks a byte source of the given size; with `cursors`, reads the cursors as well.
TIconFile ReadIconFile(std::uint64_t fileSize, const TReadAt& readAt, TIconScope scope = TIconScope::WholeFile,
                       bool cursors = false);

// No icon image any decoder here reads is larger: a 1024 x 1024 bitmap at 32 bits with
// its mask is about 4.2 MB, a 2048 x 2048 PNG holding 16-bit RGBA uncompressed 32 MB.
// An image whose stated length is larger is never read into memory (the length may be
// that of a sparse file's hole, gigabytes that are not there).
constexpr std::uint32_t MaxImageBytes = 48u << 20;

// The bytes of one image: exactly as stored (Size bytes), or only those the decoders
// read (DecodeBytes). False, with `out` empty, when the length is over MaxImageBytes
// (checked before anything is allocated) or the bytes cannot be read.
bool ReadImageBytes(const TReadAt& readAt, const TIconImage& image, std::vector<unsigned char>& out,
                    bool forDecoding = false);
