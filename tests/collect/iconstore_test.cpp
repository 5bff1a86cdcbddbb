// The icon store against a real image list and a real list control.
#include "collect/iconstore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collect/collecttesthelpers.h"
#include "runtime/failure.h"
#include "runtime/owners.h"

using namespace collecttest;

namespace {

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kWhite = RGB(255, 255, 255);

class IconStoreTest : public ::testing::Test {
protected:
  void SetUp() override { FStore.Attach(FHost.List()); }

  // Adds a test icon and appends its entry the way a run does.
  int AddColour(COLORREF colour, const std::string& caption) {
    TIcon icon;
    icon.SetHandle(MakeTestIcon(colour, 4));
    const int index = FStore.AddIcon(icon);
    FStore.AppendEntry(caption, index, "C:\\file.dll");
    return index;
  }

  COLORREF RenderedPixel(int index, int x, int y) {
    TBitmap bitmap;
    FStore.RenderOnto(index, &bitmap);
    EXPECT_EQ(bitmap.Width(), 32);
    EXPECT_EQ(bitmap.Height(), 32);
    return PixelOf(bitmap.Handle(), x, y);
  }

  TListHost FHost;
  TIconStore FStore;
};

TEST_F(IconStoreTest, AttachGivesTheListTheImageListAndTakesItBackWhenDiscarded) {
  EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageA(FHost.List(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0)),
            FStore.ImageList());
  int width = 0, height = 0;
  ASSERT_TRUE(ImageList_GetIconSize(FStore.ImageList(), &width, &height));
  EXPECT_EQ(width, 32);
  EXPECT_EQ(height, 32);
  EXPECT_EQ(ImageList_GetBkColor(FStore.ImageList()), CLR_NONE);
  {
    TIconStore other;
    other.Attach(FHost.List());
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageA(FHost.List(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0)),
              other.ImageList());
  }
  EXPECT_EQ(SendMessageA(FHost.List(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0), 0);
}

TEST_F(IconStoreTest, ClearOnEmptyOrUnattachedStoreIsSilent) {
  EXPECT_NO_THROW(FStore.Clear());
  EXPECT_EQ(FStore.EntryCount(), 0);
  EXPECT_EQ(FStore.ImageCount(), 0);
  TIconStore unattached;
  EXPECT_NO_THROW(unattached.Clear());
  EXPECT_EQ(unattached.Selected(), -1);
  TIcon icon;
  EXPECT_NO_THROW(unattached.GetIcon(0, &icon));
  EXPECT_TRUE(icon.Empty());
}

TEST_F(IconStoreTest, ThreeAddsGiveIndicesInOrderAndReadBackByPosition) {
  EXPECT_EQ(AddColour(kRed, "Icon1"), 0);
  EXPECT_EQ(AddColour(kGreen, "Icon2"), 1);
  EXPECT_EQ(AddColour(kBlue, "Icon3"), 2);
  ASSERT_EQ(FStore.EntryCount(), 3);
  EXPECT_EQ(FStore.ImageCount(), 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(FStore.ImageIndex(k), k);
    EXPECT_EQ(FStore.Caption(k), "Icon" + std::to_string(k + 1));
    EXPECT_EQ(FStore.SubItem(k), "C:\\file.dll");
  }
  TIcon second;
  FStore.GetIcon(1, &second);
  ASSERT_FALSE(second.Empty());
  EXPECT_EQ(IconPixel(second.Handle(), 16, 16), kGreen);
  EXPECT_EQ(IconPixel(second.Handle(), 1, 1), kWhite);
}

TEST_F(IconStoreTest, AddKeepsTheCallersHandleAndCopiesTheImage) {
  TIcon icon;
  icon.SetHandle(MakeTestIcon(kBlue, 4));
  const HICON handle = icon.Handle();
  ASSERT_EQ(FStore.AddIcon(icon), 0);
  EXPECT_EQ(icon.Handle(), handle);
  icon.SetHandle(nullptr);  // the image list's copy outlives the original
  EXPECT_EQ(RenderedPixel(0, 16, 16), kBlue);
}

