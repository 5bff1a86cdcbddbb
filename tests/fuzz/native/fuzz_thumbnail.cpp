// The thumbnail command's work on any file: the reader, the choice among the first
// icon's images, the decoders within their budget and the reduction. A thumbnail made is
// a PNG the decoder reads, no larger than asked for.
#include "cli/exporttool.h"
#include "fuzzinput.h"
#include "iconfile/pngcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::TTimed timed(size);
  TIconFile file = ReadIconFile(size, fuzzinput::Reader(data, size));
  fuzzinput::DropUnsound(file);
  // The size asked for from the file's last byte: small, the usual ones and odd ones.
  static const std::uint32_t sizes[] = {1, 16, 31, 48, 128, 256, 1000, 4096};
  const std::uint32_t side = size ? sizes[data[size - 1] % 8] : 128;
  std::vector<unsigned char> png;
  std::string problem;
  if (!MakeThumbnail(file, fuzzinput::Reader(data, size), side, png, problem)) {
    if (problem.empty()) fuzzinput::Broken("no thumbnail and no reason");
    return 0;
  }
  TRgbaImage image;
  if (!DecodePng(png.data(), png.size(), image, problem)) fuzzinput::Broken("a thumbnail that does not decode");
  if (image.Width > side || image.Height > side) fuzzinput::Broken("a thumbnail larger than asked for");
  return 0;
}
