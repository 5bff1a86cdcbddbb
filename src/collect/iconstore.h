// The icon store: the image list IconImageList (32 x 32, masked, screen depth) and the
// entries of IconListView, appended together and emptied together, so the entry at
// position k reads back image k.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

class TIcon;
class TBitmap;

class TIconStore {
public:
  TIconStore() = default;
  ~TIconStore();  // destroys the image list (the list only shares it)
  TIconStore(const TIconStore&) = delete;
  TIconStore& operator=(const TIconStore&) = delete;

  // Creates IconImageList and gives it to the list view (created with shared image
  // lists and single selection) as its large images. Raises "不正なイメージ リスト".
  void Attach(HWND listView);
  HWND ListView() const noexcept { return FListView; }
  HIMAGELIST ImageList() const noexcept { return FImageList; }

  // Deletes every entry, then every image; nothing on an empty or unattached store.
  void Clear();
  // Size check ("イメージサイズが正しくありません"), then a copy of the icon is appended.
  // Returns the image index, or -1 when the platform stored nothing.
  int AddIcon(const TIcon& icon);
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
  std::string SubItem(int position) const;
  int ImageIndex(int position) const;

private:
  HWND FListView = nullptr;
  HIMAGELIST FImageList = nullptr;
};
