// Collection and export figures of the program's own code, measured in one process that
// builds the program's three windows as the start-up body does, next to the bare
// platform loop over the same files.
//
//   collect_bench compare [reps]  collection (UI vs bare), a profile of the UI run,
//                                 Cancel latency, Save As and Copy per operation
//   collect_bench scale           100 x shell32 through the windows against 4 x 25, the
//                                 bare loop beside it, per block of 25 files
//   collect_bench peak            peak working set of a UI collection of 25 x shell32
//   collect_bench peak-bare       the same files through the bare loop, for comparison
//
// Every figure goes to stdout as "RESULT <key> <value>"; notes as "NOTE <text>". Times
// are printed, never judged: run-bench.sh lays them out as a table.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "collect/iconfilecheck.h"
#include "collect/iconstore.h"
#include "collect/stephandover.h"
#include "export/clipboardexport.h"
#include "export/iconwriter.h"
#include "runtime/application.h"
#include "runtime/owners.h"
#include "ui/about.h"
#include "ui/busy.h"
#include "ui/mainunit.h"

namespace {

constexpr int kShellCopies = 25;

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / frequency;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Result(const char* key, double value) { std::printf("RESULT %s %.6f\n", key, value); std::fflush(stdout); }
void Note(const std::string& text) { std::printf("NOTE %s\n", text.c_str()); std::fflush(stdout); }

// A failure inside the program's code ends the bench with its text instead of a
// message box nobody would answer.
void FailureToConsole(const std::string& text) {
  std::fprintf(stderr, "failure: %s\n", text.c_str());
  std::exit(2);
}

std::string SystemDir() {
  char dir[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(dir, MAX_PATH);
  return std::string(dir, length < MAX_PATH ? length : 0);
}

// Every *.dll and *.exe of the system folder, sorted so that each run reads the same list.
std::vector<std::string> SystemPeFiles() {
  std::vector<std::string> files;
  const std::string dir = SystemDir();
  for (const char* pattern : {"\\*.dll", "\\*.exe"}) {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((dir + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(dir + '\\' + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A scratch folder under %TEMP% holding the copies of shell32.dll and the saved icons.
class TScratchFolder {
public:
  TScratchFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    FPath = std::string(temp) + "glyphdock-bench-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(FPath.c_str(), nullptr);
  }
  ~TScratchFolder() {
    for (const std::string& f : FMade) DeleteFileA(f.c_str());
    RemoveDirectoryA(FPath.c_str());
  }
  std::string File(const std::string& name) {
    FMade.push_back(FPath + '\\' + name);
    return FMade.back();
  }

private:
  std::string FPath;
  std::vector<std::string> FMade;
};

std::vector<std::string> ShellCopies(TScratchFolder& folder) {
  const std::string shell32 = SystemDir() + "\\shell32.dll";
  std::vector<std::string> copies;
  for (int i = 0; i < kShellCopies; ++i) {
    const std::string copy = folder.File("shell32-" + std::to_string(i) + ".dll");
    if (!CopyFileA(shell32.c_str(), copy.c_str(), FALSE)) {
      std::fprintf(stderr, "cannot copy %s (%lu)\n", shell32.c_str(), GetLastError());
      std::exit(2);
    }
    copies.push_back(copy);
  }
  return copies;
}

// The bare platform loop: count, extract each icon, add it to a 32 x 32 image list made
// as the store makes its own (its growth by default), destroy the icon. Growth 4 and a
// large one show what the growth costs. Gives the number of icons added; fileStarts,
// when given, gets the time at which each file begins.
int BareCollect(const std::vector<std::string>& files, int growBy = TIconStore::kImageListGrowth,
                std::vector<double>* fileStarts = nullptr) {
  HIMAGELIST list = ImageList_Create(32, 32, 0xFF, 4, growBy);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  int added = 0;
  for (const std::string& file : files) {
    if (fileStarts) fileStarts->push_back(Now());
    const UINT count = static_cast<UINT>(
        reinterpret_cast<UINT_PTR>(ExtractIconA(instance, file.c_str(), static_cast<UINT>(-1))));
    for (UINT i = 0; i < count; ++i) {
      HICON icon = ExtractIconA(instance, file.c_str(), i);
      if (icon && icon != reinterpret_cast<HICON>(1)) {
        if (ImageList_ReplaceIcon(list, -1, icon) >= 0) ++added;
        DestroyIcon(icon);
      }
    }
  }
  ImageList_Destroy(list);
  return added;
}

// The program's three windows over a scratch settings key, as the start-up body builds
// them; the developer's own placement is never read or written.
class TProgram {
public:
  TProgram() {
    FKeyName = "Software\\Quillfen\\GlyphdockBench\\run-" + std::to_string(GetCurrentProcessId());
    RegCreateKeyExA(HKEY_CURRENT_USER, FKeyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, FKey.Put(), nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, FKey.Get());
    Application.Initialize(GetModuleHandleA(nullptr), "Glyphdock", LoadProgramIcon());
    Application.SetFailureHandler(&FailureToConsole);
    FMain = std::make_unique<TMainForm>();
    MainForm = FMain.get();
    MainForm->CreateForm();
    FAbout = std::make_unique<TAboutBox>();
    AboutBox = FAbout.get();
    AboutBox->CreateForm();
    FBusy = std::make_unique<TBusyDlg>();
    BusyDlg = FBusy.get();
    BusyDlg->CreateForm();
    ShowWindow(Application.Handle(), SW_SHOWNORMAL);
    MainForm->Show();
    // The busy dialog's modal wait can take the run's last step inside a peek that finds
    // nothing posted and then sleep until a message arrives, which without a user at the
    // machine may be never. A quiet 10 ms thread timer bounds that sleep for the bench.
    FKeepAwake = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {});
    Pump(200);
  }
  ~TProgram() {
    if (FKeepAwake) KillTimer(nullptr, FKeepAwake);
    BusyDlg = nullptr;
    AboutBox = nullptr;
    MainForm = nullptr;
    FBusy.reset();
    FAbout.reset();
    FMain.reset();
    Application.Finalize();
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    FKey.Reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, FKeyName.c_str());
  }
  static void Pump(DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    do {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(2);
    } while (static_cast<LONG>(GetTickCount() - until) < 0);
  }
  // One collection as the open command runs it, the store's clear kept out of the time.
  static double Collect(const std::vector<std::string>& files) {
    MainForm->Store().Clear();
    Pump(20);
    *MainForm->FileList() = files;
    const double start = Now();
    MainForm->CollectIcons();
    const double seconds = Now() - start;
    Pump(20);
    return seconds;
  }

private:
  std::string FKeyName;
  TRegKey FKey;
  UINT_PTR FKeepAwake = 0;
  std::unique_ptr<TMainForm> FMain;
  std::unique_ptr<TAboutBox> FAbout;
  std::unique_ptr<TBusyDlg> FBusy;
};

// Time spent in the list view's own handling of each kind of message during a run,
// taken from a subclass that wraps the list's procedure (the program's own subclass
// included, as it sits below this one).
struct TListProfile {
  std::map<UINT, double> Seconds;
  std::map<UINT, int> Count;
};
TListProfile* ActiveProfile = nullptr;

LRESULT CALLBACK ProfileSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (!ActiveProfile) return DefSubclassProc(hwnd, message, wParam, lParam);
  const double start = Now();
  const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
  ActiveProfile->Seconds[message] += Now() - start;
  ActiveProfile->Count[message] += 1;
  return result;
}

// The cost of one step hand-over alone: a worker sends an empty message to a window of
// the UI thread, which takes it in while it waits in its message loop.
double HandOverRoundTrip(int rounds) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "GlyphdockBenchHandOver";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  struct TArgs {
    HWND Window;
    int Rounds;
    std::atomic<bool> Done{false};
  } args{window, rounds};
  const double start = Now();
  HANDLE thread = CreateThread(nullptr, 0, [](void* p) -> DWORD {
    auto* a = static_cast<TArgs*>(p);
    for (int i = 0; i < a->Rounds; ++i) SendMessageA(a->Window, WM_USER + 7, 0, 0);
    a->Done = true;
    return 0;
  }, &args, 0, nullptr);
  while (!args.Done) {
    MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  const double seconds = Now() - start;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  DestroyWindow(window);
  return seconds / rounds;
}

// Every step the worker hands over, timed on the UI thread by a subclass of the hidden
// hand-over window; the gaps between steps are the hand-over itself (the worker's turn and
// the UI thread's wake-up). Steps alternate: progress, extraction, ..., progress, finish.
struct TStepProfile {
  std::vector<double> Start, End;
};
TStepProfile* ActiveSteps = nullptr;

LRESULT CALLBACK StepSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (!ActiveSteps || message != kStepMessage) return DefSubclassProc(hwnd, message, wParam, lParam);
  ActiveSteps->Start.push_back(Now());
  const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
  ActiveSteps->End.push_back(Now());
  return result;
}

// One UI collection with the list view's messages and the worker's steps timed.
void ProfiledCollect(TProgram& program, const std::vector<std::string>& files, const std::string& name) {
  // Holding a use of the hand-over window keeps the one the worker will use alive, so it
  // can be subclassed before the run begins.
  TThreadWindowUse use;
  HWND stepWindow = TThreadWindowUse::Window();
  HWND list = MainForm->IconListView();
  TListProfile profile;
  TStepProfile steps;
  SetWindowSubclass(list, &ProfileSubclass, 0xBE7C, 0);
  SetWindowSubclass(stepWindow, &StepSubclass, 0xBE7D, 0);
  ActiveProfile = &profile;
  ActiveSteps = &steps;
  const double total = program.Collect(files);
  ActiveProfile = nullptr;
  ActiveSteps = nullptr;
  RemoveWindowSubclass(stepWindow, &StepSubclass, 0xBE7D);
  RemoveWindowSubclass(list, &ProfileSubclass, 0xBE7C);

  double progress = 0, extract = 0, finish = 0, gaps = 0;
  const std::size_t n = steps.Start.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double d = steps.End[i] - steps.Start[i];
    if (i + 1 == n) finish += d;
    else if (i % 2 == 0) progress += d;
    else extract += d;
    if (i > 0) gaps += steps.Start[i] - steps.End[i - 1];
  }
  auto key = [&](const char* what) { return name + "_" + what; };
  Result(key("ui_total").c_str(), total);
  Result(key("steps").c_str(), static_cast<double>(n));
  Result(key("step_progress").c_str(), progress);
  Result(key("step_extract").c_str(), extract);
  Result(key("step_finish").c_str(), finish);
  Result(key("step_gaps").c_str(), gaps);
  Result(key("step_gap_max").c_str(), [&] {
    double m = 0;
    for (std::size_t i = 1; i < n; ++i) m = std::max(m, steps.Start[i] - steps.End[i - 1]);
    return m;
  }());
  Result(key("paint").c_str(), profile.Seconds[WM_PAINT]);
  Result(key("paint_count").c_str(), profile.Count[WM_PAINT]);
  Result(key("erase").c_str(), profile.Seconds[WM_ERASEBKGND]);
  Result(key("insert").c_str(), profile.Seconds[LVM_INSERTITEMA]);
  Result(key("insert_count").c_str(), profile.Count[LVM_INSERTITEMA]);
  double all = 0;
  for (const auto& entry : profile.Seconds) all += entry.second;
  Result(key("list_all").c_str(), all);
}

// Clicks Cancel from a helper thread while the UI thread is inside a file's extraction
// step (an icon object is alive only then), delayMs after the step was first seen. The
// latency runs from the press to the end of CollectIcons.
struct TCancelShot {
  HWND Button = nullptr;
  DWORD DelayMs = 0;
  std::atomic<double> ClickedAt{0};
  std::atomic<bool> Quit{false};
};

DWORD WINAPI CancelShooter(void* p) {
  auto* shot = static_cast<TCancelShot*>(p);
  while (!shot->Quit) {
    if (TIcon::LiveHandles() > 0) {
      Sleep(shot->DelayMs);
      if (TIcon::LiveHandles() > 0) {
        // A click as a person gives it: the pointer onto the button, then a press and a
        // release as input, which the dialog takes in between steps like any other.
        // The press goes where the pointer is: wait until the button is what lies there
        // (a window manager may still be placing the dialog just after it was shown).
        RECT r{};
        POINT centre{};
        for (int tries = 0; tries < 200; ++tries) {
          GetWindowRect(shot->Button, &r);
          centre = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
          SetCursorPos(centre.x, centre.y);
          if (WindowFromPoint(centre) == shot->Button) break;
          Sleep(5);
        }
        INPUT press[2]{};
        press[0].type = press[1].type = INPUT_MOUSE;
        press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        shot->ClickedAt = Now();
        SendInput(1, &press[0], sizeof(INPUT));
        Sleep(30);
        SendInput(1, &press[1], sizeof(INPUT));
        return 0;
      }
    }
    Sleep(1);
  }
  return 0;
}

// Cancel while a copy of shell32.dll is being read: the time from the press to the end
// of CollectIcons, and whether the program saw the press and the release at all.
int gButtonPresses = 0, gButtonReleases = 0, gPressesElsewhere = 0;
HWND gWatchedButton = nullptr;
LRESULT CALLBACK WatchButton(int code, WPARAM wParam, LPARAM lParam) {
  auto* msg = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && msg->hwnd == gWatchedButton) {
    if (msg->message == WM_LBUTTONDOWN || msg->message == WM_LBUTTONDBLCLK) ++gButtonPresses;
    if (msg->message == WM_LBUTTONUP) ++gButtonReleases;
  } else if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_LBUTTONDOWN) {
    ++gPressesElsewhere;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CancelLatency(TProgram& program, const std::vector<std::string>& shell, double iconsPerCopy) {
  TIconStore& store = MainForm->Store();
  gWatchedButton = BusyDlg->Item(TBusyDlg::idButtonCancel);
  HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, &WatchButton, nullptr, GetCurrentThreadId());
  {
    std::vector<double> latency;
    std::vector<double> files;
    int lost = 0;
    for (DWORD delay : {5u, 40u, 100u, 200u, 350u}) {
      gButtonPresses = gButtonReleases = gPressesElsewhere = 0;
      TCancelShot shot;
      shot.Button = BusyDlg->Item(TBusyDlg::idButtonCancel);
      shot.DelayMs = delay;
      store.Clear();
      program.Pump(20);
      *MainForm->FileList() = shell;
      HANDLE thread = CreateThread(nullptr, 0, &CancelShooter, &shot, 0, nullptr);
      MainForm->CollectIcons();
      const double returned = Now();
      shot.Quit = true;
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
      // A press the platform never delivered (the program took in no press anywhere) says
      // nothing of the program's answer: it is counted apart.
      if (shot.ClickedAt.load() > 0 && gButtonPresses + gPressesElsewhere == 0) {
        ++lost;
        Note("cancel " + std::to_string(delay) + " ms into a file: the press never reached the program");
      } else if (shot.ClickedAt.load() > 0) {
        latency.push_back(returned - shot.ClickedAt.load());
        files.push_back(store.EntryCount() / iconsPerCopy);
        Note("cancel " + std::to_string(delay) + " ms into a file: " + std::to_string(latency.back()) +
             " s, files read " + std::to_string(files.back()) + ", presses/releases the program took in " +
             std::to_string(gButtonPresses) + "/" + std::to_string(gButtonReleases) + ", presses elsewhere " +
             std::to_string(gPressesElsewhere));
      }
      program.Pump(20);
    }
    Result("cancel_runs", static_cast<double>(latency.size()));
    Result("cancel_median", Median(latency));
    Result("cancel_max", latency.empty() ? 0 : *std::max_element(latency.begin(), latency.end()));
    Result("cancel_files_read_median", Median(files));
    Result("cancel_lost", lost);
  }
  if (hook) UnhookWindowsHookEx(hook);
}

