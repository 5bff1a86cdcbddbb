// The thumbnail command's work on any file: the reader judging what the first icon
// needs, the choice among its images, the decoders within their budget and the
// reduction. A thumbnail made is a PNG the decoder reads, no larger than asked for; where
// the whole file is sound, the first icon read alone is sound and the same.
#include "cli/exporttool.h"
#include "fuzzinput.h"
#include "iconfile/pngcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::TTimed timed(size);
  TIconFile file = ReadIconFile(size, fuzzinput::Reader(data, size), TIconScope::FirstIcon);
  const TIconFile whole = ReadIconFile(size, fuzzinput::Reader(data, size));
  if (whole.Sound && !whole.Groups.empty()) {
    if (!file.Sound || file.Groups.empty()) fuzzinput::Broken("the first icon alone refused where the whole file is sound");
    const auto& a = file.Groups[0].Images;
    const auto& b = whole.Groups[0].Images;
    bool same = a.size() == b.size();
    for (std::size_t i = 0; same && i < a.size(); ++i) same = a[i].Offset == b[i].Offset && a[i].Size == b[i].Size;
    if (!same) fuzzinput::Broken("the first icon read alone differs from the whole file's");
  }
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
