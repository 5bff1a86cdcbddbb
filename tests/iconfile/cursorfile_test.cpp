// Cursor files through the reader: .cur directories and animated cursors (RIFF "ACON"),
// a well-formed one and one crafted file for each chunk field. Portable: built natively.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "iconfile/iconfile.h"

namespace {

using TBytes = std::vector<unsigned char>;

void Put16(TBytes& b, std::uint32_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(TBytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutCode(TBytes& b, const char* code) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(code[i]));
}

// A 2 x 2 bitmap image at 1 bit a pixel: header, two colours, colour rows, mask rows.
TBytes Bitmap() {
  TBytes b;
  Put32(b, 40), Put32(b, 2), Put32(b, 4), Put16(b, 1), Put16(b, 1);
  for (int i = 0; i < 6; ++i) Put32(b, 0);
  Put32(b, 0), Put32(b, 0xFFFFFF);   // black, white
  for (int i = 0; i < 4; ++i) Put32(b, i == 0 ? 0x40 : 0);  // two colour rows, two mask rows
  return b;
}

// A cursor file (type 2) of one 2 x 2 image with the hot spot (x, y).
TBytes CurFile(std::uint16_t x, std::uint16_t y, std::uint16_t type = 2) {
  const TBytes image = Bitmap();
  TBytes b;
  Put16(b, 0), Put16(b, type), Put16(b, 1);
  b.push_back(2), b.push_back(2), b.push_back(2), b.push_back(0);
  Put16(b, x), Put16(b, y), Put32(b, static_cast<std::uint32_t>(image.size())), Put32(b, 22);
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

TBytes Chunk(const char* code, const TBytes& body) {
  TBytes b;
  PutCode(b, code);
  Put32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() & 1) b.push_back(0);
  return b;
}

// An animated cursor whose every field can be set apart.
struct TAni {
  std::uint32_t HeaderSize = 36, Frames = 2, Steps = 3, Flags = 1;
  std::vector<std::uint32_t> Rate = {10, 20, 10}, Sequence = {0, 1, 0};
  std::vector<TBytes> FrameFiles = {CurFile(1, 0), CurFile(0, 1)};
  const char* Form = "ACON";
  const char* FrameCode = "icon";
  int RiffSizeChange = 0;
  bool HeaderFirst = true;

  TBytes Bytes() const {
    TBytes anih;
    for (std::uint32_t v : {HeaderSize, Frames, Steps, 2u, 2u, 1u, 1u, 10u, Flags}) Put32(anih, v);
    TBytes rate, seq, fram;
    for (std::uint32_t v : Rate) Put32(rate, v);
    for (std::uint32_t v : Sequence) Put32(seq, v);
    PutCode(fram, "fram");
    for (const TBytes& f : FrameFiles) {
      const TBytes c = Chunk(FrameCode, f);
      fram.insert(fram.end(), c.begin(), c.end());
    }
    TBytes info;
    PutCode(info, "INFO");
    const TBytes name = Chunk("INAM", {'w', 'a', 'l', 'k', 0});
    info.insert(info.end(), name.begin(), name.end());
    TBytes body;
    PutCode(body, Form);
    auto add = [&body](const TBytes& c) { body.insert(body.end(), c.begin(), c.end()); };
    if (HeaderFirst) add(Chunk("anih", anih));
    add(Chunk("LIST", info));
    if (!Rate.empty()) add(Chunk("rate", rate));
    if (!Sequence.empty()) add(Chunk("seq ", seq));
    add(Chunk("LIST", fram));
    if (!HeaderFirst) add(Chunk("anih", anih));
    TBytes b;
    PutCode(b, "RIFF");
    Put32(b, static_cast<std::uint32_t>(static_cast<int>(body.size()) + RiffSizeChange));
    b.insert(b.end(), body.begin(), body.end());
    return b;
  }
};

void Set16(TBytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}

// A 16-bit program with one cursor (hot spot 1, 0) and one group cursor named ARROW
// that names it, and optionally a second group naming a cursor it lacks.
TBytes NeWithCursor(std::uint32_t cursorLength = 0, bool absent = false) {
  TBytes b(0x200, 0);
  b[0] = 'M', b[1] = 'Z', b[0x3C] = 0x40, b[0x40] = 'N', b[0x41] = 'E';
  const std::size_t table = 0x80;
  Set16(b, 0x40 + 0x24, table - 0x40);
  Set16(b, 0x40 + 0x26, 0x180 - 0x40);  // resident names after the table
  std::size_t at = table;
  Set16(b, at, 4);  // 16-byte units
  at += 2;
  TBytes cursor = {1, 0, 0, 0};
  const TBytes image = Bitmap();
  cursor.insert(cursor.end(), image.begin(), image.end());
  TBytes group = {0, 0, 2, 0, static_cast<unsigned char>(absent ? 2 : 1), 0};
  for (std::uint16_t id : {1, 9}) {
    if (id == 9 && !absent) break;
    Put16(group, 2), Put16(group, 4), Put16(group, 1), Put16(group, 1);
    Put32(group, static_cast<std::uint32_t>(cursor.size())), Put16(group, id);
  }
  const std::size_t cursorAt = 0x200, groupAt = 0x200 + (cursor.size() + 15) / 16 * 16;
  auto block = [&](std::uint16_t type, std::size_t place, std::size_t length, std::uint16_t id) {
    Set16(b, at, type), Set16(b, at + 2, 1);
    Set16(b, at + 8, static_cast<std::uint32_t>(place / 16)), Set16(b, at + 10, static_cast<std::uint32_t>((length + 15) / 16));
    Set16(b, at + 14, id);
    at += 20;
  };
  block(0x8001, cursorAt, cursorLength ? cursorLength : cursor.size(), 0x8001);
  block(0x800C, groupAt, group.size(), static_cast<std::uint16_t>(at + 22 - table));  // the name after the table
  Set16(b, at, 0);
  const char name[] = "\x05" "ARROW";
  std::copy(name, name + 6, b.begin() + static_cast<long>(at + 2));
  b.insert(b.end(), cursor.begin(), cursor.end());
  b.resize(groupAt, 0);
  b.insert(b.end(), group.begin(), group.end());
  b.resize(b.size() + 16, 0);
  return b;
}

TIconFile Read(const TBytes& b, bool cursors = true) {
  return ReadIconFile(b.size(), [&b](std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > b.size() || length > b.size() - offset) return false;
    if (length) std::memcpy(buffer, b.data() + offset, length);
    return true;
  }, TIconScope::WholeFile, cursors);
}

