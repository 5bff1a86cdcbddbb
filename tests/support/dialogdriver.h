// Drives the common file dialog that the calling process shows, without a person: a
// background thread waits for the dialog to appear, optionally picks a filter entry,
// types a file name and presses OK or Cancel.
//
//   TFileDialogDriver driver("C:\\out\\a.ico", TFileDialogDriver::TAction::Ok);
//   SaveSelectedIcon(store, dialog);  // the dialog runs modally here
//   ASSERT_TRUE(driver.Wait());
//   EXPECT_EQ(driver.OfferedName(), "Icon1.ico");
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

class TFileDialogDriver {
public:
  enum class TAction { Ok, Cancel };

  // filterIndex 0 leaves the filter as the dialog starts; otherwise the 1-based entry
  // is chosen before the name is typed. The thread gives up after timeoutMs.
  TFileDialogDriver(std::string fileName, TAction action, int filterIndex = 0, DWORD timeoutMs = 20000);
  ~TFileDialogDriver();
  TFileDialogDriver(const TFileDialogDriver&) = delete;
  TFileDialogDriver& operator=(const TFileDialogDriver&) = delete;

  // Waits for the thread; true when a dialog was found and answered.
  bool Wait();
  // What the dialog showed in its file name box before the driver typed.
  const std::string& OfferedName() const noexcept { return FOffered; }
  HWND Owner() const noexcept { return FOwner; }

private:
  void Run();

  std::string FFileName;
  TAction FAction;
  int FFilterIndex;
  DWORD FTimeout;
  std::string FOffered;
  HWND FOwner = nullptr;
  std::atomic<bool> FHandled{false};
  std::thread FThread;
};

// The first visible common file dialog of this process, or null.
HWND FindProcessFileDialog();
// The edit control a file dialog takes the file name from, or null.
HWND FileNameEdit(HWND dialog);
