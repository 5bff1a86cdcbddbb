// The PNG decoder on any bytes: never a fault; an image it decodes encodes and decodes
// back to the same pixels.
#include "fuzzinput.h"
#include "iconfile/pngcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::TTimed timed(size);
  TRgbaImage image;
  std::string problem;
  if (!DecodePng(data, size, image, problem)) {
    if (problem.empty()) fuzzinput::Broken("a refused PNG without a reason");
    return 0;
  }
  if (image.Pixels.size() != std::size_t{image.Width} * image.Height * 4) fuzzinput::Broken("a PNG's pixels are short");
  // Round trips only for small images: encoding is the writer's cost, not the reader's.
  if (std::size_t{image.Width} * image.Height <= 256 * 256) {
    const std::vector<unsigned char> again = EncodePng(image, 1);
    TRgbaImage back;
    if (!DecodePng(again.data(), again.size(), back, problem) || back.Pixels != image.Pixels)
      fuzzinput::Broken("a decoded PNG does not survive writing and reading again");
  }
  return 0;
}
