// The main window against real controls under Wine: start state, command states, status
// line, drops, collection runs through the busy dialog, and the about box.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "app/application.h"
#include "common/common.h"
#include "runtime/failure.h"
#include "support/dialogdriver.h"
#include "support/fixtures.h"
#include "support/msgboxdriver.h"
#include "ui/programfixture.h"

namespace {
bool MenuEnabled(HMENU menu, int id) {
  const UINT state = GetMenuState(menu, static_cast<UINT>(id), MF_BYCOMMAND);
  return state != 0xFFFFFFFF && (state & (MF_GRAYED | MF_DISABLED)) == 0;
}
bool ToolEnabled(HWND bar, int id) { return SendMessageA(bar, TB_ISBUTTONENABLED, static_cast<WPARAM>(id), 0) != 0; }

std::string MenuCaption(HMENU menu, UINT position) {
  char text[256] = {};
  GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
  return text;
}

POINT ItemCenter(HWND list, int index) {
  RECT r{};
  r.left = LVIR_ICON;
  SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void PressIn(HWND list, UINT down, UINT up, POINT at) {
  const WPARAM keys = down == WM_LBUTTONDOWN ? MK_LBUTTON : MK_RBUTTON;
  PostMessageA(list, down, keys, MAKELPARAM(at.x, at.y));
  PostMessageA(list, up, 0, MAKELPARAM(at.x, at.y));
}

// A drop as the shell builds it: DROPFILES followed by NUL-separated names.
HDROP MakeDrop(const std::vector<std::string>& names) {
  std::string block;
  for (const auto& n : names) block += n + '\0';
  block += '\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + block.size());
  auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = FALSE;
  std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), block.data(), block.size());
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

void Collect(const std::vector<std::string>& names) {
  MainForm->Store().Clear();
  *MainForm->FileList() = names;
  MainForm->CollectIcons();
}
}  // namespace

TEST(ApplicationTitle, CutsAtFirstDotAndLowersAfterTheFirstByte) {
  EXPECT_EQ(ApplicationTitleFrom("C:\\Tools\\Glyphdock.exe"), "Glyphdock");
  EXPECT_EQ(ApplicationTitleFrom("C:\\Tools\\GLYPHDOCK.EXE"), "Glyphdock");
  EXPECT_EQ(ApplicationTitleFrom("D:\\bin\\viewer.old.exe"), "viewer");
  EXPECT_EQ(ApplicationTitleFrom("noext"), "noext");
  // "ソ" and "表" end in the byte 0x5C: neither is a separator.
  EXPECT_EQ(ApplicationTitleFrom("C:\\ソフト\\表示.exe"), "表示");
  EXPECT_EQ(ApplicationTitleFrom("C:\\dir\\ソ.exe"), "ソ");
  EXPECT_EQ(ApplicationTitleFrom("C:\\dir\\表"), "表");
}

TEST(InitialFolder, IsTheFolderWithoutTheDrive) {
  EXPECT_EQ(TMainForm::InitialFolderOf("C:\\Tools\\x.exe"), "\\Tools\\");
  EXPECT_EQ(TMainForm::InitialFolderOf("C:\\x.exe"), "\\");
  EXPECT_EQ(TMainForm::InitialFolderOf("C:\\ソ\\x.exe"), "\\ソ\\");
  TFileDialog dialog(TFileDialog::TKind::Open);
  dialog.SetInitialDir("\\Tools\\");
  EXPECT_EQ(dialog.InitialDir, "\\Tools");
  dialog.SetInitialDir("\\");
  EXPECT_EQ(dialog.InitialDir, "\\");
  dialog.SetInitialDir("C:\\");
  EXPECT_EQ(dialog.InitialDir, "C:\\");
  dialog.SetInitialDir("\\ソ\\");  // the trail byte of "ソ" is not the separator dropped
  EXPECT_EQ(dialog.InitialDir, "\\ソ");
}