void Compare(int reps) {
  TScratchFolder folder;
  const std::vector<std::string> system = SystemPeFiles();
  const std::vector<std::string> shell = ShellCopies(folder);
  TProgram program;
  TIconStore& store = MainForm->Store();
  Result("system_files", static_cast<double>(system.size()));
  Result("shell_files", static_cast<double>(shell.size()));

  // Warm-up: every file read once, so the file cache favours neither side.
  Result("system_icons", BareCollect(system));
  const int shellIcons = BareCollect(shell);
  Result("shell_icons", shellIcons);
  const double iconsPerCopy = std::max(1, shellIcons / kShellCopies);
  program.Collect(system);
  Result("system_entries", store.EntryCount());

  struct TSet {
    const char* Name;
    const std::vector<std::string>* Files;
  };
  for (const TSet& set : {TSet{"system", &system}, TSet{"shell", &shell}}) {
    std::vector<double> ui, bare;
    for (int r = 0; r < reps; ++r) {  // interleaved, so drift hits both sides alike
      ui.push_back(program.Collect(*set.Files));
      const double start = Now();
      BareCollect(*set.Files);
      bare.push_back(Now() - start);
    }
    const std::string name = set.Name;
    Result((name + "_ui").c_str(), Median(ui));
    Result((name + "_bare").c_str(), Median(bare));
    Result((name + "_entries_last").c_str(), store.EntryCount());
  }

  // Where the difference goes, on the large set: the image list's growth by 4, the
  // bounded file check, the hand-over, and the list view's own work during a UI run.
  {
    double start = Now();
    BareCollect(shell, 4096);
    Result("shell_bare_nogrowth", Now() - start);
    start = Now();
    int sound = 0;
    for (const std::string& f : shell) sound += IconFileIsSound(f) ? 1 : 0;
    Result("shell_filecheck", Now() - start);
    start = Now();
    for (const std::string& f : system) sound += IconFileIsSound(f) ? 1 : 0;
    Result("system_filecheck", Now() - start);
    Result("handover_roundtrip", HandOverRoundTrip(2000));

    ProfiledCollect(program, system, "system");
    ProfiledCollect(program, shell, "profile");
    HWND list = MainForm->IconListView();

    // The same run with the list hidden: it then paints nothing at all.
    ShowWindow(list, SW_HIDE);
    Result("shell_ui_listhidden", program.Collect(shell));
    ShowWindow(list, SW_SHOW);
    program.Pump(50);

    // What batching would give, tried from outside on the live list: redrawing switched
    // off for the run, and the automatic arrangement left out for the run.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    double seconds = program.Collect(shell);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    program.Pump(50);
    Result("shell_ui_noredraw", seconds);

    const LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
    SetWindowLongPtrA(list, GWL_STYLE, style & ~static_cast<LONG_PTR>(LVS_AUTOARRANGE));
    seconds = program.Collect(shell);
    SetWindowLongPtrA(list, GWL_STYLE, style);
    SendMessageA(list, LVM_ARRANGE, LVA_DEFAULT, 0);
    program.Pump(50);
    Result("shell_ui_noautoarrange", seconds);
  }

  CancelLatency(program, shell, iconsPerCopy);

  // Save As and Copy of one icon, per operation, over the entries the last cancelled run
  // left in the store.
  {
    if (store.EntryCount() == 0) program.Collect({shell.front()});
    const int ops = 200;
    const std::string target = folder.File("saved.ico");
    double start = Now();
    for (int i = 0; i < ops; ++i) {
      TIcon icon;
      store.GetIcon(i % store.EntryCount(), &icon);
      SaveIconFile(icon, target);
    }
    Result("saveas_ms", (Now() - start) * 1000 / ops);

    HWND list = MainForm->IconListView();
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, 7, reinterpret_cast<LPARAM>(&state));
    if (store.Selected() != 7) Note("selecting an entry for Copy failed");
    start = Now();
    for (int i = 0; i < ops; ++i) CopySelectedIcon(store);
    Result("copy_ms", (Now() - start) * 1000 / ops);
    store.Clear();
  }
}

