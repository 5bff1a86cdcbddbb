// The reader's and the export tool's budgets on the hostile shapes of the regression
// corpus (tests/fuzz/corpus, written by tests/fuzz/make_hostile.py), and the outputs the
// tool refuses to report as written when they are not whole.
#include "cli/exporttool.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <random>
#include <sstream>

#include "cli/clitest.h"
#include "cli/exportfiles.h"
#include "iconfile/pngcodec.h"

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<unsigned char>;

TBytes Corpus(const char* name) {
  std::ifstream in(std::string(GLYPHDOCK_CORPUS_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A byte source over memory that counts the bytes read at or after `watch`.
struct TCountingSource {
  const TBytes& Bytes;
  std::uint64_t Watch = 0;
  std::uint64_t Watched = 0, Total = 0;
  TReadAt Reader() {
    return [this](std::uint64_t offset, void* buffer, std::size_t length) {
      if (offset > Bytes.size() || length > Bytes.size() - offset) return false;
      if (length) std::memcpy(buffer, Bytes.data() + offset, length);
      Total += length;
      if (offset >= Watch) Watched += length;
      return true;
    };
  }
};

TIconFile Read(const TBytes& b) {
  TCountingSource source{b};
  return ReadIconFile(b.size(), source.Reader());
}

using clitest::Tool;
using clitest::TRun;

class Budgets : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Corpus("empty-group.dll").empty()) GTEST_SKIP() << "no regression corpus in " << GLYPHDOCK_CORPUS_DIR;
    FDir = clitest::MakeScratch("glyphdock-budget-test-");
  }
  void TearDown() override { clitest::RemoveScratch(FDir); }
  std::string Write(const std::string& name, const TBytes& bytes) {
    const fs::path p = FDir / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  std::size_t FilesIn(const fs::path& dir) {
    std::size_t n = 0;
    std::error_code e;
    for (auto it = fs::directory_iterator(dir, e); !e && it != fs::directory_iterator(); ++it) ++n;
    return n;
  }
  fs::path FDir;
};

// Class 1: an icon naming only images the file lacks gives no file and status 1, with or
// without --size (which once read the first image of the empty list).
TEST_F(Budgets, AnIconWithoutImagesIsNeverWritten) {
  const std::string in = Write("empty-group.dll", Corpus("empty-group.dll"));
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, {"--size", "32"}, {"--png"}, {"--png", "--size", "32"}}) {
    std::vector<std::string> args{"extract"};
    args.insert(args.end(), extra.begin(), extra.end());
    const fs::path out = FDir / ("out" + std::to_string(args.size()) + (extra.empty() ? "" : extra[0]));
    args.insert(args.end(), {"-o", out.string(), in});
    const TRun r = Tool(args);
    EXPECT_EQ(r.Status, ExitSomeFileFailed) << r.Err;
    EXPECT_EQ(FilesIn(out), 0u) << r.Err;
    EXPECT_NE(r.Err.find("Icon1: no images"), std::string::npos) << r.Err;
  }
}

// Class 2: one failing PNG named by 200 entries is read (and decoded) once.
TEST_F(Budgets, AFailingImageIsDecodedOncePerFile) {
  const TBytes b = Corpus("failing-png.ico");
  const TIconFile icons = Read(b);
  ASSERT_TRUE(icons.Sound) << icons.Problem;
  ASSERT_EQ(icons.Groups[0].Images.size(), 200u);
  TCountingSource source{b, icons.Groups[0].Images[0].Offset};
  std::vector<unsigned char> png;
  std::string problem;
  EXPECT_FALSE(MakeThumbnail(icons, source.Reader(), 128, png, problem));
  EXPECT_EQ(problem, "the PNG image has an unknown row filter");
  EXPECT_EQ(source.Watched, icons.Groups[0].Images[0].DecodeBytes);
  EXPECT_TRUE(png.empty());
}

