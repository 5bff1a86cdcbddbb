// The icon source check against real files written to a temp folder, and the shell's
// real extraction run over every file the check lets through: a crash there ends the
// test program.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "collect/iconfilecheck.h"
#include "collect/hostile_files.h"
#include "runtime/owners.h"
#include "support/fixtures.h"

namespace {

using hostile::Put16;
using hostile::Put32;
using hostile::TBytes;

TBytes Prefix(const TBytes& b, std::size_t length) { return TBytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(length)); }

std::string SystemDirectory() {
  char buffer[MAX_PATH] = {};
  GetSystemDirectoryA(buffer, MAX_PATH);
  return buffer;
}

TBytes ReadWholeFile(const std::string& name) {
  TFileHandle file(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  LARGE_INTEGER size;
  GetFileSizeEx(file.Get(), &size);
  TBytes b(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  if (!b.empty() && !ReadFile(file.Get(), b.data(), static_cast<DWORD>(b.size()), &got, nullptr)) return {};
  b.resize(got);
  return b;
}

// Counts a file's icons the way a collection does and extracts each one.
UINT ShellIconCount(const std::string& name, UINT* nonNull = nullptr) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  const UINT count = static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(self, name.c_str(), static_cast<UINT>(-1))));
  if (nonNull) *nonNull = 0;
  for (UINT i = 0; i < count && i < 4096; ++i) {
    TOwnedIcon icon(ExtractIconA(self, name.c_str(), i));
    if (icon && nonNull) ++*nonNull;
  }
  return count;
}

// The pure check over bytes in memory; every read is also checked to stay inside.
bool BytesAreSound(const TBytes& b, bool* readOutside = nullptr) {
  return IconSourceIsSound(b.size(), [&](std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > b.size() || length > b.size() - offset) {
      if (readOutside) *readOutside = true;
      return false;
    }
    if (length) std::memcpy(buffer, b.data() + offset, length);
    return true;
  });
}