TEST_F(TProgramTest, StartsWithMenusToolBarAndSelectionCommandsDisabled) {
  char caption[64] = {}, cls[64] = {};
  GetWindowTextA(MainForm->Handle(), caption, sizeof caption);
  GetClassNameA(MainForm->Handle(), cls, sizeof cls);
  EXPECT_STREQ(caption, "Glyphdock");
  EXPECT_STREQ(cls, "TMainForm");
  // No stored placement: the window opens at the screen's top-left, designed size.
  EXPECT_EQ(MainForm->Left(), 0);
  EXPECT_EQ(MainForm->Top(), 0);
  EXPECT_EQ(MainForm->Width(), 321);
  EXPECT_EQ(MainForm->Height(), 271);
  EXPECT_EQ(GetWindow(MainForm->Handle(), GW_OWNER), Application.Handle());

  HMENU bar = MainForm->MainMenu();
  ASSERT_EQ(GetMenuItemCount(bar), 3);
  EXPECT_EQ(MenuCaption(bar, 0), "ファイル(&F)");
  EXPECT_EQ(MenuCaption(bar, 1), "編集(&E)");
  EXPECT_EQ(MenuCaption(bar, 2), "ヘルプ(&H)");
  HMENU file = GetSubMenu(bar, 0);
  EXPECT_EQ(MenuCaption(file, 0), "開く(&O)");
  EXPECT_EQ(MenuCaption(file, 1), "名前をつけて保存(&A)");
  EXPECT_EQ(GetMenuState(file, 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  EXPECT_EQ(MenuCaption(file, 3), "終了(&X)");
  EXPECT_EQ(MenuCaption(GetSubMenu(bar, 1), 0), "コピー(&C)");
  EXPECT_EQ(MenuCaption(GetSubMenu(bar, 2), 0), "Glyphdockについて...");
  HMENU popup = MainForm->PopupMenu();
  EXPECT_EQ(MenuCaption(popup, 0), "ファイルを開く(&O)");
  EXPECT_EQ(MenuCaption(popup, 1), "名前をつけて保存(&S)");
  EXPECT_EQ(MenuCaption(popup, 3), "コピー(&C)");

  EXPECT_TRUE(MenuEnabled(bar, TMainForm::cmOpenFile));
  EXPECT_TRUE(MenuEnabled(bar, TMainForm::cmExit));
  EXPECT_TRUE(MenuEnabled(bar, TMainForm::cmAbout));
  EXPECT_FALSE(MenuEnabled(bar, TMainForm::cmSaveAs));
  EXPECT_FALSE(MenuEnabled(bar, TMainForm::cmCopy));
  EXPECT_FALSE(MenuEnabled(popup, TMainForm::cmSaveAs3));
  EXPECT_FALSE(MenuEnabled(popup, TMainForm::cmCopy3));
  EXPECT_TRUE(MenuEnabled(popup, TMainForm::cmOpenFile3));
  HWND tools = MainForm->ToolBar();
  EXPECT_TRUE(ToolEnabled(tools, TMainForm::cmOpenFile2));
  EXPECT_FALSE(ToolEnabled(tools, TMainForm::cmSaveAs2));
  EXPECT_FALSE(ToolEnabled(tools, TMainForm::cmCopy2));

  // Tool bar: four items (the separator counted), buttons 23 x 22 from the left edge 4.
  ASSERT_EQ(SendMessageA(tools, TB_BUTTONCOUNT, 0, 0), 4);
  RECT r{};
  const int lefts[] = {4, 27, 50, 58};
  for (int i = 0; i < 4; ++i) {
    SendMessageA(tools, TB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(r.left, lefts[i]) << "tool bar item " << i;
  }
  SendMessageA(tools, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r));
  EXPECT_EQ(r.right - r.left, 23);
  EXPECT_EQ(r.bottom - r.top, 22);

  HWND list = MainForm->IconListView();
  const LONG style = GetWindowLongA(list, GWL_STYLE);
  EXPECT_EQ(style & LVS_TYPEMASK, LVS_ICON);
  EXPECT_TRUE(style & LVS_SINGLESEL);
  EXPECT_TRUE(style & LVS_SHAREIMAGELISTS);
  EXPECT_TRUE(style & LVS_AUTOARRANGE);
  EXPECT_FALSE(style & LVS_EDITLABELS);
  EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_NORMAL, 0)),
            MainForm->Store().ImageList());
  char column[64] = {};
  LVCOLUMNA col{};
  col.mask = LVCF_TEXT;
  col.pszText = column;
  col.cchTextMax = sizeof column;
  ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&col)));
  EXPECT_STREQ(column, "ファイル名");
  EXPECT_EQ(MainForm->StatusText(), "");
  EXPECT_EQ(MainForm->Store().EntryCount(), 0);
}

