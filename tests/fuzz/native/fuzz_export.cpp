// The export writers on any file, as extract and list use them: each .ico written holds
// the images chosen and reads back as a sound icon file; each PNG written decodes; the
// file's bytes taken as a name give valid UTF-8 JSON without raw control characters.
#include "cli/exporttool.h"
#include "fuzzinput.h"
#include "iconfile/pngcodec.h"

namespace {

bool ValidUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t i = 0, n = s.size(); i < n;) {
    const unsigned c = p[i];
    std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (!length || i + length > n) return false;
    std::uint32_t code = length == 1 ? c : length == 2 ? c & 31 : length == 3 ? c & 15 : c & 7;
    for (std::size_t k = 1; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      code = code << 6 | (p[i + k] & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
      return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::TTimed timed(size);
  const std::string json = JsonString(std::string(reinterpret_cast<const char*>(data), size));
  if (!ValidUtf8(json)) fuzzinput::Broken("JSON that is not UTF-8");
  for (unsigned char c : json)
    if (c < 0x20) fuzzinput::Broken("a raw control character in JSON");

  const TReadAt readAt = fuzzinput::Reader(data, size);
  // With the cursors, as extract reads files; a cursor is written as a .cur file.
  TIconFile file = ReadIconFile(size, readAt, TIconScope::WholeFile, true);
  fuzzinput::DropUnsound(file);
  std::swap(file.Groups, file.Cursors);
  fuzzinput::DropUnsound(file);
  std::swap(file.Groups, file.Cursors);
  TOutputBudget budget(size);
  TImageDecoder decoder(readAt, budget.Pixels);
  std::vector<const TIconGroup*> groups;
  for (const auto* kind : {&file.Groups, &file.Cursors})
    for (const TIconGroup& group : *kind) groups.push_back(&group);
  for (const TIconGroup* chosen : groups) {
    const TIconGroup& group = *chosen;
    if (group.Images.size() > MaxImagesPerIcon) continue;
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < group.Images.size(); ++i) all.push_back(i);
    std::vector<unsigned char> ico;
    std::string why;
    if (BuildIcoOfImages(readAt, group, all, budget, ico, why, group.Cursor ? 2 : 1)) {
      const TIconFile back = ReadIconFile(ico.size(), fuzzinput::Reader(ico.data(), ico.size()), TIconScope::WholeFile, true);
      const std::vector<TIconGroup>& read = group.Cursor ? back.Cursors : back.Groups;
      if (!back.Sound || read.size() != 1 || read[0].Images.size() != all.size())
        fuzzinput::Broken("an .ico or .cur written that does not read back whole");
      for (std::size_t i = 0; group.Cursor && i < all.size(); ++i)
        if (read[0].Images[i].HotspotX != group.Images[i].HotspotX || read[0].Images[i].HotspotY != group.Images[i].HotspotY)
          fuzzinput::Broken("a .cur written with other hot spots");
    } else if (why.empty() || !ico.empty()) {
      fuzzinput::Broken("an .ico refused without a reason, or with bytes");
    }
    for (const TIconImage& image : group.Images) {
      std::vector<unsigned char> png;
      if (!PngOfImage(readAt, image, decoder, budget, png, why)) continue;
      TRgbaImage pixels;
      if (!DecodePng(png.data(), png.size(), pixels, why)) fuzzinput::Broken("a PNG written that does not decode");
    }
  }
  return 0;
}
