// The faces the windows' text is really drawn in. Where the platform lacks the font a
// window asks for, its font matching stands in for it; the prefix the tests run in maps
// the Japanese UI names onto the proportional IPA Gothic, the face with their widths. A
// prefix without that mapping draws these fonts in the fixed-pitch IPA Gothic, whose
// 12-pixel underscore leaves no ink: "x86_64" then reads "x86 64".
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/programfixture.h"

namespace {

// The font file's own naming table: the same bytes for the same face, whatever name the
// face was asked for by.
std::vector<char> NamingTable(HFONT font) {
  std::vector<char> table;
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font);
  const DWORD tag = 'n' | ('a' << 8) | ('m' << 16) | ('e' << 24);
  const DWORD size = GetFontData(screen, tag, 0, nullptr, 0);
  if (size != GDI_ERROR && size > 0) {
    table.resize(size);
    if (GetFontData(screen, tag, 0, table.data(), size) != size) table.clear();
  }
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  return table;
}

struct TFontOwner {
  HFONT Font;
  explicit TFontOwner(HFONT font) : Font(font) {}
  ~TFontOwner() {
    if (Font) DeleteObject(Font);
  }
  TFontOwner(const TFontOwner&) = delete;
  TFontOwner& operator=(const TFontOwner&) = delete;
};

HFONT FaceAsked(const char* face) {
  return CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// Pixels inked by an underscore drawn as a label draws its text, in a cell of a label's height.
int UnderscoreInk(HFONT font) {
  constexpr int width = 40, height = 21;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  int ink = -1;
  if (bitmap && bits) {
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    HGDIOBJ oldFont = SelectObject(memory, font);
    RECT cell{0, 0, width, height};
    FillRect(memory, &cell, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(0, 0, 0));
    DrawTextA(memory, "_", 1, &cell, DT_LEFT | DT_NOPREFIX | DT_SINGLELINE);
    GdiFlush();
    ink = 0;
    for (int i = 0; i < width * height; ++i) {
      if ((static_cast<const DWORD*>(bits)[i] & 0xFF) < 0x80) ++ink;
    }
    SelectObject(memory, oldFont);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  return ink;
}

std::string FaceName(HFONT font) {
  LOGFONTA logical{};
  GetObjectA(font, sizeof logical, &logical);
  return logical.lfFaceName;
}

}  // namespace

TEST_F(TProgramTest, EveryWindowsTextIsDrawnInTheProportionalIpaGothic) {
  TFontOwner proportional(FaceAsked("IPAPGothic"));
  TFontOwner fixed(FaceAsked("IPAGothic"));
  const std::vector<char> wanted = NamingTable(proportional.Font);
  if (wanted.empty() || wanted == NamingTable(fixed.Font)) {
    GTEST_SKIP() << "the IPA Gothic fonts (fonts-ipafont-gothic) are not there to tell apart";
  }

  struct TCase {
    const char* Where;
    HWND Control;
    const char* Asked;
  };
  // The status line keeps the system's own status-line font (no font is set on it).
  const TCase cases[] = {
      {"main window (icon list)", MainForm->Item(TMainForm::idIconListView), "MS Sans Serif"},
      {"status line", MainForm->Item(TMainForm::idStatusBar), nullptr},
      {"busy dialog (file name label)", BusyDlg->Item(TBusyDlg::idFileNameLabel), "ＭＳ Ｐゴシック"},
      {"about box (version label)", AboutBox->Item(TAboutBox::idVersion), "ＭＳ Ｐゴシック"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Where);
    ASSERT_NE(c.Control, nullptr);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(c.Control, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    if (c.Asked) EXPECT_EQ(FaceName(font), c.Asked);
    EXPECT_TRUE(NamingTable(font) == wanted) << "the font asked as \"" << FaceName(font)
                                             << "\" is not drawn in IPAPGothic: the prefix lacks its replacement";
    EXPECT_GT(UnderscoreInk(font), 0) << "an underscore leaves no ink";
  }
}

// The names a Japanese desktop's windows ask for, each with the IPA face of its widths.
TEST(FontReplacements, JapaneseUiNamesResolveToTheIpaFaceOfTheirWidths) {
  TFontOwner proportional(FaceAsked("IPAPGothic"));
  TFontOwner fixed(FaceAsked("IPAGothic"));
  const std::vector<char> p = NamingTable(proportional.Font), f = NamingTable(fixed.Font);
  if (p.empty() || p == f) GTEST_SKIP() << "the IPA Gothic fonts (fonts-ipafont-gothic) are not there to tell apart";
  const struct {
    const char* Name;
    bool Proportional;
  } names[] = {{"ＭＳ Ｐゴシック", true}, {"MS PGothic", true}, {"MS UI Gothic", true},  {"MS Shell Dlg", true},
               {"MS Sans Serif", true},    {"ＭＳ ゴシック", false}, {"MS Gothic", false}};
  for (const auto& n : names) {
    SCOPED_TRACE(n.Name);
    TFontOwner asked(FaceAsked(n.Name));
    EXPECT_TRUE(NamingTable(asked.Font) == (n.Proportional ? p : f));
  }
}