class IconFileCheck : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    FFolder = std::string(temp) + "gd_filecheck_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(FFolder.c_str(), nullptr);
  }
  static void TearDownTestSuite() {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((FFolder + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((FFolder + found.cFileName).c_str());
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    RemoveDirectoryA((FFolder + "folder").c_str());
    RemoveDirectoryA(FFolder.c_str());
  }

  static std::string Write(const std::string& leaf, const TBytes& b) {
    const std::string name = FFolder + leaf;
    TFileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(file) << name;
    DWORD written = 0;
    if (file && !b.empty()) WriteFile(file.Get(), b.data(), static_cast<DWORD>(b.size()), &written, nullptr);
    EXPECT_EQ(written, b.size());
    return name;
  }

  // Writes the bytes, checks them, and lets the shell read them when they pass.
  static bool Judge(const std::string& leaf, const TBytes& b) {
    const std::string name = Write(leaf, b);
    bool outside = false;
    const bool sound = IconFileIsSound(name);
    EXPECT_EQ(sound, BytesAreSound(b, &outside)) << leaf;
    EXPECT_FALSE(outside) << leaf << ": read past the end";
    if (sound) ShellIconCount(name);
    return sound;
  }

  static std::string FFolder;
};
std::string IconFileCheck::FFolder;

TEST_F(IconFileCheck, FilesInNoIconFormPassAndTheShellFindsNothing) {
  EXPECT_TRUE(Judge("empty.dll", {}));
  EXPECT_EQ(ShellIconCount(FFolder + "empty.dll"), 0u);
  const std::string text = "これはテキストです。\r\nplain text, no icons\r\n";
  EXPECT_TRUE(Judge("note.txt", TBytes(text.begin(), text.end())));
  EXPECT_EQ(ShellIconCount(FFolder + "note.txt"), 0u);

  std::mt19937 random(20240611);
  TBytes noise(70000);
  for (auto& byte : noise) byte = static_cast<unsigned char>(random());
  noise[0] = 0x37;  // neither "MZ" nor an icon header
  noise[2] = 0x55;
  EXPECT_TRUE(Judge("noise.dll", noise));
  EXPECT_EQ(ShellIconCount(FFolder + "noise.dll"), 0u);
}

TEST_F(IconFileCheck, TruncatedSystemFilesFailTheirWholeSelvesPass) {
  const std::string system = SystemDirectory();
  const TBytes notepad = ReadWholeFile(system + "\\notepad.exe");
  const TBytes shell32 = ReadWholeFile(system + "\\shell32.dll");
  ASSERT_GT(notepad.size(), 1500u);
  ASSERT_GT(shell32.size(), 200000u);
  EXPECT_FALSE(Judge("notepad_1500.exe", Prefix(notepad, 1500)));
  EXPECT_FALSE(Judge("shell32_200000.dll", Prefix(shell32, 200000)));
  EXPECT_TRUE(Judge("notepad.exe", notepad));
  UINT shown = 0;
  EXPECT_GT(ShellIconCount(FFolder + "notepad.exe", &shown), 0u);
  EXPECT_GT(shown, 0u);
}

// Cuts a real program at many places; whatever passes is handed to the shell.
TEST_F(IconFileCheck, EveryCutOfARealProgramIsSafeForTheShell) {
  const TBytes notepad = ReadWholeFile(SystemDirectory() + "\\notepad.exe");
  ASSERT_FALSE(notepad.empty());
  int refused = 0, cuts = 0;
  for (std::size_t length = 0; length < notepad.size(); length += notepad.size() / 97 + 1, ++cuts)
    if (!Judge("notepad_cut.exe", Prefix(notepad, length))) ++refused;
  std::cout << "[          ] notepad.exe: " << refused << " of " << cuts << " cuts refused\n";
  EXPECT_GT(refused, cuts / 2);
}

TEST_F(IconFileCheck, SynthesizedProgramPassesAndEveryCutThroughItsIconsFails) {
  const hostile::TPeFile pe = hostile::PeFile(2);
  ASSERT_TRUE(Judge("made.dll", pe.Bytes));
  UINT shown = 0;
  EXPECT_EQ(ShellIconCount(FFolder + "made.dll", &shown), 2u);
  EXPECT_EQ(shown, 2u);

  // Two bytes and more say "MZ"; from there every cut must fail.
  for (std::size_t length = 2; length < pe.IconDataEnd; ++length) {
    bool outside = false;
    ASSERT_FALSE(BytesAreSound(Prefix(pe.Bytes, length), &outside)) << "cut at " << length;
    ASSERT_FALSE(outside) << "cut at " << length;
  }
  // The same through real files at one place in each part.
  const std::size_t places[] = {0x20, 0x46, pe.OptionalHeader + 100, pe.SectionTable + 20, pe.ResourceRoot + 8,
                                pe.GroupTypeDirectory + 20, pe.FirstGroupData + 10, pe.FirstIconData + 300};
  for (std::size_t place : places) EXPECT_FALSE(Judge("made_cut.dll", Prefix(pe.Bytes, place))) << place;
}

TEST_F(IconFileCheck, CorruptedProgramHeadersFail) {
  const hostile::TPeFile pe = hostile::PeFile(1);
  auto patched = [&](std::size_t at, std::uint32_t value, bool wide) {
    TBytes b = pe.Bytes;
    wide ? Put32(b, at, value) : Put16(b, at, value);
    return b;
  };
  EXPECT_FALSE(Judge("lfanew_garbage.dll", patched(0x3C, 0x10, true)));
  EXPECT_FALSE(Judge("lfanew_past_end.dll", patched(0x3C, 0x7FFFFF00, true)));
  EXPECT_FALSE(Judge("lfanew_negative.dll", patched(0x3C, 0xFFFFFFF0, true)));
  EXPECT_FALSE(Judge("lfanew_at_end.dll", patched(0x3C, static_cast<std::uint32_t>(pe.Bytes.size() - 2), true)));
  EXPECT_FALSE(Judge("optional_huge.dll", patched(0x54, 0xFFFF, false)));
  EXPECT_FALSE(Judge("sections_huge.dll", patched(0x46, 0xFFFF, false)));
  EXPECT_FALSE(Judge("magic_unknown.dll", patched(pe.OptionalHeader, 0x1234, false)));
  EXPECT_FALSE(Judge("optional_short.dll", patched(0x54, 100, false)));
  EXPECT_FALSE(Judge("raw_past_end.dll", patched(pe.SectionTable + 20, 0x7FFFF000, true)));
  EXPECT_FALSE(Judge("root_unmapped.dll", patched(pe.OptionalHeader + 128, 0x9000, true)));
  // Without a resource directory the shell reads nothing more and finds no icons.
  TBytes bare = patched(pe.OptionalHeader + 128, 0, true);
  EXPECT_TRUE(Judge("no_resources.dll", bare));
  EXPECT_EQ(ShellIconCount(FFolder + "no_resources.dll"), 0u);
}

TEST_F(IconFileCheck, ResourceTreesThatLoopOrLeaveTheFileFail) {
  const hostile::TPeFile pe = hostile::PeFile(1);
  const std::size_t root = pe.ResourceRoot;
  auto patched = [&](std::size_t at, std::uint32_t value) {
    TBytes b = pe.Bytes;
    Put32(b, at, value);
    return b;
  };
  // The group type leads back to the root, or a name to its own directory.
  EXPECT_FALSE(Judge("loop_root.dll", patched(root + 16 + 8 + 4, 0x80000000u)));
  const std::size_t groupType = pe.GroupTypeDirectory;
  EXPECT_FALSE(Judge("loop_self.dll",
                     patched(groupType + 16 + 4, 0x80000000u | static_cast<std::uint32_t>(groupType - root))));
  EXPECT_FALSE(Judge("dir_outside.dll", patched(groupType + 16 + 4, 0xFFFFFF00u)));
  EXPECT_FALSE(Judge("entry_count_huge.dll", patched(root + 12, 0xFFFF0000u)));
  // A name that says directory no more, and a language that says directory.
  EXPECT_FALSE(Judge("name_not_dir.dll", patched(groupType + 16 + 4, hostile::Get32(pe.Bytes, groupType + 16 + 4) & 0x7FFFFFFFu)));
  const std::size_t groupLang = root + (hostile::Get32(pe.Bytes, groupType + 16 + 4) & 0x7FFFFFFFu);
  EXPECT_FALSE(Judge("lang_is_dir.dll", patched(groupLang + 16 + 4, 0x80000000u)));
  const std::size_t groupEntry = root + hostile::Get32(pe.Bytes, groupLang + 16 + 4);
  EXPECT_FALSE(Judge("data_unmapped.dll", patched(groupEntry, 0x50000)));
  EXPECT_FALSE(Judge("data_too_long.dll", patched(groupEntry + 4, 0x100000)));
  EXPECT_FALSE(Judge("data_wraps.dll", patched(groupEntry + 4, 0xFFFFFF00u)));
  EXPECT_FALSE(Judge("group_count_huge.dll", patched(pe.FirstGroupData + 4, 0x0000FFFF)));
  // A named type with its name string outside the file.
  EXPECT_FALSE(Judge("name_outside.dll", patched(root + 16, 0x80000000u | 0x00FFFFF0u)));
}

// An icon a group names that the file does not hold, the shell does not find: it gives
// no icon for it, and reads nothing more.
TEST_F(IconFileCheck, GroupNamingAMissingIconPassesAndGivesNoIcon) {
  EXPECT_TRUE(Judge("missing_icon.dll", hostile::PeFile(3, 99).Bytes));
  UINT shown = 0;
  EXPECT_EQ(ShellIconCount(FFolder + "missing_icon.dll", &shown), 3u);
  EXPECT_EQ(shown, 2u);
  EXPECT_TRUE(Judge("present_icon.dll", hostile::PeFile(3, 2).Bytes));
}

TEST_F(IconFileCheck, HundredsOfGroupsPassQuickly) {
  const hostile::TPeFile pe = hostile::PeFile(700);
  const std::string name = Write("many.dll", pe.Bytes);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(IconFileIsSound(name));
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[          ] 700 icon groups checked in " << ms << " ms\n";
  EXPECT_LT(ms, 1000.0);
  EXPECT_EQ(ShellIconCount(name), 700u);
}

TEST_F(IconFileCheck, IconFilesAreCheckedImageByImage) {
  const TBytes ico = hostile::IcoFile(32);
  ASSERT_EQ(ico.size(), 4286u);
  EXPECT_TRUE(Judge("whole.ico", ico));
  UINT shown = 0;
  EXPECT_EQ(ShellIconCount(FFolder + "whole.ico", &shown), 1u);
  EXPECT_EQ(shown, 1u);
  EXPECT_TRUE(Judge("sixteen.ico", hostile::IcoFile(4)));

  EXPECT_FALSE(Judge("cut_100.ico", Prefix(ico, 100)));
  EXPECT_FALSE(Judge("cut_entry.ico", Prefix(ico, 15)));
  EXPECT_FALSE(Judge("cut_header.ico", Prefix(ico, 5)));
  TBytes b = ico;
  Put16(b, 4, 0);
  EXPECT_FALSE(Judge("no_images.ico", b));
  b = ico;
  Put32(b, 18, 0x7FFFFFF0u);
  EXPECT_FALSE(Judge("image_outside.ico", b));
  b = ico;
  Put32(b, 14, 0xFFFFFFF0u);
  EXPECT_FALSE(Judge("image_wraps.ico", b));
  b = ico;
  Put16(b, 4, 300);  // more entries than the file holds
  EXPECT_FALSE(Judge("entries_outside.ico", b));
  b = ico;
  Put16(b, 4, 200);  // 199 entries of image bytes: the shell reads them and picks the first
  EXPECT_TRUE(Judge("entries_of_image_bytes.ico", b));
  b = ico;
  Put16(b, 2, 2);  // a cursor file is held to the same rules
  EXPECT_TRUE(Judge("cursor.cur", b));
  EXPECT_FALSE(Judge("cursor_cut.cur", Prefix(b, 100)));
}

TEST_F(IconFileCheck, SixteenBitProgramsAreCheckedToo) {
  const hostile::TNeFile ne = hostile::NeFile();
  ASSERT_TRUE(Judge("old.exe", ne.Bytes));
  UINT shown = 0;
  const UINT count = ShellIconCount(FFolder + "old.exe", &shown);
  std::cout << "[          ] shell on a 16-bit program: " << count << " icon(s), " << shown << " extracted\n";

  for (std::size_t length = 2; length < ne.Bytes.size(); ++length) {
    bool outside = false;
    ASSERT_FALSE(BytesAreSound(Prefix(ne.Bytes, length), &outside)) << "cut at " << length;
    ASSERT_FALSE(outside);
  }
  EXPECT_FALSE(Judge("old_cut_table.exe", Prefix(ne.Bytes, ne.ResourceTable + 12)));
  EXPECT_FALSE(Judge("old_cut_icon.exe", Prefix(ne.Bytes, ne.IconData + 100)));

  TBytes b = ne.Bytes;
  Put16(b, ne.TableEnd - 2, 0x8006);  // the table no longer ends before the file does
  for (std::size_t at = ne.TableEnd; at < b.size(); ++at) b[at] = 0xFF;
  EXPECT_FALSE(Judge("old_unended.exe", b));
  b = ne.Bytes;
  Put16(b, ne.ResourceTable, 30);  // places shifted past 32 bits
  EXPECT_FALSE(Judge("old_shift.exe", b));
  b = ne.Bytes;
  Put16(b, ne.ResourceTable + 2 + 20 + 8 + 2, 0x4000);  // group data far past the end
  EXPECT_FALSE(Judge("old_group_outside.exe", b));
  b = ne.Bytes;
  Put16(b, ne.GroupData + 18, 7);  // the group names an icon that is not there: no icon
  EXPECT_TRUE(Judge("old_missing_icon.exe", b));
  b = ne.Bytes;
  Put16(b, 0x40 + 0x24, 0xFF00);  // resource table outside the file
  EXPECT_FALSE(Judge("old_table_outside.exe", b));
}

// ---- The icon images inside -------------------------------------------------------------

struct TDib {
  std::uint32_t HeaderSize = 40;
  std::int32_t Width = 32, Height = 64;
  std::uint16_t Planes = 1, Bits = 4;
  std::uint32_t Compression = 0, ColoursUsed = 0;
};

// A bitmap icon image of exactly the length its header asks for, plus `extra` bytes
// (negative to cut it short); at least its 40-byte header. Headers that ask for more
// than a megabyte (the hostile sizes) get 64 bytes.
TBytes DibImage(const TDib& d, std::ptrdiff_t extra = 0) {
  const std::int64_t height = d.Height;
  const std::uint64_t bits = d.Bits, rows = static_cast<std::uint64_t>(height < 0 ? -height : height) / 2;
  const std::uint64_t width = d.Width > 0 ? static_cast<std::uint64_t>(d.Width) : 0;
  const std::uint64_t table = d.ColoursUsed ? d.ColoursUsed : (bits <= 8 ? std::uint64_t{1} << bits : 0);
  const std::uint64_t header = std::max<std::uint64_t>(d.HeaderSize, d.Compression == 3 ? 52 : 40);
  std::uint64_t wanted = header + table * 4 + ((width * bits + 31) / 32 * 4 + (width + 31) / 32 * 4) * rows;
  if (wanted > (1u << 20)) wanted = 64;
  TBytes b(static_cast<std::size_t>(std::max<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(wanted) + extra, 40)), 0);
  Put32(b, 0, d.HeaderSize);
  Put32(b, 4, static_cast<std::uint32_t>(d.Width));
  Put32(b, 8, static_cast<std::uint32_t>(d.Height));
  Put16(b, 12, d.Planes);
  Put16(b, 14, d.Bits);
  Put32(b, 16, d.Compression);
  Put32(b, 32, d.ColoursUsed);
  if (d.Compression == 3 && b.size() >= 52) {
    Put32(b, 40, 0xFF0000);
    Put32(b, 44, 0xFF00);
    Put32(b, 48, 0xFF);
  }
  return b;
}

