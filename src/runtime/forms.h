// Form runtime: windows built from declarative form descriptions, one guarded dispatch
// for every message, and the modal show both dialogs use.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

enum class TControlKind {
  Button,         // push button, tab stop
  DefaultButton,  // push button that Enter presses
  Label,          // static text; Style picks alignment and wrapping
  ProgressBar,
  Panel,          // etched (raised inner, lowered outer) frame; controls that name it as
                  // Parent are placed relative to it
  Image,          // the program icon
  ListView,
  ToolBar,
  StatusBar,
};

struct TControlDesc {
  TControlKind Kind;
  const char* Name;
  int Id;  // never IDOK or IDCANCEL: the dialog keys send those on their own
  int Left, Top, Width, Height;
  const char* Text;
  DWORD Style;      // style bits added to the kind's own
  int ModalResult;  // a button's modal result (0 for none): a click sets the form's
  int Parent;       // id of the panel that holds the control, 0 for the form itself
};

struct TFontDesc {
  const char* Face;
  int Height;  // pixels
  BYTE Charset;
};

struct TFormDesc {
  const char* ClassName;  // window class registered for the form
  const char* Caption;
  int Left, Top;          // design position (outer)
  int Width, Height;      // outer size, or client size when ClientSized
  bool ClientSized;
  DWORD Style;
  DWORD ExStyle;
  bool DialogKeys;        // Tab, Enter, Space and mnemonics as in a dialog
  TFontDesc Font;
  const TControlDesc* Controls;
  std::size_t ControlCount;
};

class TForm {
public:
  explicit TForm(const TFormDesc& desc);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // Builds the window (hidden) and its controls, then runs FormCreate inside the
  // creation step's catching point.
  void CreateForm();

  HWND Handle() const noexcept { return FHandle; }
  HWND Item(int id) const;  // the control of that id, wherever it sits
  const TFormDesc& Desc() const noexcept { return FDesc; }
  HFONT Font() const noexcept { return FFont; }

  // Outer bounds in screen coordinates.
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetLeft(int value);
  void SetTop(int value);
  void SetWidth(int value);
  void SetHeight(int value);

  bool Visible() const { return IsWindowVisible(FHandle) != FALSE; }
  void Show();
  void Hide();
  // Modal: sets ModalResult to cancel (2). Main form: runs FormClose and ends the
  // program. Any other form: hides it.
  void Close();
  void Repaint();  // invalidate and update at once
  // Paints at once what is waiting to be painted, the controls included; what has not
  // changed is not drawn again.
  void Update();

  // Shows the form modally and returns its modal result. Refuses a visible, disabled or
  // already modal form with "表示されているウィンドウをモーダルにすることはできません".
  int ShowModal();
  bool Modal() const noexcept { return FModal; }
  int ModalResult = 0;

  // Whether the form handles this message as a dialog does (Tab, Enter, mnemonics).
  bool IsDialogKeyMessage(MSG& msg);
  // The live form whose window is hwnd, or null.
  static TForm* FromHandle(HWND hwnd);

protected:
  // Runs once the window and its controls exist, before the creation handler; sets up
  // what the controls need beyond their description (menus, image lists, buttons).
  virtual void ControlsCreated() {}
  virtual void FormCreate() {}
  virtual void FormClose() {}
  // Window procedure of the form; the default routes commands and notifications.
  virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void Command(int id, int code, HWND control);
  virtual bool Notify(NMHDR* header, LRESULT& result);
  virtual void Resize() {}
  LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam);
  const TControlDesc* FindControl(int id) const;

private:
  static LRESULT CALLBACK DispatchProc(HWND, UINT, WPARAM, LPARAM);
  void RegisterFormClass() const;
  void CreateControls();
  const TFormDesc& FDesc;
  HWND FHandle = nullptr;
  HFONT FFont = nullptr;
  std::vector<HWND> FControls;  // in the order of the description
  bool FModal = false;
  bool FIconGiven = false;
};
