// The worker thread and its step hand-over: real threads, a real hidden window, real
// sent and posted messages. The test thread plays the UI thread.
#include "collect/stephandover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collect/collecttesthelpers.h"
#include "runtime/failure.h"

using namespace collecttest;

namespace {

// A worker whose body is given by the test; Step hands a callable to the UI thread.
class TProbeThread : public TThread {
public:
  explicit TProbeThread(std::function<void(TProbeThread&)> body) : FBody(std::move(body)) {}
  ~TProbeThread() override { WaitForEnd(); }

  void Step(std::function<void()> step) {
    FStep = std::move(step);
    Synchronize(static_cast<void (TThread::*)()>(&TProbeThread::RunStep));
  }
  std::atomic<bool> BodyRan{false};

protected:
  void Execute() override {
    BodyRan = true;
    FBody(*this);
  }

private:
  void RunStep() { FStep(); }
  std::function<void(TProbeThread&)> FBody;
  std::function<void()> FStep;
};

class StepHandOverTest : public ::testing::Test {
protected:
  // Destroy requests of earlier tests are handled first, so each test starts without
  // the hidden window.
  void SetUp() override {
    PumpFor(20);
    ASSERT_TRUE(ThreadWindows().empty());
  }
  void TearDown() override { PumpFor(20); }
};

TEST_F(StepHandOverTest, StepsRunOnTheUiThreadWhileTheWorkerWaits) {
  const DWORD uiThread = GetCurrentThreadId();
  std::vector<DWORD> stepThreads;
  std::vector<std::string> order;
  DWORD workerThread = 0;
  TProbeThread worker([&](TProbeThread& self) {
    workerThread = GetCurrentThreadId();
    for (int i = 0; i < 3; ++i) {
      self.Step([&, i] {
        stepThreads.push_back(GetCurrentThreadId());
        order.push_back("step" + std::to_string(i));
      });
      order.push_back("after" + std::to_string(i));  // runs only once the step is done
    }
  });
  worker.Start();
  worker.WaitFor();
  EXPECT_TRUE(worker.Finished());
  EXPECT_NE(workerThread, uiThread);
  ASSERT_EQ(stepThreads.size(), 3u);
  for (DWORD id : stepThreads) EXPECT_EQ(id, uiThread);
  EXPECT_EQ(order, (std::vector<std::string>{"step0", "after0", "step1", "after1", "step2", "after2"}));
}

TEST_F(StepHandOverTest, StepFailureIsRaisedAgainInTheWorkerWhichThenEndsQuietly) {
  std::string seenInWorker;
  bool reachedAfterFailure = false;
  TProbeThread worker([&](TProbeThread& self) {
    try {
      self.Step([] { Raise(msg::InvalidImageSize); });
    } catch (const EFailure& failure) {
      seenInWorker = failure.Message();
    }
    self.Step([] { Raise(msg::OutOfResources); });
    reachedAfterFailure = true;  // the failure leaves the body before this
  });
  worker.Start();
  worker.WaitFor();
  EXPECT_TRUE(worker.Finished());
  EXPECT_EQ(seenInWorker, msg::InvalidImageSize);
  EXPECT_FALSE(reachedAfterFailure);
  DWORD code = 1234;
  ASSERT_TRUE(GetExitCodeThread(worker.ThreadHandle(), &code));
  EXPECT_EQ(code, 0u);
}

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 7) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(StepHandOverTest, WaitForRunsSentStepsAndLeavesPostedMessagesQueued) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CountingProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "GlyphdockCollectCounting";
  RegisterClassA(&windowClass);
  HWND target = CreateWindowExA(0, "GlyphdockCollectCounting", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(target, nullptr);
  int delivered = 0;
  SetWindowLongPtrA(target, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&delivered));

  int steps = 0;
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TKernelHandle goOwner(go);
  TProbeThread worker([&](TProbeThread& self) {
    WaitForSingleObject(go, INFINITE);  // the steps come only once the UI thread waits
    for (int i = 0; i < 5; ++i) self.Step([&] { ++steps; });
  });
  worker.Start();
  ASSERT_TRUE(PostMessageA(target, WM_APP + 7, 0, 0));
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP + 8, 0, 0));
  SetEvent(go);
  worker.WaitFor();

  EXPECT_EQ(steps, 5);
  EXPECT_EQ(delivered, 0);
  MSG message;
  EXPECT_TRUE(PeekMessageA(&message, target, WM_APP + 7, WM_APP + 7, PM_REMOVE));
  EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_APP + 8, WM_APP + 8, PM_REMOVE));
  DestroyWindow(target);
}

