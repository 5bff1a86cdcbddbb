#include "ui/mainunit.h"

#include <commdlg.h>
#include <shellapi.h>

#include "common/common.h"
#include "export/clipboardexport.h"
#include "export/saveas.h"
#include "runtime/application.h"
#include "runtime/filenames.h"
#include "ui/about.h"
#include "ui/busy.h"
#include "ui/resource.h"

TMainForm* MainForm = nullptr;

namespace {
const TControlDesc MainControls[] = {
    {TControlKind::ToolBar, "ToolBar", TMainForm::idToolBar, 0, 0, 313, 29, nullptr,
     TBSTYLE_FLAT | TBSTYLE_TOOLTIPS, 0, 0},
    {TControlKind::ListView, "IconListView", TMainForm::idIconListView, 0, 29, 313, 176, nullptr,
     LVS_ICON | LVS_AUTOARRANGE | LVS_SINGLESEL | LVS_SHAREIMAGELISTS, 0, 0},
    {TControlKind::StatusBar, "StatusBar", TMainForm::idStatusBar, 0, 205, 313, 20, nullptr, SBARS_SIZEGRIP, 0, 0},
};

const TFormDesc MainDesc = {
    "TMainForm", "Glyphdock", 261, 153, 321, 271, false, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, false,
    {"MS Sans Serif", 12, SHIFTJIS_CHARSET}, MainControls, sizeof MainControls / sizeof MainControls[0]};

constexpr int ToolBarHeight = 29;
constexpr int StatusBarHeight = 20;

// Menus are tables too: a null caption is a separator.
struct TMenuItemDesc {
  const char* Name;
  int Id;
  const char* Caption;
};
struct TMenuDesc {
  const char* Name;
  const char* Caption;
  const TMenuItemDesc* Items;
  int Count;
};
const TMenuItemDesc FileItems[] = {
    {"OpenFile", TMainForm::cmOpenFile, "開く(&O)"},
    {"SaveAs", TMainForm::cmSaveAs, "名前をつけて保存(&A)"},
    {"N1", 0, nullptr},
    {"Exit", TMainForm::cmExit, "終了(&X)"},
};
const TMenuItemDesc EditItems[] = {{"Copy", TMainForm::cmCopy, "コピー(&C)"}};
const TMenuItemDesc HelpItems[] = {{"About", TMainForm::cmAbout, "Glyphdockについて..."}};
const TMenuDesc MainMenuDesc[] = {
    {"File1", "ファイル(&F)", FileItems, 4},
    {"Edit1", "編集(&E)", EditItems, 1},
    {"Help1", "ヘルプ(&H)", HelpItems, 1},
};
const TMenuItemDesc PopupItems[] = {
    {"OpenFile3", TMainForm::cmOpenFile3, "ファイルを開く(&O)"},
    {"SaveAs3", TMainForm::cmSaveAs3, "名前をつけて保存(&S)"},
    {"N2", 0, nullptr},
    {"Copy3", TMainForm::cmCopy3, "コピー(&C)"},
};

struct TToolButtonDesc {
  const char* Name;
  int Id;
  int Glyph;  // -1: a separator, Width pixels wide
  int Width;
  const char* Hint;
};
const TToolButtonDesc ToolButtons[] = {
    {"OpenFile2", TMainForm::cmOpenFile2, 0, 0, "ファイルを開く"},
    {"SaveAs2", TMainForm::cmSaveAs2, 1, 0, "名前をつけて保存"},
    {"ToolButton1", 0, -1, 8, nullptr},
    {"Copy2", TMainForm::cmCopy2, 2, 0, "コピー"},
};

HMENU BuildMenu(HMENU menu, const TMenuItemDesc* items, int count) {
  for (int i = 0; i < count; ++i) {
    if (items[i].Caption) {
      AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(items[i].Id), items[i].Caption);
    } else {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    }
  }
  return menu;
}

bool IsLead(unsigned char b) { return IsDBCSLeadByteEx(932, b) != FALSE; }

std::size_t DriveLength(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':' && !IsLead(static_cast<unsigned char>(path[0]))) ? 2 : 0;
}
}  // namespace

TMainForm::TMainForm() : TForm(MainDesc) {}

TMainForm::~TMainForm() {
  if (Handle()) {
    RemoveWindowSubclass(IconListView(), &TMainForm::ListViewSubclass, 0);
    SetMenu(Handle(), nullptr);
  }
  if (FMainMenu) DestroyMenu(FMainMenu);
  if (FPopupMenu) DestroyMenu(FPopupMenu);
  if (FToolImageList) ImageList_Destroy(FToolImageList);
}