// Every window shows the program icon: the main window from its first show, the two
// dialogs through their class until they are first shown and as their own from then on.
TEST_F(TProgramTest, EveryWindowShowsTheProgramIcon) {
  const HICON program = Application.Icon();
  ASSERT_NE(program, nullptr);
  auto own = [](TForm* form) { return reinterpret_cast<HICON>(SendMessageA(form->Handle(), WM_GETICON, ICON_BIG, 0)); };
  auto ofClass = [](TForm* form) { return reinterpret_cast<HICON>(GetClassLongPtrA(form->Handle(), GCLP_HICON)); };
  EXPECT_EQ(own(MainForm), program);
  EXPECT_EQ(ofClass(MainForm), program);
  EXPECT_EQ(ofClass(AboutBox), program);
  EXPECT_EQ(ofClass(BusyDlg), program);
  Collect({});  // the busy dialog is shown and closes at once
  EXPECT_EQ(own(BusyDlg), program);
  TDuringModal close([] { AboutBox->Close(); });
  MainForm->AboutClick();
  ASSERT_TRUE(close.Fired());
  EXPECT_EQ(own(AboutBox), program);
}

TEST_F(TProgramTest, CollectionFillsTheListThroughTheBusyDialog) {
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll"),
                    none = FixturePath("noicons.dll");
  Collect({three});
  TIconStore& store = MainForm->Store();
  ASSERT_EQ(store.EntryCount(), 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(store.Caption(k), "Icon" + std::to_string(k + 1));
    EXPECT_EQ(store.ImageIndex(k), k);
    EXPECT_EQ(store.SubItem(k), three);
  }
  EXPECT_EQ(BusyDlg->ProgressMax(), 1);
  EXPECT_EQ(BusyDlg->ProgressPosition(), 0);
  EXPECT_FALSE(BusyDlg->Visible());
  EXPECT_TRUE(MainForm->FileList()->empty());
  EXPECT_TRUE(IsWindowEnabled(MainForm->Handle()));

  // Two files, a file without icons between them: numbering runs on without a gap.
  Collect({two, none, three});
  ASSERT_EQ(store.EntryCount(), 5);
  EXPECT_EQ(store.Caption(0), "Icon1");
  EXPECT_EQ(store.Caption(4), "Icon5");
  EXPECT_EQ(store.SubItem(1), two);
  EXPECT_EQ(store.SubItem(2), three);
  EXPECT_EQ(store.ImageCount(), 5);
  EXPECT_EQ(BusyDlg->ProgressMax(), 3);
  EXPECT_EQ(BusyDlg->ProgressPosition(), 2);
  EXPECT_EQ(BusyDlg->FileNameLabel(), three);

  // An empty list: the dialog shows and closes at once.
  Collect({});
  EXPECT_EQ(store.EntryCount(), 0);
  EXPECT_EQ(BusyDlg->ProgressMax(), 0);
  EXPECT_EQ(BusyDlg->FileNameLabel(), "");
  EXPECT_FALSE(BusyDlg->Visible());
}

