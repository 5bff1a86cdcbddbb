#include "export/clipboardexport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "export/exporthelpers.h"
#include "export/storewindow.h"
#include "runtime/clipboard.h"
#include "runtime/failure.h"
#include "support/fixtures.h"

using namespace exporttest;

namespace {

constexpr COLORREF White = RGB(255, 255, 255);

struct TPicture {
  int Width = 0, Height = 0, BitsPixel = 0;
  std::vector<COLORREF> Pixels;  // top row first
  COLORREF At(int x, int y) const { return Pixels[y * Width + x]; }
};

TPicture ReadPicture(HBITMAP bitmap) {
  TPicture picture;
  BITMAP bm{};
  if (!GetObjectA(bitmap, sizeof bm, &bm)) return picture;
  picture.Width = bm.bmWidth;
  picture.Height = bm.bmHeight;
  picture.BitsPixel = bm.bmBitsPixel * bm.bmPlanes;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<DWORD> raw(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight);
  TMemDC dc(CreateCompatibleDC(nullptr));
  GetDIBits(dc.Get(), bitmap, 0, bm.bmHeight, raw.data(), &info, DIB_RGB_COLORS);
  for (DWORD p : raw) picture.Pixels.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
  return picture;
}

// What the system clipboard holds, read as another program would.
struct TClipboardContents {
  bool Opened = false;
  bool HasBitmap = false, HasPalette = false, HasText = false;
  std::string Text;
  TPicture Picture;
};

TClipboardContents ReadClipboard(HWND reader) {
  TClipboardContents contents;
  if (!OpenClipboard(reader)) return contents;
  contents.Opened = true;
  contents.HasBitmap = IsClipboardFormatAvailable(CF_BITMAP);
  contents.HasPalette = IsClipboardFormatAvailable(CF_PALETTE);
  contents.HasText = IsClipboardFormatAvailable(CF_TEXT);
  if (contents.HasBitmap) contents.Picture = ReadPicture(static_cast<HBITMAP>(GetClipboardData(CF_BITMAP)));
  if (contents.HasText) {
    if (HANDLE text = GetClipboardData(CF_TEXT)) {
      contents.Text = static_cast<const char*>(GlobalLock(text));
      GlobalUnlock(text);
    }
  }
  CloseClipboard();
  return contents;
}

bool PutText(HWND owner, const char* text) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
  std::memcpy(GlobalLock(block), text, std::strlen(text) + 1);
  GlobalUnlock(block);
  const bool placed = SetClipboardData(CF_TEXT, block) != nullptr;
  if (!placed) GlobalFree(block);
  CloseClipboard();
  return placed;
}

std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EFailure& e) {
    return e.Message();
  }
  return "(no failure)";
}

// The program's windows: the store's frame stands in for the taskbar window as the
// clipboard's owner, since the tests run without one.
class ClipboardExportTest : public ::testing::Test {
protected:
  void SetUp() override {
    Clipboard().SetOwnerOverride(FWindow.Frame());
    FReader = CreateWindowExA(0, "STATIC", "reader", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(PutText(FReader, "before"));
  }
  void TearDown() override {
    EXPECT_EQ(Clipboard().OpenCount(), 0);
    Clipboard().ClearOwnerOverride();
    DestroyWindow(FReader);
  }

  TStoreWindow FWindow;
  HWND FReader = nullptr;
};

}  // namespace

