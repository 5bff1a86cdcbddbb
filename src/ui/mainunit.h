// The main window: menus, tool bar, the large-icon list with its store, the status line,
// the file dialogs, and the collection run.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "collect/geticonthread.h"
#include "collect/iconstore.h"
#include "runtime/dialogs.h"
#include "runtime/forms.h"

class TMainForm : public TForm, public TCollectView {
public:
  // Command ids: one per control; a command reached from several controls has one handler.
  enum : int {
    cmOpenFile = 1001, cmSaveAs, cmExit, cmCopy, cmAbout,
    cmOpenFile2 = 1011, cmSaveAs2, cmCopy2,
    cmOpenFile3 = 1021, cmSaveAs3, cmCopy3,
    idToolBar = 201, idIconListView, idStatusBar,
  };
  TMainForm();
  ~TMainForm() override;

  // Handlers.
  void OpenFileClick();
  void SaveAsClick();
  void CopyClick();
  void ExitClick();
  void AboutClick();
  void IconListViewClick();
  enum class TMouseButton { Left, Right, Middle };
  void IconListViewMouseDown(TMouseButton button);
  void WMDropFiles(HDROP drop);

  // The collection run over FFileList (emptied by the caller's store clear before).
  void CollectIcons();
  bool Collecting() const noexcept { return FCollecting; }

  TIconStore& Store() override { return FStore; }
  std::vector<std::string>* FileList() noexcept { return FFileList.get(); }
  TFileDialog& OpenDialog() noexcept { return FOpenDialog; }
  TFileDialog& SaveDialog() noexcept { return FSaveDialog; }
  HMENU MainMenu() const noexcept { return FMainMenu; }
  HMENU PopupMenu() const noexcept { return FPopupMenu; }
  HWND ToolBar() const { return Item(idToolBar); }
  HWND IconListView() const { return Item(idIconListView); }
  HWND StatusBar() const { return Item(idStatusBar); }
  std::string StatusText() const;

  // The initial folder of the file dialogs for an executable's full path: the folder
  // part without the drive.
  static std::string InitialFolderOf(const std::string& exePath);
  // The same folder with its drive, as the file system takes it.
  static std::string ProgramFolderOf(const std::string& exePath);

protected:
  void ControlsCreated() override;
  void FormCreate() override;
  void FormClose() override;
  LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Command(int id, int code, HWND control) override;
  bool Notify(NMHDR* header, LRESULT& result) override;
  void Resize() override;

  // What the collection run changes on the busy dialog.
  void SetProgressPosition(int position) override;
  void SetFileNameLabel(const std::string& text) override;
  void RepaintBusy() override;
  void HideAndCloseBusy() override;
  bool TakeInput() override;

private:
  static LRESULT CALLBACK ListViewSubclass(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void BuildMenus();
  void BuildToolBar();
  void SetSelectionCommands(bool mainMenuAndToolBar, bool popup, bool enabled);
  void RepaintToolButton(int index);
  void SetStatusText(const std::string& text);

  std::unique_ptr<std::vector<std::string>> FFileList;
  TIconStore FStore;
  TFileDialog FOpenDialog{TFileDialog::TKind::Open};
  TFileDialog FSaveDialog{TFileDialog::TKind::Save};
  HMENU FMainMenu = nullptr;
  HMENU FPopupMenu = nullptr;
  HIMAGELIST FToolImageList = nullptr;
  bool FCollecting = false;
  bool FPendingLeftPress = false;
  bool FPendingRightPress = false;
};

extern TMainForm* MainForm;
