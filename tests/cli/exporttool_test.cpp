// glyphdock-export's command line, run in-process on the fixtures the build draws and
// links (three.dll, png256.dll, noicons.dll, the crafted files) and on files made here.
#include "cli/exporttool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "iconfile/pngcodec.h"

namespace fs = std::filesystem;

namespace {

std::string Fixture(const char* name) { return std::string(GLYPHDOCK_FIXTURE_DIR) + "/" + name; }

std::vector<unsigned char> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

TRun Tool(std::vector<std::string> args) {
  args.insert(args.begin(), "glyphdock-export");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  TRun r;
  r.Status = RunExportTool(static_cast<int>(argv.size()), argv.data(), out, err, false);
  r.Out = out.str();
  r.Err = err.str();
  return r;
}

class ExportTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(Fixture("three.dll"))) GTEST_SKIP() << "fixtures not built in " << GLYPHDOCK_FIXTURE_DIR;
    FDir = fs::temp_directory_path() / ("glyphdock-export-test-" + std::to_string(std::random_device{}()));
    fs::create_directories(FDir);
  }
  void TearDown() override {
    std::error_code e;
    if (!FDir.empty()) fs::remove_all(FDir, e);
  }
  std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path FDir;
};

TEST_F(ExportTool, CommandLineMistakesAreUsageErrors) {
  struct {
    std::vector<std::string> Args;
    const char* Says;
  } cases[] = {
      {{}, "no command"},
      {{"paint", "x"}, "unknown command"},
      {{"list"}, "no file"},
      {{"list", "--bogus", "x"}, "unknown option '--bogus'"},
      {{"list", "--png", "x"}, "list takes only"},
      {{"extract", "x"}, "no output folder"},
      {{"extract", "-o"}, "needs a folder"},
      {{"extract", "--size", "0", "-o", "d", "x"}, "--size takes a number"},
      {{"extract", "--size=12a", "-o", "d", "x"}, "--size takes a number"},
      {{"thumbnail", "a", "b"}, "FILE OUT.png SIZE"},
      {{"thumbnail", "a", "b", "-5"}, "unknown option"},
      {{"thumbnail", "a", "b", "99999"}, "SIZE is a number"},
  };
  for (const auto& c : cases) {
    const TRun r = Tool(c.Args);
    EXPECT_EQ(r.Status, ExitUsage) << c.Says;
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("--help"), std::string::npos);
    EXPECT_TRUE(r.Out.empty());
  }
  TRun r = Tool({"--help"});
  EXPECT_EQ(r.Status, ExitOk);
  EXPECT_EQ(r.Out.rfind("Usage: glyphdock-export list", 0), 0u);
  r = Tool({"--version"});
  EXPECT_EQ(r.Out, std::string("glyphdock-export ") + GLYPHDOCK_VERSION + "\n");
}

TEST_F(ExportTool, ListsEachIconWithItsImagesAndNamesEveryProblem) {
  TRun r = Tool({"list", Fixture("three.dll"), Fixture("png256.dll")});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(r.Out, Fixture("three.dll") + "\tIcon1\t32x32 4-bit bmp\n" + Fixture("three.dll") +
                       "\tIcon2\t32x32 4-bit bmp\n" + Fixture("three.dll") + "\tIcon3\t32x32 4-bit bmp\n" +
                       Fixture("png256.dll") + "\tIcon1\t256x256 32-bit png\n");

  r = Tool({"list", "--json", Fixture("two.dll")});
  EXPECT_EQ(r.Out, "[\n  {\"file\": " + JsonString(Fixture("two.dll")) +
                       ", \"icons\": [\n    {\"number\": 1, \"name\": \"Icon1\", \"images\": [{\"width\": 32, "
                       "\"height\": 32, \"bits\": 4, \"format\": \"bmp\", \"bytes\": 744}]},\n    {\"number\": 2, "
                       "\"name\": \"Icon2\", \"images\": [{\"width\": 32, \"height\": 32, \"bits\": 4, \"format\": "
                       "\"bmp\", \"bytes\": 744}]}\n  ]}\n]\n");

  // Refused, without icons, missing, a folder without -r: each named, the rest still listed.
  r = Tool({"list", Fixture("crafted-alias.dll"), Fixture("noicons.dll"), (FDir / "missing.dll").string(),
           FDir.string(), Fixture("small16.ico")});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_EQ(r.Out, Fixture("small16.ico") + "\tIcon1\t16x16 4-bit bmp\n");
  for (const std::string& said : {Fixture("crafted-alias.dll") + ": refused", Fixture("noicons.dll") + ": no icons",
                                  (FDir / "missing.dll").string() + ": no such file", FDir.string() + ": is a folder"})
    EXPECT_NE(r.Err.find(said), std::string::npos) << said << "\n" << r.Err;
  r = Tool({"list", "--json", Fixture("noicons.dll")});
  EXPECT_EQ(r.Out, "[]\n");

  // An .ico image cut short by the end of the file, which the shell never picks, is left
  // out; the sound one is listed and extracted.
  r = Tool({"list", Fixture("cut-unpicked.ico")});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(r.Out, Fixture("cut-unpicked.ico") + "\tIcon1\t32x32 4-bit bmp\n");
  r = Tool({"extract", "--png", Fixture("cut-unpicked.ico"), "-o", (FDir / "cut").string()});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(Names((FDir / "cut").string()), std::vector<std::string>{"cut-unpicked.ico-Icon1-32x32-4bit.png"});
}

