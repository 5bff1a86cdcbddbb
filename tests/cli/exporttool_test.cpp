// glyphdock-export's command line, run in-process on the fixtures the build draws and
// links (three.dll, png256.dll, noicons.dll, the crafted files) and on files made here.
#include "cli/exporttool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "cli/exportoptions.h"
#include "cli/clitest.h"
#include "iconfile/pngcodec.h"

namespace fs = std::filesystem;

namespace {

using namespace clitest;

class ExportTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(Fixture("three.dll"))) GTEST_SKIP() << "fixtures not built in " << GLYPHDOCK_FIXTURE_DIR;
    FDir = MakeScratch("glyphdock-export-test-");
  }
  void TearDown() override { RemoveScratch(FDir); }
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
      {{"list", "--png", "x"}, "list takes no --png"},
      {{"list", "--json=yes", "x"}, "--json takes no value"},
      {{"list", "-rz", "x"}, "unknown option '-z'"},
      {{"list", "--icon", "0", "x"}, "--icon takes numbers"},
      {{"list", "--icon=3-1", "x"}, "--icon takes numbers"},
      {{"list", "--icon", "1,,2", "x"}, "--icon takes numbers"},
      {{"list", "--resource", "#MAIN", "x"}, "--resource takes"},
      {{"list", "--resource=70000", "x"}, "--resource takes"},
      {{"extract", "-o", "-", "a", "b"}, "writes one file"},
      {{"extract", "-ro", "-", "a"}, "writes one file"},
      {{"thumbnail", "--png", "a", "b", "16"}, "thumbnail takes only"},
      {{"extract", "x"}, "no output folder"},
      {{"extract", "-o"}, "needs a folder"},
      {{"extract", "--size", "0", "-o", "d", "x"}, "--size takes a number"},
      {{"extract", "--size=12a", "-o", "d", "x"}, "--size takes a number"},
      {{"thumbnail", "a", "b"}, "FILE OUT.png|- SIZE"},
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
  // Each command's own help, also after its other options; a mistake points to it.
  for (const char* command : {"list", "extract", "thumbnail"}) {
    for (const char* asked : {"--help", "-h"}) {
      r = Tool({command, "-q", asked});
      EXPECT_EQ(r.Status, ExitOk);
      EXPECT_EQ(r.Out.rfind(std::string("Usage: glyphdock-export ") + command, 0), 0u) << command;
      EXPECT_EQ(r.Out.find("Usage: glyphdock-export", 1), std::string::npos) << command;
      EXPECT_NE(r.Out.find("--icon LIST"), std::string::npos) << command;
    }
  }
  EXPECT_NE(Tool({"list", "--help"}).Out.find("--json"), std::string::npos);
  EXPECT_EQ(Tool({"list", "--help"}).Out.find("--png"), std::string::npos);
  EXPECT_NE(Tool({"extract", "--help"}).Out.find("--png"), std::string::npos);
  EXPECT_NE(Tool({"list", "--bogus", "x"}).Err.find("Try 'glyphdock-export list --help'"), std::string::npos);
  r = Tool({"--version"});
  EXPECT_EQ(r.Out, std::string("glyphdock-export ") + GLYPHDOCK_VERSION + "\n");
}

