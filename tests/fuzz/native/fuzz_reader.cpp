// The icon-file reader's verdict on any bytes: never a fault, and a sound file's listing
// keeps its promises (every image it calls sound lies inside the file).
#include "fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::TTimed timed(size);
  const TIconFile file = ReadIconFile(size, fuzzinput::Reader(data, size));
  if (!file.Sound && !file.Groups.empty()) fuzzinput::Broken("a refused file lists icons");
  if (file.Sound != file.Problem.empty()) fuzzinput::Broken("a verdict without its reason, or a reason without it");
  for (const TIconGroup& group : file.Groups)
    for (const TIconImage& image : group.Images) {
      if (!image.Sound) continue;
      if (image.Offset > size || image.Size > size - image.Offset) fuzzinput::Broken("a sound image lies outside the file");
      if (image.DecodeBytes > image.Size) fuzzinput::Broken("the decoders would read past an image");
    }
  return 0;
}
