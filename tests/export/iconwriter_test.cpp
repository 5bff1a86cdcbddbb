#include "export/iconwriter.h"

#include <shellapi.h>
#include <gtest/gtest.h>

#include <set>

#include "export/exporthelpers.h"
#include "runtime/failure.h"
#include "support/fixtures.h"

using namespace exporttest;

namespace {

constexpr std::size_t FileLength = 766;
constexpr std::size_t TableAt = 62, ColorBitsAt = 126, MaskBitsAt = 638;

std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EFailure& e) {
    return e.Message();
  }
  return "(no failure)";
}

// The icon's own mask rows, bottom-up, read independently of the writer.
std::vector<unsigned char> SourceMask(HICON icon) {
  ICONINFO info{};
  EXPECT_TRUE(GetIconInfo(icon, &info));
  TOwnedBitmap mask(info.hbmMask), color(info.hbmColor);
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD table[2];
  } format{};
  format.header.biSize = sizeof format.header;
  format.header.biWidth = 32;
  format.header.biHeight = 32;
  format.header.biPlanes = 1;
  format.header.biBitCount = 1;
  std::vector<unsigned char> bits(32 * 4);
  TMemDC dc(CreateCompatibleDC(nullptr));
  EXPECT_EQ(GetDIBits(dc.Get(), mask.Get(), 0, 32, bits.data(), reinterpret_cast<BITMAPINFO*>(&format),
                      DIB_RGB_COLORS),
            32);
  return bits;
}

// Colour of pixel (x, y), y counted from the top, as the file's table and indices give it.
COLORREF FileColor(const std::vector<unsigned char>& file, int x, int y) {
  const std::size_t row = ColorBitsAt + static_cast<std::size_t>(31 - y) * 16;
  const unsigned char pair = file[row + x / 2];
  const unsigned index = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
  const std::size_t entry = TableAt + index * 4;
  return RGB(file[entry + 2], file[entry + 1], file[entry]);
}

bool FileTransparent(const std::vector<unsigned char>& file, int x, int y) {
  const std::size_t row = MaskBitsAt + static_cast<std::size_t>(31 - y) * 4;
  return (file[row + x / 8] & (0x80 >> (x % 8))) != 0;
}

class IconWriterTest : public ::testing::Test {
protected:
  void SetUp() override { FLiveIcons = TIcon::LiveHandles(); }
  void TearDown() override { EXPECT_EQ(TIcon::LiveHandles(), FLiveIcons) << "an icon object leaked its handle"; }

  std::vector<unsigned char> Save(HICON handle, const std::string& name) {
    TIcon icon;
    icon.SetHandle(handle);
    SaveIconFile(icon, FFolder.File(name));
    return ReadBytes(FFolder.File(name));
  }

  TScratchFolder FFolder;
  int FLiveIcons = 0;
};

}  // namespace

TEST_F(IconWriterTest, WritesTheSingleImageLayoutByteForByte) {
  const std::vector<unsigned char> file =
      Save(ExtractIconA(nullptr, FixturePath(fixture::ThreeDll).c_str(), 0), "red.ico");
  ASSERT_EQ(file.size(), FileLength);
  const std::vector<unsigned char> directory(file.begin(), file.begin() + 22);
  const std::vector<unsigned char> expected = {0x00, 0x00, 0x01, 0x00, 0x01, 0x00,  // header
                                               0x20, 0x20, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xE8, 0x02, 0x00, 0x00, 0x16, 0x00, 0x00, 0x00};
  EXPECT_EQ(directory, expected);
  EXPECT_EQ(DWord(file, 22), 40u);   // header size
  EXPECT_EQ(DWord(file, 26), 32u);   // width
  EXPECT_EQ(DWord(file, 30), 64u);   // colour rows and mask rows together
  EXPECT_EQ(Word(file, 34), 1u);     // planes
  EXPECT_EQ(Word(file, 36), 4u);     // bits per pixel
  EXPECT_EQ(DWord(file, 38), 0u);    // uncompressed
  EXPECT_EQ(DWord(file, 42), 512u);  // colour bits alone
  EXPECT_EQ(DWord(file, 46), 0u);
  EXPECT_EQ(DWord(file, 50), 0u);
  EXPECT_EQ(DWord(file, 54), 16u);   // colours used
  EXPECT_EQ(DWord(file, 58), 0u);
  for (int entry = 0; entry < 16; ++entry) EXPECT_EQ(file[TableAt + entry * 4 + 3], 0) << "entry " << entry;
}

