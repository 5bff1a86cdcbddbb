#include "collect/geticonthread.h"

#include <shellapi.h>

#include "collect/iconfilecheck.h"
#include "runtime/failure.h"
#include "runtime/owners.h"

namespace {

using TStep = void (TThread::*)();

// Some platforms answer 1 instead of an icon for a file that is neither a program nor
// an icon file; that value is no handle and is treated like a null one.
HICON ExtractedIcon(HINSTANCE instance, const char* fileName, UINT index) {
  HICON handle = ExtractIconA(instance, fileName, index);
  return handle == reinterpret_cast<HICON>(1) ? nullptr : handle;
}

// The number of icons the shell reports for a file. The shell's reader trusts the
// offsets inside the file and faults on truncated ones, so a file that fails the
// bounded check first counts as one without icons.
UINT IconCount(HINSTANCE instance, const std::string& fileName) {
  if (!IconFileIsSound(fileName)) return 0;
  // The count comes back in the handle's place; only its low, unsigned part means anything.
  return static_cast<UINT>(reinterpret_cast<UINT_PTR>(
      ExtractIconA(instance, fileName.c_str(), static_cast<UINT>(-1))));
}

}  // namespace

TGetIconThread::TGetIconThread(TCollectView& view) : FView(view) {}

TGetIconThread::~TGetIconThread() {
  // The body reads this object's fields: it must have ended before they go.
  FStopRequested.store(true);
  WaitForEnd();
}

void TGetIconThread::Execute() {
  FTotal = 0;
  // The list's length is read anew before every file, and the stop request only there:
  // a file that has begun is always finished.
  for (int i = 0; FFileList != nullptr && static_cast<std::size_t>(i) < FFileList->size() &&
                  !FStopRequested.load();
       ++i) {
    FFileName = (*FFileList)[static_cast<std::size_t>(i)];
    FIndex = i;
    Synchronize(static_cast<TStep>(&TGetIconThread::ShowProgress));
    Synchronize(static_cast<TStep>(&TGetIconThread::ExtractFileIcons));
  }
  Synchronize(static_cast<TStep>(&TGetIconThread::ShowProgress));
  Synchronize(static_cast<TStep>(&TGetIconThread::FinishRun));
}

void TGetIconThread::ShowProgress() {
  FView.SetProgressPosition(FIndex);
  FView.SetFileNameLabel(FFileName);
  FView.RepaintBusy();
}

void TGetIconThread::ExtractFileIcons() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  const UINT count = IconCount(instance, FFileName);
  if (count > 0) {
    TIconStore& store = FView.Store();
    // The list draws nothing while the step runs and everything once it ends, a failing
    // step included. This is the one place where list updates are held back: each add
    // still tells the list that its images changed.
    TListRedrawOff redrawOff(store);
    // One icon object for the whole file, emptied before each extraction, so never more
    // than one extracted handle is alive.
    TIcon icon;
    for (UINT i = 0; i < count; ++i) {
      icon.SetHandle(nullptr);  // the previous handle goes before the next one is made
      icon.SetHandle(ExtractedIcon(instance, FFileName.c_str(), i));
      const int position = FTotal + static_cast<int>(i);
      // An icon the image list cannot store still gets its entry, over a blank image,
      // so that the entry at position k keeps reading back image k.
      if (store.AddIcon(icon) < 0 && store.AddBlank() < 0) Raise(msg::OutOfResources);
      store.AppendEntry("Icon" + std::to_string(position + 1), position, FFileName);
    }
  }
  FTotal += static_cast<int>(count);
  // While a file is read the dialog takes in nothing, and between two steps it takes in
  // one message at most before the next step, which the worker sends at once, runs. So
  // the input that came during this file (a whole click on Cancel, say) is taken in
  // here, after the file and before the worker looks at the stop request, and a cancel
  // asks for the stop at once: the file in progress is finished, no further one begun.
  if (FView.TakeInput()) FStopRequested.store(true);
}

void TGetIconThread::FinishRun() { FView.HideAndCloseBusy(); }
