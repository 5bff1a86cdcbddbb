// The collection worker. It paces a run file by file and hands every change of a window
// or of the icon store to the UI thread as a step, waiting for each: the UI thread runs
// the step whenever it takes in messages (the busy dialog's modal wait, and its wait for
// the worker's end).
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "collect/iconstore.h"

// A thread created suspended whose body is Execute; Synchronize hands a method to the
// UI thread through the hidden "TThreadWindow" and re-raises there-raised failures here.
class TThread {
public:
  TThread();  // the thread is created suspended
  virtual ~TThread();  // waits for the end first (running sent messages), then closes
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();    // ResumeThread, once
  // Blocks the UI thread until the thread has ended, running only the messages sent to
  // it meanwhile (the worker's steps); posted messages and input stay queued.
  void WaitFor();
  bool Finished() const noexcept { return FFinished.load(); }
  HANDLE ThreadHandle() const noexcept { return FThread; }

protected:
  virtual void Execute() = 0;
  // Runs method on the UI thread and waits; a failure it raised is raised again here.
  void Synchronize(void (TThread::*method)());

private:
  static DWORD WINAPI ThreadProc(void* self);
  friend struct TStepRunner;
  HANDLE FThread = nullptr;
  DWORD FThreadId = 0;
  bool FStarted = false;
  std::atomic<bool> FFinished{false};
  void (TThread::*FMethod)() = nullptr;
  std::exception_ptr FStepError;
};

// What the run changes on the UI thread besides the store: the busy dialog.
class TCollectView {
public:
  virtual ~TCollectView() = default;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetFileNameLabel(const std::string& text) = 0;
  virtual void RepaintBusy() = 0;
  virtual void HideAndCloseBusy() = 0;  // hide, then close: ends the modal wait
  virtual TIconStore& Store() = 0;
};

class TGetIconThread : public TThread {
public:
  explicit TGetIconThread(TCollectView& view);
  ~TGetIconThread() override;

  std::vector<std::string>* FFileList = nullptr;  // borrowed for the run
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
