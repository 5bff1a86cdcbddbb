// The busy dialog: progress of an icon collection run, with Cancel.
#pragma once

#include <string>

#include "runtime/forms.h"

class TBusyDlg : public TForm {
public:
  enum : int { idButtonCancel = 101, idFileNameLabel = 102, idProgressBar = 103 };
  TBusyDlg();

  void SetProgressMax(int maximum);
  void SetProgressPosition(int position);
  int ProgressPosition() const;
  int ProgressMax() const;
  void SetFileNameLabel(const std::string& text);
  std::string FileNameLabel() const;

protected:
  void Command(int id, int code, HWND control) override;

private:
  void ButtonCancelClick();
};

extern TBusyDlg* BusyDlg;
