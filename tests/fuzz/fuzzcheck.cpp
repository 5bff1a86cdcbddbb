// The file check built natively (with the address and undefined-behaviour sanitizers)
// for the fuzz driver: reads file names, one a line, on standard input and answers each
// with "1" (sound) or "0" (refused) and the microseconds the check took. Every image of
// a file the check passes, bitmap or PNG, then goes through the export tool's decoders
// and its reduction, as a thumbnail would (not timed). A read the check asks for outside the
// file, or anything the sanitizers catch, ends the program.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "collect/iconfilecheck.h"
#include "iconfile/iconfile.h"
#include "iconfile/iconimage.h"
#include "iconfile/pngcodec.h"

int main() {
  std::string name;
  while (std::getline(std::cin, name)) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "fuzzcheck: cannot read %s\n", name.c_str());
      return 2;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    const TReadAt readAt = [&](std::uint64_t offset, void* buffer, std::size_t length) {
      if (offset > bytes.size() || length > bytes.size() - offset) {
        std::fprintf(stderr, "fuzzcheck: %s: read of %zu bytes at %llu, outside the file\n", name.c_str(), length,
                     static_cast<unsigned long long>(offset));
        std::abort();
      }
      if (length) std::memcpy(buffer, bytes.data() + offset, length);
      return true;
    };
    const bool sound = IconSourceIsSound(bytes.size(), readAt);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    if (sound) {
      // The decoder must take whatever the reader lists; whether it decodes or refuses
      // an image, only a fault counts.
      for (const TIconGroup& group : ReadIconFile(bytes.size(), readAt).Groups)
        for (const TIconImage& image : group.Images) {
          std::vector<unsigned char> data;
          if (!image.Sound || !ReadImageBytes(readAt, image, data, true)) continue;
          TRgbaImage rgba;
          std::string problem;
          const bool decoded = image.Png ? DecodePng(data.data(), data.size(), rgba, problem)
                                         : DecodeBitmapImage(data.data(), data.size(), rgba, problem);
          if (decoded)
            ScaleDown(rgba, (rgba.Width + 1) / 2, (rgba.Height + 1) / 2);
        }
    }
    std::printf("%d %lld\n", sound ? 1 : 0, static_cast<long long>(us.count()));
    std::fflush(stdout);
  }
  return 0;
}