TEST_F(TProgramTest, CancelKeepsEveryFileBegunAndNoStepRunsAfterwards) {
  const std::string three = FixturePath("three.dll");
  std::vector<std::string> many(200, three);
  int progressAtCancel = -1;
  // Cancel once a few files are in: the file in progress is finished, no other begun.
  TDuringModal cancel([&] {
    progressAtCancel = BusyDlg->ProgressPosition();
    SendMessageA(BusyDlg->Item(TBusyDlg::idButtonCancel), BM_CLICK, 0, 0);
  }, 150);
  Collect(many);
  ASSERT_TRUE(cancel.Fired());
  const int entries = MainForm->Store().EntryCount();
  EXPECT_EQ(entries % 3, 0);
  EXPECT_GE(entries, 3 * (progressAtCancel + 1));
  EXPECT_LE(entries, 3 * (progressAtCancel + 2));  // the file begun when the click was seen
  EXPECT_LT(entries, 600);
  EXPECT_TRUE(MainForm->FileList()->empty());
  EXPECT_FALSE(BusyDlg->Visible());
  Pump(200);
  EXPECT_EQ(MainForm->Store().EntryCount(), entries);
}

TEST_F(TProgramTest, CancelClickedWhileAFileIsReadStopsTheRunAfterThatFile) {
  // A person's click on Cancel (pointer moved there, a press and a release as input)
  // while the first of several copies of the shell's library is being read: that file
  // is finished, and no further one is begun although the worker never waits for input.
  const std::string shell32 = SystemDllPath("shell32.dll");
  const int perFile = static_cast<int>(reinterpret_cast<UINT_PTR>(
      ExtractIconA(GetModuleHandleA(nullptr), shell32.c_str(), static_cast<UINT>(-1))));
  ASSERT_GT(perFile, 100);
  HWND button = BusyDlg->Item(TBusyDlg::idButtonCancel);
  std::atomic<bool> quit{false}, clicked{false};
  std::thread clicker([&] {
    while (!quit && TIcon::LiveHandles() == 0) Sleep(1);  // an icon is alive only inside a file's step
    if (quit) return;
    RECT r{};
    GetWindowRect(button, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &input[0], sizeof(INPUT));
    Sleep(20);
    SendInput(1, &input[1], sizeof(INPUT));
    clicked = true;
  });
  Collect(std::vector<std::string>(6, shell32));
  quit = true;
  clicker.join();
  ASSERT_TRUE(clicked);
  EXPECT_EQ(MainForm->Store().EntryCount(), perFile);
  EXPECT_TRUE(MainForm->FileList()->empty());
  EXPECT_FALSE(BusyDlg->Visible());
}

TEST_F(TProgramTest, ClicksSetCommandStatesAndTheStatusLine) {
  const std::string three = FixturePath("three.dll");
  Collect({three});
  HWND list = MainForm->IconListView();
  Pump();
  PressIn(list, WM_LBUTTONDOWN, WM_LBUTTONUP, ItemCenter(list, 1));
  Pump(150);
  EXPECT_EQ(MainForm->Store().Selected(), 1);
  EXPECT_TRUE(MenuEnabled(MainForm->MainMenu(), TMainForm::cmSaveAs));
  EXPECT_TRUE(MenuEnabled(MainForm->MainMenu(), TMainForm::cmCopy));
  EXPECT_TRUE(ToolEnabled(MainForm->ToolBar(), TMainForm::cmSaveAs2));
  EXPECT_TRUE(ToolEnabled(MainForm->ToolBar(), TMainForm::cmCopy2));
  EXPECT_FALSE(MenuEnabled(MainForm->PopupMenu(), TMainForm::cmSaveAs3));  // left clicks leave it
  EXPECT_EQ(MainForm->StatusText(), three);

  // The keyboard moves the selection but changes neither states nor the status line.
  SendMessageA(list, WM_KEYDOWN, VK_RIGHT, 0);
  Pump();
  EXPECT_EQ(MainForm->StatusText(), three);
  EXPECT_TRUE(MenuEnabled(MainForm->MainMenu(), TMainForm::cmSaveAs));

  // A new collection leaves the states as they were, and the status line too.
  Collect({three});
  EXPECT_TRUE(MenuEnabled(MainForm->MainMenu(), TMainForm::cmSaveAs));
  EXPECT_EQ(MainForm->StatusText(), three);

  // A left click on empty space disables them and empties the status line.
  RECT client{};
  GetClientRect(list, &client);
  PressIn(list, WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{client.right - 5, client.bottom - 5});
  Pump(150);
  EXPECT_EQ(MainForm->Store().Selected(), -1);
  EXPECT_FALSE(MenuEnabled(MainForm->MainMenu(), TMainForm::cmSaveAs));
  EXPECT_FALSE(ToolEnabled(MainForm->ToolBar(), TMainForm::cmCopy2));
  EXPECT_EQ(MainForm->StatusText(), "");
}