TEST(CursorFiles, CurFilesGiveOneCursorWithItsHotSpots) {
  const TIconFile cur = Read(CurFile(1, 0));
  ASSERT_TRUE(cur.Sound) << cur.Problem;
  EXPECT_TRUE(cur.Groups.empty());
  ASSERT_EQ(cur.Cursors.size(), 1u);
  ASSERT_EQ(cur.Cursors[0].Images.size(), 1u);
  const TIconImage& image = cur.Cursors[0].Images[0];
  EXPECT_TRUE(cur.Cursors[0].Cursor);
  EXPECT_EQ(image.Width, 2u);
  EXPECT_EQ(image.Height, 2u);
  EXPECT_EQ(image.HotspotX, 1u);
  EXPECT_EQ(image.HotspotY, 0u);
  EXPECT_EQ(image.Offset, 22u);
  // Without cursors asked for, the window's view: sound, nothing listed.
  const TIconFile plain = Read(CurFile(1, 0), false);
  EXPECT_TRUE(plain.Sound);
  EXPECT_TRUE(plain.Cursors.empty());
}

TEST(CursorFiles, AnimatedCursorsGiveEachFrameAsACursor) {
  const TBytes bytes = TAni().Bytes();
  const TIconFile ani = Read(bytes);
  ASSERT_TRUE(ani.Sound) << ani.Problem;
  EXPECT_EQ(ani.Form, TIconFileForm::Ani);
  ASSERT_EQ(ani.Cursors.size(), 2u);
  for (std::uint32_t k = 0; k < 2; ++k) {
    const TIconGroup& g = ani.Cursors[k];
    EXPECT_EQ(g.Index, k);
    EXPECT_TRUE(g.Cursor);
    ASSERT_EQ(g.Images.size(), 1u);
    EXPECT_EQ(g.Images[0].HotspotX, k == 0 ? 1u : 0u);
    EXPECT_EQ(g.Images[0].HotspotY, k == 0 ? 0u : 1u);
    // The image's bytes are the frame's own.
    const TBytes want = Bitmap();
    ASSERT_LE(g.Images[0].Offset + want.size(), bytes.size());
    EXPECT_EQ(TBytes(bytes.begin() + static_cast<long>(g.Images[0].Offset),
                     bytes.begin() + static_cast<long>(g.Images[0].Offset + want.size())),
              want);
  }
  // Without a sequence or rate, steps are frames.
  TAni plain;
  plain.Rate.clear(), plain.Sequence.clear(), plain.Steps = 2;
  EXPECT_TRUE(Read(plain.Bytes()).Sound);
  // An icon frame: its hot spot is the corner, not its planes and bit count.
  TAni icons;
  icons.FrameFiles = {CurFile(1, 4, 1), CurFile(1, 4, 1)};
  const TIconFile iconFrames = Read(icons.Bytes());
  ASSERT_TRUE(iconFrames.Sound) << iconFrames.Problem;
  EXPECT_EQ(iconFrames.Cursors[1].Images[0].HotspotX, 0u);
  EXPECT_EQ(iconFrames.Cursors[1].Images[0].EntryBitCount, 0u);
  // The window never reads them: no icon-bearing form for it.
  const TIconFile window = Read(bytes, false);
  EXPECT_TRUE(window.Sound);
  EXPECT_EQ(window.Form, TIconFileForm::Other);
}

