// Collection runs with a real worker thread, the real shell extraction and real files.
// The test thread plays the UI thread: a message pump stands in for the busy dialog's
// modal wait, and a recording view stands in for the dialog.
#include "collect/geticonthread.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collect/collecttesthelpers.h"
#include "collect/iconfilecheck.h"
#include "runtime/failure.h"
#include "support/fixtures.h"

using namespace collecttest;

namespace {

const UINT kQueuedMarker = WM_APP + 21;

// Records every call the run makes, with the phase of the test it came in.
class TRecordingView : public TCollectView {
public:
  explicit TRecordingView(TIconStore& store) : FStore(store) {}

  void SetProgressPosition(int position) override {
    Record("position " + std::to_string(position));
    if (OnProgress) OnProgress(position);
  }
  void SetFileNameLabel(const std::string& text) override {
    Record("label " + text);
    if (OnLabel) OnLabel(text);
  }
  void RepaintBusy() override { Record("repaint"); }
  void HideAndCloseBusy() override {
    Record("hide");
    ++HideCalls;
  }
  TIconStore& Store() override {
    Record("store");
    return FStore;
  }
  // Input is taken in silently; a test may have it cancel the run after some files.
  bool TakeInput() override {
    ++InputTaken;
    return CancelAfterFiles >= 0 && InputTaken > CancelAfterFiles;
  }

  // Calls of one phase ("modal", "wait" or "after"), without the phase.
  std::vector<std::string> EventsIn(const std::string& phase) const {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < Events.size(); ++i)
      if (Phases[i] == phase) found.push_back(Events[i]);
    return found;
  }

  std::vector<std::string> Events;
  std::vector<std::string> Phases;
  std::vector<DWORD> Threads;
  std::string Phase = "modal";
  int HideCalls = 0;
  int InputTaken = 0;
  int CancelAfterFiles = -1;  // -1: input never cancels
  TGetIconThread* Worker = nullptr;
  std::function<void(int)> OnProgress;
  std::function<void(const std::string&)> OnLabel;

private:
  void Record(const std::string& event) {
    Events.push_back(event);
    Phases.push_back(Phase);
    Threads.push_back(GetCurrentThreadId());
  }
  TIconStore& FStore;
};

class CollectRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    FStore.Attach(FHost.List());
    for (const char* name : {"three.dll", "two.dll", "noicons.dll"})
      ASSERT_EQ(GetFileAttributesA(FixturePath(name).c_str()) == INVALID_FILE_ATTRIBUTES, false)
          << "missing fixture " << FixturePath(name);
  }

  // A run the way the main window drives it: start the worker, take in messages until
  // the busy dialog is hidden and closed (or `leaveWait` ends the wait early, or the
  // worker has ended without closing it), then ask it to stop, wait for its end and
  // empty the list.
  void Collect(std::vector<std::string> files, std::function<bool()> leaveWait = {}) {
    FView.HideCalls = 0;
    FView.Phase = "modal";
    auto worker = std::make_unique<TGetIconThread>(FView);
    FView.Worker = worker.get();
    worker->FFileList = &files;
    worker->Start();
    HANDLE thread = worker->ThreadHandle();
    const DWORD started = GetTickCount();
    auto waiting = [&] { return FView.HideCalls == 0 && !(leaveWait && leaveWait()); };
    while (waiting()) {
      if (MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) break;
      MSG message;
      while (waiting() && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      if (GetTickCount() - started > 60000) {
        ADD_FAILURE() << "the run did not end";
        break;
      }
    }
    FView.Phase = "wait";
    // Whatever is posted meanwhile must still be queued once the wait is over.
    PostThreadMessageA(GetCurrentThreadId(), kQueuedMarker, 0, 0);
    worker->FStopRequested = true;
    worker->WaitFor();
    MSG marker;
    EXPECT_TRUE(PeekMessageA(&marker, nullptr, kQueuedMarker, kQueuedMarker, PM_REMOVE));
    EXPECT_TRUE(worker->Finished());
    files.clear();
    FView.Worker = nullptr;
    worker.reset();
    FView.Phase = "after";
    PumpFor(50);
    EXPECT_TRUE(FView.EventsIn("after").empty()) << "a step ran after the wait";
    for (DWORD id : FView.Threads) EXPECT_EQ(id, GetCurrentThreadId());
  }

  void ExpectEntries(int count, const std::vector<std::string>& subItems) {
    ASSERT_EQ(FStore.EntryCount(), count);
    EXPECT_EQ(FStore.ImageCount(), count);
    for (int k = 0; k < count; ++k) {
      EXPECT_EQ(FStore.Caption(k), "Icon" + std::to_string(k + 1));
      EXPECT_EQ(FStore.ImageIndex(k), k);
      if (static_cast<std::size_t>(k) < subItems.size()) {
        EXPECT_EQ(FStore.SubItem(k), subItems[k]) << k;
      }
    }
  }

  COLORREF CentreOf(int position) {
    TBitmap bitmap;
    FStore.RenderOnto(position, &bitmap);
    return PixelOf(bitmap.Handle(), 16, 16);
  }

  TListHost FHost;
  TIconStore FStore;
  TRecordingView FView{FStore};
};