TEST_F(TProgramTest, RightPressSetsTheShortcutMenuBeforeItOpens) {
  const std::string three = FixturePath("three.dll");
  Collect({three});
  HWND list = MainForm->IconListView();
  Pump();
  bool sawMenu = false, saveAsEnabled = false, copyEnabled = false;
  std::string statusWhileOpen;
  auto inspect = [&] {
    sawMenu = true;
    saveAsEnabled = MenuEnabled(MainForm->PopupMenu(), TMainForm::cmSaveAs3);
    copyEnabled = MenuEnabled(MainForm->PopupMenu(), TMainForm::cmCopy3);
    statusWhileOpen = MainForm->StatusText();
    EndMenu();
  };
  {
    TDuringModal probe(inspect, 300);
    PressIn(list, WM_RBUTTONDOWN, WM_RBUTTONUP, ItemCenter(list, 2));
    Pump(800);
  }
  ASSERT_TRUE(sawMenu) << "the shortcut menu did not open";
  EXPECT_TRUE(saveAsEnabled);
  EXPECT_TRUE(copyEnabled);
  EXPECT_EQ(statusWhileOpen, three);
  // The main menu follows left clicks only.
  EXPECT_FALSE(MenuEnabled(MainForm->MainMenu(), TMainForm::cmSaveAs));

  sawMenu = false;
  RECT client{};
  GetClientRect(list, &client);
  {
    TDuringModal probe(inspect, 300);
    PressIn(list, WM_RBUTTONDOWN, WM_RBUTTONUP, POINT{client.right - 5, client.bottom - 5});
    Pump(800);
  }
  ASSERT_TRUE(sawMenu);
  EXPECT_FALSE(saveAsEnabled);
  EXPECT_FALSE(copyEnabled);
  EXPECT_EQ(statusWhileOpen, "");
}

TEST_F(TProgramTest, DropEmptiesTheStoreAppendsNamesAndCollects) {
  const std::string two = FixturePath("two.dll"), three = FixturePath("three.dll");
  Collect({three});
  ASSERT_EQ(MainForm->Store().EntryCount(), 3);
  SendMessageA(MainForm->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({two})), 0);
  EXPECT_EQ(MainForm->Store().EntryCount(), 2);
  EXPECT_EQ(MainForm->Store().SubItem(0), two);
  // A drop of a file without icons still empties the list.
  SendMessageA(MainForm->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({FixturePath("noicons.dll")})), 0);
  EXPECT_EQ(MainForm->Store().EntryCount(), 0);
  EXPECT_TRUE(MainForm->FileList()->empty());
  EXPECT_EQ(Application.Cursor(), TCursor::Default);
}