TEST(CursorFiles, SixteenBitProgramsGiveTheirGroupCursors) {
  const TIconFile ne = Read(NeWithCursor());
  ASSERT_TRUE(ne.Sound) << ne.Problem;
  EXPECT_EQ(ne.Form, TIconFileForm::Ne);
  ASSERT_EQ(ne.Cursors.size(), 1u) << ne.CursorProblem;
  const TIconGroup& g = ne.Cursors[0];
  EXPECT_EQ(g.ResourceName, "ARROW");
  ASSERT_EQ(g.Images.size(), 1u);
  EXPECT_EQ(g.Images[0].Width, 2u);
  EXPECT_EQ(g.Images[0].HotspotX, 1u);
  EXPECT_EQ(g.Images[0].EntryHeight, 2u);  // the group's 4 rows (colour and mask) halved
  EXPECT_EQ(g.Images[0].Offset, 0x204u);   // after the hot spot
  // A cursor the file lacks is left out of its group.
  const TIconFile absent = Read(NeWithCursor(0, true));
  ASSERT_EQ(absent.Cursors.size(), 1u);
  EXPECT_EQ(absent.Cursors[0].Images.size(), 1u);
  // A cursor cut short (one 16-byte unit, less than its image): the cursors are left out,
  // the program is not refused.
  const TIconFile cut = Read(NeWithCursor(2));
  EXPECT_TRUE(cut.Sound) << cut.Problem;
  EXPECT_TRUE(cut.Cursors.empty());
  EXPECT_FALSE(cut.CursorProblem.empty());
}

// One crafted file for each field of each chunk: each refused, with its reason.
TEST(CursorFiles, EachBrokenAnimatedCursorFieldIsRefused) {
  struct {
    const char* Field;
    TAni Ani;
    const char* Says;
  } cases[] = {
      {"RIFF size past the end", [] { TAni a; a.RiffSizeChange = 2; return a; }(), "runs past the file"},
      {"form type", [] { TAni a; a.Form = "AVI "; return a; }(), "not an animated cursor"},
      {"anih size field", [] { TAni a; a.HeaderSize = 40; return a; }(), "not 36 bytes"},
      {"anih frames 0", [] { TAni a; a.Frames = 0; return a; }(), "no frames"},
      {"anih frames beyond bounds", [] { TAni a; a.Frames = 100000; return a; }(), "no frames or more"},
      {"anih frames more than held", [] { TAni a; a.Frames = 3; return a; }(), "fewer frames than its header"},
      {"anih frames fewer than held", [] { TAni a; a.Frames = 1; a.Sequence = {0, 0, 0}; return a; }(),
       "more frames than its header"},
      {"anih steps 0", [] { TAni a; a.Steps = 0; return a; }(), "no steps"},
      {"anih flags: raw frames", [] { TAni a; a.Flags = 0; return a; }(), "raw bitmaps"},
      {"anih after the frames", [] { TAni a; a.HeaderFirst = false; return a; }(), "before its header"},
      {"rate length", [] { TAni a; a.Rate = {10, 20}; return a; }(), "one entry a step"},
      {"seq length", [] { TAni a; a.Sequence = {0, 1, 0, 1}; return a; }(), "one entry a step"},
      {"seq frame number", [] { TAni a; a.Sequence = {0, 2, 0}; return a; }(), "names a frame it does not have"},
      {"steps without seq", [] { TAni a; a.Sequence.clear(); return a; }(), "steps that are not its frames"},
      {"frame chunk code", [] { TAni a; a.FrameCode = "bmp "; return a; }(), "no frame"},
      {"frame not a cursor file", [] { TAni a; a.FrameFiles[1] = TBytes(40, 7); return a; }(), "not a cursor or icon file"},
      {"frame cut short", [] { TAni a; a.FrameFiles[0].resize(4); return a; }(), "shorter than a cursor file's header"},
      {"frame directory past the frame", [] { TAni a; a.FrameFiles[0][4] = 9; return a; }(), "directory runs past"},
      {"frame image past the frame", [] { TAni a; a.FrameFiles[0].resize(40); return a; }(), "image runs past its frame"},
      {"frame image unsound", [] { TAni a; a.FrameFiles[1][22] = 12; return a; }(), "icon image"},
      {"frame holding RIFF data", [] { TAni a; std::memcpy(&a.FrameFiles[1][22], "RIFF", 4); return a; }(), "animated-cursor"},
  };
  for (const auto& c : cases) {
    const TIconFile f = Read(c.Ani.Bytes());
    EXPECT_FALSE(f.Sound) << c.Field;
    EXPECT_TRUE(f.Cursors.empty()) << c.Field;
    EXPECT_NE(f.Problem.find(c.Says), std::string::npos) << c.Field << ": " << f.Problem;
  }
  // A chunk whose length runs past its parent (the frame list's last chunk).
  TBytes cut = TAni().Bytes();
  cut[cut.size() - CurFile(0, 1).size() - 4] += 2;
  const TIconFile f = Read(cut);
  EXPECT_FALSE(f.Sound);
  EXPECT_NE(f.Problem.find("runs past its parent"), std::string::npos) << f.Problem;
}

}  // namespace
