// The generated fixtures are what the other tests take them for, read through the real
// shell and GDI; and the program's own resources came out of the build as drawn.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "runtime/owners.h"
#include "support/fixtures.h"
#include "version.h"
#include "ui/resource.h"

namespace {

using namespace fixture;

UINT IconCount(const std::string& path) {
  return static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(GetModuleHandleA(nullptr), path.c_str(), UINT(-1))));
}

TIconPixels Extract(const char* name, UINT index) {
  TOwnedIcon icon(ExtractIconA(GetModuleHandleA(nullptr), FixturePath(name).c_str(), index));
  EXPECT_TRUE(icon) << name << " icon " << index;
  return ReadIconPixels(icon.Get());
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(COLORREF c) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

// Compares a whole extracted 32 x 32 image against its model, naming the first pixel off.
void ExpectShape(const TIconPixels& image, bool (*opaque)(int, int), COLORREF (*colour)(int, int, COLORREF),
                 COLORREF fill) {
  ASSERT_EQ(image.Width, 32);
  ASSERT_EQ(image.Height, 32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      if (opaque(x, y)) {
        ASSERT_FALSE(image.ClearAt(x, y)) << "opaque pixel " << x << "," << y;
        ASSERT_EQ(Hex(image.At(x, y)), Hex(colour(x, y, fill))) << "pixel " << x << "," << y;
      } else {
        ASSERT_TRUE(image.ClearAt(x, y)) << "transparent pixel " << x << "," << y;
      }
    }
  }
}

COLORREF Fill(int, int, COLORREF fill) { return fill; }

// The harness starts every test program in a Japanese locale; a wineserver left over
// from another locale would quietly keep its own code page.
TEST(TestEnvironment, RunsUnderCodePage932) {
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_TRUE(IsDBCSLeadByte(0x83)) << "0x83 opens a double-byte character in CP932";
}

