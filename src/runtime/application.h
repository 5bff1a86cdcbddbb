// The application object: the hidden taskbar window that carries the program's task bar
// entry and title and owns every other top-level window, the message loop, and the
// application-wide cursor.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TForm;

enum class TCursor { Default, HourGlass };

class TApplication {
public:
  // Creates the taskbar window with the given title; `icon` (the program's, loaded by
  // the caller) is the one every form and the task bar entry show. Call once, before
  // any form.
  void Initialize(HINSTANCE instance, const std::string& title, HICON icon = nullptr);
  void Finalize();  // destroys the taskbar window

  HINSTANCE Instance() const noexcept { return FInstance; }
  HWND Handle() const noexcept { return FHandle; }  // the taskbar window
  const std::string& Title() const noexcept { return FTitle; }
  HICON Icon() const noexcept { return FIcon; }

  TForm* MainForm = nullptr;  // the first form created; closing it ends the program

  bool Terminated() const noexcept { return FTerminated; }
  void Terminate();  // posts the quit message; the loop then ends
  // Shows the main form and handles messages until the program is told to end.
  void Run();
  // Handles one message, or waits for one when none is queued.
  void HandleMessage();
  // Handles every queued message.
  void ProcessMessages();
  // Handles the keyboard and client-area mouse input queued so far (characters made
  // from keys included), in arrival order, and nothing else: no paint, no timer. Stops
  // at the first other message (a press on a frame or title bar, a posted request),
  // which is left for the message loop.
  void ProcessInput();

  // The error display: called inside a catch block by every catching point that shows
  // failures. Routes to the handler set with SetFailureHandler (the error box).
  void HandleException();
  void SetFailureHandler(void (*handler)(const std::string& text)) { FFailureHandler = handler; }

  // The application-wide cursor, shown over every window of the program.
  void SetCursor(TCursor cursor);
  TCursor Cursor() const noexcept { return FCursor; }
  HCURSOR CursorHandle() const;

private:
  bool ProcessMessage();
  void Dispatch(MSG& msg);
  static LRESULT CALLBACK TaskbarProc(HWND, UINT, WPARAM, LPARAM);
  HINSTANCE FInstance = nullptr;
  HWND FHandle = nullptr;
  HICON FIcon = nullptr;
  std::string FTitle;
  bool FTerminated = false;
  TCursor FCursor = TCursor::Default;
  void (*FFailureHandler)(const std::string&) = nullptr;
};

extern TApplication Application;

// Every visible, enabled top-level window of the calling thread except `except` is
// disabled; the list of those disabled is returned so they can be enabled again.
std::vector<HWND> DisableTaskWindows(HWND except);
// Enables again those windows of the list that still exist.
void EnableTaskWindows(const std::vector<HWND>& windows);