void PeakWorkingSet(bool bare) {
  TScratchFolder folder;
  const std::vector<std::string> shell = ShellCopies(folder);
  PROCESS_MEMORY_COUNTERS before{};
  before.cb = sizeof before;
  if (bare) {
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    Result("icons", BareCollect(shell));
  } else {
    TProgram program;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    program.Collect(shell);
    Result("icons", MainForm->Store().EntryCount());
  }
  PROCESS_MEMORY_COUNTERS after{};
  after.cb = sizeof after;
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  Result("ws_before_mb", before.WorkingSetSize / 1048576.0);
  Result("ws_after_mb", after.WorkingSetSize / 1048576.0);
  Result("peak_ws_mb", after.PeakWorkingSetSize / 1048576.0);
}

// Seconds per block of `block` files, from the times at which the files began and the
// time the run ended.
std::vector<double> BlockTimes(const std::vector<double>& fileStarts, double end, std::size_t block) {
  std::vector<double> blocks;
  for (std::size_t first = 0; first < fileStarts.size(); first += block) {
    const std::size_t next = first + block;
    blocks.push_back((next < fileStarts.size() ? fileStarts[next] : end) - fileStarts[first]);
  }
  return blocks;
}

void BlockResults(const std::string& name, const std::vector<double>& blocks) {
  for (std::size_t i = 0; i < blocks.size(); ++i)
    Result((name + "_block" + std::to_string(i + 1)).c_str(), blocks[i]);
}

