// The bitmap icon decoder on any bytes: never a fault; an image it decodes has the
// sides it promises and all their pixels.
#include "fuzzinput.h"
#include "iconfile/iconimage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::TTimed timed(size);
  TRgbaImage image;
  std::string problem;
  if (DecodeBitmapImage(data, size, image, problem)) {
    if (image.Width < 1 || image.Height < 1 || image.Width > MaxIconSide || image.Height > MaxIconSide)
      fuzzinput::Broken("a decoded bitmap has sides out of range");
    if (image.Pixels.size() != std::size_t{image.Width} * image.Height * 4) fuzzinput::Broken("a bitmap's pixels are short");
  } else if (problem.empty()) {
    fuzzinput::Broken("a refused bitmap without a reason");
  }
  return 0;
}