// Wine maps CP932 file names to Unix names through the host's locale: without a real
// ja_JP.UTF-8 locale a Japanese name cannot be created or found again.
TEST(TestEnvironment, JapaneseFileNamesRoundTrip) {
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string name = "アイコン表示テスト.txt";
  const std::string path = std::string(temp) + name;
  {
    TFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << "error " << GetLastError();
  }
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  FindClose(search);
  EXPECT_EQ(std::string(found.cFileName), name);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(FixtureFiles, LiveInTheBuildTreeUnderWindowsPaths) {
  const std::string three = FixturePath(ThreeDll);
  EXPECT_EQ(three.substr(1, 2), ":\\") << three;
  EXPECT_EQ(three.find('/'), std::string::npos) << three;
  EXPECT_EQ(three.substr(three.size() - 10), "\\three.dll");
  for (const char* name : {ThreeDll, TwoDll, NoIconsDll, Small16Dll, Png256Dll, HighColourDll, PlainIco,
                           Small16Ico, EmptyDll, TruncatedDll, TruncatedIco}) {
    DWORD attributes = GetFileAttributesA(FixturePath(name).c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << name << " missing";
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << name;
  }
}

TEST(FixtureFiles, SystemDllPathNamesTheSystemDirectory) {
  const std::string shell32 = SystemDllPath("shell32.dll");
  char dir[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(dir, MAX_PATH), 0u);
  EXPECT_EQ(shell32, std::string(dir) + "\\shell32.dll");
  EXPECT_NE(GetFileAttributesA(shell32.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FixtureFiles, ShellCountsTheIconsEachFixtureClaims) {
  struct {
    const char* name;
    UINT count;
  } const cases[] = {{ThreeDll, 3}, {NoIconsDll, 0}, {Small16Dll, 1}, {Png256Dll, 1},
                     {HighColourDll, 1}, {TwoDll, 2},   {PlainIco, 1},   {Small16Ico, 1},
                     {EmptyDll, 0}};
  for (const auto& c : cases) EXPECT_EQ(IconCount(FixturePath(c.name)), c.count) << c.name;
  EXPECT_GT(IconCount(SystemDllPath("shell32.dll")), 100u);
}

TEST(FixtureFiles, ResourceOnlyDllsLoadAndHoldTheirIconGroups) {
  auto groups = [](HMODULE module) {
    int count = 0;
    EnumResourceNamesA(
        module, RT_GROUP_ICON,
        [](HMODULE, LPCSTR, LPSTR, LONG_PTR counter) -> BOOL {
          ++*reinterpret_cast<int*>(counter);
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&count));
    return count;
  };
  struct {
    const char* name;
    int groups;
  } const cases[] = {{ThreeDll, 3}, {TwoDll, 2}, {Small16Dll, 1}, {Png256Dll, 1}, {HighColourDll, 1}, {NoIconsDll, 0}};
  for (const auto& c : cases) {
    // Loaded as an image too, not only as data: the DLLs have no entry point to run.
    HMODULE module = LoadLibraryA(FixturePath(c.name).c_str());
    ASSERT_NE(module, nullptr) << c.name << " error " << GetLastError();
    EXPECT_EQ(groups(module), c.groups) << c.name;
    FreeLibrary(module);
  }
  HMODULE noIcons = LoadLibraryExA(FixturePath(NoIconsDll).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(noIcons, nullptr);
  char text[64] = {};
  EXPECT_GT(LoadStringA(noIcons, 1, text, sizeof text), 0) << "noicons.dll carries a string table";
  EXPECT_NE(FindResourceA(noIcons, MAKEINTRESOURCEA(7), RT_RCDATA), nullptr);
  FreeLibrary(noIcons);
}

TEST(FixtureIcons, ThreeDllHoldsRedGreenBlueInTheSharedShape) {
  for (UINT i = 0; i < ThreeCount; ++i) {
    SCOPED_TRACE(i);
    ExpectShape(Extract(ThreeDll, i), Opaque32, Fill, ThreeColours[i]);
  }
  // The border and the hole come through the mask; the pixel named in the header too.
  TIconPixels first = Extract(ThreeDll, 0);
  ASSERT_EQ(first.Width, 32);
  EXPECT_EQ(first.At(20, 20), RGB(255, 0, 0));
  EXPECT_TRUE(first.ClearAt(0, 0));
  EXPECT_TRUE(first.ClearAt(3, 16));
  EXPECT_TRUE(first.ClearAt(HoleFirst, HoleLast));
  EXPECT_FALSE(first.ClearAt(31 - HoleFirst, 31 - HoleLast)) << "the hole is off centre";
}

TEST(FixtureIcons, TwoDllHoldsYellowAndCyan) {
  for (UINT i = 0; i < TwoCount; ++i) {
    SCOPED_TRACE(i);
    ExpectShape(Extract(TwoDll, i), Opaque32, Fill, TwoColours[i]);
  }
}

TEST(FixtureIcons, PlainIcoIsOneSixteenColourImage) {
  EXPECT_EQ(ReadBytes(FixturePath(PlainIco)).size(), 766u);
  ExpectShape(Extract(PlainIco, 0), Opaque32, Fill, PlainColour);
}

TEST(FixtureIcons, Small16IsHandedOutAt32) {
  auto doubled = [](int x, int y) { return Opaque16(x / 2, y / 2); };
  ExpectShape(Extract(Small16Dll, 0), doubled, Fill, Small16Colour);
  ExpectShape(Extract(Small16Ico, 0), doubled, Fill, Small16Colour);
}

TEST(FixtureIcons, HighColourKeepsEveryGradientColour) {
  TIconPixels image = Extract(HighColourDll, 0);
  ExpectShape(image, Opaque32, [](int x, int y, COLORREF) { return HighColourAt(x, y); }, 0);
  std::set<COLORREF> colours;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if (!image.ClearAt(x, y)) colours.insert(image.At(x, y));
  EXPECT_EQ(colours.size(), 24u * 24u - 16u) << "every opaque pixel a colour of its own";
}

TEST(FixtureIcons, Png256IsScaledDownToOrange32) {
  TIconPixels image = Extract(Png256Dll, 0);
  ASSERT_EQ(image.Width, 32);
  ASSERT_EQ(image.Height, 32);
  // Scaling may blend the edges; the middle of each region is unambiguous.
  EXPECT_EQ(Hex(image.At(20, 20)), Hex(Png256Colour));
  EXPECT_FALSE(image.ClearAt(20, 20));
  EXPECT_TRUE(image.ClearAt(1, 1));
  EXPECT_TRUE(image.ClearAt(30, 16));
  EXPECT_TRUE(image.ClearAt(9, 10)) << "the hole";
}

TEST(FixtureFiles, TruncatedFilesAreCutFromRealOnes) {
  const std::string three = ReadBytes(FixturePath(ThreeDll));
  const std::string truncated = ReadBytes(FixturePath(TruncatedDll));
  ASSERT_GE(truncated.size(), 0x40u);
  EXPECT_LT(truncated.size(), three.size());
  EXPECT_EQ(three.compare(0, truncated.size(), truncated), 0) << "a prefix of three.dll";
  EXPECT_EQ(truncated.substr(0, 2), "MZ");
  const auto peOffset = *reinterpret_cast<const std::uint32_t*>(truncated.data() + 0x3C);
  ASSERT_LT(peOffset + 4, truncated.size());
  EXPECT_EQ(truncated.substr(peOffset, 4), std::string("PE\0\0", 4)) << "the headers are all there";

  const std::string plain = ReadBytes(FixturePath(PlainIco));
  const std::string cut = ReadBytes(FixturePath(TruncatedIco));
  EXPECT_EQ(cut.size(), 100u);
  EXPECT_EQ(plain.compare(0, cut.size(), cut), 0);
  EXPECT_TRUE(ReadBytes(FixturePath(EmptyDll)).empty());
}

// The program's resources are linked into every test program as into Glyphdock.exe.
TEST(ProgramResources, IconIsOne32x32SixteenColourImage) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC group = FindResourceA(self, MAKEINTRESOURCEA(IDI_PROGRAM), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const auto* dir = static_cast<const WORD*>(LockResource(LoadResource(self, group)));
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir[2], 1) << "one image";
  const BYTE* entry = reinterpret_cast<const BYTE*>(dir + 3);
  EXPECT_EQ(entry[0], 32);
  EXPECT_EQ(entry[1], 32);
  EXPECT_EQ(entry[2], 16) << "16 colours";

  TOwnedIcon icon(static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON, 32, 32, 0)));
  TIconPixels image = ReadIconPixels(icon.Get());
  ASSERT_EQ(image.Width, 32);
  EXPECT_TRUE(image.ClearAt(31, 0)) << "top-right corner is background";
  EXPECT_FALSE(image.ClearAt(1, 1)) << "the page's outline";
  EXPECT_EQ(Hex(image.At(18, 12)), Hex(RGB(255, 0, 0))) << "the capital I in the lens";
  EXPECT_EQ(Hex(image.At(28, 25)), Hex(RGB(0, 128, 0))) << "the handle";
  EXPECT_EQ(Hex(image.At(26, 25)), Hex(RGB(0, 255, 0))) << "the handle's light edge";
}

TEST(ProgramResources, ToolGlyphsAreThree16x16SixteenColourImagesOverMagenta) {
  TOwnedBitmap glyphs(static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_TOOLGLYPHS), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  ASSERT_TRUE(glyphs);
  DIBSECTION dib{};
  ASSERT_EQ(GetObjectA(glyphs.Get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
  EXPECT_EQ(dib.dsBm.bmWidth, 48);
  EXPECT_EQ(dib.dsBm.bmHeight, 16);
  EXPECT_EQ(dib.dsBmih.biBitCount, 4);

  TMemDC dc(CreateCompatibleDC(nullptr));
  TSelectGuard select(dc.Get(), glyphs.Get());
  const COLORREF magenta = RGB(255, 0, 255);
  for (int glyph = 0; glyph < 3; ++glyph) {
    SCOPED_TRACE(glyph);
    int background = 0, red = 0, yellow = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        COLORREF c = GetPixel(dc.Get(), glyph * 16 + x, y);
        background += c == magenta;
        red += c == RGB(255, 0, 0);
        yellow += c == RGB(255, 255, 0);
      }
    }
    EXPECT_GT(background, 40) << "drawn over the transparent colour";
    EXPECT_LT(background, 200);
    EXPECT_EQ(yellow > 0, glyph == 0) << "rays only around the open sheet";
    EXPECT_EQ(red > 0, glyph != 0) << "the red arrow of save as and copy";
  }
  // Rows are stored bottom-up: the arrows point down from the top edge.
  EXPECT_EQ(GetPixel(dc.Get(), 16 + 10, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc.Get(), 16 + 10, 15), RGB(0, 0, 0));
}

TEST(ProgramResources, VersionAndManifest) {
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(self, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(self, 0, size, block.data()));
  auto value = [&](const char* name) {
    char* text = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\041104B0\\") + name;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return std::string();
    return std::string(text);
  };
  EXPECT_EQ(value("ProductName"), "Glyphdock");
  EXPECT_EQ(value("CompanyName"), "Quillfen");
  EXPECT_EQ(value("ProductVersion"), GLYPHDOCK_VERSION);
  EXPECT_NE(value("LegalCopyright").find("Quillfen"), std::string::npos);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(GLYPHDOCK_VERSION_MINOR, GLYPHDOCK_VERSION_MAJOR));

  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                   SizeofResource(module, manifest));
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(text.find("asInvoker"), std::string::npos);
  EXPECT_NE(text.find(">false</dpiAware>"), std::string::npos);
}

}  // namespace