TEST_F(IconWriterTest, KeepsTheMaskExactlyAndMapsPureColoursToTheirTableEntries) {
  const HICON handle = MakeStripesIcon();
  const std::vector<unsigned char> mask = SourceMask(handle);
  const std::vector<unsigned char> file = Save(handle, "stripes.ico");
  ASSERT_EQ(file.size(), FileLength);
  EXPECT_EQ(std::vector<unsigned char>(file.begin() + MaskBitsAt, file.end()), mask);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      EXPECT_EQ(FileTransparent(file, x, y), BorderTransparent(x, y)) << x << "," << y;
      if (!BorderTransparent(x, y)) {
        ASSERT_EQ(FileColor(file, x, y), Stripes(x, y)) << x << "," << y;
      }
    }
  }
}

TEST_F(IconWriterTest, WritesAHighColourIconWithSixteenColoursAndItsTransparencyUnchanged) {
  const HICON handle = MakeGradientIcon();
  const std::vector<unsigned char> mask = SourceMask(handle);

  // The platform's own 16-colour retrieval of the same image, made independently.
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(handle, &info));
  TOwnedBitmap sourceMask(info.hbmMask), sourceColor(info.hbmColor);
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD table[16];
  } format{};
  format.header = {sizeof(BITMAPINFOHEADER), 32, 32, 1, 4, BI_RGB, 0, 0, 0, 16, 0};
  std::vector<unsigned char> platformBits(512);
  {
    TMemDC dc(CreateCompatibleDC(nullptr));
    ASSERT_EQ(GetDIBits(dc.Get(), sourceColor.Get(), 0, 32, platformBits.data(),
                        reinterpret_cast<BITMAPINFO*>(&format), DIB_RGB_COLORS),
              32);
  }

  const std::vector<unsigned char> file = Save(handle, "gradient.ico");
  ASSERT_EQ(file.size(), FileLength);
  EXPECT_EQ(Word(file, 36), 4u);
  EXPECT_EQ(std::vector<unsigned char>(file.begin() + MaskBitsAt, file.end()), mask);
  std::set<COLORREF> used;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      EXPECT_EQ(FileTransparent(file, x, y), OutsideCircle(x, y));
      if (OutsideCircle(x, y)) continue;
      used.insert(FileColor(file, x, y));
      const unsigned char pair = platformBits[static_cast<std::size_t>(31 - y) * 16 + x / 2];
      const RGBQUAD& q = format.table[x % 2 == 0 ? pair >> 4 : pair & 0x0F];
      ASSERT_EQ(FileColor(file, x, y), RGB(q.rgbRed, q.rgbGreen, q.rgbBlue)) << x << "," << y;
    }
  }
  EXPECT_GT(used.size(), 1u);  // reduced, not flattened to one colour
}

TEST_F(IconWriterTest, SameIconSavedTwiceGivesIdenticalFilesAndAnExistingFileIsReplacedCompletely) {
  WriteBytes(FFolder.File("second.ico"), std::vector<unsigned char>(5000, 0xAB));
  TIcon icon;
  icon.SetHandle(MakeGradientIcon());
  SaveIconFile(icon, FFolder.File("first.ico"));
  SaveIconFile(icon, FFolder.File("second.ico"));
  const std::vector<unsigned char> first = ReadBytes(FFolder.File("first.ico"));
  EXPECT_EQ(first.size(), FileLength);
  EXPECT_EQ(ReadBytes(FFolder.File("second.ico")), first);
  EXPECT_EQ(FolderContents(FFolder.Path()), (std::vector<std::string>{"first.ico", "second.ico"}))
      << "the old content and the new image's scratch file are gone";
}

TEST_F(IconWriterTest, EmptyIconObjectReportsAnInvalidIconAndLeavesTheChosenFileAsItWas) {
  const std::vector<unsigned char> before(3000, 0x5A);
  WriteBytes(FFolder.File("kept.ico"), before);
  TIcon icon;
  EXPECT_EQ(FailureOf([&] { SaveIconFile(icon, FFolder.File("kept.ico")); }), msg::InvalidIconImage);
  EXPECT_EQ(ReadBytes(FFolder.File("kept.ico")), before);
  EXPECT_EQ(FailureOf([&] { SaveIconFile(icon, FFolder.File("new.ico")); }), msg::InvalidIconImage);
  EXPECT_EQ(FolderContents(FFolder.Path()), (std::vector<std::string>{"kept.ico"})) << "nothing created";
}

