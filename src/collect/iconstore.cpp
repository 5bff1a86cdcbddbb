#include "collect/iconstore.h"

#include <limits>

#include "runtime/failure.h"
#include "runtime/owners.h"

namespace {

constexpr int kImageSize = 32;
// Masked images with device-dependent colour at the screen's depth.
constexpr UINT kImageListFlags = ILC_MASK | ILC_COLORDDB;

// A 32 x 32 icon that is transparent everywhere: a monochrome icon whose AND half is
// all ones and whose XOR half is all zeros, so drawing it leaves the ground untouched.
TOwnedIcon MakeBlankIcon() {
  constexpr int kRowBytes = kImageSize / 8;
  unsigned char bits[kRowBytes * kImageSize * 2];
  for (int i = 0; i < kRowBytes * kImageSize; ++i) bits[i] = 0xFF;
  for (int i = kRowBytes * kImageSize; i < kRowBytes * kImageSize * 2; ++i) bits[i] = 0x00;
  TOwnedBitmap mask(CreateBitmap(kImageSize, kImageSize * 2, 1, 1, bits));
  if (!mask) RaiseLastSystemError();
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask.Get();
  TOwnedIcon icon(CreateIconIndirect(&info));
  if (!icon) RaiseLastSystemError();
  return icon;
}

}  // namespace

void TIconStore::Attach(HWND listView) {
  if (!FImageList) {
    // Each growth copies every image held so far into new room, and under some image
    // list implementations that copy costs far more than the images' bytes. Growing by 4
    // made a run of n icons copy about n * n / 8 images: at 18,400 icons more than half
    // of the run went to copying, more with every file. Measured over 100 copies of the
    // shell's library: room for 256 more at a time still made each block of 25 copies
    // slower than the last; room for 4096 kept them level. What is held in reserve stays
    // under 4096 images (16 MB at 32 x 32 and 32 bits a pixel). Images, their order and
    // their count are unchanged.
    FImageList.Reset(
        ImageList_Create(kImageSize, kImageSize, kImageListFlags, 4, kImageListGrowth));
    if (!FImageList) Raise(msg::InvalidImageList);
  }
  FListView = listView;
  // The list is created with shared image lists: it draws from this one but never
  // destroys it, so the store stays its owner.
  SendMessageA(FListView, LVM_SETIMAGELIST, LVSIL_NORMAL,
               reinterpret_cast<LPARAM>(FImageList.Get()));
}

