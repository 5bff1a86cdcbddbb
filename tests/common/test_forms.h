// Small forms of the tests' own, for the placement and centring checks.
#pragma once

#include <windows.h>

#include <memory>

#include "runtime/forms.h"

namespace formtest {

// A main-window-like form: caption, system menu, resizable frame, minimize and maximize.
inline const TFormDesc& PlacementFormDesc() {
  static const TFormDesc desc{"TPlacementTestForm", "Placement", 200, 150, 321, 250, false,
                              WS_OVERLAPPEDWINDOW, 0, false,
                              TFontDesc{"ＭＳ Ｐゴシック", 12, SHIFTJIS_CHARSET}, nullptr, 0};
  return desc;
}

// A dialog-like form of fixed outer size. A form keeps a reference to its description:
// keep the returned value alive as long as the form.
inline TFormDesc DialogFormDesc(int width, int height) {
  return TFormDesc{"TCenterTestDialog", "Dialog", 468, 104, width, height, false,
                   WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, true,
                   TFontDesc{"ＭＳ Ｐゴシック", 12, SHIFTJIS_CHARSET}, nullptr, 0};
}

inline std::unique_ptr<TForm> MakeForm(const TFormDesc& desc) {
  auto form = std::make_unique<TForm>(desc);
  form->CreateForm();
  return form;
}

inline RECT WindowRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

}  // namespace formtest
