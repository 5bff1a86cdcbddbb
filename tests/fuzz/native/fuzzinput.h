// What the libFuzzer harnesses share: the input as a byte source for the icon-file
// reader, and a note of the slowest input in processor time (on a busy machine the
// clock says little), printed when the run ends (libFuzzer itself reports slow inputs
// only in whole seconds of the clock).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "iconfile/iconfile.h"

namespace fuzzinput {

inline TReadAt Reader(const std::uint8_t* data, std::size_t size) {
  return [data, size](std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > size || length > size - offset) return false;
    if (length) std::memcpy(buffer, data + offset, length);
    return true;
  };
}

// The images the export tool uses: those the reader found sound.
inline void DropUnsound(TIconFile& file) {
  for (TIconGroup& group : file.Groups) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < group.Images.size(); ++i)
      if (group.Images[i].Sound) group.Images[kept++] = group.Images[i];
    group.Images.resize(kept);
  }
}

// A broken promise of the code under test: reported as a crash, with the reason.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

class TSlowest {
 public:
  ~TSlowest() {
    if (FRuns) std::fprintf(stderr, "slowest input: %.1f ms (%zu bytes) of %llu\n", FMs, FSize, FRuns);
  }
  void Note(double ms, std::size_t size) {
    ++FRuns;
    if (ms > FMs) FMs = ms, FSize = size;
  }

 private:
  double FMs = 0;
  std::size_t FSize = 0;
  unsigned long long FRuns = 0;
};

// Times one run of the harness's body.
class TTimed {
 public:
  explicit TTimed(std::size_t size) : FSize(size) {}
  ~TTimed() {
    static TSlowest slowest;
    slowest.Note(1000.0 * static_cast<double>(std::clock() - FStart) / CLOCKS_PER_SEC, FSize);
  }

 private:
  std::size_t FSize;
  std::clock_t FStart = std::clock();
};

}  // namespace fuzzinput