void PutBig32(TBytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// The CRC stays zero: the check does not read it, and the shell never sees an image
// that needs one here decoded to anything.
TBytes PngChunk(const char* type, const TBytes& body) {
  TBytes c(12 + body.size(), 0);
  PutBig32(c, 0, static_cast<std::uint32_t>(body.size()));
  std::copy(type, type + 4, c.begin() + 4);
  for (std::size_t i = 0; i < body.size(); ++i) c[8 + i] = body[i];
  return c;
}

// A PNG header and chunks as given (an IDAT of a few stored bytes, an IEND): enough for
// the check; the shell only ever sees the sound ones, and decodes them to nothing.
TBytes PngImage(std::uint32_t width, std::uint32_t height, std::uint32_t ihdrLength = 13, bool iend = true) {
  TBytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  TBytes ihdr(13, 0);
  PutBig32(ihdr, 0, width);
  PutBig32(ihdr, 4, height);
  ihdr[8] = 8;
  ihdr[9] = 6;
  TBytes chunk = PngChunk("IHDR", ihdr);
  PutBig32(chunk, 0, ihdrLength);
  b.insert(b.end(), chunk.begin(), chunk.end());
  chunk = PngChunk("IDAT", TBytes{0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01});
  b.insert(b.end(), chunk.begin(), chunk.end());
  if (iend) {
    chunk = PngChunk("IEND", {});
    b.insert(b.end(), chunk.begin(), chunk.end());
  }
  return b;
}

// A one-image .ico file whose image ends the file on a page boundary, where the shell's
// reads past it fault.
TBytes IcoAtPageEnd(const TBytes& image) {
  const std::size_t end = hostile::AlignUp(std::max<std::size_t>(22 + image.size(), 1), 4096);
  TBytes b(end - image.size(), 0);
  Put16(b, 2, 1);
  Put16(b, 4, 1);
  b[6] = 32;
  b[7] = 32;
  Put16(b, 10, 1);
  Put16(b, 12, 32);
  Put32(b, 14, static_cast<std::uint32_t>(image.size()));
  Put32(b, 18, static_cast<std::uint32_t>(end - image.size()));
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

TEST_F(IconFileCheck, BitmapImagesPassOnlyInTheFormTheShellMeasuresSafely) {
  struct TCase {
    const char* Name;
    TDib Dib;
    std::ptrdiff_t Extra;
    bool Sound;
  } const cases[] = {
      {"plain_4bit", {}, 0, true},
      {"one_bit", {40, 32, 64, 1, 1}, 0, true},
      {"eight_bit", {40, 48, 96, 1, 8}, 0, true},
      {"sixteen_bit", {40, 16, 32, 1, 16}, 0, true},
      {"twentyfour_bit", {40, 16, 32, 1, 24}, 0, true},
      {"thirtytwo_bit", {40, 32, 64, 1, 32}, 0, true},
      {"header_52", {52, 32, 64, 1, 32}, 0, true},
      {"header_56", {56, 32, 64, 1, 32}, 0, true},
      {"header_108", {108, 32, 64, 1, 32}, 0, true},
      {"header_124", {124, 32, 64, 1, 4}, 0, true},
      {"bitfields_32", {40, 32, 64, 1, 32, 3}, 0, true},
      {"bitfields_16", {40, 16, 32, 1, 16, 3}, 0, true},
      {"short_table", {40, 32, 64, 1, 8, 0, 2}, 0, true},
      {"side_1024", {40, 1024, 2048, 1, 1}, 0, true},
      {"trailing_bytes", {}, 100, true},
      {"core_header", {12, 32, 64, 1, 4}, 0, false},
      {"header_16", {16, 32, 64, 1, 4}, 0, false},
      {"header_64", {64, 32, 64, 1, 4}, 0, false},
      {"width_0", {40, 0, 64, 1, 4}, 0, false},
      {"width_negative", {40, -32, 64, 1, 4}, 0, false},
      {"width_1025", {40, 1025, 2, 1, 1}, 0, false},
      {"height_0", {40, 32, 0, 1, 4}, 0, false},
      {"height_odd", {40, 32, 63, 1, 4}, 0, false},
      {"height_top_down", {40, 32, -64, 1, 4}, 0, true},  // rows top-down: measured as the decoder does
      {"height_top_down_odd", {40, 32, -63, 1, 4}, 0, false},
      {"height_2050", {40, 1, 2050, 1, 1}, 0, false},
      {"planes_0", {40, 32, 64, 0, 4}, 0, false},
      {"planes_2", {40, 32, 64, 2, 4}, 0, false},
      {"bits_2", {40, 32, 64, 1, 2}, 0, false},
      {"bits_15", {40, 32, 64, 1, 15}, 0, false},
      {"bits_33", {40, 32, 64, 1, 33}, 0, false},
      {"run_length_8", {40, 32, 64, 1, 8, 1}, 0, false},
      {"bitfields_8", {40, 32, 64, 1, 8, 3}, 0, false},
      {"jpeg", {40, 32, 64, 1, 32, 4}, 0, false},
      {"table_17_at_4", {40, 32, 64, 1, 4, 0, 17}, 0, false},
      {"table_257_at_32", {40, 32, 64, 1, 32, 0, 257}, 0, false},
      // The decoder leaves out a mask it has no room for (many favicons have none).
      {"mask_byte_short", {}, -1, true},
      {"no_mask", {40, 32, 64, 1, 32}, -128, true},
      {"colour_byte_short", {40, 32, 64, 1, 32}, -129, false},
      {"header_only", {40, 32, 64, 1, 32}, -(4096 + 128), false},
      // 32-bit sizes the shell's decoder wraps: the rows would be far outside.
      {"wrap_width", {40, 0x40000000, 2, 1, 32}, 0, false},
      {"wrap_square", {40, 0x8000, 0x10000, 1, 32}, 0, false},
      {"wrap_height", {40, 32, static_cast<std::int32_t>(0x80000000u), 1, 32}, 0, false},
  };
  for (const TCase& c : cases) {
    const TBytes image = DibImage(c.Dib, c.Extra);
    EXPECT_EQ(Judge(std::string("dib_") + c.Name + ".ico", IcoAtPageEnd(image)), c.Sound) << c.Name;
  }
}

TEST_F(IconFileCheck, PngImagesPassWithIconSidesAndChunksInside) {
  EXPECT_TRUE(Judge("png_32.ico", IcoAtPageEnd(PngImage(32, 32))));
  EXPECT_TRUE(Judge("png_256.ico", IcoAtPageEnd(PngImage(256, 256))));
  EXPECT_TRUE(Judge("png_1024.ico", IcoAtPageEnd(PngImage(1024, 1))));
  EXPECT_TRUE(Judge("png_1025.ico", IcoAtPageEnd(PngImage(1025, 16))));
  EXPECT_TRUE(Judge("png_4096.ico", IcoAtPageEnd(PngImage(4096, 1024))));
  EXPECT_FALSE(Judge("png_4097.ico", IcoAtPageEnd(PngImage(4097, 1))));
  EXPECT_FALSE(Judge("png_4096_square.ico", IcoAtPageEnd(PngImage(4096, 4096))));
  EXPECT_FALSE(Judge("png_bomb.ico", IcoAtPageEnd(PngImage(20000, 20000))));
  EXPECT_FALSE(Judge("png_wide_bomb.ico", IcoAtPageEnd(PngImage(1000000, 500))));
  EXPECT_FALSE(Judge("png_zero.ico", IcoAtPageEnd(PngImage(0, 16))));
  EXPECT_FALSE(Judge("png_ihdr_12.ico", IcoAtPageEnd(PngImage(32, 32, 12))));
  EXPECT_FALSE(Judge("png_no_iend.ico", IcoAtPageEnd(PngImage(32, 32, 13, false))));
  TBytes png = PngImage(32, 32);
  EXPECT_FALSE(Judge("png_cut.ico", IcoAtPageEnd(Prefix(png, png.size() - 1))));
  EXPECT_FALSE(Judge("png_signature_only.ico", IcoAtPageEnd(Prefix(png, 8))));
  TBytes b = png;
  PutBig32(b, 8 + 25, 0x7FFFFFFF);  // the IDAT chunk claims more than the image holds
  EXPECT_FALSE(Judge("png_chunk_outside.ico", IcoAtPageEnd(b)));
  b = png;
  b[8 + 16] = 7;  // bit depth 7
  EXPECT_FALSE(Judge("png_depth_7.ico", IcoAtPageEnd(b)));
  b = png;
  std::copy_n("IDAT", 4, b.begin() + 12);  // IHDR is not the first chunk
  EXPECT_FALSE(Judge("png_ihdr_second.ico", IcoAtPageEnd(b)));

  // The fixture PNG-compressed icon still passes and shows.
  const std::string png256 = FixturePath(fixture::Png256Dll);
  EXPECT_TRUE(IconFileIsSound(png256));
  UINT shown = 0;
  EXPECT_EQ(ShellIconCount(png256, &shown), 1u);
  EXPECT_EQ(shown, 1u);
}

TEST_F(IconFileCheck, AnimatedCursorDataIsNeverAnIconImage) {
  auto riff = [](std::uint32_t length, const char* form, std::uint32_t chunkLength) {
    TBytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, static_cast<unsigned char>(form[0]), static_cast<unsigned char>(form[1]),
                static_cast<unsigned char>(form[2]), static_cast<unsigned char>(form[3]), 'a', 'n', 'i', 'h'};
    Put32(b, 4, length);
    Put32(b, 16, chunkLength);
    return b;
  };
  EXPECT_FALSE(Judge("riff_anih_empty.ico", IcoAtPageEnd(riff(12, "ACON", 36))));
  TBytes whole = riff(4 + 8 + 36, "ACON", 36);
  whole.resize(whole.size() + 36, 0);
  EXPECT_FALSE(Judge("riff_whole.ico", IcoAtPageEnd(whole)));
  EXPECT_FALSE(Judge("riff_huge.ico", IcoAtPageEnd(riff(0x7FFFFFFF, "ACON", 0x7FFFFFFF))));
}

TEST_F(IconFileCheck, CoreHeadersAreRefusedWhatTheirBytesSay) {
  // 1 x 1 pixel, 1 bit; its two-colour table puts 32 where an info header's bit count is.
  TBytes core = {12, 0, 0, 0, 1, 0, 2, 0, 1, 0, 1, 0, 0, 0, 32, 0, 255, 0, 0, 0, 0, 0};
  EXPECT_FALSE(Judge("core_1bit.ico", IcoAtPageEnd(core)));
  core.resize(16);
  EXPECT_FALSE(Judge("core_16_bytes.ico", IcoAtPageEnd(core)));
  core.resize(4096, 0);
  EXPECT_FALSE(Judge("core_roomy.ico", IcoAtPageEnd(core)));
}

TEST_F(IconFileCheck, ProgramIconsAreCheckedImageByImage) {
  // A PE file's icon named by its group: the image must be sound.
  const hostile::TPeFile pe = hostile::PeFile(2);
  TBytes b = pe.Bytes;
  Put32(b, pe.FirstIconData, 12);  // a core header
  EXPECT_FALSE(Judge("pe_core_image.dll", b));
  b = pe.Bytes;
  std::copy_n("RIFF", 4, b.begin() + static_cast<std::ptrdiff_t>(pe.FirstIconData));
  EXPECT_FALSE(Judge("pe_riff_image.dll", b));
  b = pe.Bytes;
  Put32(b, pe.FirstIconData + 744 + 4, 0x40000000);  // the second icon's width
  EXPECT_FALSE(Judge("pe_wide_image.dll", b));

  const hostile::TNeFile ne = hostile::NeFile();
  b = ne.Bytes;
  Put32(b, ne.IconData, 12);
  EXPECT_FALSE(Judge("ne_core_image.exe", b));
  b = ne.Bytes;
  Put16(b, ne.IconData + 14, 32);  // 32 bits a pixel: the rows no longer fit
  EXPECT_FALSE(Judge("ne_deep_image.exe", b));
}

TEST_F(IconFileCheck, TypeEntriesAreMatchedByTheirLow16Bits) {
  const hostile::TPeFile pe = hostile::PeFile(1);
  const std::size_t root = pe.ResourceRoot;
  const std::uint32_t aliases[][2] = {{0x00010003, 0x0001000E}, {0x7FFF0003, 0x8000000E}, {0x00020003, 0x7FFF000E}};
  for (const auto& alias : aliases) {
    TBytes b = pe.Bytes;
    Put32(b, root + 16, alias[0]);
    Put32(b, root + 24, alias[1]);
    const std::string name = "alias_" + std::to_string(alias[0]);
    // Sound under an alias, the file passes and the shell finds the icon there.
    ASSERT_TRUE(Judge(name + ".dll", b)) << std::hex << alias[0];
    EXPECT_EQ(ShellIconCount(FFolder + name + ".dll"), 1u) << std::hex << alias[0];
    // The icon under the alias is checked as any icon is.
    Put32(b, pe.FirstIconData, 12);
    EXPECT_FALSE(Judge(name + "_core.dll", b)) << std::hex << alias[0];
    // And a group under the alias names its icons as any group does.
    b = pe.Bytes;
    Put32(b, root + 24, alias[1]);
    Put32(b, pe.FirstIconData + 4, 0x40000000);
    EXPECT_FALSE(Judge(name + "_wide.dll", b)) << std::hex << alias[0];
  }
  // A number counted among the named entries is checked all the same.
  TBytes b = pe.Bytes;
  Put16(b, root + 12, 1);
  Put16(b, root + 14, 1);
  Put32(b, pe.FirstIconData, 12);
  EXPECT_FALSE(Judge("number_among_names.dll", b));
}

// The image check is bounded too: 65,535 entries naming two PNG images of 40,000 empty
// chunks each cost one walk of each image, and the walk stops at its chunk budget.
TEST_F(IconFileCheck, ManyImagesAndChunksStayCheap) {
  TBytes png = PngImage(32, 32);
  const TBytes text = PngChunk("tEXt", {});
  TBytes many(png.begin(), png.begin() + 8 + 25);
  for (int i = 0; i < 40000; ++i) many.insert(many.end(), text.begin(), text.end());
  many.insert(many.end(), png.begin() + 8 + 25, png.end());
  const std::size_t count = 65535, images = 6 + count * 16;
  TBytes b(images, 0);
  Put16(b, 2, 1);
  Put16(b, 4, static_cast<std::uint32_t>(count));
  b.insert(b.end(), many.begin(), many.end());
  b.insert(b.end(), many.begin(), many.end());
  for (std::size_t i = 0; i < count; ++i) {
    // 32 and 8 bits in turn: the shell picks one or the other by the display's depth.
    Put16(b, 6 + i * 16 + 6, i % 2 ? 8 : 32);
    Put32(b, 6 + i * 16 + 8, static_cast<std::uint32_t>(many.size()));
    Put32(b, 6 + i * 16 + 12, static_cast<std::uint32_t>(images + (i % 2) * many.size()));
  }
  const std::string name = Write("many_chunks.ico", b);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(IconFileIsSound(name));
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[          ] 65535 images, 80000 chunks: refused in " << ms << " ms\n";
  EXPECT_LT(ms, 1000.0);
  // One such image alone is within the budget, and sound.
  EXPECT_TRUE(BytesAreSound(IcoAtPageEnd(many)));
}

// One file for each kind of crafted image, built by the fixture generator: each is
// refused (the shell would crash or stall on it; it is never handed to it here).
TEST_F(IconFileCheck, CraftedImageFixturesAreRefused) {
  for (const char* leaf : fixture::CraftedFiles) {
    const std::string name = FixturePath(leaf);
    const TBytes bytes = ReadWholeFile(name);
    ASSERT_FALSE(bytes.empty()) << leaf;
    EXPECT_EQ(bytes.size() % 4096, 0u) << leaf << ": the image ends on a page boundary";
    bool outside = false;
    EXPECT_FALSE(BytesAreSound(bytes, &outside)) << leaf;
    EXPECT_FALSE(outside) << leaf;
    EXPECT_FALSE(IconFileIsSound(name)) << leaf;
  }
}

// ---- Whole-file shapes ------------------------------------------------------------------

// A group whose header the shell does not read (reserved not 0, a type with neither low
// bit set), or that has no entries, makes it ask for icon 0 (0x8000 in a 16-bit program):
// when that is there it must be sound.
TEST_F(IconFileCheck, AGroupTheShellCannotReadAsksForIconZero) {
  const hostile::TPeFile pe = hostile::PeFile(2);
  const std::size_t iconType = pe.ResourceRoot + 32;
  TBytes b = pe.Bytes;
  Put32(b, iconType + 16, 0);  // icon 1 becomes icon 0: group 1 names an absent icon
  ASSERT_TRUE(Judge("zero_present.dll", b));
  struct TShape {
    const char* Name;
    std::size_t At;
    std::uint32_t Value;
  } const shapes[] = {{"reserved", 0, 1}, {"type_4", 2, 4}, {"no_entries", 4, 0}};
  for (const TShape& shape : shapes) {
    TBytes unread = b;
    Put16(unread, pe.FirstGroupData + shape.At, shape.Value);
    EXPECT_TRUE(Judge(std::string("zero_sound_") + shape.Name + ".dll", unread)) << shape.Name;
    std::copy_n("RIFF", 4, unread.begin() + static_cast<std::ptrdiff_t>(pe.FirstIconData));
    EXPECT_FALSE(Judge(std::string("zero_riff_") + shape.Name + ".dll", unread)) << shape.Name;
  }
  // The same in a 16-bit program.
  const hostile::TNeFile ne = hostile::NeFile();
  b = ne.Bytes;
  Put16(b, ne.ResourceTable + 2 + 8 + 6, 0x8000);  // the icon's number
  Put16(b, ne.GroupData, 1);                        // the group's reserved word
  EXPECT_TRUE(Judge("old_zero_sound.exe", b));
  Put32(b, ne.IconData, 12);
  EXPECT_FALSE(Judge("old_zero_core.exe", b));
}

// The platform maps an address through the first section whose raw data holds its start;
// when that section ends inside the range the file is refused, whatever a later section
// would give.
TEST_F(IconFileCheck, ResourceDataIsMappedThroughTheFirstSectionThatHoldsItsStart) {
  const hostile::TPeFile pe = hostile::PeFile(1);
  TBytes b = pe.Bytes;
  // The section's raw data now ends 16 bytes into the icon image; the file goes on.
  Put32(b, pe.SectionTable + 16, static_cast<std::uint32_t>(pe.FirstIconData + 16 - pe.ResourceRoot));
  EXPECT_FALSE(Judge("section_ends_in_image.dll", b));
  const std::string twoSections = FixturePath("crafted-two-sections.dll");
  EXPECT_FALSE(BytesAreSound(ReadWholeFile(twoSections)));
  EXPECT_FALSE(IconFileIsSound(twoSections));
}

TEST_F(IconFileCheck, PngImagesWithCompressedTextOrProfilesAreRefused) {
  const TBytes png = PngImage(32, 32);
  auto with = [&png](const char* type, std::size_t bodyBytes) {
    const TBytes chunk = PngChunk(type, TBytes(bodyBytes, 0));
    TBytes b(png.begin(), png.begin() + 8 + 25);  // signature and header chunk
    b.insert(b.end(), chunk.begin(), chunk.end());
    b.insert(b.end(), png.begin() + 8 + 25, png.end());
    return IcoAtPageEnd(b);
  };
  EXPECT_TRUE(Judge("png_text.ico", with("tEXt", 8)));
  EXPECT_FALSE(Judge("png_ztxt.ico", with("zTXt", 8)));
  EXPECT_FALSE(Judge("png_itxt.ico", with("iTXt", 8)));
  EXPECT_FALSE(Judge("png_iccp.ico", with("iCCP", 8)));
  EXPECT_FALSE(IconFileIsSound(FixturePath("crafted-ztxt.ico")));
}

// Files that cost the check or the extraction much: refused at once, or (the sound one)
// checked in far less time than the bound here.
TEST_F(IconFileCheck, CostlyShapesAreRefusedOrCheckedQuickly) {
  for (const char* leaf : fixture::CraftedShapes) {
    const std::string name = FixturePath(leaf);
    const TBytes bytes = ReadWholeFile(name);
    ASSERT_FALSE(bytes.empty()) << leaf;
    bool outside = false;
    EXPECT_FALSE(BytesAreSound(bytes, &outside)) << leaf;
    EXPECT_FALSE(outside) << leaf;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IconFileIsSound(name)) << leaf;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::cout << "[          ] " << leaf << ": refused in " << ms << " ms\n";
    EXPECT_LT(ms, 2000.0) << leaf;
  }
  const std::string thrash = FixturePath(fixture::ThrashDll);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(IconFileIsSound(thrash));
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[          ] " << fixture::ThrashDll << ": checked in " << ms << " ms\n";
  EXPECT_LT(ms, 2000.0);
  UINT shown = 0;
  EXPECT_EQ(ShellIconCount(thrash, &shown), 1u);
  EXPECT_EQ(shown, 1u);
  // One section more than the loader takes, in an otherwise sound file.
  hostile::TPeFile pe = hostile::PeFile(1);
  TBytes b = pe.Bytes;
  Put16(b, 0x46, 97);
  EXPECT_FALSE(BytesAreSound(b));
}

