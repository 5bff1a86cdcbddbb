#include "ui/busy.h"

#include <commctrl.h>

TBusyDlg* BusyDlg = nullptr;

namespace {
// ButtonCancel comes first: it is first in the tab order and has the focus on show.
const TControlDesc BusyControls[] = {
    {TControlKind::Button, "ButtonCancel", TBusyDlg::idButtonCancel, 104, 76, 75, 25, "中止(&C)", 0, IDCANCEL, 0},
    // One line, cut off at the right edge; a file name is shown as it is ("&" included).
    {TControlKind::Label, "FileNameLabel", TBusyDlg::idFileNameLabel, 12, 12, 265, 21, "", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0},
    {TControlKind::ProgressBar, "ProgressBar", TBusyDlg::idProgressBar, 12, 44, 265, 21, nullptr, 0, 0, 0},
};

const TFormDesc BusyDesc = {
    "TBusyDlg", "Glyphdock", 468, 104, 290, 112, true,
    WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, true,
    {"ＭＳ Ｐゴシック", 12, SHIFTJIS_CHARSET}, BusyControls, sizeof BusyControls / sizeof BusyControls[0]};
}  // namespace

TBusyDlg::TBusyDlg() : TForm(BusyDesc) {}

void TBusyDlg::SetProgressMax(int maximum) {
  SendMessageA(Item(idProgressBar), PBM_SETRANGE32, 0, maximum);
}
void TBusyDlg::SetProgressPosition(int position) {
  SendMessageA(Item(idProgressBar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
int TBusyDlg::ProgressPosition() const {
  return static_cast<int>(SendMessageA(Item(idProgressBar), PBM_GETPOS, 0, 0));
}
int TBusyDlg::ProgressMax() const {
  return static_cast<int>(SendMessageA(Item(idProgressBar), PBM_GETRANGE, FALSE, 0));
}
void TBusyDlg::SetFileNameLabel(const std::string& text) { SetWindowTextA(Item(idFileNameLabel), text.c_str()); }
std::string TBusyDlg::FileNameLabel() const {
  char buffer[1024] = {};
  GetWindowTextA(Item(idFileNameLabel), buffer, sizeof buffer);
  return buffer;
}

void TBusyDlg::Command(int id, int code, HWND) {
  if (id == idButtonCancel && code == BN_CLICKED) ButtonCancelClick();
}

void TBusyDlg::ButtonCancelClick() { Close(); }