// What the hidden window was created with, as the window system was asked for it (the
// system may then enlarge a zero-sized top-level window to its minimum).
struct TCreation {
  int Count = 0;
  bool EmptyTitle = false;
  LONG Style = -1;
  HWND Parent = reinterpret_cast<HWND>(1);
  int Width = -1, Height = -1;
  HINSTANCE Instance = nullptr;
};
TCreation gCreation;

LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    char name[64] = {};
    GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
    if (std::string(name) == kThreadWindowClass) {
      const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
      ++gCreation.Count;
      gCreation.EmptyTitle = create->lpszName != nullptr && create->lpszName[0] == 0;
      gCreation.Style = create->style;
      gCreation.Parent = create->hwndParent;
      gCreation.Width = create->cx;
      gCreation.Height = create->cy;
      gCreation.Instance = create->hInstance;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(StepHandOverTest, HiddenWindowLivesWhileAWorkerExists) {
  gCreation = TCreation();
  HHOOK hook = SetWindowsHookExA(WH_CBT, CreationHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  auto first = std::make_unique<TProbeThread>([](TProbeThread&) {});
  UnhookWindowsHookEx(hook);
  std::vector<HWND> windows = ThreadWindows();
  ASSERT_EQ(windows.size(), 1u);
  HWND window = windows[0];
  EXPECT_EQ(gCreation.Count, 1);
  EXPECT_TRUE(gCreation.EmptyTitle);
  EXPECT_EQ(gCreation.Style & ~WS_CLIPSIBLINGS & ~WS_CAPTION, 0);  // the system adds these two
  EXPECT_EQ(gCreation.Parent, nullptr);
  EXPECT_EQ(gCreation.Width, 0);
  EXPECT_EQ(gCreation.Height, 0);
  EXPECT_EQ(gCreation.Instance, GetModuleHandleA(nullptr));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(GetParent(window), nullptr);

  auto second = std::make_unique<TProbeThread>([](TProbeThread&) {});
  EXPECT_EQ(ThreadWindows(), windows);  // one window serves every worker
  first->Start();
  first.reset();
  PumpFor(30);
  EXPECT_EQ(ThreadWindows(), windows);  // the second worker still needs it

  second->Start();
  second.reset();
  EXPECT_EQ(ThreadWindows(), windows);  // destroyed only when the request is handled
  PumpFor(30);
  EXPECT_TRUE(ThreadWindows().empty());
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(StepHandOverTest, WorkerMadeBeforeTheDestroyRequestIsHandledKeepsTheWindow) {
  auto first = std::make_unique<TProbeThread>([](TProbeThread&) {});
  const std::vector<HWND> windows = ThreadWindows();
  ASSERT_EQ(windows.size(), 1u);
  first.reset();  // never started: discarded without running its body
  int stepsRun = 0;
  auto second = std::make_unique<TProbeThread>([&](TProbeThread& self) { self.Step([&] { ++stepsRun; }); });
  PumpFor(30);
  EXPECT_EQ(ThreadWindows(), windows);
  second->Start();
  second->WaitFor();
  EXPECT_EQ(stepsRun, 1);
  second.reset();
  PumpFor(30);
  EXPECT_TRUE(ThreadWindows().empty());
}

TEST_F(StepHandOverTest, NeverStartedWorkerEndsWithoutRunningItsBody) {
  auto worker = std::make_unique<TProbeThread>([](TProbeThread&) {});
  HANDLE thread = worker->ThreadHandle();
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // suspended
  worker->WaitFor();
  EXPECT_FALSE(worker->BodyRan.load());
  EXPECT_TRUE(worker->Finished());
}

TEST_F(StepHandOverTest, ClassRegisteredWithAnotherProcedureIsRegisteredAgain) {
  WNDCLASSA foreign{};
  foreign.lpfnWndProc = DefWindowProcA;
  foreign.hInstance = GetModuleHandleA(nullptr);
  foreign.lpszClassName = kThreadWindowClass;
  UnregisterClassA(kThreadWindowClass, GetModuleHandleA(nullptr));
  ASSERT_NE(RegisterClassA(&foreign), 0);
  int stepsRun = 0;
  {
    TProbeThread worker([&](TProbeThread& self) { self.Step([&] { ++stepsRun; }); });
    worker.Start();
    worker.WaitFor();
  }
  EXPECT_EQ(stepsRun, 1);
  WNDCLASSA now{};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), kThreadWindowClass, &now));
  EXPECT_NE(now.lpfnWndProc, reinterpret_cast<WNDPROC>(DefWindowProcA));
}

}  // namespace
