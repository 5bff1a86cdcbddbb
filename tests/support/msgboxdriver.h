// Drives system message boxes shown by the calling thread without a person: each box is
// read (text, caption, icon, buttons) as it is activated, recorded, and answered by
// pressing a chosen button. Live for the scope of the object.
//
//   TMessageBoxDriver driver(IDOK);
//   ReportFailure("...");
//   ASSERT_EQ(driver.Count(), 1);
//   EXPECT_EQ(driver.Boxes()[0].Text, "...");
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

enum class TBoxIcon { None, Error, Warning, Question, Information, Other };

struct TMessageBoxRecord {
  HWND Handle = nullptr;
  HWND Owner = nullptr;
  std::string Text;     // the message, as CP932 bytes
  std::string Caption;  // the window title
  TBoxIcon Icon = TBoxIcon::None;
  std::vector<int> Buttons;  // command ids of the visible buttons, left to right
  int Pressed = 0;           // the id the driver pressed

  bool HasButton(int id) const;
};

class TMessageBoxDriver {
public:
  // Presses `button` on every box.
  explicit TMessageBoxDriver(int button);
  // Presses the buttons in turn, one for each box. A box beyond the list is a test
  // failure; it is dismissed with its first button so the test cannot hang.
  explicit TMessageBoxDriver(std::vector<int> buttons);
  ~TMessageBoxDriver();
  TMessageBoxDriver(const TMessageBoxDriver&) = delete;
  TMessageBoxDriver& operator=(const TMessageBoxDriver&) = delete;

  // Called for each box while it shows, after it is read and before the button is
  // pressed: the place to look at the program's windows while the box is up.
  void OnShow(std::function<void(const TMessageBoxRecord&)> callback) { FOnShow = std::move(callback); }

  int Count() const noexcept { return static_cast<int>(FBoxes.size()); }
  const std::vector<TMessageBoxRecord>& Boxes() const noexcept { return FBoxes; }

private:
  static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
  void Handle(HWND box);
  int NextButton(const TMessageBoxRecord& box);

  HHOOK FHook = nullptr;
  TMessageBoxDriver* FOuter = nullptr;  // a driver active before this one, restored after
  std::vector<int> FButtons;
  bool FRepeat = false;
  std::size_t FNext = 0;
  std::vector<HWND> FSeen;  // boxes read already, so a reactivation is not a new box
  std::vector<TMessageBoxRecord> FBoxes;
  std::function<void(const TMessageBoxRecord&)> FOnShow;
};

// Reads a message box window as the driver does (exposed for tests of the driver).
bool ReadMessageBox(HWND box, TMessageBoxRecord& record);
