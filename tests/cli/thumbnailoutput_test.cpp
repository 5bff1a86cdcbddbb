// Where the thumbnail goes: into OUT itself, which a thumbnail service made and holds
// open, or to standard output; never a file that a reader could take for a whole PNG
// before it is one.
#include "cli/clitest.h"
#include "cli/exportfiles.h"
#include "cli/exporttool.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <tuple>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using clitest::Fixture;
using clitest::ReadAll;

int RunTool(const std::vector<std::string>& args, std::string& out, std::string& err) {
  const clitest::TRun r = clitest::Tool(args);
  out = r.Out;
  err = r.Err;
  return r.Status;
}

const unsigned char PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

class ThumbnailOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(Fixture("png256.dll"))) GTEST_SKIP() << "fixtures not built in " << GLYPHDOCK_FIXTURE_DIR;
    FDir = clitest::MakeScratch("glyphdock-thumbnail-test-");
  }
  void TearDown() override { clitest::RemoveScratch(FDir); }
  fs::path FDir;
};

#ifndef _WIN32
// As a thumbnail service does it: it makes OUT, keeps it open, runs the command, then
// reads the PNG through the descriptor it already holds.
TEST_F(ThumbnailOutput, AHolderOfOutReadsTheWholePngThroughItsDescriptor) {
  const fs::path out = FDir / "held.png";
  const int held = open(out.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(held, 0);
  struct stat before {};
  ASSERT_EQ(fstat(held, &before), 0);
  std::string stdoutText, err;
  ASSERT_EQ(RunTool({"thumbnail", Fixture("png256.dll"), out.string(), "128"}, stdoutText, err), ExitOk) << err;
  std::vector<unsigned char> seen(1 << 20);
  const ssize_t got = pread(held, seen.data(), seen.size(), 0);
  close(held);
  ASSERT_GT(got, 8);
  seen.resize(static_cast<std::size_t>(got));
  EXPECT_TRUE(std::equal(PngSignature, PngSignature + 8, seen.begin()));
  EXPECT_EQ(seen, ReadAll(out)) << "the name and the held descriptor are one file";
  struct stat after {};
  ASSERT_EQ(stat(out.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 0777, 0600u) << "the holder's file keeps its mode";
  EXPECT_TRUE(stdoutText.empty());
}

// A write that fails half-way (here the file size limit) leaves no part of a PNG: a file
// the call made is gone, one that was there is empty.
TEST_F(ThumbnailOutput, AWriteCutShortLeavesNoPartOfAPng) {
  std::vector<unsigned char> png(PngSignature, PngSignature + 8);
  png.resize(5000, 0x42);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string problemNew, problemOld;
  const fs::path made = FDir / "new.png", existing = FDir / "old.png";
  std::ofstream(existing, std::ios::binary) << "an older thumbnail";
  const bool wroteNew = WriteFileInPlace(made.string(), png, 8, problemNew);
  const bool wroteOld = WriteFileInPlace(existing.string(), png, 8, problemOld);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(wroteNew);
  EXPECT_FALSE(problemNew.empty());
  EXPECT_FALSE(fs::exists(made));
  EXPECT_FALSE(wroteOld);
  EXPECT_EQ(fs::file_size(existing), 0u);
}
#endif

TEST_F(ThumbnailOutput, AnOlderLongerFileIsReplacedWholly) {
  const fs::path out = FDir / "old.png";
  std::ofstream(out, std::ios::binary) << std::string(300000, 'x');
  std::string stdoutText, err;
  ASSERT_EQ(RunTool({"thumbnail", Fixture("png256.dll"), out.string(), "64"}, stdoutText, err), ExitOk) << err;
  const auto png = ReadAll(out);
  TRgbaImage img;
  std::string problem;
  ASSERT_TRUE(DecodeIconImage(png, img, problem)) << problem;
  EXPECT_EQ(img.Width, 64u);
  EXPECT_EQ(png.size(), fs::file_size(out));
  EXPECT_LT(png.size(), 300000u);
}

TEST_F(ThumbnailOutput, DashWritesThePngToStandardOutputOnly) {
  std::string viaFile, viaStdout, err;
  const fs::path out = FDir / "file.png";
  ASSERT_EQ(RunTool({"thumbnail", Fixture("png256.dll"), out.string(), "48"}, viaFile, err), ExitOk) << err;
  const fs::path cwd = fs::current_path();
  fs::current_path(FDir);
  const int status = RunTool({"thumbnail", Fixture("png256.dll"), "-", "48"}, viaStdout, err);
  fs::current_path(cwd);
  ASSERT_EQ(status, ExitOk) << err;
  const auto file = ReadAll(out);
  EXPECT_EQ(std::vector<unsigned char>(viaStdout.begin(), viaStdout.end()), file);
  EXPECT_TRUE(err.empty()) << err;
  EXPECT_FALSE(fs::exists(FDir / "-"));
  // A file without icons writes nothing there either, and says why on standard error.
  EXPECT_EQ(RunTool({"thumbnail", Fixture("noicons.dll"), "-", "48"}, viaStdout, err), ExitSomeFileFailed);
  EXPECT_TRUE(viaStdout.empty());
  EXPECT_FALSE(err.empty());
}

TEST_F(ThumbnailOutput, AnOutThatCannotBeWrittenIsNamed) {
  std::string stdoutText, err;
  const fs::path out = FDir / "missing-folder" / "t.png";
  EXPECT_EQ(RunTool({"thumbnail", Fixture("png256.dll"), out.string(), "48"}, stdoutText, err), ExitSomeFileFailed);
  EXPECT_NE(err.find(out.string()), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(out));
}

// What the first icon needs, judged alone, is what the whole file's verdict says of
// that icon: for every PE file of Wine's system folder that the whole-file read passes.
TEST(FirstIconScope, GivesTheWholeFilesFirstIconForEveryWinePeFile) {
  const fs::path system = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  if (!fs::is_directory(system)) GTEST_SKIP() << system << " is missing";
  std::size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(system)) {
    if (!entry.is_regular_file()) continue;
    TInputFile file;
    std::string problem;
    if (!file.Open(entry.path().string(), problem)) continue;
    const TIconFile whole = ReadIconFile(file.Size(), file.Reader());
    const TIconFile first = ReadIconFile(file.Size(), file.Reader(), TIconScope::FirstIcon);
    if (whole.Form != TIconFileForm::Pe || !whole.Sound) continue;
    ASSERT_TRUE(first.Sound) << entry.path() << ": " << first.Problem;
    ASSERT_EQ(first.Groups.size(), std::min<std::size_t>(1, whole.Groups.size())) << entry.path();
    if (whole.Groups.empty()) continue;
    const auto& a = whole.Groups[0].Images;
    const auto& b = first.Groups[0].Images;
    ASSERT_EQ(a.size(), b.size()) << entry.path();
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(std::tie(a[i].Offset, a[i].Size, a[i].Width, a[i].Height, a[i].BitCount, a[i].Png, a[i].Sound),
                std::tie(b[i].Offset, b[i].Size, b[i].Width, b[i].Height, b[i].BitCount, b[i].Png, b[i].Sound))
          << entry.path() << " image " << i;
    }
    ++compared;
  }
  EXPECT_GE(compared, 15u) << "Wine's files with icons";
}