// The budgets leave room for the largest image the reader passes: a lone 2048 x 2048 PNG
// gives its thumbnail.
TEST_F(Budgets, TheLargestImageStillGivesAThumbnail) {
  TRgbaImage big;
  big.Width = big.Height = 2048;
  big.Pixels.assign(std::size_t{2048} * 2048 * 4, 200);
  const TBytes png = EncodePng(big, 1);
  TBytes ico = {0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 32, 0};
  for (std::uint32_t v : {static_cast<std::uint32_t>(png.size()), 22u})
    for (int k = 0; k < 4; ++k) ico.push_back(static_cast<unsigned char>(v >> (8 * k)));
  ico.insert(ico.end(), png.begin(), png.end());
  const TIconFile icons = Read(ico);
  ASSERT_TRUE(icons.Sound) << icons.Problem;
  TCountingSource source{ico};
  std::vector<unsigned char> thumbnail;
  std::string problem;
  ASSERT_TRUE(MakeThumbnail(icons, source.Reader(), 256, thumbnail, problem)) << problem;
  TRgbaImage small;
  ASSERT_TRUE(DecodePng(thumbnail.data(), thumbnail.size(), small, problem)) << problem;
  EXPECT_EQ(small.Width, 256u);
  EXPECT_EQ(small.Pixels[0], 200);
}

// Classes 3 and 4: icons x entries are charged before the lookups, so a small file
// naming one group of thousands of entries from every icon is refused, 16-bit or not.
TEST_F(Budgets, IconsTimesEntriesAreChargedBeforeTheLookups) {
  for (const char* name : {"ne-lookups.exe", "pe-pairs.dll"}) {
    const TIconFile icons = Read(Corpus(name));
    EXPECT_FALSE(icons.Sound) << name;
    EXPECT_EQ(icons.Problem, "the file's icons list more images than any icon library") << name;
    EXPECT_TRUE(icons.Groups.empty());
  }
}

// Class 5: a stated length far past what the decoder reads is never read for a thumbnail,
// and one past MaxImageBytes is refused before anything is allocated or read.
TEST_F(Budgets, OnlyTheBytesADecoderReadsAreRead) {
  const TBytes b = Corpus("long-stated.ico");
  const TIconFile icons = Read(b);
  ASSERT_TRUE(icons.Sound) << icons.Problem;
  const TIconImage& image = icons.Groups[0].Images[0];
  ASSERT_GT(image.Size, 60000u);
  EXPECT_EQ(image.DecodeBytes, 40u + 16 * 16 * 4 + 16 * 4);  // header, colour rows, mask rows
  TCountingSource source{b, image.Offset};
  std::vector<unsigned char> png;
  std::string problem;
  ASSERT_TRUE(MakeThumbnail(icons, source.Reader(), 16, png, problem)) << problem;
  EXPECT_EQ(source.Watched, image.DecodeBytes);

  TIconImage huge = image;
  huge.Size = huge.DecodeBytes = 0xFFFFF000u;
  bool read = false;
  std::vector<unsigned char> bytes(10);
  EXPECT_FALSE(ReadImageBytes([&read](std::uint64_t, void*, std::size_t) { return read = true; }, huge, bytes));
  EXPECT_FALSE(read);
  EXPECT_TRUE(bytes.empty());
}

// Class 6: an image named by every entry of an icon is written once in its .ico, which
// still lists every entry; an icon of more images than any icon holds is not written.
TEST_F(Budgets, AnImageNamedAgainIsWrittenOnce) {
  const TBytes b = Corpus("one-image-many.ico");
  const std::string in = Write("many.ico", b);
  TRun r = Tool({"extract", "-o", (FDir / "out").string(), in});
  ASSERT_EQ(r.Status, ExitOk) << r.Err;
  const fs::path ico = FDir / "out" / "many.ico-Icon1.ico";
  EXPECT_EQ(fs::file_size(ico), b.size());  // the same layout: the directory, the image once
  std::ifstream written(ico, std::ios::binary);
  const TBytes w{std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>()};
  const TIconFile back = Read(w);
  ASSERT_TRUE(back.Sound) << back.Problem;
  EXPECT_EQ(back.Groups[0].Images.size(), 200u);

  r = Tool({"extract", "-o", (FDir / "names").string(), Write("names.ico", Corpus("png-names.ico"))});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find("2000 images, more than any icon holds"), std::string::npos) << r.Err;
  EXPECT_EQ(FilesIn(FDir / "names"), 0u);
}

