#include "collect/stephandover.h"

#include <utility>

#include "runtime/failure.h"

namespace {

// The hidden window and the number of objects keeping it; both live on the UI thread.
HWND gThreadWindow = nullptr;
int gThreadWindowUsers = 0;

HWND CreateThreadWindow(WNDPROC procedure) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA existing{};
  bool registered = GetClassInfoA(instance, kThreadWindowClass, &existing) != 0;
  // A class of this name registered by someone else would route the steps elsewhere.
  if (registered && existing.lpfnWndProc != procedure) {
    UnregisterClassA(kThreadWindowClass, instance);
    registered = false;
  }
  if (!registered) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kThreadWindowClass;
    if (RegisterClassA(&windowClass) == 0) RaiseLastSystemError();
  }
  HWND window = CreateWindowExA(0, kThreadWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) RaiseLastSystemError();
  return window;
}

}  // namespace

TThreadWindowUse::TThreadWindowUse() {
  if (gThreadWindow == nullptr) gThreadWindow = CreateThreadWindow(&TThread::ThreadWindowProc);
  ++gThreadWindowUsers;
  FWindow = gThreadWindow;
}

TThreadWindowUse::~TThreadWindowUse() {
  // Destroying the window right here could pull it away from a worker created in the
  // same message; the posted request is looked at again when it is handled.
  if (--gThreadWindowUsers == 0 && gThreadWindow != nullptr)
    PostMessageA(gThreadWindow, kDestroyMessage, 0, 0);
}

HWND TThreadWindowUse::Window() noexcept { return gThreadWindow; }

LRESULT CALLBACK TThread::ThreadWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  switch (message) {
    case kStepMessage: {
      // The step runner: whatever the step raises goes back to the worker with the reply.
      auto* worker = reinterpret_cast<TThread*>(lParam);
      try {
        (worker->*(worker->FMethod))();
      } catch (...) {
        worker->FStepError = std::current_exception();
      }
      return 1;  // tells the worker that the step ran
    }
    case kDestroyMessage:
      if (gThreadWindowUsers == 0 && window == gThreadWindow) DestroyWindow(window);
      return 0;
    case WM_NCDESTROY:
      if (window == gThreadWindow) gThreadWindow = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TThread::TThread()
    : FThread(CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &FThreadId)) {
  if (!FThread) RaiseLastSystemError();
}

TThread::~TThread() {
  // A failed wait leaves nothing to do here: the handle is closed all the same.
  WaitForEnd();
}

DWORD WINAPI TThread::ThreadProc(void* self) {
  auto* thread = static_cast<TThread*>(self);
  if (!thread->FSkipBody.load()) {
    try {
      thread->Execute();
    } catch (...) {
      // A step's failure raised again in the body ends the worker quietly: the step
      // runner has already taken it from the UI thread, and nobody waits to show it.
    }
  }
  thread->FFinished.store(true);
  return 0;
}

void TThread::Start() {
  if (FStarted) return;
  if (ResumeThread(FThread.Get()) == static_cast<DWORD>(-1)) RaiseLastSystemError();
  FStarted = true;
}

void TThread::WaitFor() {
  if (!WaitForEnd()) RaiseLastSystemError();
}

bool TThread::WaitForEnd() noexcept {
  if (!FThread) return true;
  if (!FStarted) {
    // Nothing would ever resume it: let it run to its end without the body.
    FSkipBody.store(true);
    if (ResumeThread(FThread.Get()) == static_cast<DWORD>(-1)) return false;
    FStarted = true;
  }
  HANDLE thread = FThread.Get();
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0) break;
    if (woken != WAIT_OBJECT_0 + 1) return false;
    // Peeking runs the messages sent to this thread; posted ones stay where they are.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  }
  DWORD exitCode = 0;
  GetExitCodeThread(thread, &exitCode);  // the body's result is not used further
  return true;
}

void TThread::Synchronize(void (TThread::*method)()) {
  FStepError = nullptr;
  FMethod = method;
  const LRESULT ran =
      SendMessageA(FWindowUse.HandOverWindow(), kStepMessage, 0, reinterpret_cast<LPARAM>(this));
  FMethod = nullptr;
  if (FStepError) std::rethrow_exception(std::exchange(FStepError, nullptr));
  // Without the window the step never ran; going on would report work that was not done.
  if (ran != 1) Raise(msg::OutOfResources);
}