// Files real users have that the shell reads without fault pass, and the shell shows them.
TEST_F(IconFileCheck, SoundOddFilesPassAndTheShellReadsThem) {
  for (const fixture::TSoundOddity& odd : fixture::SoundOddities) {
    const TBytes bytes = ReadWholeFile(FixturePath(odd.Name));
    ASSERT_FALSE(bytes.empty()) << odd.Name;
    ASSERT_TRUE(Judge(odd.Name, bytes)) << odd.Name;
    UINT shown = 0;
    EXPECT_EQ(ShellIconCount(FFolder + odd.Name, &shown), odd.Icons) << odd.Name;
    EXPECT_GE(shown, 1u) << odd.Name;
  }
  // The image the shell would pick, cut short, is refused.
  TBytes cut = ReadWholeFile(FixturePath("cut-unpicked.ico"));
  Put16(cut, 6 + 16 + 6, 33);  // the short 16 x 16 entry now nearer the display's depth...
  cut[6 + 16] = 32;            // ...and as near the size asked for as the sound one
  cut[6 + 16 + 1] = 32;
  EXPECT_FALSE(BytesAreSound(cut));
}

// Runs the check on another thread and reports whether it came back in time. The check
// of a device costs milliseconds; the bound only tells a wait that never ends from a
// machine that is busy (a thread's first turn, the console's host answering an open),
// so it lies far above anything a busy machine adds.
bool ReturnsWithin(const std::string& name, bool& result, int seconds = 60) {
  auto done = std::make_shared<std::atomic<int>>(-1);
  std::thread([name, done] { done->store(IconFileIsSound(name) ? 1 : 0); }).detach();
  for (int i = 0; i < seconds * 100 && done->load() < 0; ++i) Sleep(10);
  result = done->load() == 1;
  return done->load() >= 0;
}