TEST_F(ExportTool, ListsEachIconWithItsImagesAndNamesEveryProblem) {
  TRun r = Tool({"list", Fixture("three.dll"), Fixture("png256.dll")});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(r.Out, Fixture("three.dll") + "\tIcon1\t1\t1033\t32x32 4-bit bmp\n" + Fixture("three.dll") +
                       "\tIcon2\t2\t1033\t32x32 4-bit bmp\n" + Fixture("three.dll") +
                       "\tIcon3\t3\t1033\t32x32 4-bit bmp\n" + Fixture("png256.dll") +
                       "\tIcon1\t1\t1033\t256x256 32-bit png\n");

  r = Tool({"list", "--json", Fixture("two.dll")});
  EXPECT_EQ(r.Out, "[\n  {\"file\": " + JsonString(Fixture("two.dll")) +
                       ", \"icons\": [\n    {\"number\": 1, \"name\": \"Icon1\", \"kind\": \"icon\", \"resource\": 1, "
                       "\"language\": 1033, \"images\": [{\"width\": 32, \"height\": 32, \"bits\": 4, \"format\": "
                       "\"bmp\", \"bytes\": 744}]},\n    {\"number\": 2, \"name\": \"Icon2\", \"kind\": \"icon\", "
                       "\"resource\": 2, \"language\": 1033, \"images\": [{\"width\": 32, \"height\": 32, \"bits\": 4, "
                       "\"format\": \"bmp\", \"bytes\": 744}]}\n  ]}\n]\n");

  // Refused, without icons, missing, a folder without -r: each named, the rest still listed.
  r = Tool({"list", Fixture("crafted-alias.dll"), Fixture("noicons.dll"), (FDir / "missing.dll").string(),
           FDir.string(), Fixture("small16.ico")});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_EQ(r.Out, Fixture("small16.ico") + "\tIcon1\t-\t-\t16x16 4-bit bmp\n");
  for (const std::string& said : {Fixture("crafted-alias.dll") + ": refused", Fixture("noicons.dll") + ": no icons",
                                  (FDir / "missing.dll").string() + ": no such file", FDir.string() + ": is a folder"})
    EXPECT_NE(r.Err.find(said), std::string::npos) << said << "\n" << r.Err;
  r = Tool({"list", "--json", Fixture("noicons.dll")});
  EXPECT_EQ(r.Out, "[]\n");

  // An .ico image cut short by the end of the file, which the shell never picks, is left
  // out; the sound one is listed and extracted.
  r = Tool({"list", Fixture("cut-unpicked.ico")});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(r.Out, Fixture("cut-unpicked.ico") + "\tIcon1\t-\t-\t32x32 4-bit bmp\n");
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
  EXPECT_EQ(Names(FDir / "out"), (std::vector<std::string>{"sub"}));
  EXPECT_EQ(Names(FDir / "out" / "sub"), (std::vector<std::string>{"two.dll-Icon1.ico", "two.dll-Icon2.ico"}));
  EXPECT_NE(r.Err.find("3 files, 2 icons written (2 files); 2 without icons, 0 refused or unreadable"), std::string::npos)
      << r.Err;
  // A file of no icon-bearing form is told apart from a program without icons.
  EXPECT_NE(r.Err.find("readme.txt: not a Windows program or icon file"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("noicons.dll: no icons"), std::string::npos) << r.Err;
  // --quiet: nothing but problems, and these are none.
  r = Tool({"extract", "-rqf", in.string(), "--output=" + (FDir / "out").string()});
  EXPECT_EQ(r.Status, ExitOk);
  EXPECT_EQ(r.Err, "");
  // A named file is a problem even then.
  r = Tool({"list", "-q", (in / "readme.txt").string(), Fixture("two.dll")});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_EQ(r.Err, "glyphdock-export: " + (in / "readme.txt").string() + ": not a Windows program or icon file\n");
  // Two plain files of one name still share their output names: the second is not
  // written over the first.
  r = Tool({"extract", Fixture("two.dll"), (in / "sub" / "two.dll").string(), "-o", (FDir / "flat").string()});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find("an earlier file of this run"), std::string::npos) << r.Err;
}

