// The program-wide clipboard object: counts nested opens so that several items can be
// placed within one opening, and empties the system clipboard once per opening.
#pragma once

#include <windows.h>

#include <optional>

class TClipboard {
public:
  TClipboard() = default;
  TClipboard(const TClipboard&) = delete;
  TClipboard& operator=(const TClipboard&) = delete;

  // The change from 0 to 1 opens the system clipboard with the owner window; raises
  // "クリップボードを開くことができません" when another window holds it (the count stays).
  void Open();
  // The change from 1 to 0 closes the system clipboard; closing at 0 does nothing.
  void Close();
  // Empties the system clipboard unless it was already emptied within this opening.
  void EmptyOnce();
  // Places handle under format (opening and emptying as needed). On success the system
  // owns the handle; on failure the caller still does, and the system's text is raised.
  void SetAsHandle(UINT format, HANDLE handle);

  int OpenCount() const noexcept { return FOpenCount; }
  bool Emptied() const noexcept { return FEmptied; }
  HWND OwnerWindow() const noexcept { return FOwner; }

  // The window given to the system at each opening is the taskbar window unless one is
  // set here (tests open the clipboard without a taskbar window, or with a window of
  // their own). ClearOwnerOverride returns to the taskbar window.
  void SetOwnerOverride(HWND window) noexcept { FOwnerOverride = window; }
  void ClearOwnerOverride() noexcept { FOwnerOverride.reset(); }

private:
  int FOpenCount = 0;
  HWND FOwner = nullptr;
  bool FEmptied = false;
  std::optional<HWND> FOwnerOverride;
};

// The one clipboard object, made on first use and kept until the program ends.
TClipboard& Clipboard();

// Holds one open of the clipboard object for a scope, closing it on every path.
class TClipboardOpen {
public:
  explicit TClipboardOpen(TClipboard& clipboard) : FClipboard(clipboard) { FClipboard.Open(); }
  ~TClipboardOpen() { FClipboard.Close(); }
  TClipboardOpen(const TClipboardOpen&) = delete;
  TClipboardOpen& operator=(const TClipboardOpen&) = delete;

private:
  TClipboard& FClipboard;
};
