#include "app/application.h"

#include <windows.h>

#include <memory>

#include "runtime/application.h"
#include "runtime/failure.h"
#include "ui/about.h"
#include "ui/busy.h"
#include "ui/errorbox.h"
#include "ui/mainunit.h"
#include "ui/resource.h"

namespace {
bool IsLead(unsigned char b) { return IsDBCSLeadByteEx(932, b) != FALSE; }
}  // namespace

std::string ApplicationTitleFrom(std::string fileName) {
  // Last backslash, stepping over double-byte characters so a trail byte 0x5C is not one.
  std::size_t start = 0;
  for (std::size_t i = 0; i < fileName.size(); ++i) {
    const auto b = static_cast<unsigned char>(fileName[i]);
    if (IsLead(b) && i + 1 < fileName.size()) {
      ++i;
    } else if (b == '\\') {
      start = i + 1;
    }
  }
  std::string title = fileName.substr(start);
  // Cut at the first full stop, again by characters.
  for (std::size_t i = 0; i < title.size(); ++i) {
    const auto b = static_cast<unsigned char>(title[i]);
    if (IsLead(b) && i + 1 < title.size()) {
      ++i;
    } else if (b == '.') {
      title.resize(i);
      break;
    }
  }
  // Every letter from the second byte on is lowered; the first byte stays.
  if (title.size() > 1) CharLowerA(&title[1]);
  return title;
}

std::string ComputeApplicationTitle() {
  char buffer[256] = {};
  GetModuleFileNameA(nullptr, buffer, sizeof buffer - 1);
  OemToCharA(buffer, buffer);
  return ApplicationTitleFrom(buffer);
}

HICON LoadProgramIcon() { return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PROGRAM)); }

int RunGlyphdock(const std::function<void(TStartupStage)>& probe) {
  auto reach = [&](TStartupStage stage) {
    if (probe) probe(stage);
  };
  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TAboutBox> aboutBox;
  std::unique_ptr<TBusyDlg> busyDlg;
  try {
    Application.Initialize(GetModuleHandleA(nullptr), ComputeApplicationTitle(), LoadProgramIcon());
    Application.SetFailureHandler(&ReportFailure);
    reach(TStartupStage::Initialized);
    mainForm = std::make_unique<TMainForm>();
    MainForm = mainForm.get();
    MainForm->CreateForm();
    reach(TStartupStage::MainFormCreated);
    aboutBox = std::make_unique<TAboutBox>();
    AboutBox = aboutBox.get();
    AboutBox->CreateForm();
    busyDlg = std::make_unique<TBusyDlg>();
    BusyDlg = busyDlg.get();
    BusyDlg->CreateForm();
    reach(TStartupStage::Running);
    Application.Run();
  } catch (...) {
    // The start-up body's catching point: the error box alone, then the program ends.
    ShowErrorBox(CurrentFailureText());
  }
  BusyDlg = nullptr;
  AboutBox = nullptr;
  MainForm = nullptr;
  busyDlg.reset();
  aboutBox.reset();
  mainForm.reset();
  Application.Finalize();
  return 0;
}
