// The common open and save dialogs, placed horizontally centred on the owner's monitor
// with their top a third of the free height down. The open dialog runs in its wide form,
// so that a selected name the narrow code page cannot spell still reaches the program
// (as its short name, see NarrowFileName); everything it takes and gives stays narrow.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TFileDialog {
public:
  enum class TKind { Open, Save };
  explicit TFileDialog(TKind kind) : FKind(kind) {}

  // Filter in the notation "Text|*.ext|Text|*.*": "|" becomes the platform's NUL pairs.
  std::string Filter;
  int FilterIndex = 1;
  std::string InitialDir;  // a trailing separator is dropped when setting it (see SetInitialDir)
  DWORD Options = 0;       // OFN_* flags besides the explorer style
  std::string FileName;    // offered name; after Execute the first selected name
  std::vector<std::string> Files;  // after Execute: every selected full name, in order

  // Drops one trailing separator unless the text is one character or the separator
  // follows a colon.
  void SetInitialDir(const std::string& folder);
  // The dialog starts in the user's documents folder, looked up when it first opens: the
  // lookup loads the shell, which the dialog loads anyway, and start-up should not.
  void SetInitialDirToDocuments();
  // Runs the dialog modally over owner; false on cancel (or a selection that does not
  // fit the name buffer).
  bool Execute(HWND owner);

private:
  bool ExecuteOpen(HWND owner, const std::string& filter);
  bool ExecuteSave(HWND owner, const std::string& filter);
  TKind FKind;
  bool FDocumentsPending = false;
};