// A long run: kScaleCopies copies of shell32.dll (the 25 copies four times over, as a
// list may name a file more than once) through the program's windows, against four
// times the 25-copy run: a cost per icon that stays flat gives a ratio of 1. Beside it
// the bare loop over the same list with the store's growth and with growth by 4, each
// timed per block of 25 files, and the peak working set of the long run.
void Scale() {
  constexpr int kRepeats = 4;
  TScratchFolder folder;
  const std::vector<std::string> shell = ShellCopies(folder);
  std::vector<std::string> many;
  for (int r = 0; r < kRepeats; ++r) many.insert(many.end(), shell.begin(), shell.end());
  Result("scale_files", static_cast<double>(many.size()));
  Result("scale_growth", TIconStore::kImageListGrowth);
  TProgram program;
  BareCollect(shell);  // warm-up: every file read once
  program.Collect(shell);
  // The short run is taken before and after the long one and the two averaged, so that
  // a machine that gets busier or quieter meanwhile tilts the ratio less.
  const double ui25Before = program.Collect(shell);

  // The file starts of the long UI run, seen where the worker's steps arrive, and the
  // time inside the extraction steps and inside the list's own handling per block.
  std::vector<double> uiStarts;
  {
    TThreadWindowUse use;
    HWND stepWindow = TThreadWindowUse::Window();
    HWND list = MainForm->IconListView();
    TStepProfile steps;
    TListProfile profile;
    SetWindowSubclass(stepWindow, &StepSubclass, 0xBE7E, 0);
    SetWindowSubclass(list, &ProfileSubclass, 0xBE7F, 0);
    ActiveSteps = &steps;
    ActiveProfile = &profile;
    const double ui = program.Collect(many);
    ActiveProfile = nullptr;
    ActiveSteps = nullptr;
    RemoveWindowSubclass(list, &ProfileSubclass, 0xBE7F);
    RemoveWindowSubclass(stepWindow, &StepSubclass, 0xBE7E);
    for (std::size_t i = 0; i + 2 < steps.Start.size(); i += 2) uiStarts.push_back(steps.Start[i]);
    Result("scale_ui", ui);
    Result("scale_entries", MainForm->Store().EntryCount());
    BlockResults("scale_ui", BlockTimes(uiStarts, steps.Start.empty() ? 0 : steps.Start.back(), shell.size()));
    std::vector<double> extract(kRepeats, 0.0);
    for (std::size_t i = 1; i + 2 < steps.Start.size(); i += 2)
      extract[std::min<std::size_t>(i / 2 / shell.size(), kRepeats - 1)] += steps.End[i] - steps.Start[i];
    BlockResults("scale_extract", extract);
    for (const auto& entry : profile.Seconds)
      if (entry.second > 0.05) Note("scale: list message " + std::to_string(entry.first) + " " +
                                    std::to_string(entry.second) + " s in " +
                                    std::to_string(profile.Count[entry.first]) + " calls");
  }
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  Result("scale_peak_ws_mb", memory.PeakWorkingSetSize / 1048576.0);
  Result("scale_ws_full_mb", memory.WorkingSetSize / 1048576.0);
  const double ui25After = program.Collect(shell);
  Result("scale_ui25_before", ui25Before);
  Result("scale_ui25_after", ui25After);
  Result("scale_ui25", (ui25Before + ui25After) / 2);
  MainForm->Store().Clear();
  program.Pump(20);

  for (int growth : {TIconStore::kImageListGrowth, 4}) {
    std::vector<double> starts;
    const double start = Now();
    BareCollect(many, growth, &starts);
    const double end = Now();
    const std::string name = growth == 4 ? "scale_bare4" : "scale_bare";
    Result(name.c_str(), end - start);
    BlockResults(name, BlockTimes(starts, end, shell.size()));
  }
}

