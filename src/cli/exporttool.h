// glyphdock-export: every icon of PE, NE and .ico files as stored, listed, written as
// .ico or PNG files, or reduced to one thumbnail. The parts the tests call directly are
// declared here; main() only hands over the command line.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "iconfile/iconfile.h"
#include "iconfile/iconimage.h"

// Exit statuses.
constexpr int ExitOk = 0;
constexpr int ExitSomeFileFailed = 1;
constexpr int ExitUsage = 2;

// Runs the command line (argv[0] is the program). Results go to `out`, messages and
// progress to `err`; `errIsTerminal` allows the progress line.
int RunExportTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool errIsTerminal);

// The image of a group whose longer side is nearest to `size`: on a tie the larger one
// (reducing looks better than enlarging), then the deeper, then the first.
std::size_t NearestImage(const TIconGroup& group, std::uint32_t size);

// The images of a group in the order a thumbnail of `size` tries them: those at least
// `size` a side, smallest first, then the smaller ones, largest first; deeper first
// among equal sides.
std::vector<std::size_t> ThumbnailOrder(const TIconGroup& group, std::uint32_t size);

// An .ico file of the given images, in order: the directory (each entry the group's
// stored width, height, colours, planes and bit count, with the image's length and
// place) followed by the images' bytes as stored. Entries given the same bytes (the same
// pointer) share one copy of them.
std::vector<unsigned char> BuildIcoFile(const std::vector<const TIconImage*>& images,
                                        const std::vector<std::vector<unsigned char>>& bytes);
std::vector<unsigned char> BuildIcoFile(const std::vector<const TIconImage*>& images,
                                        const std::vector<const std::vector<unsigned char>*>& bytes);

// ---- What one input file may cost --------------------------------------------------------
// Each budget is charged before the work it pays for; "stored bytes" are the bytes the
// input file really holds (a sparse file's holes do not count).
//
// Decoded pixels for extract --png, each image's counted once for decoding and, for a
// bitmap, twice more for encoding (the encoder tries five filters a row; a PNG image is
// copied once it decodes): enough for the largest PNG image the reader passes (4 M
// pixels), and two for each stored byte beyond that (real images store 1 to 4 bytes a
// pixel as bitmaps, about half a byte a pixel as PNG), about 140 ns each here: a 4 MB
// file costs at most about 1.7 s.
constexpr std::uint64_t ExtractPixelAllowance = 4u << 20;
constexpr std::uint64_t EncodeCostPerPixel = 2;
constexpr std::uint64_t ExtractPixelsPerInputByte = 2;
// Output bytes: four times the stored bytes and 1 MB (bitmaps decoded to PNG grow; a
// PNG image copied or an .ico written as stored does not). An image named by many
// entries of one icon is written once.
constexpr std::uint64_t OutputBytesPerInputByte = 4;
constexpr std::uint64_t OutputBytesAllowance = 1u << 20;
// Output files: 1,024, and one for each 64 stored bytes (no sound icon image is smaller).
constexpr std::uint64_t OutputFilesAllowance = 1024;
constexpr std::uint64_t InputBytesPerOutputFile = 64;
// An icon holds an image a size and depth: a few dozen at most. One with more is not
// written (an .ico file's directory would be mostly copies).
constexpr std::size_t MaxImagesPerIcon = 256;
// The thumbnail decodes at most this many pixels over all the images it tries (an
// image's bytes counted a quarter each): one of the largest PNG images the reader passes
// (4 M pixels, about 0.3 s here) with room for its bytes, or many smaller ones.
constexpr std::uint64_t ThumbnailPixels = 6u << 20;
// An .ico file's directory addresses its images in 32 bits.
constexpr std::uint64_t Max32Bytes = 0xFFFFFFFFu;

struct TOutputBudget {
  explicit TOutputBudget(std::uint64_t storedBytes);
  // One more output file of `bytes`; false with `why` when it would pass the budget.
  bool Output(std::uint64_t bytes, std::string& why);
  bool Exhausted() const { return Files == 0 || Bytes == 0; }
  std::uint64_t Pixels, Bytes, Files;
};

// Decodes a file's images, each charged to a budget of pixels before it is decoded. An
// image that fails is remembered by its place and fails again at no cost: a failing
// image is decoded at most once per file, however many entries name it.
class TImageDecoder {
 public:
  // `pixelsLeft` is the budget, shared with whatever else the file's pixels pay for.
  TImageDecoder(const TReadAt& readAt, std::uint64_t& pixelsLeft);
  bool Decode(const TIconImage& image, TRgbaImage& out, std::string& problem);
  // The PNG file last made of an image, kept so an image that the next entry names again
  // is not decoded and encoded again.
  bool Made(const TIconImage& image, std::vector<unsigned char>& png) const;
  void Keep(const TIconImage& image, const std::vector<unsigned char>& png);

 private:
  TReadAt FReadAt;
  std::uint64_t& FPixelsLeft;
  std::map<std::pair<std::uint64_t, std::uint32_t>, std::string> FFailed;
  std::pair<std::uint64_t, std::uint32_t> FMadePlace{~std::uint64_t{0}, 0};
  std::vector<unsigned char> FMade;
};

// One image as a PNG file for extract --png: a PNG image as stored, but only when it
// decodes; a bitmap decoded and encoded. False with `why` when it cannot be written.
bool PngOfImage(const TReadAt& readAt, const TIconImage& image, TImageDecoder& decoder, TOutputBudget& budget,
                std::vector<unsigned char>& png, std::string& why);
// The .ico file of a group's chosen images; false with `why` when there are none, an
// image cannot be read, or the output budget would be passed.
bool BuildIcoOfImages(const TReadAt& readAt, const TIconGroup& group, const std::vector<std::size_t>& chosen,
                      TOutputBudget& budget, std::vector<unsigned char>& ico, std::string& why);
// The thumbnail of the first icon as PNG bytes, tried in ThumbnailOrder within the
// budget of ThumbnailPixels; false with `problem` when no image decodes.
bool MakeThumbnail(const TIconFile& icons, const TReadAt& readAt, std::uint32_t size, std::vector<unsigned char>& png,
                   std::string& problem);

// The thumbnail command runs unattended, on every file a file manager shows: main()
// switches on its hard limits of processor time and address space (POSIX), which a
// test running the tool in its own process must not get.
void SetThumbnailLimits(bool on);

// A string as a JSON string literal, always valid UTF-8: each byte that does not belong
// to a well-formed UTF-8 sequence becomes U+FFFD.
std::string JsonString(const std::string& text);

// Decodes one image (bitmap or PNG bytes) to RGBA; false with `problem` when it cannot.
bool DecodeIconImage(const std::vector<unsigned char>& bytes, TRgbaImage& out, std::string& problem);