// A later icon's broken image refuses the whole file, not its first icon's thumbnail; a
// broken image of the first icon refuses both.
TEST_F(ThumbnailOutput, OnlyTheFirstIconsStructuresDecideTheThumbnail) {
  const auto original = ReadAll(Fixture("three.dll"));
  const auto read = [](const std::vector<unsigned char>& bytes, TIconScope scope) {
    return ReadIconFile(bytes.size(),
                        [&bytes](std::uint64_t at, void* to, std::size_t n) {
                          if (at > bytes.size() || n > bytes.size() - at) return false;
                          std::memcpy(to, bytes.data() + at, n);
                          return true;
                        },
                        scope);
  };
  const TIconFile whole = read(original, TIconScope::WholeFile);
  ASSERT_TRUE(whole.Sound);
  ASSERT_EQ(whole.Groups.size(), 3u);
  for (std::size_t broken : {std::size_t{2}, std::size_t{0}}) {
    auto bytes = original;
    // The bitmap header states a size no decoder measures safely.
    const TIconImage& image = whole.Groups[broken].Images.front();
    ASSERT_FALSE(image.Png);
    bytes[image.Offset] = 0xFF;
    bytes[image.Offset + 1] = 0xFF;
    const fs::path in = FDir / ("broken" + std::to_string(broken) + ".dll");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    EXPECT_FALSE(read(bytes, TIconScope::WholeFile).Sound) << broken;
    std::string stdoutText, err;
    const int status = RunTool({"thumbnail", in.string(), "-", "32"}, stdoutText, err);
    if (broken == 0) {
      EXPECT_EQ(status, ExitSomeFileFailed);
      EXPECT_TRUE(stdoutText.empty());
    } else {
      EXPECT_EQ(status, ExitOk) << err;
      std::string fromOriginal;
      RunTool({"thumbnail", Fixture("three.dll"), "-", "32"}, fromOriginal, err);
      EXPECT_EQ(stdoutText, fromOriginal);
    }
  }
}

// A PNG image that fits goes out exactly as stored; a larger one is reduced.
TEST_F(ThumbnailOutput, AFittingPngImageIsPassedOnAsStored) {
  std::string out256, out64, err;
  ASSERT_EQ(RunTool({"thumbnail", Fixture("png256.dll"), "-", "256"}, out256, err), ExitOk) << err;
  ASSERT_EQ(RunTool({"extract", "--png", "--size", "256", "-o", (FDir / "x").string(), Fixture("png256.dll")}, out64, err),
            ExitOk)
      << err;
  const auto stored = ReadAll(FDir / "x" / "png256.dll-Icon1.png");
  EXPECT_EQ(std::vector<unsigned char>(out256.begin(), out256.end()), stored);
  ASSERT_EQ(RunTool({"thumbnail", Fixture("png256.dll"), "-", "64"}, out64, err), ExitOk) << err;
  TRgbaImage img;
  std::string problem;
  ASSERT_TRUE(DecodeIconImage(std::vector<unsigned char>(out64.begin(), out64.end()), img, problem)) << problem;
  EXPECT_EQ(img.Width, 64u);
}

}  // namespace
