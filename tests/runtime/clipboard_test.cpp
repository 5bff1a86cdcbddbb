#include "runtime/clipboard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "runtime/failure.h"

namespace {

HGLOBAL TextBlock(const char* text) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
  std::memcpy(GlobalLock(block), text, std::strlen(text) + 1);
  GlobalUnlock(block);
  return block;
}

std::string ClipboardText(HWND reader) {
  std::string text;
  if (!OpenClipboard(reader)) return "(not opened)";
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    text = static_cast<const char*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

class ClipboardObjectTest : public ::testing::Test {
protected:
  void SetUp() override {
    FOwner = CreateWindowExA(0, "STATIC", "owner", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    FReader = CreateWindowExA(0, "STATIC", "reader", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    Clipboard().SetOwnerOverride(FOwner);
  }
  void TearDown() override {
    while (Clipboard().OpenCount() > 0) Clipboard().Close();
    Clipboard().ClearOwnerOverride();
    DestroyWindow(FOwner);
    DestroyWindow(FReader);
  }
  HWND FOwner = nullptr, FReader = nullptr;
};

}  // namespace

TEST_F(ClipboardObjectTest, OnlyTheOuterOpenAndCloseReachTheSystem) {
  TClipboard& clipboard = Clipboard();
  EXPECT_EQ(clipboard.OpenCount(), 0);
  EXPECT_EQ(&clipboard, &Clipboard()) << "one object for the whole program";
  clipboard.Open();
  EXPECT_EQ(clipboard.OwnerWindow(), FOwner);
  EXPECT_EQ(GetOpenClipboardWindow(), FOwner);
  clipboard.Open();
  EXPECT_EQ(clipboard.OpenCount(), 2);
  clipboard.Close();
  EXPECT_EQ(GetOpenClipboardWindow(), FOwner) << "still open at count 1";
  clipboard.Close();
  EXPECT_EQ(clipboard.OpenCount(), 0);
  EXPECT_EQ(clipboard.OwnerWindow(), nullptr);
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
  clipboard.Close();  // closing at 0 does nothing
  EXPECT_EQ(clipboard.OpenCount(), 0);
}

TEST_F(ClipboardObjectTest, EmptiesOncePerOpeningSoSeveralItemsCanBePlaced) {
  TClipboard& clipboard = Clipboard();
  {
    TClipboardOpen open(clipboard);
    clipboard.SetAsHandle(CF_TEXT, TextBlock("first"));
    EXPECT_TRUE(clipboard.Emptied());
    const UINT custom = RegisterClipboardFormatA("GlyphdockExportTest");
    clipboard.SetAsHandle(custom, TextBlock("second"));
    EXPECT_EQ(clipboard.OpenCount(), 1);
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT)) << "the second item must not empty the first away";
    EXPECT_TRUE(IsClipboardFormatAvailable(custom));
  }
  EXPECT_EQ(clipboard.OpenCount(), 0);
  EXPECT_EQ(ClipboardText(FReader), "first");

  // A new opening empties again.
  {
    TClipboardOpen open(clipboard);
    EXPECT_FALSE(clipboard.Emptied());
    clipboard.SetAsHandle(CF_TEXT, TextBlock("third"));
  }
  EXPECT_EQ(ClipboardText(FReader), "third");
  ASSERT_TRUE(OpenClipboard(FReader));
  EXPECT_FALSE(IsClipboardFormatAvailable(RegisterClipboardFormatA("GlyphdockExportTest")));
  CloseClipboard();
}

TEST_F(ClipboardObjectTest, OpenFailsWhileAnotherWindowHoldsTheClipboard) {
  ASSERT_TRUE(OpenClipboard(FReader));
  // Another thread stands in for another program: the system clipboard is per thread.
  std::string failure;
  int count = -1;
  std::thread other([&] {
    try {
      Clipboard().Open();
      Clipboard().Close();
      failure = "(no failure)";
    } catch (const EFailure& e) {
      failure = e.Message();
    }
    count = Clipboard().OpenCount();
  });
  other.join();
  CloseClipboard();
  EXPECT_EQ(failure, msg::CannotOpenClipboard);
  EXPECT_EQ(count, 0);
}