TEST_F(IconWriterTest, IconWithoutColourBitmapOrNoIconAtAllIsAnInvalidBitmap) {
  // A monochrome icon carries its image in a double-height mask and no colour bitmap.
  std::vector<unsigned char> bits(64 * 4, 0x0F);
  TOwnedBitmap mask(CreateBitmap(32, 64, 1, 1, bits.data()));
  ICONINFO info{TRUE, 0, 0, mask.Get(), nullptr};
  TIcon monochrome;
  monochrome.SetHandle(CreateIconIndirect(&info));
  ASSERT_FALSE(monochrome.Empty());
  WriteBytes(FFolder.File("mono.ico"), {4, 5, 6});
  EXPECT_EQ(FailureOf([&] { SaveIconFile(monochrome, FFolder.File("mono.ico")); }), msg::InvalidBitmapImage);
  EXPECT_EQ(ReadBytes(FFolder.File("mono.ico")), (std::vector<unsigned char>{4, 5, 6}));
  EXPECT_EQ(FolderContents(FFolder.Path()), (std::vector<std::string>{"mono.ico"}));

  EXPECT_EQ(FailureOf([] { BuildIconImage(nullptr); }), msg::InvalidBitmapImage);
  BITMAPINFOHEADER header{};
  EXPECT_EQ(FailureOf([&] { MakeDIBHeader(nullptr, 16, header); }), msg::InvalidBitmapImage);
}