TEST_F(ExportTool, ExtractsEveryIconAsStoredAndNeverOverwritesUnasked) {
  const std::string out = (FDir / "out").string();
  TRun r = Tool({"extract", Fixture("three.dll"), "-o", out});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(Names(out), (std::vector<std::string>{"three.dll-Icon1.ico", "three.dll-Icon2.ico", "three.dll-Icon3.ico"}));
  EXPECT_NE(r.Err.find("1 file, 3 icons written (3 files); 0 without icons, 0 refused"), std::string::npos) << r.Err;
  // Each .ico is the fixture's own icon file, byte for byte: the fixture DLL was linked from them.
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(ReadAll(fs::path(out) / ("three.dll-Icon" + std::to_string(i) + ".ico")),
              ReadAll(Fixture(("three" + std::to_string(i) + ".ico").c_str())))
        << i;

  // A second run finds the files there and leaves them; --force replaces them.
  fs::resize_file(fs::path(out) / "three.dll-Icon2.ico", 5);
  r = Tool({"extract", Fixture("three.dll"), "-o", out});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find("three.dll-Icon2.ico: exists; not replaced"), std::string::npos) << r.Err;
  EXPECT_EQ(fs::file_size(fs::path(out) / "three.dll-Icon2.ico"), 5u);
  r = Tool({"extract", "--force", Fixture("three.dll"), "-o", out});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(ReadAll(fs::path(out) / "three.dll-Icon2.ico"), ReadAll(Fixture("three2.ico")));
  // No temporary file is left behind.
  EXPECT_EQ(Names(out).size(), 3u);
}

TEST_F(ExportTool, ExtractsPngsDecodedOrAsStoredAndPicksSizes) {
  const fs::path out = FDir / "png";
  TRun r = Tool({"extract", "--png", Fixture("highcolour.dll"), Fixture("png256.dll"), Fixture("small16.dll"), "-o",
                out.string()});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(Names(out), (std::vector<std::string>{"highcolour.dll-Icon1-32x32-32bit.png",
                                                  "png256.dll-Icon1-256x256-32bit.png",
                                                  "small16.dll-Icon1-16x16-4bit.png"}));
  // The PNG image is copied as stored: the fixture .ico holds it after its 22-byte head.
  const auto ico = ReadAll(Fixture("png256.ico"));
  EXPECT_EQ(ReadAll(out / "png256.dll-Icon1-256x256-32bit.png"), std::vector<unsigned char>(ico.begin() + 22, ico.end()));
  // The bitmap one decoded: red 8x, green 8y, blue 255 - 4(x + y) where opaque, the
  // border and the hole at 8..11 transparent, the picture upright.
  const auto png = ReadAll(out / "highcolour.dll-Icon1-32x32-32bit.png");
  TRgbaImage img;
  std::string problem;
  ASSERT_TRUE(DecodePng(png.data(), png.size(), img, problem)) << problem;
  ASSERT_EQ(img.Width, 32u);
  for (std::uint32_t y = 0; y < 32; ++y)
    for (std::uint32_t x = 0; x < 32; ++x) {
      const bool opaque = x >= 4 && x < 28 && y >= 4 && y < 28 && !(x >= 8 && x < 12 && y >= 8 && y < 12);
      const std::uint8_t* p = &img.Pixels[(y * 32 + x) * 4];
      ASSERT_EQ(p[3], opaque ? 255 : 0) << x << "," << y;
      if (opaque) {
        ASSERT_EQ(p[0], x * 8);
        ASSERT_EQ(p[1], y * 8);
        ASSERT_EQ(p[2], 255 - (x + y) * 4);
      }
    }

  // --size: one image an icon, named without its size.
  r = Tool({"extract", "--size", "48", Fixture("small16.ico"), "-o", (FDir / "one").string()});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(Names(FDir / "one"), (std::vector<std::string>{"small16.ico-Icon1.ico"}));
  EXPECT_EQ(ReadAll(FDir / "one" / "small16.ico-Icon1.ico"), ReadAll(Fixture("small16.ico")));
}

TEST_F(ExportTool, FoldersAreWalkedWithRAndFilesWithoutIconsInThemOnlyCounted) {
  const fs::path in = FDir / "in";
  fs::create_directories(in / "sub");
  fs::copy_file(Fixture("two.dll"), in / "sub" / "two.dll");
  fs::copy_file(Fixture("noicons.dll"), in / "noicons.dll");
  std::ofstream(in / "readme.txt") << "text";
  TRun r = Tool({"extract", "-r", in.string(), "-o", (FDir / "out").string()});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(Names(FDir / "out"), (std::vector<std::string>{"two.dll-Icon1.ico", "two.dll-Icon2.ico"}));
  EXPECT_NE(r.Err.find("3 files, 2 icons written (2 files); 2 without icons, 0 refused or unreadable"), std::string::npos)
      << r.Err;
  // The same file name from two places: the second (in/two.dll, after in/sub/two.dll in
  // name order) does not replace the first's icons; its third icon has a name of its own.
  fs::copy_file(Fixture("three.dll"), in / "two.dll");
  r = Tool({"extract", "-r", "--force", in.string(), "-o", (FDir / "out2").string()});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find("an earlier file of this run"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(FDir / "out2" / "two.dll-Icon1.ico"), ReadAll(Fixture("two1.ico")));
  EXPECT_EQ(ReadAll(FDir / "out2" / "two.dll-Icon3.ico"), ReadAll(Fixture("three3.ico")));
}

