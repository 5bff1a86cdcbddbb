#include "export/saveas.h"

#include <windows.h>

#include "collect/iconstore.h"
#include "export/iconwriter.h"
#include "runtime/application.h"
#include "runtime/dialogs.h"
#include "runtime/msgbox.h"
#include "runtime/owners.h"

static_assert(OverwriteFlags == 257, "OK and Cancel, Cancel the default, no icon");

bool IconFileExists(const std::string& fileName) {
  const TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
}

void SaveSelectedIcon(TIconStore& store, TFileDialog& saveDialog) {
  const int selected = store.Selected();
  if (selected < 0) return;
  saveDialog.FileName = store.Caption(selected) + ".ico";
  // The dialog belongs to the window that holds the list, so it opens over it.
  HWND owner = store.ListView() ? GetAncestor(store.ListView(), GA_ROOT) : nullptr;
  if (owner == nullptr) owner = Application.Handle();
  if (!saveDialog.Execute(owner)) return;
  const std::string fileName = saveDialog.FileName;
  if (IconFileExists(fileName) && AppMessageBox(OverwriteQuestion, OverwriteCaption, OverwriteFlags) != IDOK)
    return;
  TIcon icon;
  store.GetIcon(selected, &icon);
  SaveIconFile(icon, fileName);
}