TEST_F(TProgramTest, DropDuringARunOrAfterTheCloseIsTurnedAway) {
  const std::string three = FixturePath("three.dll");
  std::vector<std::string> files(20, three);
  int entriesSeen = -1;
  TDuringModal drop([&] {
    SendMessageA(MainForm->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({FixturePath("two.dll")})), 0);
    entriesSeen = MainForm->Store().EntryCount();
  }, 50);
  Collect(files);
  ASSERT_TRUE(drop.Fired());
  EXPECT_EQ(MainForm->Store().EntryCount(), 60);  // the run went on untouched
  EXPECT_GT(entriesSeen, 0);
  for (int k = 0; k < 60; ++k) ASSERT_EQ(MainForm->Store().SubItem(k), three);

  // After the close released the list, a queued drop changes nothing.
  MainForm->Close();
  Application.HandleMessage();
  SendMessageA(MainForm->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({three})), 0);
  EXPECT_EQ(MainForm->FileList(), nullptr);
  EXPECT_EQ(MainForm->Store().EntryCount(), 60);
}

TEST_F(TProgramTest, ModalShowRefusesAVisibleDialog) {
  BusyDlg->Show();
  try {
    BusyDlg->ShowModal();
    ADD_FAILURE() << "a visible dialog was shown modally";
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "表示されているウィンドウをモーダルにすることはできません");
  }
  EXPECT_TRUE(BusyDlg->Visible());
  EXPECT_FALSE(BusyDlg->Modal());
  BusyDlg->Hide();
}

TEST_F(TProgramTest, AboutBoxOpensCentredAndOnlyItsButtonsCloseIt) {
  MainForm->SetLeft(100);
  MainForm->SetTop(120);
  POINT at{}, expected{};
  bool visibleAfterEscape = false, mainDisabled = false;
  std::string caption;
  TDuringModal keys([&] {
    at = POINT{AboutBox->Left(), AboutBox->Top()};
    expected = CenteredPosition(MainForm->Left(), MainForm->Top(), MainForm->Width(), MainForm->Height(),
                                AboutBox->Width(), AboutBox->Height());
    mainDisabled = !IsWindowEnabled(MainForm->Handle());
    char text[128] = {};
    GetWindowTextA(AboutBox->Handle(), text, sizeof text);
    caption = text;
    HWND focus = GetFocus();
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0);
    Application.ProcessMessages();
    visibleAfterEscape = AboutBox->Visible() && AboutBox->ModalResult == 0;
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
  });
  MainForm->AboutClick();
  ASSERT_TRUE(keys.Fired());
  EXPECT_EQ(at.x, expected.x);
  EXPECT_EQ(at.y, expected.y);
  EXPECT_EQ(caption, "Glyphdock について");
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(visibleAfterEscape) << "Escape closed the about box";
  EXPECT_EQ(AboutBox->ModalResult, IDOK);
  EXPECT_FALSE(AboutBox->Visible());
  EXPECT_TRUE(IsWindowEnabled(MainForm->Handle()));
  RECT client{};
  GetClientRect(AboutBox->Handle(), &client);
  EXPECT_EQ(client.right, 298);
  EXPECT_EQ(client.bottom, 180);
}

