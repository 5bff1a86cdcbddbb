// A worker thread whose body hands its steps to the UI thread and waits for each.
//
// The UI thread owns one hidden window of the class "TThreadWindow" while any worker
// exists. A worker hands a step over by sending that window a message; the UI thread
// runs the step whenever it takes in messages (a modal wait, a message loop, or
// WaitFor below) and catches what the step raises, so the failure travels back to the
// worker with the reply and is raised again there.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>

#include "runtime/owners.h"

// Class name and messages of the hidden hand-over window.
inline constexpr char kThreadWindowClass[] = "TThreadWindow";
inline constexpr UINT kStepMessage = 0x8FFF;     // sent by a worker, lParam = the worker
inline constexpr UINT kDestroyMessage = 0x8FFE;  // posted when the last worker is gone

// Keeps the hidden window alive for as long as one object of this kind exists. The
// first one creates the window (registering its class first); the last one posts the
// destroy request, so a worker made again before the request is handled keeps it.
// UI thread only.
class TThreadWindowUse {
public:
  TThreadWindowUse();
  ~TThreadWindowUse();
  TThreadWindowUse(const TThreadWindowUse&) = delete;
  TThreadWindowUse& operator=(const TThreadWindowUse&) = delete;

  static HWND Window() noexcept;  // the hidden window, or null when none exists
  // The window as it was when this object was made: the worker reads this copy, never
  // the UI thread's current value.
  HWND HandOverWindow() const noexcept { return FWindow; }

private:
  HWND FWindow = nullptr;
};

// A thread created suspended whose body is Execute; Synchronize hands a method to the
// UI thread through the hidden window and re-raises there-raised failures here.
// Created, started, waited for and discarded on the UI thread.
class TThread {
public:
  TThread();           // the thread is created suspended
  virtual ~TThread();  // waits for the end first (running sent messages), then closes
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();  // ResumeThread, once
  // Blocks the UI thread until the thread has ended, running only the messages sent to
  // it meanwhile (the worker's steps); posted messages and input stay queued. A thread
  // that was never started is ended without running its body.
  void WaitFor();
  bool Finished() const noexcept { return FFinished.load(); }
  HANDLE ThreadHandle() const noexcept { return FThread.Get(); }

protected:
  virtual void Execute() = 0;
  // Runs method on the UI thread and waits; a failure it raised is raised again here.
  void Synchronize(void (TThread::*method)());
  // The wait of WaitFor without raising, for destructors: false when the platform's
  // wait itself failed.
  bool WaitForEnd() noexcept;

private:
  static DWORD WINAPI ThreadProc(void* self);
  static LRESULT CALLBACK ThreadWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam);
  friend class TThreadWindowUse;

  // Declared first: constructed before the thread exists and released after its handle.
  TThreadWindowUse FWindowUse;
  TKernelHandle FThread;
  DWORD FThreadId = 0;
  bool FStarted = false;
  std::atomic<bool> FSkipBody{false};
  std::atomic<bool> FFinished{false};
  void (TThread::*FMethod)() = nullptr;
  std::exception_ptr FStepError;
};
