// The test fixtures generated at build time (tests/fixtures/make_fixtures.py) into
// <build>/fixtures, and what each one holds. Keep this in step with the generator.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Windows path (Z:\... under Wine) of a generated fixture, e.g. FixturePath("three.dll").
// The name is CP932, as is the build directory the compiler wrote into the program.
std::string FixturePath(const char* name);
// Windows path of a file in the build's bin directory (the program, the test programs).
std::string BinPath(const char* name);
// Full path of a file in the system directory, e.g. SystemDllPath("shell32.dll").
std::string SystemDllPath(const char* name);

namespace fixture {

// Every 32 x 32 fixture icon has the same shape: a 4-pixel transparent border and a
// transparent 4 x 4 hole at columns and rows 8..11 (counted from the top-left corner,
// off centre so that a mirrored or upside-down image is caught). Transparent pixels are
// black in the colour bits. small16 has a 2-pixel transparent border and no hole.
inline constexpr int Border = 4;
inline constexpr int HoleFirst = 8;
inline constexpr int HoleLast = 11;
inline bool Opaque32(int x, int y) {
  bool inside = x >= Border && x < 32 - Border && y >= Border && y < 32 - Border;
  bool inHole = x >= HoleFirst && x <= HoleLast && y >= HoleFirst && y <= HoleLast;
  return inside && !inHole;
}
inline bool Opaque16(int x, int y) { return x >= 2 && x < 14 && y >= 2 && y < 14; }

// three.dll: exactly 3 icon groups (ids 1, 2, 3), each one 32 x 32 image in 16 colours,
// filled with pure red, pure green and pure blue.
inline constexpr char ThreeDll[] = "three.dll";
inline constexpr int ThreeCount = 3;
inline constexpr COLORREF ThreeColours[ThreeCount] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};

// two.dll: 2 icon groups, 32 x 32, 16 colours: yellow and cyan.
inline constexpr char TwoDll[] = "two.dll";
inline constexpr int TwoCount = 2;
inline constexpr COLORREF TwoColours[TwoCount] = {RGB(255, 255, 0), RGB(0, 255, 255)};

// noicons.dll: a string table and raw data, no icon at all.
inline constexpr char NoIconsDll[] = "noicons.dll";

// small16.dll and small16.ico: one icon whose only image is 16 x 16, 16 colours,
// purple with a 2-pixel transparent border. The shell hands it out at 32 x 32.
inline constexpr char Small16Dll[] = "small16.dll";
inline constexpr char Small16Ico[] = "small16.ico";
inline constexpr COLORREF Small16Colour = RGB(128, 0, 128);

// png256.dll: one icon whose only image is 256 x 256, PNG-compressed RGBA: orange
// (255, 128, 0) in the shared shape scaled by 8 (32-pixel border, hole at 64..95).
inline constexpr char Png256Dll[] = "png256.dll";
inline constexpr COLORREF Png256Colour = RGB(255, 128, 0);

// highcolour.dll: one 32 x 32, 32-bit icon in the shared shape, alpha 0 or 255 only.
// Every opaque pixel has a colour of its own: red = 8x, green = 8y, blue = 255 - 4(x + y).
inline constexpr char HighColourDll[] = "highcolour.dll";
inline COLORREF HighColourAt(int x, int y) { return RGB(x * 8, y * 8, 255 - (x + y) * 4); }

// plain.ico: one 32 x 32 image, 16 colours (766 bytes), teal (0, 128, 128).
inline constexpr char PlainIco[] = "plain.ico";
inline constexpr COLORREF PlainColour = RGB(0, 128, 128);

// empty.dll: zero bytes. truncated.dll: three.dll cut after its PE headers, every section
// missing. truncated.ico: the first 100 bytes of plain.ico. The shell's extraction faults
// on the truncated files: never hand them to ExtractIconA in a test process.
inline constexpr char EmptyDll[] = "empty.dll";
inline constexpr char TruncatedDll[] = "truncated.dll";
inline constexpr char TruncatedIco[] = "truncated.ico";

// One file for each kind of crafted icon image, the image last and ending the file on a
// page boundary: animated-cursor data (crafted-riff.ico), a 12-byte core header whose
// colour table puts 32 where an info header's bit count would be (crafted-core.ico), a 32-bit bitmap 0x40000000 pixels wide
// whose size wraps in 32 bits (crafted-wrap.ico), a PNG declaring 20000 x 20000 pixels
// (crafted-bomb.ico), and a DLL whose type entries are 0x00010003 and 0x8000000E, icon
// and icon group in their low 16 bits only, leading to the wrapping bitmap
// (crafted-alias.dll). The file check refuses each; never hand them to ExtractIconA.
inline constexpr const char* CraftedFiles[] = {"crafted-riff.ico", "crafted-alias.dll", "crafted-core.ico",
                                               "crafted-wrap.ico", "crafted-bomb.ico"};

// Whole-file shapes that crash, stall or slow the shell or the check. Refused: a group
// whose header the shell does not read, so that it asks for icon 0, animated-cursor data
// (crafted-unread-group.dll); two sections at one address, the first holding only the
// start of the icon (crafted-two-sections.dll); a PNG with 20 zTXt chunks of 8 MB each
// inflated (crafted-ztxt.ico); 1000 groups naming one 1024 x 1024 PNG
// (crafted-shared-image.dll); 4096 section headers and 32,000 languages of one icon
// (crafted-many-sections.dll). Sound, and cheap to check: 32,000 languages of one icon
// whose data entries alternate between two places 0xF0000 bytes apart (crafted-thrash.dll,
// one icon).
inline constexpr const char* CraftedShapes[] = {"crafted-unread-group.dll", "crafted-two-sections.dll",
                                                "crafted-ztxt.ico", "crafted-shared-image.dll",
                                                "crafted-many-sections.dll"};
inline constexpr char ThrashDll[] = "crafted-thrash.dll";

// Files the shell reads without fault, with the number of icons it counts in each:
// favicons with 32 x 32 and 16 x 16 images and no AND masks at 32, 24 and 8 bits, a
// bitmap with its rows top-down, a sound 32 x 32 image beside a 16 x 16 one cut short by
// the end of the file (never picked), PNG images of 1025 x 1025 and 2048 x 16, a DLL with
// two groups of which the second names an absent icon, and one whose group's second
// (16 x 16) entry is absent.
struct TSoundOddity {
  const char* Name;
  unsigned Icons;
};
inline constexpr TSoundOddity SoundOddities[] = {
    {"favicon-32.ico", 1}, {"favicon-24.ico", 1},  {"favicon-8.ico", 1},        {"top-down.ico", 1},
    {"cut-unpicked.ico", 1}, {"png-1025.ico", 1}, {"png-2048x16.ico", 1}, {"absent-icon.dll", 2},
    {"absent-second.dll", 1}};

}  // namespace fixture

// The pixels of an icon as drawn by the system: colour (RGB, alpha dropped) and whether
// the mask lets the background through, row by row from the top.
struct TIconPixels {
  int Width = 0;
  int Height = 0;
  std::vector<COLORREF> Colour;
  std::vector<bool> Transparent;
  COLORREF At(int x, int y) const { return Colour[y * Width + x]; }
  bool ClearAt(int x, int y) const { return Transparent[y * Width + x]; }
};
// Reads an icon through GetIconInfo and GetDIBits; fails the calling test (and returns
// an empty result) when the system refuses.
TIconPixels ReadIconPixels(HICON icon);