TEST_F(TProgramTest, BusyDialogCancelAnswersToItsKeysAndCloseBox) {
  RECT client{};
  GetClientRect(BusyDlg->Handle(), &client);
  EXPECT_EQ(client.right, 290);
  EXPECT_EQ(client.bottom, 112);
  char text[64] = {};
  GetWindowTextA(BusyDlg->Item(TBusyDlg::idButtonCancel), text, sizeof text);
  EXPECT_STREQ(text, "中止(&C)");
  const LONG style = GetWindowLongA(BusyDlg->Handle(), GWL_STYLE);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(style & WS_SYSMENU);

  struct TKey {
    UINT Message;
    WPARAM Key;
  };
  const TKey keys[] = {{WM_KEYDOWN, VK_RETURN}, {WM_KEYDOWN, VK_SPACE}, {WM_CHAR, 'c'}, {WM_SYSCHAR, 'c'}};
  for (const TKey& key : keys) {
    bool focusOnCancel = false, escapeIgnored = false;
    TDuringModal press([&] {
      HWND focus = GetFocus();
      focusOnCancel = focus == BusyDlg->Item(TBusyDlg::idButtonCancel);
      PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
      Application.ProcessMessages();
      escapeIgnored = BusyDlg->ModalResult == 0;
      if (key.Key == VK_SPACE) {
        PostMessageA(focus, WM_KEYDOWN, VK_SPACE, 0);
        PostMessageA(focus, WM_KEYUP, VK_SPACE, 0);
      } else {
        PostMessageA(focus, key.Message, key.Key, key.Message == WM_SYSCHAR ? (1 << 29) : 0);
      }
    });
    EXPECT_EQ(BusyDlg->ShowModal(), IDCANCEL) << "key " << key.Key;
    EXPECT_TRUE(press.Fired());
    EXPECT_TRUE(focusOnCancel);
    EXPECT_TRUE(escapeIgnored);
  }
  TDuringModal closeBox([&] { PostMessageA(BusyDlg->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); });
  EXPECT_EQ(BusyDlg->ShowModal(), IDCANCEL);
  EXPECT_FALSE(BusyDlg->Visible());
}

TEST_F(TProgramTest, ToolBarHintsShowAfterHalfASecondForTwoAndAHalf) {
  HWND tips = reinterpret_cast<HWND>(SendMessageA(MainForm->ToolBar(), TB_GETTOOLTIPS, 0, 0));
  ASSERT_NE(tips, nullptr);
  EXPECT_EQ(SendMessageA(tips, TTM_GETDELAYTIME, TTDT_INITIAL, 0), 500);
  EXPECT_EQ(SendMessageA(tips, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), 2500);
  const std::pair<int, const char*> hints[] = {
      {TMainForm::cmOpenFile2, "ファイルを開く"}, {TMainForm::cmSaveAs2, "名前をつけて保存"}, {TMainForm::cmCopy2, "コピー"}};
  for (const auto& [id, hint] : hints) {
    NMTTDISPINFOA info{};
    info.hdr.hwndFrom = tips;
    info.hdr.idFrom = static_cast<UINT_PTR>(id);
    info.hdr.code = TTN_GETDISPINFOA;
    SendMessageA(MainForm->Handle(), WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&info));
    ASSERT_NE(info.lpszText, nullptr);
    EXPECT_STREQ(info.lpszText, hint);
  }
}

TEST_F(TProgramTest, OpenDialogIsPlacedOnTheMonitorAndCancelKeepsTheIcons) {
  Collect({FixturePath("three.dll")});
  RECT dialogRect{};
  bool found = false;
  TDuringModal look([&] {
    for (int tries = 0; tries < 100 && !found; ++tries) {
      if (HWND dialog = FindProcessFileDialog()) {
        Pump(300);  // the dialog places itself once it is laid out
        GetWindowRect(dialog, &dialogRect);
        found = true;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      } else {
        Pump(100);
      }
    }
  }, 300);
  SendMessageA(MainForm->Handle(), WM_COMMAND, TMainForm::cmOpenFile, 0);
  ASSERT_TRUE(found) << "the open dialog did not appear";
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoA(MonitorFromWindow(MainForm->Handle(), MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& m = monitor.rcMonitor;
  const int width = dialogRect.right - dialogRect.left, height = dialogRect.bottom - dialogRect.top;
  EXPECT_EQ(dialogRect.left, m.left + ((m.right - m.left) - width) / 2);
  EXPECT_EQ(dialogRect.top, m.top + ((m.bottom - m.top) - height) / 3);
  EXPECT_EQ(MainForm->Store().EntryCount(), 3);  // a cancelled dialog keeps the icons
}