// Where start-up goes, in this fresh process: the stages of the start-up body, each
// timed from the process's creation, up to the main window being shown.
void StartStages() {
  FILETIME created, exited, kernel, user, now;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto sinceStart = [&created, &now] {
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
      return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(now) - ticks(created)) / 1e7;
  };
  Result("stage_main_entered", sinceStart());
  Application.Initialize(GetModuleHandleA(nullptr), "Glyphdock", LoadProgramIcon());
  Result("stage_initialized", sinceStart());
  auto main = std::make_unique<TMainForm>();
  MainForm = main.get();
  MainForm->CreateForm();
  Result("stage_main_created", sinceStart());
  auto about = std::make_unique<TAboutBox>();
  AboutBox = about.get();
  AboutBox->CreateForm();
  Result("stage_about_created", sinceStart());
  auto busy = std::make_unique<TBusyDlg>();
  BusyDlg = busy.get();
  BusyDlg->CreateForm();
  Result("stage_busy_created", sinceStart());
  MainForm->Show();
  Result("stage_shown", sinceStart());
  TProgram::Pump(100);
  BusyDlg = nullptr;
  AboutBox = nullptr;
  MainForm = nullptr;
  busy.reset();
  about.reset();
  main.reset();
  Application.Finalize();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "compare";
  if (mode == "start-stages") {  // before anything else of the bench runs
    StartStages();
    return 0;
  }
  InitCommonControls();
  if (mode == "cancel") {  // the Cancel figures alone
    TScratchFolder folder;
    const std::vector<std::string> shell = ShellCopies(folder);
    TProgram program;
    const int icons = BareCollect(shell);
    CancelLatency(program, shell, std::max(1, icons / kShellCopies));
  } else if (mode == "compare") {
    Compare(argc > 2 ? std::max(1, std::atoi(argv[2])) : 3);
  } else if (mode == "scale") {
    Scale();
  } else if (mode == "peak") {
    PeakWorkingSet(false);
  } else if (mode == "peak-bare") {
    PeakWorkingSet(true);
  } else {
    std::fprintf(stderr, "usage: collect_bench compare [reps] | scale | peak | peak-bare | cancel\n");
    return 1;
  }
  return 0;
}
