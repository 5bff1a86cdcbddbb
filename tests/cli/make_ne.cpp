// Writes a small 16-bit (NE) program with one icon, for the thumbnailer test:
//   glyphdock_make_ne OUT.exe
#include <cstdio>

#include "collect/hostile_files.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const hostile::TBytes bytes = hostile::NeFile().Bytes;
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) return 1;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}
