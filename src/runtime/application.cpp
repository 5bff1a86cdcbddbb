#include "runtime/application.h"

#include "runtime/failure.h"
#include "runtime/forms.h"

TApplication Application;

namespace {
constexpr char TaskbarClassName[] = "TApplication";
}

LRESULT CALLBACK TApplication::TaskbarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_CLOSE:
        // The task bar entry's Close closes the main window, which ends the program.
        if (Application.MainForm) Application.MainForm->Close();
        return 0;
      case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
          if (Application.MainForm) Application.MainForm->Close();
          return 0;
        }
        break;
      case WM_ACTIVATE:
        // Activating the task bar entry hands activation to the main window.
        if (LOWORD(wParam) != WA_INACTIVE && Application.MainForm &&
            IsWindowEnabled(Application.MainForm->Handle()) && IsWindowVisible(Application.MainForm->Handle())) {
          SetFocus(Application.MainForm->Handle());
          return 0;
        }
        break;
      default:
        break;
    }
  } catch (...) {
    Application.HandleException();
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void TApplication::Initialize(HINSTANCE instance, const std::string& title, HICON icon) {
  FInstance = instance;
  FTitle = title;
  FTerminated = false;
  FIcon = icon;
  WNDCLASSA wc{};
  if (!GetClassInfoA(instance, TaskbarClassName, &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = &TApplication::TaskbarProc;
    wc.hInstance = instance;
    wc.hIcon = FIcon;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = TaskbarClassName;
    if (!RegisterClassA(&wc)) RaiseLastSystemError();
  }
  // A top-level window of zero size, centred on the screen: never seen, yet it carries
  // the program's task bar entry and owns every other top-level window.
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
  const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
  FHandle = CreateWindowExA(0, TaskbarClassName, FTitle.c_str(),
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0,
                            nullptr, nullptr, instance, nullptr);
  if (!FHandle) RaiseLastSystemError();
}

void TApplication::Finalize() {
  if (FHandle) DestroyWindow(FHandle);
  FHandle = nullptr;
  MainForm = nullptr;
}

void TApplication::Terminate() {
  FTerminated = true;
  PostQuitMessage(0);
}

bool TApplication::ProcessMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return true;
  }
  Dispatch(msg);
  return true;
}

void TApplication::ProcessInput() {
  MSG msg;
  // Characters made from keys arrive as posted messages; they count as input here.
  const UINT flags = PM_QS_INPUT | PM_QS_POSTMESSAGE;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | flags)) {
    const bool keyboard = msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST;
    const bool mouse = msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST;
    if (!keyboard && !mouse) return;
    if (!PeekMessageA(&msg, nullptr, msg.message, msg.message, PM_REMOVE | flags)) return;
    Dispatch(msg);
  }
}

void TApplication::Dispatch(MSG& msg) {
  // Dialog keys (Tab, Enter, Space, mnemonics, Escape) for the form the message is for.
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (root) {
    if (TForm* form = TForm::FromHandle(root)) {
      if (form->IsDialogKeyMessage(msg)) return;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void TApplication::HandleMessage() {
  if (!ProcessMessage()) WaitMessage();
}

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
}

void TApplication::Run() {
  if (!MainForm) return;
  // The main window first: it is what the user waits for. The task bar entry's window,
  // which has no size, follows without taking the activation from it.
  MainForm->Show();
  // Its icon, for the task bar entry, is given as it is shown (see TForm::Show).
  if (FIcon) SendMessageA(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
  ShowWindow(FHandle, SW_SHOWNA);
  while (!FTerminated) HandleMessage();
}

void TApplication::HandleException() {
  const std::string text = CurrentFailureText();
  if (FFailureHandler) {
    FFailureHandler(text);
  } else {
    MessageBoxA(FHandle, text.c_str(), FTitle.c_str(), MB_OK | MB_ICONERROR);
  }
}

void TApplication::SetCursor(TCursor cursor) {
  FCursor = cursor;
  ::SetCursor(CursorHandle());
}

HCURSOR TApplication::CursorHandle() const {
  return LoadCursor(nullptr, FCursor == TCursor::HourGlass ? IDC_WAIT : IDC_ARROW);
}

namespace {
struct TDisableContext {
  HWND Except;
  std::vector<HWND>* Disabled;
};

BOOL CALLBACK DisableOne(HWND hwnd, LPARAM param) {
  auto* context = reinterpret_cast<TDisableContext*>(param);
  if (hwnd != context->Except && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    context->Disabled->push_back(hwnd);
  }
  return TRUE;
}
}  // namespace

std::vector<HWND> DisableTaskWindows(HWND except) {
  std::vector<HWND> disabled;
  TDisableContext context{except, &disabled};
  EnumThreadWindows(GetCurrentThreadId(), &DisableOne, reinterpret_cast<LPARAM>(&context));
  // Disabled after the enumeration, so disabling cannot change what is enumerated.
  for (HWND hwnd : disabled) EnableWindow(hwnd, FALSE);
  return disabled;
}

void EnableTaskWindows(const std::vector<HWND>& windows) {
  for (HWND hwnd : windows) {
    if (IsWindow(hwnd)) EnableWindow(hwnd, TRUE);
  }
}