// Same-named files in several folders under -r: every icon written under its own path,
// none lost; a second run replaces exactly the same files.
TEST_F(ExportTool, RecursiveRunsKeepEachFilesPathAndLoseNoIcon) {
  const fs::path in = FDir / "drive_c";
  for (const char* dir : {"windows/system32", "windows/syswow64", "program files/app"}) fs::create_directories(in / dir);
  fs::copy_file(Fixture("three.dll"), in / "windows/system32/x.dll");
  fs::copy_file(Fixture("two.dll"), in / "windows/syswow64/x.dll");
  fs::copy_file(Fixture("named.dll"), in / "program files/app/x.dll");
  fs::copy_file(Fixture("small16.dll"), in / "x.dll");
  const fs::path out = FDir / "icons";
  TRun r = Tool({"extract", "-r", "--icons", in.string(), "-o", out.string()});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_NE(r.Err.find("4 files, 10 icons written (10 files)"), std::string::npos) << r.Err;
  std::vector<std::string> written;
  for (const auto& e : fs::recursive_directory_iterator(out))
    if (e.is_regular_file()) written.push_back(e.path().lexically_relative(out).string());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{
                         "program files/app/x.dll-Icon1.ico", "program files/app/x.dll-Icon2.ico",
                         "program files/app/x.dll-Icon3.ico", "program files/app/x.dll-Icon4.ico",
                         "windows/system32/x.dll-Icon1.ico", "windows/system32/x.dll-Icon2.ico",
                         "windows/system32/x.dll-Icon3.ico", "windows/syswow64/x.dll-Icon1.ico",
                         "windows/syswow64/x.dll-Icon2.ico", "x.dll-Icon1.ico"}));
  EXPECT_EQ(ReadAll(out / "windows/system32/x.dll-Icon3.ico"), ReadAll(Fixture("three3.ico")));
  EXPECT_EQ(ReadAll(out / "windows/syswow64/x.dll-Icon2.ico"), ReadAll(Fixture("two2.ico")));
  // Again: every file is there, none replaced; with --force all of them, and nothing more.
  fs::resize_file(out / "windows/syswow64/x.dll-Icon2.ico", 3);
  r = Tool({"extract", "-r", in.string(), "-o", out.string()});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find("10 icons not written"), std::string::npos) << r.Err;
  r = Tool({"extract", "-rf", in.string(), "-o", out.string()});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_NE(r.Err.find("10 icons written (10 files)"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(out / "windows/syswow64/x.dll-Icon2.ico"), ReadAll(Fixture("two2.ico")));
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(out)) files += e.is_regular_file();
  EXPECT_EQ(files, 10u);
  // An output folder inside the folder read is not read again: the second run writes the
  // same 10 files, not icons of the first run's icons.
  const fs::path inside = in / "icons";
  for (int run = 0; run < 2; ++run) {
    r = Tool({"extract", "-rf", "--icons", in.string(), "-o", inside.string()});
    EXPECT_EQ(r.Status, ExitOk) << r.Err;
    EXPECT_NE(r.Err.find("4 files, 10 icons written"), std::string::npos) << run << r.Err;
  }
}

