// The icon-file reader's listing against the shell: the icons of every program file of
// the system in the shell's numbering, and the fixtures' images as stored.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "collect/hostile_files.h"
#include "iconfile/iconfile.h"
#include "support/fixtures.h"

namespace {

std::vector<unsigned char> ReadWhole(const std::string& name) {
  std::vector<unsigned char> b;
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return b;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  b.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  if (!b.empty()) ReadFile(file, b.data(), static_cast<DWORD>(b.size()), &got, nullptr);
  CloseHandle(file);
  b.resize(got);
  return b;
}

TIconFile Read(const std::vector<unsigned char>& b) {
  return ReadIconFile(b.size(), [&b](std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > b.size() || length > b.size() - offset) return false;
    if (length) std::memcpy(buffer, b.data() + offset, length);
    return true;
  });
}

UINT ShellCount(const std::string& name) {
  return static_cast<UINT>(
      reinterpret_cast<UINT_PTR>(ExtractIconA(GetModuleHandleA(nullptr), name.c_str(), static_cast<UINT>(-1))));
}

}  // namespace

// Every program file of the system: the reader lists as many icons as the shell counts.
TEST(IconFileReader, ListsAsManyIconsAsTheShellCountsInEverySystemFile) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  int files = 0, icons = 0;
  for (const char* pattern : {"\\*.dll", "\\*.exe"}) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((std::string(system) + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      const std::string name = std::string(system) + "\\" + found.cFileName;
      const TIconFile file = Read(ReadWhole(name));
      ASSERT_TRUE(file.Sound) << name << ": " << file.Problem;
      EXPECT_EQ(file.Groups.size(), ShellCount(name)) << name;
      for (std::size_t k = 0; k < file.Groups.size(); ++k) {
        EXPECT_EQ(file.Groups[k].Index, k) << name;
        for (const TIconImage& image : file.Groups[k].Images) EXPECT_TRUE(image.Sound) << name;
      }
      ++files;
      icons += static_cast<int>(file.Groups.size());
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  std::cout << "[          ] " << files << " system files, " << icons << " icons listed\n";
  EXPECT_GT(icons, 100);
}

TEST(IconFileReader, GroupsAndImagesOfTheFixtures) {
  const TIconFile three = Read(ReadWhole(FixturePath(fixture::ThreeDll)));
  ASSERT_TRUE(three.Sound);
  EXPECT_EQ(three.Form, TIconFileForm::Pe);
  ASSERT_EQ(three.Groups.size(), 3u);
  for (const TIconGroup& group : three.Groups) {
    ASSERT_EQ(group.Images.size(), 1u);
    const TIconImage& image = group.Images[0];
    EXPECT_EQ(image.Width, 32u);
    EXPECT_EQ(image.Height, 32u);
    EXPECT_EQ(image.BitCount, 4);
    EXPECT_EQ(image.EntryWidth, 32);
    EXPECT_EQ(image.EntryColours, 16);
    EXPECT_FALSE(image.Png);
    EXPECT_EQ(image.Size, 744u);
  }

  // An .ico file: one icon; its image read back is the file's bytes after the directory.
  const std::vector<unsigned char> ico = ReadWhole(FixturePath("plain.ico"));
  const TIconFile plain = Read(ico);
  ASSERT_EQ(plain.Form, TIconFileForm::Ico);
  ASSERT_EQ(plain.Groups.size(), 1u);
  ASSERT_EQ(plain.Groups[0].Images.size(), 1u);
  std::vector<unsigned char> bytes;
  const TReadAt readAt = [&ico](std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > ico.size() || length > ico.size() - offset) return false;
    std::memcpy(buffer, ico.data() + offset, length);
    return true;
  };
  ASSERT_TRUE(ReadImageBytes(readAt, plain.Groups[0].Images[0], bytes));
  EXPECT_EQ(bytes, std::vector<unsigned char>(ico.begin() + 22, ico.end()));

  const TIconFile png = Read(ReadWhole(FixturePath(fixture::Png256Dll)));
  ASSERT_EQ(png.Groups.size(), 1u);
  ASSERT_EQ(png.Groups[0].Images.size(), 1u);
  EXPECT_TRUE(png.Groups[0].Images[0].Png);
  EXPECT_EQ(png.Groups[0].Images[0].Width, 256u);
  EXPECT_EQ(png.Groups[0].Images[0].BitCount, 32);

  const TIconFile old = Read(hostile::NeFile().Bytes);
  EXPECT_EQ(old.Form, TIconFileForm::Ne);
  ASSERT_EQ(old.Groups.size(), 1u);
  ASSERT_EQ(old.Groups[0].Images.size(), 1u);
  EXPECT_EQ(old.Groups[0].Images[0].Id, 1);
}

// What the reader lists where the shell finds less than the file names.
TEST(IconFileReader, AbsentAndUnpickedImages) {
  // Two groups, the second naming an absent icon: listed with no image.
  const TIconFile absent = Read(ReadWhole(FixturePath("absent-icon.dll")));
  ASSERT_TRUE(absent.Sound);
  ASSERT_EQ(absent.Groups.size(), 2u);
  EXPECT_EQ(absent.Groups[0].Images.size(), 1u);
  EXPECT_TRUE(absent.Groups[1].Images.empty());
  // The image cut short by the end of the file is listed as unsound.
  const TIconFile cut = Read(ReadWhole(FixturePath("cut-unpicked.ico")));
  ASSERT_TRUE(cut.Sound);
  ASSERT_EQ(cut.Groups.size(), 1u);
  ASSERT_EQ(cut.Groups[0].Images.size(), 2u);
  EXPECT_TRUE(cut.Groups[0].Images[0].Sound);
  EXPECT_FALSE(cut.Groups[0].Images[1].Sound);
  // A refused file lists nothing and says why.
  const TIconFile refused = Read(ReadWhole(FixturePath("crafted-ztxt.ico")));
  EXPECT_FALSE(refused.Sound);
  EXPECT_TRUE(refused.Groups.empty());
  EXPECT_FALSE(refused.Problem.empty());
}