TEST_F(IconWriterTest, FileThatCannotBeCreatedIsReportedWithItsNameAndLeftAlone) {
  const std::string held = FFolder.File("held.ico");
  WriteBytes(held, {1, 2, 3});
  {
    TFileHandle other(CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    ASSERT_TRUE(other);
    TIcon icon;
    icon.SetHandle(MakeStripesIcon());
    EXPECT_EQ(FailureOf([&] { SaveIconFile(icon, held); }), "ファイル " + held + " を作成できません");
  }
  EXPECT_EQ(ReadBytes(held), (std::vector<unsigned char>{1, 2, 3}));

  const std::string missingFolder = FFolder.File("no such folder\\x.ico");
  TIcon icon;
  icon.SetHandle(MakeStripesIcon());
  EXPECT_EQ(FailureOf([&] { SaveIconFile(icon, missingFolder); }), "ファイル " + missingFolder + " を作成できません");

  // A folder of the chosen name, empty or not, stays a folder.
  const std::string folder = FFolder.File("folder.ico");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_EQ(FailureOf([&] { SaveIconFile(icon, folder); }), "ファイル " + folder + " を作成できません");
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(FolderContents(FFolder.Path()), (std::vector<std::string>{"folder.ico", "held.ico"}))
      << "no scratch file left behind";
  RemoveDirectoryA(folder.c_str());
}

TEST_F(IconWriterTest, ReplacedFileKeepsItsAttributes) {
  if (HostSideAvailable()) GTEST_SKIP() << "Wine's ReplaceFile moves the new file in without the old one's attributes";
  WriteBytes(FFolder.File("hidden.ico"), {1});
  ASSERT_TRUE(SetFileAttributesA(FFolder.File("hidden.ico").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Save(MakeStripesIcon(), "hidden.ico").size(), FileLength);
  EXPECT_TRUE(GetFileAttributesA(FFolder.File("hidden.ico").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

namespace {
// Runs a shell command on the host inside folder (a Z: path); its output.
std::string HostShell(const TScratchFolder& folder, const std::string& command) {
  std::string output;
  int status = -1;
  const std::string cd = "cd '" + WindowsPathToHost(folder.Path()) + "' && ";
  return RunHostCommand(folder.Path(), cd + command, output, status) ? output : "(timed out)";
}
}  // namespace

TEST_F(IconWriterTest, DeviceOrPipeOfTheChosenNameIsRefusedAndLeftAsItIs) {
  if (!HostSideAvailable()) GTEST_SKIP() << "the host's devices and pipes are reached through Wine's Z: drive";
  const TScratchFolder host(HostPathToWindows(GLYPHDOCK_BIN_DIR));
  ASSERT_EQ(HostShell(host, "mkfifo pipe.ico && echo made"), "made\n");
  TIcon icon;
  icon.SetHandle(MakeStripesIcon());
  for (const std::string& name : {std::string("Z:\\dev\\full"), host.File("pipe.ico")})
    EXPECT_EQ(FailureOf([&] { SaveIconFile(icon, name); }), "ファイル " + name + " を作成できません");
  EXPECT_EQ(HostShell(host, "test -c /dev/full && test -p pipe.ico && rm pipe.ico && ls -A /dev | grep -c '^~gd'"),
            "0\n");
  EXPECT_EQ(FolderContents(host.Path()), std::vector<std::string>{});
}

TEST_F(IconWriterTest, FullDiskGivesTheWriteErrorAndKeepsTheOldFile) {
  if (!HostSideAvailable()) GTEST_SKIP() << "a small file system is mounted on the host, reached through Wine";
  const TScratchFolder host(HostPathToWindows(GLYPHDOCK_BIN_DIR));
  // A file system of one page, filled by the old file.
  const std::string mounted = HostShell(host, "mkdir full && mount -t tmpfs -o size=4k tmpfs full 2>&1 && echo ok");
  if (mounted != "ok\n") {
    HostShell(host, "rmdir full");
    GTEST_SKIP() << "this user may not mount a small file system: " << mounted;
  }
  const std::string target = host.File("full\\old.ico");
  WriteBytes(target, {'o', 'l', 'd'});
  TIcon icon;
  icon.SetHandle(MakeStripesIcon());
  EXPECT_EQ(HostShell(host, "df --output=avail full | tail -n 1 | tr -d ' '"), "0\n");
  EXPECT_EQ(FailureOf([&] { SaveIconFile(icon, target); }), msg::StreamWriteError);
  EXPECT_EQ(ReadBytes(target), (std::vector<unsigned char>{'o', 'l', 'd'}));
  EXPECT_EQ(FolderContents(host.File("full")), std::vector<std::string>{"old.ico"});
  HostShell(host, "umount full && rmdir full");
}

TEST(DIBHeaderTest, RequestsPickTheFormatAndLengths) {
  TScreenDC screen;
  TOwnedBitmap color(CreateCompatibleBitmap(screen.Get(), 32, 32));
  TOwnedBitmap odd(CreateCompatibleBitmap(screen.Get(), 33, 7));
  TOwnedBitmap mono(CreateBitmap(32, 32, 1, 1, nullptr));
  BITMAP screenBm{};
  ASSERT_TRUE(GetObjectA(color.Get(), sizeof screenBm, &screenBm));

  BITMAPINFOHEADER header{};
  MakeDIBHeader(mono.Get(), 2, header);
  EXPECT_EQ(header.biSize, 40u);
  EXPECT_EQ(header.biBitCount, 1);
  EXPECT_EQ(header.biClrUsed, 0u);
  EXPECT_EQ(header.biSizeImage, 128u);
  TDIBSizes sizes = MeasureDIB(mono.Get(), 2);
  EXPECT_EQ(sizes.HeaderSize, 48u);
  EXPECT_EQ(sizes.BitsSize, 128u);

  sizes = MeasureDIB(color.Get(), 16);
  EXPECT_EQ(sizes.HeaderSize, 104u);
  EXPECT_EQ(sizes.BitsSize, 512u);

  // Rows are padded to four bytes: 33 pixels at 8 bits take 36 bytes.
  MakeDIBHeader(odd.Get(), 256, header);
  EXPECT_EQ(header.biBitCount, 8);
  EXPECT_EQ(header.biClrUsed, 256u);
  EXPECT_EQ(header.biSizeImage, 36u * 7);
  EXPECT_EQ(MeasureDIB(odd.Get(), 256).HeaderSize, 40u + 1024u);
  MakeDIBHeader(odd.Get(), 3, header);
  EXPECT_EQ(header.biBitCount, 4);
  EXPECT_EQ(header.biSizeImage, 20u * 7);

  // Any other request keeps the bitmap's own depth; past 8 bits there is no table.
  MakeDIBHeader(color.Get(), 0, header);
  EXPECT_EQ(header.biBitCount, screenBm.bmPlanes * screenBm.bmBitsPixel);
  EXPECT_EQ(header.biPlanes, 1);
  if (screenBm.bmBitsPixel > 8) {
    EXPECT_EQ(MeasureDIB(color.Get(), 0).HeaderSize, 40u);
  }
}

TEST(DIBHeaderTest, FetchFillsTableAndBitsAlsoWithAPaletteGiven) {
  TScreenDC screen;
  TOwnedBitmap bitmap(CreateCompatibleBitmap(screen.Get(), 32, 32));
  {
    TMemDC dc(CreateCompatibleDC(screen.Get()));
    TSelectGuard select(dc.Get(), bitmap.Get());
    const RECT all{0, 0, 32, 32};
    FillRect(dc.Get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  const TDIBSizes sizes = MeasureDIB(bitmap.Get(), 16);
  std::vector<unsigned char> header(sizes.HeaderSize), bits(sizes.BitsSize, 0);
  const auto palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  ASSERT_TRUE(FetchDIB(bitmap.Get(), palette, header.data(), bits.data(), 16));
  // Every pixel is white, so every index names a white table entry.
  for (unsigned char pair : bits) {
    for (unsigned index : {unsigned(pair >> 4), unsigned(pair & 0x0F)}) {
      const unsigned char* q = &header[40 + index * 4];
      ASSERT_EQ(RGB(q[2], q[1], q[0]), RGB(255, 255, 255));
    }
  }
}