// The numbers are the shell's (named groups first, in name order, then numbers in order),
// as the window shows them; --icon and --resource choose by them.
TEST_F(ExportTool, IconsAreChosenByNumberAndByResource) {
  const std::string named = Fixture("named.dll");
  TRun r = Tool({"list", named});
  EXPECT_EQ(r.Out, named + "\tIcon1\tMAINICON\t1041\t32x32 4-bit bmp\n" + named +
                       "\tIcon2\tZETA\t1033\t32x32 4-bit bmp\n" + named + "\tIcon3\t2\t1041\t32x32 4-bit bmp\n" +
                       named + "\tIcon4\t7\t1033\t32x32 4-bit bmp\n");
  r = Tool({"list", "--json", "--resource", "mainicon", named});
  EXPECT_NE(r.Out.find("\"name\": \"Icon1\", \"kind\": \"icon\", \"resource\": \"MAINICON\", \"language\": 1041"),
            std::string::npos)
      << r.Out;
  EXPECT_EQ(r.Out.find("Icon2"), std::string::npos);
  struct {
    std::vector<std::string> Choice;
    std::vector<const char*> Icos;  // the fixture icons written, in number order
  } cases[] = {
      {{"--icon", "1"}, {"two1.ico"}},
      {{"--icon", "2,4"}, {"three3.ico", "three1.ico"}},
      {{"--icon=3-"}, {"two2.ico", "three1.ico"}},
      {{"--icon", "1-2,4"}, {"two1.ico", "three3.ico", "three1.ico"}},
      {{"--resource", "7"}, {"three1.ico"}},
      {{"--resource", "#2"}, {"two2.ico"}},
      {{"--resource=Zeta"}, {"three3.ico"}},
      {{"--resource", "ZETA", "--icon", "1-2"}, {"three3.ico"}},
  };
  int run = 0;
  for (const auto& c : cases) {
    const fs::path out = FDir / ("choice" + std::to_string(++run));
    std::vector<std::string> args = {"extract", "-o", out.string(), named};
    args.insert(args.end(), c.Choice.begin(), c.Choice.end());
    r = Tool(args);
    EXPECT_EQ(r.Status, ExitOk) << c.Choice[0] << r.Err;
    const std::vector<std::string> names = Names(out);
    ASSERT_EQ(names.size(), c.Icos.size()) << c.Choice[0];
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(ReadAll(out / names[i]), ReadAll(Fixture(c.Icos[i])));
  }
  // Nothing chosen in a named file is a problem, told as such.
  r = Tool({"list", "--icon", "5-9", named});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find("none chosen by --icon 5-9 (4 in the file)"), std::string::npos) << r.Err;
  r = Tool({"list", "--resource", "7", Fixture("small16.ico")});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  // The one output of a run to standard output, byte for byte; more than one is refused.
  r = Tool({"extract", "--icon", "2", "-o", "-", named});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  const auto three3 = ReadAll(Fixture("three3.ico"));
  EXPECT_EQ(r.Out, std::string(three3.begin(), three3.end()));
  r = Tool({"extract", "-q", "-o-", named});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("this run makes 4"), std::string::npos) << r.Err;
  // The thumbnail of a chosen icon: ZETA is blue.
  const fs::path thumb = FDir / "zeta.png";
  r = Tool({"thumbnail", "--resource", "ZETA", named, thumb.string(), "32"});
  ASSERT_EQ(r.Status, ExitOk) << r.Err;
  const auto png = ReadAll(thumb);
  TRgbaImage img;
  std::string problem;
  ASSERT_TRUE(DecodePng(png.data(), png.size(), img, problem)) << problem;
  const std::uint8_t* mid = &img.Pixels[(16 * 32 + 16) * 4];
  EXPECT_EQ(std::vector<int>(mid, mid + 4), (std::vector<int>{0, 0, 255, 255}));
}

