// Resource checks over whole runs of the program's own windows: a collection followed by
// many Save As and Copy cycles leaves the number of live GDI objects where it started,
// and no more than one extracted icon handle is ever alive.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "collect/iconstore.h"
#include "export/clipboardexport.h"
#include "export/iconwriter.h"
#include "runtime/owners.h"
#include "support/fixtures.h"
#include "ui/programfixture.h"

namespace {

// Live GDI objects of this process. Where the system counts them (GetGuiResources) that
// count is used. Wine's GetGuiResources is a stub that answers 0, so there the objects are
// counted by probing handle values: Wine keeps GDI objects in one table of 65536 entries
// per process and a handle is the entry's index in its low word with the entry's type and
// generation in its high word (a brush 0x01100038, a bitmap 0x0109003a, a DC 0x07410045;
// a deleted entry reused comes back with a new high word). GetObjectType accepts the bare
// index (high word 0) for a live entry and answers 0 for a free one, so probing every index
// counts every live object, whatever its kind. Icons are window-system handles, not GDI
// objects, but each icon holds its colour and mask bitmaps, which are counted.
int LiveGdiObjects() {
  const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted > 0) return static_cast<int>(counted);
  int live = 0;
  for (ULONG_PTR index = 0; index < 0x10000; ++index) {
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++live;
  }
  return live;
}

// A few hundred real program files: the system folder's DLLs, in name order.
std::vector<std::string> SystemDlls(std::size_t most) {
  char dir[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(dir, MAX_PATH);
  std::vector<std::string> files;
  if (length == 0 || length >= MAX_PATH) return files;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((std::string(dir) + "\\*.dll").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(std::string(dir) + '\\' + found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(files.begin(), files.end());
  if (files.size() > most) files.resize(most);
  return files;
}

std::string TempIconFile() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "gdleak" + std::to_string(GetCurrentProcessId()) + ".ico";
}

void Select(HWND list, int position) {
  LVITEMA state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&state));
}

class TLeakTest : public TProgramTest {
protected:
  void SetUp() override {
    TProgramTest::SetUp();
    FFiles = SystemDlls(300);
    FSaved = TempIconFile();
    // The busy dialog's modal wait can take the run's last step (hide and close) inside a
    // peek that finds nothing posted, and then sleep until some message arrives; with no
    // user at the machine none does. A quiet thread timer keeps the wait looking, so these
    // checks measure resources and not that race.
    FKeepAwake = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {});
  }
  void TearDown() override {
    if (FKeepAwake) KillTimer(nullptr, FKeepAwake);
    DeleteFileA(FSaved.c_str());
    TProgramTest::TearDown();
  }
  void Collect(const std::vector<std::string>& files) {
    MainForm->Store().Clear();
    *MainForm->FileList() = files;
    MainForm->CollectIcons();
    Pump(30);
  }
  // One Save As of the selected entry, as the command does once the file is named, and
  // one Copy of it.
  void SaveAndCopy(int position) {
    TIconStore& store = MainForm->Store();
    Select(MainForm->IconListView(), position);
    ASSERT_EQ(store.Selected(), position);
    {
      TIcon icon;
      store.GetIcon(store.Selected(), &icon);
      ASSERT_FALSE(icon.Empty());
      SaveIconFile(icon, FSaved);
    }
    CopySelectedIcon(store);
  }
  // Every lasting allocation a first run makes (fonts, paint caches, the clipboard's
  // first bitmap, the image list's first growth) happens here, before the count starts.
  void WarmUp() {
    Collect(FFiles);
    ASSERT_GT(MainForm->Store().EntryCount(), 0);
    SaveAndCopy(0);
    MainForm->Store().Clear();
    Pump(100);
  }

  std::vector<std::string> FFiles;
  std::string FSaved;
  UINT_PTR FKeepAwake = 0;
};

}  // namespace