TEST_F(ClipboardExportTest, CopyPlacesTheIconOverWhiteAsOneScreenBitmapWithItsOwnColours) {
  FWindow.AddFile(FixturePath(fixture::HighColourDll));
  ASSERT_EQ(FWindow.Store.EntryCount(), 1);
  FWindow.Select(0);
  CopySelectedIcon(FWindow.Store);

  const TClipboardContents contents = ReadClipboard(FReader);
  ASSERT_TRUE(contents.Opened);
  EXPECT_FALSE(contents.HasText) << "what was there before stays after a Copy";
  EXPECT_FALSE(contents.HasPalette);
  ASSERT_TRUE(contents.HasBitmap);
  const TPicture& picture = contents.Picture;
  ASSERT_EQ(picture.Width, 32);
  ASSERT_EQ(picture.Height, 32);
  TScreenDC screen;
  EXPECT_EQ(picture.BitsPixel, GetDeviceCaps(screen.Get(), BITSPIXEL) * GetDeviceCaps(screen.Get(), PLANES));
  if (GetDeviceCaps(screen.Get(), BITSPIXEL) < 24) GTEST_SKIP() << "the screen cannot hold every fixture colour";
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const COLORREF expected = fixture::Opaque32(x, y) ? fixture::HighColourAt(x, y) : White;
      ASSERT_EQ(picture.At(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(ClipboardExportTest, SecondCopyLeavesOnlyTheSecondPicture) {
  FWindow.AddFile(FixturePath(fixture::ThreeDll));
  ASSERT_EQ(FWindow.Store.EntryCount(), fixture::ThreeCount);
  FWindow.Select(0);
  CopySelectedIcon(FWindow.Store);
  EXPECT_EQ(ReadClipboard(FReader).Picture.At(16, 16), fixture::ThreeColours[0]);
  FWindow.Select(2);
  CopySelectedIcon(FWindow.Store);
  const TClipboardContents contents = ReadClipboard(FReader);
  EXPECT_FALSE(contents.HasText);
  ASSERT_TRUE(contents.HasBitmap);
  EXPECT_EQ(contents.Picture.At(16, 16), fixture::ThreeColours[2]);
  EXPECT_EQ(contents.Picture.At(0, 0), White);
  EXPECT_EQ(contents.Picture.At(9, 9), White) << "the hole shows the white ground";
}

TEST_F(ClipboardExportTest, NothingSelectedLeavesTheClipboardAlone) {
  FWindow.AddFile(FixturePath(fixture::ThreeDll));
  CopySelectedIcon(FWindow.Store);
  const TClipboardContents contents = ReadClipboard(FReader);
  EXPECT_TRUE(contents.HasText);
  EXPECT_EQ(contents.Text, "before");
  EXPECT_FALSE(contents.HasBitmap);
}

TEST_F(ClipboardExportTest, ClipboardHeldByAnotherThreadFailsAndKeepsWhatItHeld) {
  FWindow.AddFile(FixturePath(fixture::ThreeDll));
  FWindow.Select(1);

  std::mutex lock;
  std::condition_variable changed;
  bool holding = false, release = false, opened = false;
  std::thread other([&] {
    HWND window = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    opened = OpenClipboard(window) != FALSE;
    std::unique_lock<std::mutex> guard(lock);
    holding = true;
    changed.notify_all();
    changed.wait(guard, [&] { return release; });
    if (opened) CloseClipboard();
    DestroyWindow(window);
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return holding; });
  }
  std::string failure;
  if (opened) failure = FailureOf([&] { CopySelectedIcon(FWindow.Store); });
  const int countWhileHeld = Clipboard().OpenCount();
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  changed.notify_all();
  other.join();

  ASSERT_TRUE(opened) << "the other thread could not take the clipboard";
  EXPECT_EQ(failure, msg::CannotOpenClipboard);
  EXPECT_EQ(countWhileHeld, 0);
  const TClipboardContents contents = ReadClipboard(FReader);
  EXPECT_EQ(contents.Text, "before");
  EXPECT_FALSE(contents.HasBitmap);

  // Once the other program lets go, Copy works again.
  CopySelectedIcon(FWindow.Store);
  EXPECT_EQ(ReadClipboard(FReader).Picture.At(16, 16), fixture::ThreeColours[1]);
}

TEST_F(ClipboardExportTest, PaletteTravelsAsANewPaletteWithTheSameEntries) {
  TScreenDC screen;
  TOwnedBitmap source(CreateCompatibleBitmap(screen.Get(), 8, 4));
  struct {
    WORD Version, Count;
    PALETTEENTRY Entries[3];
  } logical{0x300, 3, {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}};
  TOwnedPalette palette(CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical)));
  ASSERT_TRUE(palette);
  PutBitmapOnClipboard(source.Get(), palette.Get());

  ASSERT_TRUE(OpenClipboard(FReader));
  const auto placed = static_cast<HPALETTE>(GetClipboardData(CF_PALETTE));
  PALETTEENTRY entries[3] = {};
  const UINT read = placed ? GetPaletteEntries(placed, 0, 3, entries) : 0;
  const bool hasBitmap = IsClipboardFormatAvailable(CF_BITMAP);
  CloseClipboard();
  EXPECT_TRUE(hasBitmap);
  ASSERT_NE(placed, nullptr);
  EXPECT_NE(placed, palette.Get()) << "the clipboard gets a copy, the caller keeps its own";
  ASSERT_EQ(read, 3u);
  EXPECT_EQ(entries[2].peRed, 70);
  EXPECT_EQ(entries[1].peGreen, 50);
  EXPECT_EQ(entries[0].peBlue, 30);
}