TEST_F(IconStoreTest, GetIconPastTheEndLeavesTheIconEmpty) {
  AddColour(kRed, "Icon1");
  TIcon icon;
  icon.SetHandle(MakeTestIcon(kBlue, 0));
  const int live = TIcon::LiveHandles();
  FStore.GetIcon(1, &icon);
  EXPECT_TRUE(icon.Empty());
  EXPECT_EQ(TIcon::LiveHandles(), live - 1);  // the handle held before was destroyed
  EXPECT_NO_THROW(FStore.GetIcon(0, nullptr));
}

TEST_F(IconStoreTest, RenderPastTheEndIsAllWhite) {
  AddColour(kRed, "Icon1");
  TBitmap bitmap;
  FStore.RenderOnto(5, &bitmap);
  ASSERT_EQ(bitmap.Width(), 32);
  ASSERT_EQ(bitmap.Height(), 32);
  ASSERT_NE(bitmap.Handle(), nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(PixelOf(bitmap.Handle(), x, y), kWhite) << x << "," << y;
}

TEST_F(IconStoreTest, RenderDrawsOpaquePixelsAndLeavesTransparentOnesWhite) {
  AddColour(kRed, "Icon1");
  AddColour(kBlue, "Icon2");
  EXPECT_EQ(RenderedPixel(1, 16, 16), kBlue);
  EXPECT_EQ(RenderedPixel(1, 4, 4), kBlue);
  EXPECT_EQ(RenderedPixel(1, 3, 3), kWhite);
  EXPECT_EQ(RenderedPixel(1, 0, 31), kWhite);
  EXPECT_EQ(RenderedPixel(0, 27, 27), kRed);
  EXPECT_EQ(RenderedPixel(0, 28, 28), kWhite);
}

TEST_F(IconStoreTest, IconSmallerThan32IsRefusedAndAddsNothing) {
  TTempFile file("small16.ico");
  file.Write(SolidIcoFile(16, 255, 0, 0));
  TIcon icon;
  icon.LoadFromFile(file.Name());
  ASSERT_EQ(icon.Width(), 16);
  try {
    FStore.AddIcon(icon);
    FAIL() << "a 16 x 16 icon was accepted";
  } catch (const EFailure& failure) {
    EXPECT_EQ(failure.Message(), msg::InvalidImageSize);
  }
  EXPECT_EQ(FStore.ImageCount(), 0);
  EXPECT_EQ(FStore.EntryCount(), 0);
  // A 32 x 32 file passes the same check.
  TTempFile large("large32.ico");
  large.Write(SolidIcoFile(32, 0, 0, 255));
  icon.LoadFromFile(large.Name());
  EXPECT_EQ(FStore.AddIcon(icon), 0);
}

TEST_F(IconStoreTest, ClearEmptiesBothHalvesAndIndicesRestartAtZero) {
  AddColour(kRed, "Icon1");
  AddColour(kGreen, "Icon2");
  const LPARAM gone = FStore.EntryParam(1);
  FStore.Clear();
  EXPECT_EQ(FStore.EntryCount(), 0);
  EXPECT_EQ(FStore.ImageCount(), 0);
  EXPECT_EQ(FStore.FindEntry(gone), -1);
  EXPECT_EQ(FStore.SubItem(0), "");
  EXPECT_EQ(AddColour(kBlue, "Icon1"), 0);
  EXPECT_EQ(RenderedPixel(0, 16, 16), kBlue);
}

// The image list starts with room for 4 images and then makes room in large steps:
// the images it held before a growth must come through the copy unchanged, in their
// places, and a cleared store fills again from 0.
TEST_F(IconStoreTest, ImagesKeepTheirPlacesAcrossAGrowth) {
  const int count = 13;
  std::vector<COLORREF> colours;
  for (int k = 0; k < count; ++k) {
    colours.push_back(RGB(19 * k, 255 - 19 * k, 60 + 11 * k));
    ASSERT_EQ(AddColour(colours.back(), "Icon" + std::to_string(k + 1)), k);
  }
  ASSERT_EQ(FStore.EntryCount(), count);
  EXPECT_EQ(FStore.ImageCount(), count);
  for (int k = 0; k < count; ++k) {
    EXPECT_EQ(FStore.ImageIndex(k), k);
    EXPECT_EQ(RenderedPixel(k, 16, 16), colours[static_cast<std::size_t>(k)]) << "image " << k;
    EXPECT_EQ(RenderedPixel(k, 1, 1), kWhite) << "image " << k;
  }
  EXPECT_EQ(RenderedPixel(count, 16, 16), kWhite);
  FStore.Clear();
  EXPECT_EQ(AddColour(kBlue, "Icon1"), 0);
  EXPECT_EQ(RenderedPixel(0, 16, 16), kBlue);
  EXPECT_EQ(FStore.ImageCount(), 1);
}

TEST_F(IconStoreTest, EntriesCarryTheirSubItemAndAreFoundByTheirParameter) {
  FStore.AppendEntry("Icon1", 0, "C:\\a.dll");
  FStore.AppendEntry("Icon2", 1, "C:\\日本語\\b.dll");
  EXPECT_EQ(FStore.SubItem(0), "C:\\a.dll");
  EXPECT_EQ(FStore.SubItem(1), "C:\\日本語\\b.dll");
  EXPECT_EQ(FStore.SubItem(2), "");
  EXPECT_NE(FStore.EntryParam(0), FStore.EntryParam(1));
  EXPECT_EQ(FStore.FindEntry(FStore.EntryParam(1)), 1);
  EXPECT_EQ(FStore.FindEntry(FStore.EntryParam(0)), 0);
}

TEST_F(IconStoreTest, SelectedFollowsTheListsSelection) {
  AddColour(kRed, "Icon1");
  AddColour(kGreen, "Icon2");
  EXPECT_EQ(FStore.Selected(), -1);
  LVITEMA state{};
  state.stateMask = LVIS_SELECTED;
  state.state = LVIS_SELECTED;
  SendMessageA(FHost.List(), LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
  EXPECT_EQ(FStore.Selected(), 1);
}

TEST_F(IconStoreTest, NullHandleStoresNothingAndABlankKeepsEntryKOnImageK) {
  AddColour(kRed, "Icon1");
  TIcon nothing;
  EXPECT_EQ(FStore.AddIcon(nothing), -1);
  EXPECT_EQ(FStore.ImageCount(), 1);
  EXPECT_EQ(FStore.AddBlank(), 1);
  FStore.AppendEntry("Icon2", 1, "C:\\file.dll");
  EXPECT_EQ(AddColour(kBlue, "Icon3"), 2);
  EXPECT_EQ(FStore.ImageIndex(2), 2);
  EXPECT_EQ(RenderedPixel(2, 16, 16), kBlue);
  for (int y = 0; y < 32; y += 3)
    for (int x = 0; x < 32; x += 3) ASSERT_EQ(RenderedPixel(1, x, y), kWhite) << x << "," << y;
  TIcon blank;
  FStore.GetIcon(1, &blank);
  EXPECT_FALSE(blank.Empty());
}

TEST_F(IconStoreTest, EveryAddAndClearAsksTheListToRedraw) {
  RECT dirty;
  UpdateWindow(FHost.List());
  ASSERT_FALSE(GetUpdateRect(FHost.List(), &dirty, FALSE));
  TIcon icon;
  icon.SetHandle(MakeTestIcon(kRed, 0));
  FStore.AddIcon(icon);
  EXPECT_TRUE(GetUpdateRect(FHost.List(), &dirty, FALSE));
  UpdateWindow(FHost.List());
  ASSERT_FALSE(GetUpdateRect(FHost.List(), &dirty, FALSE));
  FStore.Clear();
  EXPECT_TRUE(GetUpdateRect(FHost.List(), &dirty, FALSE));
}

}  // namespace