std::vector<std::string> Repeat(const std::string& name, int times) {
  return std::vector<std::string>(static_cast<std::size_t>(times), name);
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(CollectRunTest, OneFileWithThreeIcons) {
  const std::string three = FixturePath("three.dll");
  Collect({three});
  ExpectEntries(3, Repeat(three, 3));
  for (int k = 0; k < fixture::ThreeCount; ++k) EXPECT_EQ(CentreOf(k), fixture::ThreeColours[k]);
  const std::vector<std::string> expected{"position 0", "label " + three, "repaint", "store",
                                          "position 0", "label " + three, "repaint", "hide"};
  EXPECT_EQ(FView.EventsIn("modal"), expected);
  EXPECT_TRUE(FView.EventsIn("wait").empty());
}

TEST_F(CollectRunTest, TwoFilesNumberOnWithoutRestarting) {
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll");
  Collect({two, three});
  ExpectEntries(5, Join(Repeat(two, 2), Repeat(three, 3)));
  EXPECT_EQ(CentreOf(1), fixture::TwoColours[1]);
  EXPECT_EQ(CentreOf(2), fixture::ThreeColours[0]);
  EXPECT_EQ(CentreOf(4), fixture::ThreeColours[2]);
  const std::vector<std::string> expected{
      "position 0", "label " + two,   "repaint", "store",          "position 1",
      "label " + three, "repaint",    "store",   "position 1",     "label " + three,
      "repaint",        "hide"};
  EXPECT_EQ(FView.EventsIn("modal"), expected);
}

TEST_F(CollectRunTest, FilesWithoutIconsLeaveNoGapInTheNumbering) {
  TTempFile text("notes.txt");
  text.Write({'n', 'o', ' ', 'i', 'c', 'o', 'n', 's', '\r', '\n'});
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll");
  const std::string missing = text.Name() + ".missing";
  // The broken files would make the shell's reader fault: they must count as empty.
  const std::string empty = FixturePath(fixture::EmptyDll), cut = FixturePath(fixture::TruncatedDll),
                    cutIco = FixturePath(fixture::TruncatedIco);
  Collect({two, FixturePath("noicons.dll"), "", text.Name(), missing, empty, cut, cutIco, three});
  ExpectEntries(5, Join(Repeat(two, 2), Repeat(three, 3)));
  std::vector<std::string> labels;
  for (const std::string& event : FView.Events)
    if (event.rfind("label ", 0) == 0) labels.push_back(event.substr(6));
  const std::vector<std::string> expected{two,   FixturePath("noicons.dll"), "", text.Name(), missing,
                                          empty, cut, cutIco, three, three};
  EXPECT_EQ(labels, expected);  // the empty name is shown as it is, with nothing added
}

TEST_F(CollectRunTest, EmptyListShowsProgressOnceAndCloses) {
  Collect({});
  EXPECT_EQ(FStore.EntryCount(), 0);
  EXPECT_EQ(FStore.ImageCount(), 0);
  const std::vector<std::string> expected{"position 0", "label ", "repaint", "hide"};
  EXPECT_EQ(FView.EventsIn("modal"), expected);
}

TEST_F(CollectRunTest, SecondRunStartsAgainAtIcon1) {
  Collect({FixturePath("three.dll")});
  ASSERT_EQ(FStore.EntryCount(), 3);
  FStore.Clear();
  const std::string two = FixturePath("two.dll");
  Collect({two});
  ExpectEntries(2, Repeat(two, 2));
  EXPECT_EQ(CentreOf(0), fixture::TwoColours[0]);
}

TEST_F(CollectRunTest, CancelKeepsEveryFileBegunAndNoLaterOne) {
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll");
  const std::vector<std::string> files{three, two, three, two};
  const int keptAfter[] = {3, 5, 8};
  for (int cancelAt = 0; cancelAt < 3; ++cancelAt) {
    SCOPED_TRACE("cancel during file " + std::to_string(cancelAt));
    FStore.Clear();
    FView.Events.clear();
    FView.Phases.clear();
    FView.Threads.clear();
    bool cancelled = false;
    // The user's Cancel arrives while file i's progress is shown: the modal wait ends
    // and the rest of that file runs, in the wait for the worker or in messages the
    // wait's last look took in.
    FView.OnProgress = [&](int position) {
      if (position == cancelAt && !cancelled) {
        FView.Worker->FStopRequested = true;
        cancelled = true;
      }
    };
    Collect(files, [&] { return cancelled; });
    FView.OnProgress = nullptr;
    ExpectEntries(keptAfter[cancelAt], {});
    std::vector<std::string> expected;
    for (int i = 0; i <= cancelAt; ++i)
      for (const char* event : {"position ", "label ", "repaint", "store"})
        expected.push_back(event == std::string("position ") ? event + std::to_string(i)
                           : event == std::string("label ")  ? event + files[static_cast<std::size_t>(i)]
                                                             : std::string(event));
    for (const std::string& event :
         {"position " + std::to_string(cancelAt), "label " + files[static_cast<std::size_t>(cancelAt)],
          std::string("repaint"), std::string("hide")})
      expected.push_back(event);
    EXPECT_EQ(FView.Events, expected);
    EXPECT_EQ(FView.HideCalls, 1);
  }
}

TEST_F(CollectRunTest, CancelTakenInAtTheEndOfAFileStopsBeforeTheNext) {
  // The input taken in after file 1 cancels the run: the worker asks for no further
  // file although nobody outside set the stop request, and ends as usual.
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll");
  const std::vector<std::string> files{three, two, three, two};
  FView.CancelAfterFiles = 1;
  Collect(files);
  FView.CancelAfterFiles = -1;
  ExpectEntries(5, {three, three, three, two, two});
  EXPECT_EQ(FView.InputTaken, 2);
  const std::vector<std::string> tail(FView.Events.end() - 4, FView.Events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"position 1", "label " + two, "repaint", "hide"}));
}