// Cursors beside icons, numbered apart: group cursors of a program as wrestool writes
// them (no colour count, the hot spot from the resource), .cur files and the frames of an
// .ani file as stored, PNGs named with their hot spot.
TEST_F(ExportTool, CursorsAreListedAndExtractedWithTheirHotSpots) {
  const std::string dll = Fixture("cursors.dll"), ani = Fixture("walk.ani"), cur = Fixture("pair.cur");
  TRun r = Tool({"list", dll, cur});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(r.Out, dll + "\tIcon1\t5\t1033\t32x32 4-bit bmp\n" + dll +
                       "\tCursor1\tPOINTER\t1033\t16x16 4-bit bmp @1,2\t32x32 32-bit bmp @30,3\n" + dll +
                       "\tCursor2\t1\t1033\t32x32 4-bit bmp @5,7\n" + cur +
                       "\tCursor1\t-\t-\t16x16 4-bit bmp @1,2\t32x32 32-bit bmp @30,3\n");
  r = Tool({"list", "--json", "--cursors", "--icon", "2", ani});
  EXPECT_NE(r.Out.find("\"name\": \"Cursor2\", \"kind\": \"cursor\", \"resource\": null, \"language\": null"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("\"hotspot\": {\"x\": 30, \"y\": 3}"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("Cursor1"), std::string::npos) << r.Out;
  // Each kind alone; a file without the kind asked for says so.
  EXPECT_EQ(Tool({"list", "--icons", dll}).Out, dll + "\tIcon1\t5\t1033\t32x32 4-bit bmp\n");
  r = Tool({"list", "--icons", cur});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find(cur + ": no icons"), std::string::npos) << r.Err;
  r = Tool({"list", "--cursors", Fixture("three.dll")});
  EXPECT_NE(r.Err.find(": no cursors"), std::string::npos) << r.Err;

  const fs::path out = FDir / "cur";
  r = Tool({"extract", "-o", out.string(), dll, ani, cur});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_NE(r.Err.find("3 files, 1 icon and 5 cursors written (6 files)"), std::string::npos) << r.Err;
  EXPECT_EQ(Names(out), (std::vector<std::string>{"cursors.dll-Cursor1.cur", "cursors.dll-Cursor2.cur",
                                                  "cursors.dll-Icon1.ico", "pair.cur-Cursor1.cur",
                                                  "walk.ani-Cursor1.cur", "walk.ani-Cursor2.cur"}));
  // A .cur file and an .ani frame as stored; a group cursor with the colour counts the
  // resource does not keep.
  EXPECT_EQ(ReadAll(out / "pair.cur-Cursor1.cur"), ReadAll(cur));
  EXPECT_EQ(ReadAll(out / "walk.ani-Cursor1.cur"), ReadAll(Fixture("arrow.cur")));
  EXPECT_EQ(ReadAll(out / "walk.ani-Cursor2.cur"), ReadAll(cur));
  auto arrow = ReadAll(Fixture("arrow.cur"));
  ASSERT_GT(arrow.size(), 8u);
  EXPECT_EQ(arrow[8], 16);
  arrow[8] = 0;
  EXPECT_EQ(ReadAll(out / "cursors.dll-Cursor2.cur"), arrow);

  r = Tool({"extract", "--png", "--cursors", "-o", (FDir / "png").string(), dll});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(Names(FDir / "png"), (std::vector<std::string>{"cursors.dll-Cursor1-16x16-4bit-hotspot1,2.png",
                                                           "cursors.dll-Cursor1-32x32-32bit-hotspot30,3.png",
                                                           "cursors.dll-Cursor2-32x32-4bit-hotspot5,7.png"}));
  // A file of cursors only gives its first cursor as thumbnail.
  r = Tool({"thumbnail", ani, (FDir / "ani.png").string(), "32"});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_TRUE(fs::exists(FDir / "ani.png"));
  // A program's is its icon, never a cursor: three1.ico's red.
  r = Tool({"thumbnail", dll, (FDir / "dll.png").string(), "32"});
  ASSERT_EQ(r.Status, ExitOk) << r.Err;
  const auto png = ReadAll(FDir / "dll.png");
  TRgbaImage img;
  std::string problem;
  ASSERT_TRUE(DecodePng(png.data(), png.size(), img, problem)) << problem;
  EXPECT_EQ(std::vector<int>(&img.Pixels[(16 * 32 + 16) * 4], &img.Pixels[(16 * 32 + 16) * 4] + 4),
            (std::vector<int>{255, 0, 0, 255}));
}

TEST(ExportChoices, NumberListsAndResourceNames) {
  TNumberChoice c;
  ASSERT_TRUE(c.Parse("3,5-7,10-"));
  for (std::uint32_t n : {3u, 5u, 6u, 7u, 10u, 4000000000u}) EXPECT_TRUE(c.Has(n)) << n;
  for (std::uint32_t n : {1u, 2u, 4u, 8u, 9u}) EXPECT_FALSE(c.Has(n)) << n;
  for (const char* bad : {"", ",", "1,", "-3", "a", "2-1", "0", "1-2-3", "99999999999"}) EXPECT_FALSE(c.Parse(bad)) << bad;
  TResourceChoice r;
  TIconGroup numbered, named, plain;
  numbered.HasResource = named.HasResource = true;
  numbered.ResourceId = 101;
  named.ResourceName = "MainIcon";
  ASSERT_TRUE(r.Parse("101"));
  EXPECT_TRUE(r.Matches(numbered));
  EXPECT_FALSE(r.Matches(named));
  EXPECT_FALSE(r.Matches(plain));  // an .ico file's group has no resource
  ASSERT_TRUE(r.Parse("MAINicon"));
  EXPECT_TRUE(r.Matches(named));
  EXPECT_FALSE(r.Matches(numbered));
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
