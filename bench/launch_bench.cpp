// Start-up time: from CreateProcess to the program's main window being visible, for
// Glyphdock.exe and for the minimal window program beside it, measured alternately.
//
//   launch_bench [runs]   both programs are looked for beside this executable
//
// Prints "RESULT <key> <seconds>" lines (medians and every run) for run-bench.sh.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct TSearch {
  DWORD ProcessId;
  const char* ClassName;
  HWND Found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<TSearch*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != search->ProcessId || !IsWindowVisible(hwnd)) return TRUE;
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  if (lstrcmpA(name, search->ClassName) != 0) return TRUE;
  search->Found = hwnd;
  return FALSE;
}

// Starts exe, polls for its visible top-level window of the class, then asks the program
// to close as a user would and waits for its end. Gives the seconds to the window, or a
// negative value when no window came within the time allowed.
double TimeToWindow(const std::string& exe, const char* className) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + exe + "\"";
  const double start = Now();
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "cannot start %s (%lu)\n", exe.c_str(), GetLastError());
    return -1;
  }
  TSearch search{process.dwProcessId, className, nullptr};
  double seconds = -1;
  while (Now() - start < 30) {
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.Found) {
      seconds = Now() - start;
      break;
    }
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
  }
  if (search.Found) PostMessageA(search.Found, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "%s did not end after WM_CLOSE; terminating it\n", exe.c_str());
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return seconds;
}

std::string Beside(const char* name) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path = self;
  const std::size_t slash = path.find_last_of('\\');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string program = Beside("Glyphdock.exe");
  const std::string minimal = Beside("minimal_window.exe");
  // One start of each first: the first start of an executable loads it from disk.
  TimeToWindow(program, "TMainForm");
  TimeToWindow(minimal, "GlyphdockBenchMinimal");
  std::vector<double> programTimes, minimalTimes;
  for (int r = 0; r < runs; ++r) {
    const double p = TimeToWindow(program, "TMainForm");
    const double m = TimeToWindow(minimal, "GlyphdockBenchMinimal");
    std::printf("RESULT start_run_%d %.6f %.6f\n", r, p, m);
    if (p >= 0) programTimes.push_back(p);
    if (m >= 0) minimalTimes.push_back(m);
  }
  std::printf("RESULT start_runs %d\n", runs);
  std::printf("RESULT start_program %.6f\n", Median(programTimes));
  std::printf("RESULT start_minimal %.6f\n", Median(minimalTimes));
  return programTimes.size() == static_cast<std::size_t>(runs) && minimalTimes.size() == static_cast<std::size_t>(runs)
             ? 0 : 1;
}
