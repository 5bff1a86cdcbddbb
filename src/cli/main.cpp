// glyphdock-export: the command line, built natively for Linux and as a Windows console
// program from the same source. See exporttool.h.
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define GLYPHDOCK_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define GLYPHDOCK_ISATTY(fd) isatty(fd)
#endif

#include "cli/exporttool.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const bool terminal = GLYPHDOCK_ISATTY(2) != 0;
  SetThumbnailLimits(true);
  const int status = RunExportTool(argc, argv, std::cout, std::cerr, terminal);
  std::cout.flush();
  return std::cout.good() ? status : 1;
}
