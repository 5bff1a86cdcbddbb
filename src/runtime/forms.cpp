#include "runtime/forms.h"

#include <commctrl.h>

#include <vector>

#include "runtime/application.h"
#include "runtime/failure.h"

namespace {
void InitControlsOnce() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES |
                                           ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  done = true;
}

struct TKindClass {
  const char* ClassName;
  DWORD Style;
  DWORD ExStyle;
};

TKindClass ClassOf(TControlKind kind) {
  switch (kind) {
    case TControlKind::Button: return {"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
    case TControlKind::DefaultButton: return {"BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON, 0};
    case TControlKind::Label: return {"STATIC", 0, 0};
    case TControlKind::ProgressBar: return {PROGRESS_CLASSA, 0, 0};
    case TControlKind::Panel: return {"STATIC", SS_ETCHEDFRAME, 0};
    case TControlKind::Image: return {"STATIC", SS_ICON, 0};
    case TControlKind::ListView: return {WC_LISTVIEWA, WS_TABSTOP, WS_EX_CLIENTEDGE};
    case TControlKind::ToolBar: return {TOOLBARCLASSNAMEA, CCS_NORESIZE | CCS_NODIVIDER, 0};
    case TControlKind::StatusBar: return {STATUSCLASSNAMEA, CCS_NORESIZE, 0};
  }
  return {"STATIC", 0, 0};
}
}  // namespace

namespace {
std::vector<TForm*>& LiveForms() {
  static std::vector<TForm*> forms;
  return forms;
}
}  // namespace

TForm::TForm(const TFormDesc& desc) : FDesc(desc) { LiveForms().push_back(this); }

TForm* TForm::FromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  for (TForm* form : LiveForms()) {
    if (form->FHandle == hwnd) return form;
  }
  return nullptr;
}

