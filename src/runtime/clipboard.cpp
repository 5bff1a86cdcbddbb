#include "runtime/clipboard.h"

#include "runtime/application.h"
#include "runtime/failure.h"

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

void TClipboard::Open() {
  if (FOpenCount == 0) {
    const HWND owner = FOwnerOverride ? *FOwnerOverride : Application.Handle();
    if (!OpenClipboard(owner)) Raise(msg::CannotOpenClipboard);
    FOwner = owner;
    FEmptied = false;
  }
  ++FOpenCount;
}

void TClipboard::Close() {
  if (FOpenCount == 0) return;
  if (--FOpenCount == 0) {
    CloseClipboard();
    FOwner = nullptr;
  }
}

void TClipboard::EmptyOnce() {
  if (FOpenCount == 0 || FEmptied) return;
  TClipboardOpen open(*this);
  if (!EmptyClipboard()) RaiseLastSystemError();
  FEmptied = true;
}

void TClipboard::SetAsHandle(UINT format, HANDLE handle) {
  TClipboardOpen open(*this);
  EmptyOnce();
  // A refused handle stays the caller's: it is released by its owner, not leaked.
  if (SetClipboardData(format, handle) == nullptr) RaiseLastSystemError();
}