TEST(ClipboardCopyTest, MonochromeSourceGivesAMonochromeCopyWithTheSamePixels) {
  // A checkerboard of one-pixel squares, rows padded to 16 bits.
  std::vector<unsigned char> bits(2 * 16);
  for (int y = 0; y < 16; ++y) bits[y * 2] = bits[y * 2 + 1] = y % 2 ? 0xAA : 0x55;
  TOwnedBitmap source(CreateBitmap(16, 16, 1, 1, bits.data()));
  TClipboardCopy copy = MakeClipboardCopy(source.Get(), nullptr);
  EXPECT_EQ(copy.Format, static_cast<UINT>(CF_BITMAP));
  ASSERT_TRUE(copy.Bitmap);
  EXPECT_FALSE(copy.Palette);
  EXPECT_NE(copy.Bitmap.Get(), source.Get());
  BITMAP bm{};
  ASSERT_TRUE(GetObjectA(copy.Bitmap.Get(), sizeof bm, &bm));
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(bm.bmPlanes, 1);
  const TPicture original = ReadPicture(source.Get()), copied = ReadPicture(copy.Bitmap.Get());
  EXPECT_EQ(copied.Pixels, original.Pixels);
  EXPECT_NE(original.At(0, 0), original.At(1, 0));
}

TEST(ClipboardCopyTest, ScreenBitmapGivesAScreenCompatibleCopyAndNoBitmapIsRefused) {
  TBitmap bitmap;
  bitmap.SetHeight(32);
  bitmap.SetWidth(32);
  {
    TScreenDC screen;
    TMemDC dc(CreateCompatibleDC(screen.Get()));
    TSelectGuard select(dc.Get(), bitmap.Handle());
    SetPixel(dc.Get(), 3, 5, RGB(10, 200, 30));
  }
  TClipboardCopy copy = MakeClipboardCopy(bitmap);
  const TPicture picture = ReadPicture(copy.Bitmap.Get());
  TScreenDC screen;
  EXPECT_EQ(picture.BitsPixel, GetDeviceCaps(screen.Get(), BITSPIXEL) * GetDeviceCaps(screen.Get(), PLANES));
  EXPECT_EQ(picture.At(0, 0), White);
  if (GetDeviceCaps(screen.Get(), BITSPIXEL) >= 24) {
    EXPECT_EQ(picture.At(3, 5), RGB(10, 200, 30));
  }
  EXPECT_EQ(FailureOf([] { MakeClipboardCopy(nullptr, nullptr); }), msg::InvalidBitmapImage);
}

TEST_F(ClipboardExportTest, ProgramOutsideWineCanPasteTheIconOverWhite) {
  if (!HostSideAvailable()) GTEST_SKIP() << "the host's xclip and ImageMagick are reached through Wine";
  FWindow.AddFile(FixturePath(fixture::HighColourDll));
  FWindow.Select(0);
  CopySelectedIcon(FWindow.Store);

  const TScratchFolder folder(HostPathToWindows(GLYPHDOCK_BIN_DIR));
  const std::string picture = WindowsPathToHost(folder.File("pasted.bmp"));
  std::string output;
  int status = -1;
  ASSERT_TRUE(RunHostCommand(folder.Path(),
                             "xclip -selection clipboard -t image/bmp -o > '" + picture + "' && convert '" + picture +
                                 "' -alpha off -format '%w %h %[hex:p{0,0}] %[hex:p{9,9}] %[hex:p{16,16}]' info:",
                             output, status));
  EXPECT_EQ(status, 0) << output;
  const COLORREF middle = fixture::HighColourAt(16, 16);
  char expected[64];
  std::snprintf(expected, sizeof expected, "32 32 FFFFFF FFFFFF %02X%02X%02X", GetRValue(middle), GetGValue(middle),
                GetBValue(middle));
  EXPECT_EQ(output, expected);
}

TEST_F(ClipboardExportTest, FailureAfterEmptyingLeavesTheClipboardEmptyAndClosed) {
  // A handle that is no bitmap makes the copy fail once the clipboard has been emptied.
  TScreenDC screen;
  TMemDC notABitmap(CreateCompatibleDC(screen.Get()));
  EXPECT_EQ(FailureOf([&] { PutBitmapOnClipboard(reinterpret_cast<HBITMAP>(notABitmap.Get()), nullptr); }),
            msg::InvalidBitmapImage);
  EXPECT_EQ(Clipboard().OpenCount(), 0);
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
  const TClipboardContents contents = ReadClipboard(FReader);
  ASSERT_TRUE(contents.Opened);
  EXPECT_FALSE(contents.HasText);
  EXPECT_FALSE(contents.HasBitmap);
}