TEST_F(ExportTool, ThumbnailFitsTheSizeAndWritesNothingForAFileWithoutIcons) {
  struct {
    int Size;
    std::uint32_t Side;
  } cases[] = {{64, 64}, {256, 256}, {512, 256}, {100, 100}};
  for (const auto& c : cases) {
    const fs::path out = FDir / ("thumb" + std::to_string(c.Size) + ".png");
    const TRun r = Tool({"thumbnail", Fixture("png256.dll"), out.string(), std::to_string(c.Size)});
    ASSERT_EQ(r.Status, ExitOk) << r.Err;
    const auto png = ReadAll(out);
    TRgbaImage img;
    std::string problem;
    ASSERT_TRUE(DecodePng(png.data(), png.size(), img, problem)) << problem;
    EXPECT_EQ(img.Width, c.Side);
    EXPECT_EQ(img.Height, c.Side);
    // Orange in the middle, clear in the corner, whatever the scale.
    const std::uint8_t* mid = &img.Pixels[((c.Side * 3 / 4) * c.Side + c.Side / 2) * 4];
    EXPECT_EQ(std::vector<int>(mid, mid + 4), (std::vector<int>{255, 128, 0, 255})) << c.Size;
    EXPECT_EQ(img.Pixels[3], 0);
  }
  for (const char* name : {"noicons.dll", "crafted-bomb.ico", "truncated.dll", "empty.dll"}) {
    const fs::path out = FDir / (std::string(name) + ".png");
    const TRun r = Tool({"thumbnail", Fixture(name), out.string(), "128"});
    EXPECT_EQ(r.Status, ExitSomeFileFailed) << name;
    EXPECT_FALSE(r.Err.empty());
    EXPECT_FALSE(fs::exists(out)) << name;
  }
}

TEST(ExportChoices, NearestImageAndThumbnailOrder) {
  TIconGroup g;
  auto add = [&g](std::uint32_t side, std::uint16_t bits) {
    TIconImage i;
    i.Width = i.Height = side;
    i.BitCount = bits;
    g.Images.push_back(i);
  };
  add(16, 4), add(32, 4), add(32, 32), add(48, 8), add(256, 32);
  EXPECT_EQ(NearestImage(g, 32), 2u);   // the deeper of the two 32s
  EXPECT_EQ(NearestImage(g, 40), 3u);   // 48 and 32 tie: the larger
  EXPECT_EQ(NearestImage(g, 1), 0u);
  EXPECT_EQ(NearestImage(g, 4000), 4u);
  EXPECT_EQ(ThumbnailOrder(g, 40), (std::vector<std::size_t>{3, 4, 2, 1, 0}));
  EXPECT_EQ(ThumbnailOrder(g, 512), (std::vector<std::size_t>{4, 3, 2, 1, 0}));
}

TEST(ExportChoices, IcoDirectoryKeepsTheEntriesAndLaysTheImagesOutInOrder) {
  TIconImage a, b;
  a.EntryWidth = 16, a.EntryHeight = 16, a.EntryColours = 16, a.EntryPlanes = 1, a.EntryBitCount = 4;
  b.EntryWidth = 0, b.EntryHeight = 0, b.EntryReserved = 7, b.EntryPlanes = 1, b.EntryBitCount = 32;
  const auto ico = BuildIcoFile({&a, &b}, {{1, 2, 3}, {4, 5}});
  const std::vector<unsigned char> want = {0, 0, 1, 0, 2, 0,                               // head
                                           16, 16, 16, 0, 1, 0, 4, 0, 3, 0, 0, 0, 38, 0, 0, 0,  // first entry
                                           0, 0, 0, 7, 1, 0, 32, 0, 2, 0, 0, 0, 41, 0, 0, 0,   // second
                                           1, 2, 3, 4, 5};
  EXPECT_EQ(ico, want);
}

TEST(ExportChoices, JsonStringsEscapeAndReplaceBrokenUtf8) {
  EXPECT_EQ(JsonString("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
  EXPECT_EQ(JsonString("\xE3\x81\x82.dll"), "\"\xE3\x81\x82.dll\"");           // UTF-8 kept
  EXPECT_EQ(JsonString("\x83\x41.dll"), "\"\xEF\xBF\xBD\x41.dll\"");            // CP932 byte replaced
  EXPECT_EQ(JsonString("\xE3\x81"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");           // cut short
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // a surrogate
}

}  // namespace
