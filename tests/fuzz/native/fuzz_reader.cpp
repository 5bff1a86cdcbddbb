// The icon-file reader's verdict on any bytes: never a fault, and a sound file's listing
// keeps its promises (every image it calls sound lies inside the file).
#include "fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::TTimed timed(size);
  const TIconFile file = ReadIconFile(size, fuzzinput::Reader(data, size));
  if (!file.Sound && !file.Groups.empty()) fuzzinput::Broken("a refused file lists icons");
  if (file.Sound != file.Problem.empty()) fuzzinput::Broken("a verdict without its reason, or a reason without it");
  // Read with its cursors (as glyphdock-export reads files): the verdict on a program or
  // an icon file and its icons stay the same; only an animated cursor may be refused.
  const TIconFile withCursors = ReadIconFile(size, fuzzinput::Reader(data, size), TIconScope::WholeFile, true);
  if (withCursors.Form != TIconFileForm::Ani &&
      (withCursors.Sound != file.Sound || withCursors.Groups.size() != file.Groups.size()))
    fuzzinput::Broken("reading the cursors changed the verdict or the icons");
  if (!withCursors.Sound && !withCursors.Cursors.empty()) fuzzinput::Broken("a refused file lists cursors");
  for (const TIconFile* read : {&file, &withCursors})
    for (const auto* kind : {&read->Groups, &read->Cursors})
      for (const TIconGroup& group : *kind)
        for (const TIconImage& image : group.Images) {
          if (!image.Sound) continue;
          if (image.Offset > size || image.Size > size - image.Offset) fuzzinput::Broken("a sound image lies outside the file");
          if (image.DecodeBytes > image.Size) fuzzinput::Broken("the decoders would read past an image");
        }
  return 0;
}
