// A window with a real list control and an icon store attached to it, filled from
// fixture files or icons made in the test: what the export commands take their entry from.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "collect/iconstore.h"
#include "runtime/owners.h"

namespace exporttest {

class TStoreWindow {
public:
  TStoreWindow() {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    FFrame = CreateWindowExA(0, "STATIC", "export test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    FList = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_SHAREIMAGELISTS | LVS_SINGLESEL,
                            0, 0, 280, 180, FFrame, nullptr, GetModuleHandleA(nullptr), nullptr);
    Store.Attach(FList);
  }
  ~TStoreWindow() {
    if (FFrame) DestroyWindow(FFrame);
  }
  TStoreWindow(const TStoreWindow&) = delete;
  TStoreWindow& operator=(const TStoreWindow&) = delete;

  HWND Frame() const noexcept { return FFrame; }
  HWND List() const noexcept { return FList; }

  // Appends an entry for icon (which keeps its handle) under the next running caption.
  void Add(HICON handle, const std::string& source = "test") {
    TIcon icon;
    icon.SetHandle(handle);
    const int index = Store.AddIcon(icon);
    Store.AppendEntry("Icon" + std::to_string(Store.EntryCount() + 1), index, source);
  }
  // Appends every icon of a file, as a collection does.
  void AddFile(const std::string& fileName) {
    const UINT count = static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(nullptr, fileName.c_str(), UINT(-1))));
    for (UINT i = 0; i < count; ++i) Add(ExtractIconA(nullptr, fileName.c_str(), i), fileName);
  }
  // Selects the entry at position; -1 takes the selection away from every entry.
  void Select(int position) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = position < 0 ? 0 : LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(FList, LVM_SETITEMSTATE, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
  }

  TIconStore Store;

private:
  HWND FFrame = nullptr;
  HWND FList = nullptr;
};

}  // namespace exporttest