TEST_F(IconFileCheck, FoldersAndDevicesNeverReachTheShell) {
  const std::string folder = FFolder + "folder";
  CreateDirectoryA(folder.c_str(), nullptr);
  // A folder cannot be opened as a file: it passes, and the shell finds nothing there.
  EXPECT_TRUE(IconFileIsSound(folder));
  EXPECT_EQ(ShellIconCount(folder), 0u);

  bool sound = true;
  ASSERT_TRUE(ReturnsWithin("NUL", sound));
  EXPECT_FALSE(sound);
  ASSERT_TRUE(ReturnsWithin("CON", sound));
  ASSERT_TRUE(ReturnsWithin("Z:\\dev\\zero", sound));
  EXPECT_FALSE(sound);
  ASSERT_TRUE(ReturnsWithin("\\\\.\\pipe\\gd_filecheck_absent", sound));
  EXPECT_TRUE(sound);  // no such pipe: cannot be opened

  // A live pipe with a server that never writes: opened, then refused unread.
  const std::string pipeName = "\\\\.\\pipe\\gd_filecheck_" + std::to_string(GetCurrentProcessId());
  TFileHandle server(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                      4096, 0, nullptr));
  ASSERT_TRUE(server);
  ASSERT_TRUE(ReturnsWithin(pipeName, sound));
  EXPECT_FALSE(sound);
}