TIconStore::~TIconStore() {
  // A list that outlives the store must not go on drawing from a destroyed image list.
  if (FListView != nullptr && FImageList && IsWindow(FListView))
    SendMessageA(FListView, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
}

void TIconStore::ImagesChanged() const {
  // Every change is shown at once; the list repaints at its next paint.
  if (FListView != nullptr) InvalidateRect(FListView, nullptr, TRUE);
}

void TIconStore::Clear() {
  if (FListView == nullptr || !FImageList) return;
  SendMessageA(FListView, LVM_DELETEALLITEMS, 0, 0);
  FSubItems.clear();
  ImageList_Remove(FImageList.Get(), -1);
  ImagesChanged();
}

int TIconStore::AddIcon(const TIcon& icon) {
  if (icon.Height() < kImageSize || icon.Width() < kImageSize) Raise(msg::InvalidImageSize);
  // The image list copies colour and mask; the icon object keeps its handle.
  const int index = ImageList_ReplaceIcon(FImageList.Get(), -1, icon.Handle());
  ImagesChanged();
  return index;
}

int TIconStore::AddBlank() {
  if (!FImageList) return -1;
  TOwnedIcon blank = MakeBlankIcon();
  const int index = ImageList_ReplaceIcon(FImageList.Get(), -1, blank.Get());
  ImagesChanged();
  return index;
}

void TIconStore::AppendEntry(const std::string& caption, int imageIndex,
                             const std::string& subItem) {
  if (FListView == nullptr) return;
  const LPARAM param = ++FLastParam;
  FSubItems[param] = subItem;
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  // An index past the last entry appends; asking the list for its count first would
  // cost one more message for every icon of a run.
  item.iItem = std::numeric_limits<int>::max();
  item.pszText = const_cast<char*>(caption.c_str());
  item.iImage = imageIndex;
  item.lParam = param;
  if (SendMessageA(FListView, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) < 0) {
    FSubItems.erase(param);
    Raise(msg::OutOfResources);
  }
}

void TIconStore::GetIcon(int index, TIcon* icon) const {
  if (icon == nullptr || !FImageList) return;
  // Past the end the platform gives null, which leaves the icon object empty.
  icon->SetHandle(ImageList_GetIcon(FImageList.Get(), index, ILD_NORMAL));
}

void TIconStore::RenderOnto(int index, TBitmap* bitmap) const {
  if (bitmap == nullptr || !FImageList) return;
  // A new bitmap becomes 32 x 32 and white once both sizes are known.
  bitmap->SetHeight(kImageSize);
  bitmap->SetWidth(kImageSize);
  TScreenDC screen;
  if (!screen) RaiseLastSystemError();
  TMemDC dc(CreateCompatibleDC(screen.Get()));
  if (!dc) RaiseLastSystemError();
  TSelectGuard select(dc.Get(), bitmap->Handle());
  // No background colour: the transparent pixels leave the white ground as it is.
  ImageList_DrawEx(FImageList.Get(), index, dc.Get(), 0, 0, 0, 0, CLR_NONE, CLR_NONE,
                   ILD_NORMAL);
}

int TIconStore::Selected() const {
  if (FListView == nullptr) return -1;
  return static_cast<int>(
      SendMessageA(FListView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
}

int TIconStore::EntryCount() const {
  if (FListView == nullptr) return 0;
  return static_cast<int>(SendMessageA(FListView, LVM_GETITEMCOUNT, 0, 0));
}

int TIconStore::ImageCount() const {
  return FImageList ? ImageList_GetImageCount(FImageList.Get()) : 0;
}

std::string TIconStore::Caption(int position) const {
  if (FListView == nullptr) return std::string();
  char buffer[MAX_PATH + 1] = {};
  LVITEMA item{};
  item.iSubItem = 0;
  item.pszText = buffer;
  item.cchTextMax = sizeof buffer;
  const LRESULT length =
      SendMessageA(FListView, LVM_GETITEMTEXTA, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string TIconStore::SubItem(int position) const {
  const auto found = FSubItems.find(EntryParam(position));
  return found == FSubItems.end() ? std::string() : found->second;
}

int TIconStore::ImageIndex(int position) const {
  if (FListView == nullptr) return -1;
  LVITEMA item{};
  item.mask = LVIF_IMAGE;
  item.iItem = position;
  if (!SendMessageA(FListView, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return item.iImage;
}

LPARAM TIconStore::EntryParam(int position) const {
  if (FListView == nullptr) return 0;
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = position;
  if (!SendMessageA(FListView, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return item.lParam;
}

int TIconStore::FindEntry(LPARAM param) const {
  if (FListView == nullptr) return -1;
  LVFINDINFOA find{};
  find.flags = LVFI_PARAM;
  find.lParam = param;
  return static_cast<int>(SendMessageA(FListView, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(&find)));
}

TListRedrawOff::TListRedrawOff(const TIconStore& store) : FListView(store.ListView()) {
  // A list whose own visible flag is off draws nothing anyway, and switching the drawing
  // back on would show it: such a list is left alone.
  if (FListView != nullptr && !(GetWindowLongPtrA(FListView, GWL_STYLE) & WS_VISIBLE))
    FListView = nullptr;
  if (FListView != nullptr) SendMessageA(FListView, WM_SETREDRAW, FALSE, 0);
}

TListRedrawOff::~TListRedrawOff() {
  if (FListView == nullptr || !IsWindow(FListView)) return;
  SendMessageA(FListView, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(FListView, nullptr, TRUE);
}
