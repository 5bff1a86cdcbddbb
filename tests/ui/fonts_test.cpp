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

#include "runtime/owners.h"
#include "ui/programfixture.h"

namespace {

// The font file's own naming table: the same bytes for the same face, whatever name the
// face was asked for by.
std::vector<char> NamingTable(HFONT font) {
  TScreenDC screen;
  TSelectGuard selected(screen.Get(), font);
  const DWORD tag = 'n' | ('a' << 8) | ('m' << 16) | ('e' << 24);
  const DWORD size = GetFontData(screen.Get(), tag, 0, nullptr, 0);
  std::vector<char> table(size == GDI_ERROR ? 0 : size);
  if (!table.empty() && GetFontData(screen.Get(), tag, 0, table.data(), size) != size) table.clear();
  return table;
}

TOwnedGdi FaceAsked(const char* face) {
  return TOwnedGdi(CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face));
}
HFONT Font(const TOwnedGdi& owned) { return static_cast<HFONT>(owned.Get()); }

// Pixels inked by an underscore drawn as a label draws its text, in a cell of a label's height.
int UnderscoreInk(HFONT font) {
  constexpr int width = 40, height = 21;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  TMemDC memory(CreateCompatibleDC(nullptr));
  TOwnedBitmap bitmap(CreateDIBSection(memory.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return -1;
  TSelectGuard selectedBitmap(memory.Get(), bitmap.Get());
  TSelectGuard selectedFont(memory.Get(), font);
  RECT cell{0, 0, width, height};
  FillRect(memory.Get(), &cell, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(memory.Get(), TRANSPARENT);
  SetTextColor(memory.Get(), RGB(0, 0, 0));
  DrawTextA(memory.Get(), "_", 1, &cell, DT_LEFT | DT_NOPREFIX | DT_SINGLELINE);
  GdiFlush();
  int ink = 0;
  for (int i = 0; i < width * height; ++i) ink += (static_cast<const DWORD*>(bits)[i] & 0xFF) < 0x80;
  return ink;
}

std::string FaceName(HFONT font) {
  LOGFONTA logical{};
  GetObjectA(font, sizeof logical, &logical);
  return logical.lfFaceName;
}

}  // namespace

TEST_F(TProgramTest, EveryWindowsTextIsDrawnInTheProportionalIpaGothic) {
  const std::vector<char> wanted = NamingTable(Font(FaceAsked("IPAPGothic")));
  if (wanted.empty() || wanted == NamingTable(Font(FaceAsked("IPAGothic")))) {
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
    if (c.Asked) {
      EXPECT_EQ(FaceName(font), c.Asked);
    }
    EXPECT_TRUE(NamingTable(font) == wanted) << "the font asked as \"" << FaceName(font)
                                             << "\" is not drawn in IPAPGothic: the prefix lacks its replacement";
    EXPECT_GT(UnderscoreInk(font), 0) << "an underscore leaves no ink";
  }
}

// The names a Japanese desktop's windows ask for, each with the IPA face of its widths.
TEST(FontReplacements, JapaneseUiNamesResolveToTheIpaFaceOfTheirWidths) {
  const std::vector<char> p = NamingTable(Font(FaceAsked("IPAPGothic"))), f = NamingTable(Font(FaceAsked("IPAGothic")));
  if (p.empty() || p == f) GTEST_SKIP() << "the IPA Gothic fonts (fonts-ipafont-gothic) are not there to tell apart";
  const struct {
    const char* Name;
    bool Proportional;
  } names[] = {{"ＭＳ Ｐゴシック", true}, {"MS PGothic", true}, {"MS UI Gothic", true},  {"MS Shell Dlg", true},
               {"MS Sans Serif", true},    {"ＭＳ ゴシック", false}, {"MS Gothic", false}};
  for (const auto& n : names) {
    SCOPED_TRACE(n.Name);
    EXPECT_TRUE(NamingTable(Font(FaceAsked(n.Name))) == (n.Proportional ? p : f));
  }
}