void TMainForm::ControlsCreated() {
  BuildMenus();
  BuildToolBar();
  HWND list = IconListView();
  // The list's one column, seen only in a report view, which the program never selects.
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = 200;
  column.pszText = const_cast<char*>("ファイル名");
  SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  FStore.Attach(list);
  SetWindowSubclass(list, &TMainForm::ListViewSubclass, 0, reinterpret_cast<DWORD_PTR>(this));
  SendMessageA(StatusBar(), SB_SIMPLE, TRUE, 0);
  Resize();
}

void TMainForm::BuildMenus() {
  FMainMenu = CreateMenu();
  for (const TMenuDesc& m : MainMenuDesc) {
    HMENU sub = BuildMenu(CreatePopupMenu(), m.Items, m.Count);
    AppendMenuA(FMainMenu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), m.Caption);
  }
  SetMenu(Handle(), FMainMenu);
  FPopupMenu = BuildMenu(CreatePopupMenu(), PopupItems, 4);
}

void TMainForm::BuildToolBar() {
  HWND bar = ToolBar();
  SendMessageA(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  FToolImageList = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 3, 0);
  if (HBITMAP glyphs = static_cast<HBITMAP>(
          LoadImageA(Application.Instance(), MAKEINTRESOURCEA(IDB_TOOLGLYPHS), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))) {
    ImageList_AddMasked(FToolImageList, glyphs, RGB(255, 0, 255));
    DeleteObject(glyphs);
  }
  SendMessageA(bar, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
  SendMessageA(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(FToolImageList));
  SendMessageA(bar, TB_SETINDENT, 4, 0);
  TBBUTTON buttons[4]{};
  for (int i = 0; i < 4; ++i) {
    const TToolButtonDesc& d = ToolButtons[i];
    buttons[i].iBitmap = d.Glyph >= 0 ? d.Glyph : d.Width;
    buttons[i].idCommand = d.Id;
    buttons[i].fsState = TBSTATE_ENABLED;
    buttons[i].fsStyle = d.Glyph >= 0 ? BTNS_BUTTON : BTNS_SEP;
  }
  SendMessageA(bar, TB_ADDBUTTONSA, 4, reinterpret_cast<LPARAM>(buttons));
  SendMessageA(bar, TB_SETBUTTONSIZE, 0, MAKELPARAM(23, 22));
  if (HWND tips = reinterpret_cast<HWND>(SendMessageA(bar, TB_GETTOOLTIPS, 0, 0))) {
    SendMessageA(tips, TTM_SETDELAYTIME, TTDT_INITIAL, 500);
    SendMessageA(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 2500);
  }
}

void TMainForm::Resize() {
  RECT client{};
  GetClientRect(Handle(), &client);
  const int width = client.right, height = client.bottom;
  if (HWND bar = ToolBar()) MoveWindow(bar, 0, 0, width, ToolBarHeight, TRUE);
  if (HWND status = StatusBar()) MoveWindow(status, 0, height - StatusBarHeight, width, StatusBarHeight, TRUE);
  if (HWND list = IconListView()) {
    MoveWindow(list, 0, ToolBarHeight, width, std::max(0, height - ToolBarHeight - StatusBarHeight), TRUE);
  }
}

std::string TMainForm::ProgramFolderOf(const std::string& exePath) {
  // Drive, then the folder from the separator after it through the last separator.
  std::size_t end = DriveLength(exePath);  // one past the last separator
  for (std::size_t i = end; i < exePath.size(); ++i) {
    const auto b = static_cast<unsigned char>(exePath[i]);
    if (IsLead(b) && i + 1 < exePath.size()) {
      ++i;
    } else if (b == '\\' || b == '/') {
      end = i + 1;
    }
  }
  return exePath.substr(0, end);
}

std::string TMainForm::InitialFolderOf(const std::string& exePath) {
  return ProgramFolderOf(exePath).substr(DriveLength(exePath));
}

void TMainForm::FormCreate() {
  FFileList = std::make_unique<std::vector<std::string>>();
  char exe[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  // The dialogs start in the program's folder where this user can save into it; an
  // installed program's folder usually refuses every user's first Save, so there they
  // start in the user's documents folder instead.
  if (FolderAcceptsNewFile(ProgramFolderOf(exe))) {
    const std::string folder = InitialFolderOf(exe);
    FOpenDialog.SetInitialDir(folder);
    FSaveDialog.SetInitialDir(folder);
  } else {
    FOpenDialog.SetInitialDirToDocuments();
    FSaveDialog.SetInitialDirToDocuments();
  }
  FOpenDialog.Options = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST;
  FOpenDialog.Filter = "Program files (*.exe;*.dll)|*.exe;*.dll|All files (*.*)|*.*";
  FOpenDialog.FilterIndex = 1;
  FSaveDialog.Options = OFN_HIDEREADONLY | OFN_ENABLESIZING;
  FSaveDialog.Filter = "Icon files (*.ico)|*.ico|All files (*.*)|*.*";
  FSaveDialog.FilterIndex = 1;
  SetSelectionCommands(true, true, false);
  // Registers the window for dropped files: the extended style is what the shell's
  // DragAcceptFiles sets, and setting it here keeps the shell's library out of start-up.
  SetWindowLongPtrA(Handle(), GWL_EXSTYLE, GetWindowLongPtrA(Handle(), GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
  RestorePlacement(*this);
}

void TMainForm::FormClose() {
  StorePlacement(*this);
  FFileList.reset();
}

void TMainForm::SetSelectionCommands(bool mainMenuAndToolBar, bool popup, bool enabled) {
  const UINT state = MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED);
  if (mainMenuAndToolBar) {
    EnableMenuItem(FMainMenu, cmSaveAs, state);
    EnableMenuItem(FMainMenu, cmCopy, state);
    SendMessageA(ToolBar(), TB_ENABLEBUTTON, cmSaveAs2, MAKELPARAM(enabled ? TRUE : FALSE, 0));
    SendMessageA(ToolBar(), TB_ENABLEBUTTON, cmCopy2, MAKELPARAM(enabled ? TRUE : FALSE, 0));
  }
  if (popup) {
    EnableMenuItem(FPopupMenu, cmSaveAs3, state);
    EnableMenuItem(FPopupMenu, cmCopy3, state);
  }
}

void TMainForm::RepaintToolButton(int index) {
  RECT r{};
  if (SendMessageA(ToolBar(), TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r))) {
    InvalidateRect(ToolBar(), &r, TRUE);
    UpdateWindow(ToolBar());
  }
}

std::string TMainForm::StatusText() const {
  // In simple mode the text lives in the simple pane; some status line implementations
  // hand it out only under the first pane's index, which is otherwise never set.
  char buffer[1024] = {};
  SendMessageA(StatusBar(), SB_GETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(buffer));
  if (buffer[0] == '\0') SendMessageA(StatusBar(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

void TMainForm::SetStatusText(const std::string& text) {
  SendMessageA(StatusBar(), SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

void TMainForm::OpenFileClick() {
  RepaintToolButton(0);
  if (!FOpenDialog.Execute(Handle())) return;
  FStore.Clear();
  *FFileList = FOpenDialog.Files;
  CollectIcons();
}

void TMainForm::SaveAsClick() {
  RepaintToolButton(1);
  SaveSelectedIcon(FStore, FSaveDialog);
}

void TMainForm::CopyClick() {
  RepaintToolButton(3);
  CopySelectedIcon(FStore);
}

void TMainForm::ExitClick() { Close(); }

void TMainForm::AboutClick() {
  CenterOnForm(*this, *AboutBox);
  AboutBox->ShowModal();
}

void TMainForm::IconListViewClick() {
  SetSelectionCommands(true, false, FStore.Selected() >= 0);
}

void TMainForm::IconListViewMouseDown(TMouseButton button) {
  const int selected = FStore.Selected();
  if (button == TMouseButton::Right) SetSelectionCommands(false, true, selected >= 0);
  SetStatusText(selected >= 0 ? FStore.SubItem(selected) : std::string());
}

void TMainForm::WMDropFiles(HDROP drop) {
  // A drop that arrives after the close released the list, or while a collection runs,
  // is turned away: the run's store and list stay untouched and no second run starts.
  if (!FFileList || FCollecting) {
    DragFinish(drop);
    return;
  }
  struct TDropGuard {
    HDROP Drop;
    ~TDropGuard() { DragFinish(Drop); }
  };
  {
    TDropGuard guard{drop};
    FStore.Clear();
    // The names come in full and are made narrow one by one (see NarrowFileName).
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    Application.SetCursor(TCursor::HourGlass);
    struct TCursorGuard {
      ~TCursorGuard() { Application.SetCursor(TCursor::Default); }
    } cursor;
    for (UINT i = 0; i < count; ++i) {
      wchar_t name[MAX_PATH] = {};
      DragQueryFileW(drop, i, name, MAX_PATH);
      FFileList->push_back(NarrowFileName(name));
    }
  }
  CollectIcons();
}

void TMainForm::CollectIcons() {
  FCollecting = true;
  struct TRunGuard {
    bool& Flag;
    ~TRunGuard() { Flag = false; }
  } runGuard{FCollecting};
  auto worker = std::make_unique<TGetIconThread>(*this);
  worker->FFileList = FFileList.get();
  BusyDlg->SetProgressMax(static_cast<int>(FFileList->size()));
  BusyDlg->SetProgressPosition(0);
  BusyDlg->SetFileNameLabel("");
  CenterOnForm(*this, *BusyDlg);
  worker->Start();
  BusyDlg->ShowModal();
  // The wait for the worker runs only its steps; input and posted messages stay queued.
  worker->FStopRequested = true;
  worker->WaitFor();
  FFileList->clear();
  worker.reset();
  Repaint();
}

void TMainForm::SetProgressPosition(int position) { BusyDlg->SetProgressPosition(position); }
void TMainForm::SetFileNameLabel(const std::string& text) { BusyDlg->SetFileNameLabel(text); }
// The label and the bar have marked themselves for painting when their values changed;
// painting those at once shows the new file. Invalidating the whole dialog as well
// would only erase and redraw its unchanged face and button on every file.
void TMainForm::RepaintBusy() { BusyDlg->Update(); }
bool TMainForm::TakeInput() {
  Application.ProcessInput();
  return BusyDlg->Modal() && BusyDlg->ModalResult != 0;
}

void TMainForm::HideAndCloseBusy() {
  BusyDlg->Hide();
  BusyDlg->Close();
}

void TMainForm::Command(int id, int, HWND) {
  switch (id) {
    case cmOpenFile: case cmOpenFile2: case cmOpenFile3: OpenFileClick(); break;
    case cmSaveAs: case cmSaveAs2: case cmSaveAs3: SaveAsClick(); break;
    case cmCopy: case cmCopy2: case cmCopy3: CopyClick(); break;
    case cmExit: ExitClick(); break;
    case cmAbout: AboutClick(); break;
    default: break;
  }
}

bool TMainForm::Notify(NMHDR* header, LRESULT& result) {
  if (header->idFrom == static_cast<UINT_PTR>(idIconListView)) {
    if (header->code == NM_CLICK) {
      if (FPendingLeftPress) {
        FPendingLeftPress = false;
        IconListViewMouseDown(TMouseButton::Left);
      }
      IconListViewClick();
    } else if (header->code == NM_RCLICK || header->code == LVN_BEGINRDRAG) {
      // The list reports the right press here, before it asks for the shortcut menu.
      if (FPendingRightPress) {
        FPendingRightPress = false;
        IconListViewMouseDown(TMouseButton::Right);
      }
    }
    result = 0;
    return false;
  }
  if (header->code == TTN_GETDISPINFOA) {
    auto* info = reinterpret_cast<NMTTDISPINFOA*>(header);
    for (const TToolButtonDesc& d : ToolButtons) {
      if (d.Hint && static_cast<UINT_PTR>(d.Id) == header->idFrom) {
        info->lpszText = const_cast<char*>(d.Hint);
        break;
      }
    }
    result = 0;
    return true;
  }
  return false;
}

LRESULT TMainForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DROPFILES:
      WMDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == IconListView()) {
        POINT at{};
        at.x = static_cast<short>(LOWORD(lParam));
        at.y = static_cast<short>(HIWORD(lParam));
        if (lParam == -1) {  // from the keyboard: at the list's top-left corner
          at = POINT{0, 0};
          ClientToScreen(IconListView(), &at);
        }
        TrackPopupMenu(FPopupMenu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, Handle(), nullptr);
        return 0;
      }
      break;
    default:
      break;
  }
  return TForm::WndProc(message, wParam, lParam);
}

LRESULT CALLBACK TMainForm::ListViewSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR data) {
  auto* form = reinterpret_cast<TMainForm*>(data);
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN: {
      const bool left = message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK;
      const bool right = message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK;
      // The list applies the press to its selection first; its own handling may report
      // the click (and open the shortcut menu) before it returns, so the press is
      // reported at the first of those moments.
      form->FPendingLeftPress = left;
      form->FPendingRightPress = right;
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      try {
        if (form->FPendingLeftPress || form->FPendingRightPress || message == WM_MBUTTONDOWN) {
          form->FPendingLeftPress = form->FPendingRightPress = false;
          form->IconListViewMouseDown(left ? TMouseButton::Left : right ? TMouseButton::Right : TMouseButton::Middle);
        }
      } catch (...) {
        Application.HandleException();
      }
      return result;
    }
    default:
      return DefSubclassProc(hwnd, message, wParam, lParam);
  }
}