// Class 7: a PNG image is written only when it decodes.
TEST_F(Budgets, APngThatDoesNotDecodeIsNotWritten) {
  const TRun r = Tool({"extract", "--png", "-o", (FDir / "out").string(), Write("crc.ico", Corpus("bad-crc-png.ico"))});
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find("a PNG chunk's checksum is wrong"), std::string::npos) << r.Err;
  EXPECT_EQ(FilesIn(FDir / "out"), 0u);
}

TEST_F(Budgets, NamesAreEscapedInListings) {
  const TBytes ico = Corpus("long-stated.ico");
  const std::string name = Write("two\nlines\t.ico", ico);
  TRun r = Tool({"list", name});
  ASSERT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_EQ(r.Out, (FDir / "two\\x0alines\\x09.ico").string() + "\tIcon1\t-\t-\t16x16 32-bit bmp\n");
  // Lead bytes F5-FF open no sequence: each is replaced, the bytes after it kept.
  EXPECT_EQ(JsonString("\xF5\x80\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonString("\xFF" "a"), "\"\xEF\xBF\xBD" "a\"");
  EXPECT_EQ(JsonString("\xF4\x8F\xBF\xBF"), "\"\xF4\x8F\xBF\xBF\"");  // U+10FFFF, the last there is
}

TEST_F(Budgets, AnOutputThatIsNoPlainFileIsLeftAlone) {
  const std::string in = Write("small.ico", Corpus("long-stated.ico"));
  const fs::path fifo = FDir / "fifo.png";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path folder = FDir / "folder.png";
  fs::create_directories(folder);
  for (const fs::path& out : {fifo, folder}) {
    const TRun r = Tool({"thumbnail", in, out.string(), "16"});
    EXPECT_EQ(r.Status, ExitSomeFileFailed) << out;
    EXPECT_NE(r.Err.find("left as it is"), std::string::npos) << r.Err;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(FilesIn(FDir), 3u);  // no temporary file left beside them

  // A name of 250 bytes, near the platform's limit of 255: the temporary name fits too.
  const fs::path longName = FDir / (std::string(246, 'n') + ".png");
  const TRun r = Tool({"thumbnail", in, longName.string(), "16"});
  EXPECT_EQ(r.Status, ExitOk) << r.Err;
  EXPECT_TRUE(fs::is_regular_file(longName));
}

TEST_F(Budgets, AFolderThatCannotBeReadIsNamedAndCounted) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root, which reads every folder";
  const fs::path in = FDir / "in";
  fs::create_directories(in / "closed");
  fs::create_directories(in / "open");
  Write("in/open/a.ico", Corpus("long-stated.ico"));
  fs::permissions(in / "closed", fs::perms::none);
  const TRun r = Tool({"extract", "-r", "-o", (FDir / "out").string(), in.string()});
  fs::permissions(in / "closed", fs::perms::owner_all);
  EXPECT_EQ(r.Status, ExitSomeFileFailed);
  EXPECT_NE(r.Err.find((in / "closed").string() + ": cannot be read"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("1 icon written (1 file); 0 without icons, 1 refused or unreadable"), std::string::npos) << r.Err;
}

// The thumbnail's own limits hold in the process that sets them: an allocation past the
// address space fails there.
TEST(ThumbnailLimits, AnAllocationPastTheAddressSpaceFails) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string problem;
    if (!LimitThumbnailResources(problem)) _exit(3);
    struct rlimit cpu {};
    getrlimit(RLIMIT_CPU, &cpu);
    if (cpu.rlim_cur > ThumbnailCpuSeconds) _exit(4);
    try {
      std::vector<unsigned char> big(static_cast<std::size_t>(ThumbnailAddressSpace) + (64u << 20), 1);
      _exit(big[12345] == 1 ? 5 : 6);
    } catch (const std::bad_alloc&) {
      _exit(0);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