// The counting method itself must see objects come and go, or the checks below prove
// nothing.
TEST(LiveGdiObjectCount, FollowsObjectsMadeAndDeleted) {
  // The system's shared icon is made once, on its first load, and kept: load it first.
  HICON shared = LoadIconA(nullptr, IDI_APPLICATION);
  ASSERT_NE(shared, nullptr);
  const int start = LiveGdiObjects();
  EXPECT_GT(start, 0);  // stock objects at least
  std::vector<TOwnedGdi> made;
  for (int i = 0; i < 10; ++i) made.emplace_back(CreateSolidBrush(RGB(i, 2 * i, 3 * i)));
  for (int i = 0; i < 5; ++i) made.emplace_back(CreateBitmap(8, 8, 1, 1, nullptr));
  EXPECT_EQ(LiveGdiObjects(), start + 15);
  {
    // An icon's colour and mask bitmaps are counted as long as the icon lives.
    TOwnedIcon icon(CopyIcon(shared));
    ASSERT_TRUE(icon);
    EXPECT_GT(LiveGdiObjects(), start + 15);
  }
  EXPECT_EQ(LiveGdiObjects(), start + 15);
  made.clear();
  EXPECT_EQ(LiveGdiObjects(), start);
}

TEST_F(TLeakTest, CollectionKeepsAtMostOneExtractedIconAlive) {
  ASSERT_GE(FFiles.size(), 100u) << "the system folder holds too few DLLs";
  ASSERT_NO_FATAL_FAILURE(WarmUp());
  ASSERT_EQ(TIcon::LiveHandles(), 0);
  TIcon::ResetPeak();
  Collect(FFiles);
  EXPECT_GT(MainForm->Store().EntryCount(), 1);
  EXPECT_EQ(TIcon::PeakLiveHandles(), 1);
  EXPECT_EQ(TIcon::LiveHandles(), 0);
}

TEST_F(TLeakTest, CollectionWithSaveAsAndCopyCyclesLeavesGdiObjectsWhereTheyStarted) {
  ASSERT_GE(FFiles.size(), 100u) << "the system folder holds too few DLLs";
  ASSERT_NO_FATAL_FAILURE(WarmUp());
  const int before = LiveGdiObjects();
  TIcon::ResetPeak();

  Collect(FFiles);
  const int entries = MainForm->Store().EntryCount();
  ASSERT_GT(entries, 1);
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_NO_FATAL_FAILURE(SaveAndCopy(cycle % entries));
  }
  // Each Save As holds one icon read back from the store, and only while it writes.
  EXPECT_EQ(TIcon::PeakLiveHandles(), 1);
  EXPECT_EQ(TIcon::LiveHandles(), 0);

  MainForm->Store().Clear();
  Pump(100);
  EXPECT_EQ(LiveGdiObjects(), before);
}

TEST_F(TLeakTest, CancelledCollectionLeavesGdiObjectsAndIconsWhereTheyStarted) {
  ASSERT_NO_FATAL_FAILURE(WarmUp());
  const std::string shell32 = SystemDllPath("shell32.dll");
  const auto perFile = static_cast<int>(reinterpret_cast<UINT_PTR>(
      ExtractIconA(GetModuleHandleA(nullptr), shell32.c_str(), static_cast<UINT>(-1))));
  ASSERT_GT(perFile, 0);
  const std::vector<std::string> many(60, shell32);
  const int before = LiveGdiObjects();
  TIcon::ResetPeak();
  TDuringModal cancel([] { SendMessageA(BusyDlg->Item(TBusyDlg::idButtonCancel), BM_CLICK, 0, 0); }, 150);
  Collect(many);
  ASSERT_TRUE(cancel.Fired());
  const int entries = MainForm->Store().EntryCount();
  EXPECT_GT(entries, 0);
  EXPECT_LT(entries, 60 * perFile);  // the run really was cut short
  EXPECT_EQ(TIcon::PeakLiveHandles(), 1);
  EXPECT_EQ(TIcon::LiveHandles(), 0);
  MainForm->Store().Clear();
  Pump(100);
  EXPECT_EQ(LiveGdiObjects(), before);
}
