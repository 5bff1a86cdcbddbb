// The collection worker. It paces a run file by file and hands every change of a window
// or of the icon store to the UI thread as a step, waiting for each: the UI thread runs
// the step whenever it takes in messages (the busy dialog's modal wait, and its wait for
// the worker's end).
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "collect/iconstore.h"
#include "collect/stephandover.h"

// What the run changes on the UI thread besides the store: the busy dialog.
class TCollectView {
public:
  virtual ~TCollectView() = default;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetFileNameLabel(const std::string& text) = 0;
  virtual void RepaintBusy() = 0;
  virtual void HideAndCloseBusy() = 0;  // hide, then close: ends the modal wait
  // Takes in the user's input that arrived while a step ran; true when the busy dialog
  // has been cancelled by it (or before).
  virtual bool TakeInput() = 0;
  virtual TIconStore& Store() = 0;
};

class TGetIconThread : public TThread {
public:
  explicit TGetIconThread(TCollectView& view);
  // Asks the run to stop and waits for the thread's end before any field goes away.
  ~TGetIconThread() override;

  std::vector<std::string>* FFileList = nullptr;  // borrowed for the run; read only
  int FIndex = 0;
  std::string FFileName;
  int FTotal = 0;
  std::atomic<bool> FStopRequested{false};

protected:
  void Execute() override;
  // Steps, run on the UI thread while the worker waits.
  void ShowProgress();
  void ExtractFileIcons();
  void FinishRun();

private:
  TCollectView& FView;
};