TEST_F(CollectRunTest, FailingStepEndsTheWorkerQuietlyAndKeepsWhatWasCollected) {
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll");
  FView.OnLabel = [&](const std::string& text) {
    if (text == three) Raise(msg::InvalidImageSize);
  };
  Collect({two, three, two});
  ExpectEntries(2, Repeat(two, 2));
  EXPECT_EQ(FView.HideCalls, 0);
  const std::vector<std::string> expected{"position 0", "label " + two, "repaint", "store",
                                          "position 1", "label " + three};
  EXPECT_EQ(FView.Events, expected);
  // Nothing was shown to the user: no dialog box of this process is open.
  bool boxShown = false;
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char name[16] = {};
        GetClassNameA(window, name, sizeof name);
        if (process == GetCurrentProcessId() && IsWindowVisible(window) && std::string(name) == "#32770")
          *reinterpret_cast<bool*>(param) = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&boxShown));
  EXPECT_FALSE(boxShown);
}

// An .ico file whose image header names an unknown header size: the shell counts one
// icon in it but hands out a null handle for it.
// A sound image the shell here counts but does not decode: its header is the 108-byte
// version 4 form (the file check accepts the whole header family; this platform's
// decoder takes only the 40-byte one and hands the icon out as null).
std::vector<std::uint8_t> IcoWithVersion4Header() {
  std::vector<std::uint8_t> bytes = SolidIcoFile(32, 255, 0, 0);
  bytes.insert(bytes.begin() + 22 + 40, 108 - 40, 0);
  bytes[22] = 108;
  const std::uint32_t size = bytes[14] | bytes[15] << 8 | bytes[16] << 16;
  bytes[14] = static_cast<std::uint8_t>(size + 68);
  bytes[15] = static_cast<std::uint8_t>((size + 68) >> 8);
  bytes[16] = static_cast<std::uint8_t>((size + 68) >> 16);
  return bytes;
}

