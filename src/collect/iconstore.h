// The icon store: the image list IconImageList (32 x 32, masked, screen depth) and the
// entries of IconListView, appended together and emptied together, so the entry at
// position k reads back image k.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>

#include "runtime/owners.h"

class TIcon;
class TBitmap;

struct TImageListTraits {
  using Handle = HIMAGELIST;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { ImageList_Destroy(h); }
};
using TOwnedImageList = TOwned<TImageListTraits>;

class TIconStore {
public:
  // How many images the image list makes room for each time it is full (see Attach).
  static constexpr int kImageListGrowth = 4096;

  TIconStore() = default;
  ~TIconStore();  // takes the image list back from the list, then destroys it
  TIconStore(const TIconStore&) = delete;
  TIconStore& operator=(const TIconStore&) = delete;

  // Creates IconImageList and gives it to the list view (created with shared image
  // lists and single selection) as its large images. Raises "不正なイメージ リスト".
  // Attaching again keeps the image list and hands it to the new list view.
  void Attach(HWND listView);
  HWND ListView() const noexcept { return FListView; }
  HIMAGELIST ImageList() const noexcept { return FImageList.Get(); }

  // Deletes every entry, then every image; nothing on an empty or unattached store.
  void Clear();
  // Size check ("イメージサイズが正しくありません"), then a copy of the icon is appended.
  // Returns the image index, or -1 when the platform stored nothing.
  int AddIcon(const TIcon& icon);
  // Appends a fully transparent image, standing in for an icon the platform could not
  // store. Returns its index, or -1.
  int AddBlank();
  // Appends an entry with one sub item.
  void AppendEntry(const std::string& caption, int imageIndex, const std::string& subItem);
  // Puts a new handle made from image index into icon (left empty past the end).
  void GetIcon(int index, TIcon* icon) const;
  // Makes bitmap 32 x 32 white (height first, then width) and draws image index through
  // its mask; past the end it stays white.
  void RenderOnto(int index, TBitmap* bitmap) const;
  // Position of the selected entry, or -1 for none.
  int Selected() const;

  int EntryCount() const;
  int ImageCount() const;
  std::string Caption(int position) const;
  std::string SubItem(int position) const;  // "" past the end
  int ImageIndex(int position) const;       // -1 past the end
  // Every entry carries its own running number; this finds an entry's position by it
  // (-1 when it is gone), and EntryParam reads it (0 past the end).
  LPARAM EntryParam(int position) const;
  int FindEntry(LPARAM param) const;

private:
  void ImagesChanged() const;

  HWND FListView = nullptr;
  TOwnedImageList FImageList;
  // The one sub item of each entry, by the entry's running number: the list keeps sub
  // items only for report columns, which a large-icon list does not have.
  std::map<LPARAM, std::string> FSubItems;
  LPARAM FLastParam = 0;
};

// Switches the list's drawing off for its own lifetime and back on, with the whole list
// invalidated, when it goes, on every path. Under some list implementations every insert
// into a visible icon list redraws its scroll bars at once; an extraction step is one
// message, during which the UI thread paints nothing anyway, so holding the drawing for
// the step changes no frame a user sees: the icons of a file appear when its step ends.
class TListRedrawOff {
public:
  explicit TListRedrawOff(const TIconStore& store);
  ~TListRedrawOff();
  TListRedrawOff(const TListRedrawOff&) = delete;
  TListRedrawOff& operator=(const TListRedrawOff&) = delete;

private:
  HWND FListView;
};