// A file-system FIFO with no writer: an open or read of it could wait for ever.
TEST_F(IconFileCheck, FifoIsRefusedWithoutWaiting) {
  const std::string unixName = "/tmp/gd_filecheck_fifo_" + std::to_string(GetCurrentProcessId());
  std::string command = "/usr/bin/mkfifo " + unixName;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    GTEST_SKIP() << "no way to make a FIFO here (not running on a Unix host)";
  TKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
  const std::string name = "Z:" + unixName;
  // The Unix program's handle cannot be waited on; watch the folder for the FIFO.
  auto listed = [&name] {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(name.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return find != INVALID_HANDLE_VALUE;
  };
  for (int i = 0; i < 500 && !listed(); ++i) Sleep(10);
  if (!listed()) GTEST_SKIP() << "mkfifo did not run";
  bool sound = true;
  const bool returned = ReturnsWithin(name, sound);
  std::string remove = "/bin/rm -f " + unixName;  // the Windows side cannot delete a FIFO
  PROCESS_INFORMATION remover{};
  if (CreateProcessA(nullptr, &remove[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &remover)) {
    TKernelHandle removerProcess(remover.hProcess), removerThread(remover.hThread);
  }
  ASSERT_TRUE(returned);
  EXPECT_FALSE(sound);
}

TEST_F(IconFileCheck, JapaneseNamesAreOpened) {
  const TBytes cut = Prefix(hostile::IcoFile(32), 100);
  // "表" ends in the byte of a backslash; a refusal shows the file was opened and read.
  const std::string japanese = FFolder + "アイコン表示テスト.ico";
  {
    TFileHandle probe(CreateFileA(japanese.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!probe) GTEST_SKIP() << "this host cannot store Japanese file names (no ja_JP.UTF-8 locale for Wine)";
  }
  EXPECT_FALSE(IconFileIsSound(Write("アイコン表示テスト.ico", cut)));
  EXPECT_TRUE(IconFileIsSound(Write("アイコン表示テスト_完全.ico", hostile::IcoFile(4))));
  EXPECT_EQ(ShellIconCount(FFolder + "アイコン表示テスト_完全.ico"), 1u);
}

TEST_F(IconFileCheck, NamesUpToTheLimitAreOpenedLongerOnesNeverPassUnread) {
  const TBytes cut = Prefix(hostile::IcoFile(32), 100);
  const std::size_t room = MAX_PATH - 1 - FFolder.size();
  ASSERT_GT(room, 10u);
  const std::string longest = Write(std::string(room - 4, 'a') + ".ico", cut);
  ASSERT_EQ(longest.size(), MAX_PATH - 1u);
  EXPECT_FALSE(IconFileIsSound(longest));
  EXPECT_TRUE(IconFileIsSound(Write(std::string(room - 4, 'c') + ".ico", hostile::IcoFile(4))));

  // One character more. Whether the narrow open reaches it is the platform's matter;
  // either way the cut file must not pass.
  const std::string tooLong = FFolder + std::string(room - 3, 'b') + ".ico";
  const std::wstring wide = L"\\\\?\\" + std::wstring(tooLong.begin(), tooLong.end());
  {
    TFileHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    WriteFile(file.Get(), cut.data(), static_cast<DWORD>(cut.size()), &written, nullptr);
  }
  EXPECT_FALSE(IconFileIsSound(tooLong));
  DeleteFileW(wide.c_str());
  // A long name that leads nowhere fails too; a short one passes (the shell finds none).
  EXPECT_FALSE(IconFileIsSound(FFolder + std::string(400, 'x') + ".dll"));
  EXPECT_TRUE(IconFileIsSound(FFolder + "absent.dll"));
  EXPECT_EQ(ShellIconCount(FFolder + "absent.dll"), 0u);
}

// Every program file of the system passes, and the check costs little next to a count.
TEST_F(IconFileCheck, EverySystemProgramPasses) {
  const std::string system = SystemDirectory();
  std::vector<std::string> names;
  for (const char* pattern : {"\\*.dll", "\\*.exe"}) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((system + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(system + "\\" + found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  ASSERT_GT(names.size(), 100u);

  // The shell's count runs first, so both passes find the files in the system's cache.
  using ms = std::chrono::duration<double, std::milli>;
  const auto start = std::chrono::steady_clock::now();
  UINT icons = 0;
  for (const std::string& name : names)
    icons += static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(GetModuleHandleA(nullptr), name.c_str(), static_cast<UINT>(-1))));
  const auto counted = std::chrono::steady_clock::now();
  int refused = 0;
  for (const std::string& name : names) {
    if (!IconFileIsSound(name)) {
      ++refused;
      ADD_FAILURE() << "refused: " << name;
    }
  }
  const auto checked = std::chrono::steady_clock::now();
  std::cout << "[          ] " << names.size() << " system files, " << icons << " icons; shell count "
            << ms(counted - start).count() << " ms, check " << ms(checked - counted).count() << " ms\n";
  EXPECT_EQ(refused, 0);

  const std::string shell32 = system + "\\shell32.dll";
  EXPECT_TRUE(IconFileIsSound(shell32));
  const UINT count = ShellIconCount(shell32);
  std::cout << "[          ] shell32.dll: " << count << " icons\n";
  EXPECT_GT(count, 100u);
}

}  // namespace