TEST_F(CollectRunTest, IconHandedOutAsNullKeepsItsEntryOverABlankImage) {
  TTempFile broken("version4header.ico");
  broken.Write(IcoWithVersion4Header());
  ASSERT_TRUE(IconFileIsSound(broken.Name()));
  HINSTANCE instance = GetModuleHandleA(nullptr);
  ASSERT_EQ(reinterpret_cast<UINT_PTR>(ExtractIconA(instance, broken.Name().c_str(), static_cast<UINT>(-1))), 1u);
  {
    TOwnedIcon decoded(ExtractIconA(instance, broken.Name().c_str(), 0));
    if (decoded) GTEST_SKIP() << "this platform decodes a version 4 header: no icon here is handed out as null";
  }
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll");
  Collect({two, broken.Name(), three});
  ExpectEntries(6, Join(Join(Repeat(two, 2), {broken.Name()}), Repeat(three, 3)));
  TBitmap blank;
  FStore.RenderOnto(2, &blank);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(PixelOf(blank.Handle(), x, y), RGB(255, 255, 255)) << x << "," << y;
  EXPECT_EQ(CentreOf(3), fixture::ThreeColours[0]);  // the next file's icons stay on their entries
  EXPECT_EQ(CentreOf(5), fixture::ThreeColours[2]);
}

TEST_F(CollectRunTest, AtMostOneExtractedHandleIsAliveAndNoneAfterwards) {
  ASSERT_EQ(TIcon::LiveHandles(), 0);
  TIcon::ResetPeak();
  Collect({FixturePath("three.dll"), FixturePath("two.dll"), FixturePath("three.dll")});
  EXPECT_EQ(FStore.EntryCount(), 8);
  EXPECT_EQ(TIcon::PeakLiveHandles(), 1);
  EXPECT_EQ(TIcon::LiveHandles(), 0);
}

TEST_F(CollectRunTest, DiscardingARunningWorkerStopsItAfterAWholeFile) {
  const std::string three = FixturePath("three.dll");
  std::vector<std::string> files{three, three, three};
  {
    TGetIconThread worker(FView);
    worker.FFileList = &files;
    worker.Start();
  }  // discarded at once: asks it to stop and runs its pending steps while waiting
  const int entries = FStore.EntryCount();
  EXPECT_TRUE(entries == 0 || entries == 3) << entries;
  EXPECT_EQ(FView.HideCalls, 1);
  PumpFor(30);
  EXPECT_EQ(FStore.EntryCount(), entries);
}

}  // namespace
