// The file check built natively (with the address and undefined-behaviour sanitizers)
// for the fuzz driver: reads file names, one a line, on standard input and answers each
// with "1" (sound) or "0" (refused) and the microseconds the check took. A read the
// check asks for outside the file, or anything the sanitizers catch, ends the program.
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
    const bool sound = IconSourceIsSound(bytes.size(), [&](std::uint64_t offset, void* buffer, std::size_t length) {
      if (offset > bytes.size() || length > bytes.size() - offset) {
        std::fprintf(stderr, "fuzzcheck: %s: read of %zu bytes at %llu, outside the file\n", name.c_str(), length,
                     static_cast<unsigned long long>(offset));
        std::abort();
      }
      if (length) std::memcpy(buffer, bytes.data() + offset, length);
      return true;
    });
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::printf("%d %lld\n", sound ? 1 : 0, static_cast<long long>(us.count()));
    std::fflush(stdout);
  }
  return 0;
}
