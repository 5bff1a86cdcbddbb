// The fuzz driver's probe, run under Wine: for each file named in the list file it is
// given (one a line), counts the icons through the shell's extraction and extracts each
// one, as a collection does. It says "T name" before a file and "D count" after it, so
// that when the shell crashes or hangs the driver knows which file did it; an unhandled
// fault is reported as "X code" and ends the process.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

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
  char line[2048];
  while (std::fgets(line, sizeof line, list)) {
    line[std::strcspn(line, "\r\n")] = 0;
    if (!line[0]) continue;
    std::printf("T %s\n", line);
    std::fflush(stdout);
    const UINT count = static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(self, line, static_cast<UINT>(-1))));
    for (UINT i = 0; i < count && i < 4096; ++i) {
      HICON icon = ExtractIconA(self, line, i);
      if (icon) DestroyIcon(icon);
    }
    std::printf("D %u\n", count);
    std::fflush(stdout);
  }
  std::fclose(list);
  std::printf("E\n");
  return 0;
}
