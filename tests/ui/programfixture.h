// The program's three windows, built in the test process as the start-up body builds
// them, over a scratch settings key so a developer's own placement is never touched.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "app/application.h"
#include "runtime/application.h"
#include "ui/about.h"
#include "ui/busy.h"
#include "ui/errorbox.h"
#include "ui/mainunit.h"

class TProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string scratch = "Software\\Quillfen\\GlyphdockTests\\ui-" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, scratch.c_str());
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &FScratch,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, FScratch), ERROR_SUCCESS);
    Application.Initialize(GetModuleHandleA(nullptr), "Glyphdock", LoadProgramIcon());
    Application.SetFailureHandler(&ReportFailure);
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
    Pump();
  }
  void TearDown() override {
    BusyDlg = nullptr;
    AboutBox = nullptr;
    MainForm = nullptr;
    FBusy.reset();
    FAbout.reset();
    FMain.reset();
    Application.Finalize();
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (FScratch) RegCloseKey(FScratch);
    RegDeleteTreeA(HKEY_CURRENT_USER,
                   ("Software\\Quillfen\\GlyphdockTests\\ui-" + std::to_string(GetCurrentProcessId())).c_str());
  }
  // Handles every queued message, for about the given time.
  static void Pump(DWORD milliseconds = 50) {
    const DWORD until = GetTickCount() + milliseconds;
    do {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(5);
    } while (static_cast<LONG>(GetTickCount() - until) < 0);
  }

  std::unique_ptr<TMainForm> FMain;
  std::unique_ptr<TAboutBox> FAbout;
  std::unique_ptr<TBusyDlg> FBusy;
  HKEY FScratch = nullptr;
};

// Runs `action` once, from a thread timer, while the UI thread sits in a modal loop.
class TDuringModal {
public:
  explicit TDuringModal(std::function<void()> action, UINT delay = 100) {
    Current() = this;
    FAction = std::move(action);
    FTimer = SetTimer(nullptr, 0, delay, &TDuringModal::Fire);
  }
  ~TDuringModal() {
    if (FTimer) KillTimer(nullptr, FTimer);
    Current() = nullptr;
  }
  bool Fired() const { return FFired; }

private:
  static TDuringModal*& Current() {
    static TDuringModal* current = nullptr;
    return current;
  }
  static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    TDuringModal* self = Current();
    if (!self || self->FFired) return;
    self->FTimer = 0;
    self->FFired = true;
    self->FAction();
  }
  std::function<void()> FAction;
  UINT_PTR FTimer = 0;
  bool FFired = false;
};
