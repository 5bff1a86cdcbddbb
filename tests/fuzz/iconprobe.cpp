// The fuzz driver's probe, run under Wine: for each file named in the list file it is
// given (one a line, "E name" or "C name"), times the program's own file check on it and,
// for an "E" line, counts the icons through the shell's extraction and extracts each one,
// as a collection does. It says "T name" before a file, "K microseconds verdict" after
// the check and "D count" at the end, so that when the shell crashes or hangs the driver
// knows which file did it; an unhandled fault is reported as "X code" and ends the process.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "collect/iconfilecheck.h"

namespace {
LONG WINAPI ReportFault(EXCEPTION_POINTERS* info) {
  std::printf("X %08lx\n", static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
  std::fflush(stdout);
  ExitProcess(3);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: iconprobe LISTFILE\n");
    return 2;
  }
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(ReportFault);
  FILE* list = std::fopen(argv[1], "r");
  if (!list) {
    std::fprintf(stderr, "iconprobe: cannot open %s\n", argv[1]);
    return 2;
  }
  HINSTANCE self = GetModuleHandleA(nullptr);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  char line[2048];
  while (std::fgets(line, sizeof line, list)) {
    line[std::strcspn(line, "\r\n")] = 0;
    if (!line[0]) continue;
    const bool extract = !(line[0] == 'C' && line[1] == ' ');
    const char* name = (line[0] == 'C' || line[0] == 'E') && line[1] == ' ' ? line + 2 : line;
    std::printf("T %s\n", name);
    std::fflush(stdout);
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    const bool sound = IconFileIsSound(name);
    QueryPerformanceCounter(&after);
    std::printf("K %lld %d\n", static_cast<long long>((after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart),
                sound ? 1 : 0);
    UINT count = 0;
    if (extract) {
      count = static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(self, name, static_cast<UINT>(-1))));
      for (UINT i = 0; i < count && i < 4096; ++i) {
        HICON icon = ExtractIconA(self, name, i);
        if (icon) DestroyIcon(icon);
      }
    }
    std::printf("D %u\n", count);
    std::fflush(stdout);
  }
  std::fclose(list);
  std::printf("E\n");
  return 0;
}