TForm::~TForm() {
  auto& forms = LiveForms();
  for (auto it = forms.begin(); it != forms.end(); ++it) {
    if (*it == this) {
      forms.erase(it);
      break;
    }
  }
  if (FHandle) {
    SetWindowLongPtrA(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
  if (FFont) DeleteObject(FFont);
  if (Application.MainForm == this) Application.MainForm = nullptr;
}

void TForm::RegisterFormClass() const {
  WNDCLASSA wc{};
  if (GetClassInfoA(Application.Instance(), FDesc.ClassName, &wc)) {
    if (wc.lpfnWndProc == &TForm::DispatchProc) return;
    UnregisterClassA(FDesc.ClassName, Application.Instance());
  }
  wc = WNDCLASSA{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &TForm::DispatchProc;
  wc.hInstance = Application.Instance();
  wc.hIcon = Application.Icon();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = FDesc.ClassName;
  if (!RegisterClassA(&wc)) RaiseLastSystemError();
}

void TForm::CreateForm() {
  InitControlsOnce();
  if (!Application.Instance()) {
    // Tests may build forms without the start-up body; the module is this executable.
    Application.Initialize(GetModuleHandleA(nullptr), "");
  }
  RegisterFormClass();
  FFont = CreateFontA(-FDesc.Font.Height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, FDesc.Font.Charset,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                      FDesc.Font.Face);
  RECT bounds{FDesc.Left, FDesc.Top, FDesc.Left + FDesc.Width, FDesc.Top + FDesc.Height};
  if (FDesc.ClientSized) {
    AdjustWindowRectEx(&bounds, FDesc.Style, FALSE, FDesc.ExStyle);
    OffsetRect(&bounds, FDesc.Left - bounds.left, FDesc.Top - bounds.top);
  }
  FHandle = CreateWindowExA(FDesc.ExStyle, FDesc.ClassName, FDesc.Caption, FDesc.Style, bounds.left, bounds.top,
                            bounds.right - bounds.left, bounds.bottom - bounds.top, Application.Handle(), nullptr,
                            Application.Instance(), this);
  if (!FHandle) RaiseLastSystemError();
  CreateControls();
  ControlsCreated();
  if (!Application.MainForm) Application.MainForm = this;
  // The creation step: a failure in the creation handler is shown, the rest of the
  // handler is skipped, and creation goes on.
  try {
    FormCreate();
  } catch (...) {
    Application.HandleException();
  }
}

void TForm::CreateControls() {
  for (std::size_t i = 0; i < FDesc.ControlCount; ++i) {
    const TControlDesc& c = FDesc.Controls[i];
    const TKindClass kind = ClassOf(c.Kind);
    // A control placed on a panel is the panel's child, at its position inside it.
    HWND parent = c.Parent != 0 ? Item(c.Parent) : FHandle;
    if (!parent) parent = FHandle;
    HWND control = CreateWindowExA(kind.ExStyle, kind.ClassName, c.Text ? c.Text : "",
                                   WS_CHILD | WS_VISIBLE | kind.Style | c.Style, c.Left, c.Top, c.Width, c.Height,
                                   parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)),
                                   Application.Instance(), nullptr);
    if (!control) RaiseLastSystemError();
    FControls.push_back(control);
    if (c.Kind != TControlKind::StatusBar) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    if (c.Kind == TControlKind::Image && Application.Icon()) {
      SendMessageA(control, STM_SETICON, reinterpret_cast<WPARAM>(Application.Icon()), 0);
    }
  }
}

HWND TForm::Item(int id) const {
  for (std::size_t i = 0; i < FDesc.ControlCount && i < FControls.size(); ++i) {
    if (FDesc.Controls[i].Id == id) return FControls[i];
  }
  return nullptr;
}

const TControlDesc* TForm::FindControl(int id) const {
  for (std::size_t i = 0; i < FDesc.ControlCount; ++i) {
    if (FDesc.Controls[i].Id == id) return &FDesc.Controls[i];
  }
  return nullptr;
}

int TForm::Left() const {
  RECT r{};
  GetWindowRect(FHandle, &r);
  return r.left;
}
int TForm::Top() const {
  RECT r{};
  GetWindowRect(FHandle, &r);
  return r.top;
}
int TForm::Width() const {
  RECT r{};
  GetWindowRect(FHandle, &r);
  return r.right - r.left;
}
int TForm::Height() const {
  RECT r{};
  GetWindowRect(FHandle, &r);
  return r.bottom - r.top;
}

void TForm::SetLeft(int value) {
  SetWindowPos(FHandle, nullptr, value, Top(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
void TForm::SetTop(int value) {
  SetWindowPos(FHandle, nullptr, Left(), value, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
void TForm::SetWidth(int value) {
  SetWindowPos(FHandle, nullptr, 0, 0, value, Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
void TForm::SetHeight(int value) {
  SetWindowPos(FHandle, nullptr, 0, 0, Width(), value, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::Show() {
  // The form's own icon is handed over when it is first shown: the window system turns
  // it into the pictures it shows for the window (a few milliseconds a window under some
  // of them), which a window that is never shown does not need. Until then the class's
  // icon, the same picture, stands for it.
  if (!FIconGiven && Application.Icon()) {
    SendMessageA(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Application.Icon()));
    FIconGiven = true;
  }
  ShowWindow(FHandle, SW_SHOWNORMAL);
  SetActiveWindow(FHandle);
}

void TForm::Hide() { ShowWindow(FHandle, SW_HIDE); }

void TForm::Close() {
  if (FModal) {
    // Closing a form in its modal show only sets the result; the wait ends at its next
    // check. The close may come from a message sent by another thread, handled while the
    // loop peeks, so a posted no-op wakes the loop to look at the result.
    ModalResult = IDCANCEL;
    PostMessageA(FHandle, WM_NULL, 0, 0);
    return;
  }
  if (Application.MainForm == this) {
    FormClose();
    Application.Terminate();
    return;
  }
  Hide();
}

void TForm::Repaint() {
  InvalidateRect(FHandle, nullptr, TRUE);
  UpdateWindow(FHandle);
}

void TForm::Update() { RedrawWindow(FHandle, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); }

int TForm::ShowModal() {
  if (Visible() || !IsWindowEnabled(FHandle) || FModal) Raise(msg::CannotShowModal);
  if (GetCapture()) ReleaseCapture();
  FModal = true;
  HWND active = GetActiveWindow();
  const TCursor savedCursor = Application.Cursor();
  Application.SetCursor(TCursor::Default);
  const std::vector<HWND> disabled = DisableTaskWindows(FHandle);
  // Whatever ends the wait (a result, the program ending, a failure), the windows are
  // given back as they were.
  struct TRestore {
    TForm& Form;
    HWND Active;
    TCursor Cursor;
    const std::vector<HWND>& Disabled;
    ~TRestore() {
      Form.Hide();
      Application.SetCursor(Cursor);
      EnableTaskWindows(Disabled);
      if (Active && IsWindow(Active)) {
        SetActiveWindow(Active);
        SetFocus(Active);
      }
      Form.FModal = false;
    }
  } restore{*this, active, savedCursor, disabled};
  // A result left from the last show must not count for this one, not even for a step
  // that runs while the dialog is being shown.
  ModalResult = 0;
  Show();
  if (FDesc.DialogKeys) {
    if (HWND first = GetNextDlgTabItem(FHandle, nullptr, FALSE)) SetFocus(first);
  }
  ModalResult = 0;
  do {
    Application.HandleMessage();
    if (Application.Terminated()) {
      ModalResult = IDCANCEL;
    }
    // Neither dialog refuses to close, so a result ends the wait at once.
  } while (ModalResult == 0);
  return ModalResult;
}

bool TForm::IsDialogKeyMessage(MSG& msg) {
  if (!FDesc.DialogKeys) return false;
  return IsDialogMessageA(FHandle, &msg) != FALSE;
}

void TForm::Command(int, int, HWND) {}

bool TForm::Notify(NMHDR*, LRESULT&) { return false; }

LRESULT TForm::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(FHandle, message, wParam, lParam);
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      HWND control = reinterpret_cast<HWND>(lParam);
      if (control && code == BN_CLICKED) {
        if (const TControlDesc* c = FindControl(id)) {
          if (c->ModalResult != 0) ModalResult = c->ModalResult;
        }
      }
      // IDCANCEL from Escape and IDOK from Enter without a default button arrive here
      // too; no control has those ids, so they do nothing.
      Command(id, code, control);
      return 0;
    }
    case DM_GETDEFID: {
      // Enter presses the focused push button, else the form's default button.
      HWND focus = GetFocus();
      if (focus && GetParent(focus) == FHandle) {
        if (const TControlDesc* c = FindControl(GetDlgCtrlID(focus))) {
          if (c->Kind == TControlKind::Button || c->Kind == TControlKind::DefaultButton)
            return MAKELRESULT(c->Id, DC_HASDEFID);
        }
      }
      for (std::size_t i = 0; i < FDesc.ControlCount; ++i) {
        if (FDesc.Controls[i].Kind == TControlKind::DefaultButton) return MAKELRESULT(FDesc.Controls[i].Id, DC_HASDEFID);
      }
      return 0;
    }
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (Notify(reinterpret_cast<NMHDR*>(lParam), result)) return result;
      break;
    }
    case WM_SIZE:
      Resize();
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_SETCURSOR:
      if (Application.Cursor() != TCursor::Default) {
        ::SetCursor(Application.CursorHandle());
        return TRUE;
      }
      break;
    default:
      break;
  }
  return DefaultHandler(message, wParam, lParam);
}

LRESULT CALLBACK TForm::DispatchProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* form = static_cast<TForm*>(create->lpCreateParams);
    form->FHandle = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!form) return DefWindowProcA(hwnd, message, wParam, lParam);
  // The one guarded dispatch: a failure abandons the handler, is shown, and the
  // message is finished.
  try {
    return form->WndProc(message, wParam, lParam);
  } catch (...) {
    Application.HandleException();
    return 0;
  }
}
