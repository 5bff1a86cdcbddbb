// The start-up body and the main window's creation step as catching points.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/application.h"
#include "runtime/failure.h"
#include "support/fixtures.h"
#include "support/msgboxdriver.h"
#include "ui/programfixture.h"

namespace {
// A settings scope so the start-up body's placement store never reaches real settings.
class TScratchSettings {
public:
  TScratchSettings() {
    RegDeleteTreeA(HKEY_CURRENT_USER, Path().c_str());
    RegCreateKeyExA(HKEY_CURRENT_USER, Path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &FKey, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, FKey);
  }
  ~TScratchSettings() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(FKey);
    RegDeleteTreeA(HKEY_CURRENT_USER, Path().c_str());
  }
  HKEY Key() const { return FKey; }

private:
  static std::string Path() {
    return "Software\\Quillfen\\GlyphdockTests\\startup-" + std::to_string(GetCurrentProcessId());
  }
  HKEY FKey = nullptr;
};

// A main window whose creation handler fails after its first step.
class TFailingMainForm : public TMainForm {
protected:
  void FormCreate() override { throw EFailure("作成に失敗しました"); }
};
}  // namespace

TEST(StartupBody, AFailureDuringStartUpIsShownAloneAndTheProgramEndsWithZero) {
  TScratchSettings settings;
  TMessageBoxDriver driver(IDOK);
  const int code = RunGlyphdock([](TStartupStage stage) {
    if (stage == TStartupStage::MainFormCreated) throw EFailure("起動できません");
  });
  EXPECT_EQ(code, 0);
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_EQ(driver.Boxes()[0].Text, "起動できません.");
  EXPECT_EQ(driver.Boxes()[0].Caption, "test_ui");  // the title of this executable
  EXPECT_EQ(driver.Boxes()[0].Icon, TBoxIcon::Error);
  EXPECT_EQ(driver.Boxes()[0].Buttons, std::vector<int>{IDOK});
  EXPECT_EQ(MainForm, nullptr);
  EXPECT_EQ(Application.Handle(), nullptr);
  // Exhausted memory reads as the program's own text.
  TMessageBoxDriver memory(IDOK);
  RunGlyphdock([](TStartupStage stage) {
    if (stage == TStartupStage::Initialized) throw std::bad_alloc();
  });
  ASSERT_EQ(memory.Count(), 1);
  EXPECT_EQ(memory.Boxes()[0].Text, "メモリが足りません.");
}

TEST(StartupBody, ARunEndedByClosingTheMainWindowStoresThePlacementAndReturnsZero) {
  TScratchSettings settings;
  TMessageBoxDriver driver(IDOK);
  bool hadAllWindows = false;
  const int code = RunGlyphdock([&](TStartupStage stage) {
    if (stage == TStartupStage::Running) {
      hadAllWindows = MainForm && AboutBox && BusyDlg && !AboutBox->Visible() && !BusyDlg->Visible();
      MainForm->SetLeft(40);
      MainForm->SetTop(30);
      PostMessageA(Application.Handle(), WM_CLOSE, 0, 0);  // the task bar entry's Close
    }
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(hadAllWindows);
  EXPECT_EQ(driver.Count(), 0);
  DWORD value = 0, size = sizeof value, type = 0;
  ASSERT_EQ(RegGetValueA(settings.Key(), "Software\\Quillfen\\Glyphdock\\Status", "Left", RRF_RT_REG_DWORD, &type,
                         &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 40u);
  ASSERT_EQ(RegGetValueA(settings.Key(), "Software\\Quillfen\\Glyphdock\\Status", "Top", RRF_RT_REG_DWORD, &type,
                         &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 30u);
}

TEST(CreationStep, AFailureInTheCreationHandlerIsShownBeforeTheWindowWhichStillOpens) {
  TScratchSettings settings;
  Application.Initialize(GetModuleHandleA(nullptr), "Glyphdock", LoadProgramIcon());
  Application.SetFailureHandler(&ReportFailure);
  bool windowVisibleDuringBox = true;
  TMessageBoxDriver driver(IDOK);
  driver.OnShow([&](const TMessageBoxRecord&) {
    windowVisibleDuringBox = MainForm && IsWindowVisible(MainForm->Handle());
  });
  {
    TFailingMainForm form;
    MainForm = &form;
    form.CreateForm();
    ASSERT_EQ(driver.Count(), 1);
    EXPECT_EQ(driver.Boxes()[0].Text, "作成に失敗しました.");
    EXPECT_EQ(driver.Boxes()[0].Caption, "Glyphdock");
    EXPECT_FALSE(windowVisibleDuringBox);
    ASSERT_NE(form.Handle(), nullptr);
    form.Show();
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
    // The rest of the creation handler was skipped: no pending list exists.
    EXPECT_EQ(form.FileList(), nullptr);
    MainForm = nullptr;
  }
  Application.Finalize();
}

TEST_F(TProgramTest, AFailureInAMenuHandlerIsShownAndTheWindowGoesOn) {
  // The about command over an about box that is already visible: its modal show refuses,
  // the handler is abandoned, the dispatch shows the failure and the program goes on.
  TMessageBoxDriver driver(IDOK);
  bool mainDisabledDuringBox = false;
  driver.OnShow([&](const TMessageBoxRecord&) { mainDisabledDuringBox = !IsWindowEnabled(MainForm->Handle()); });
  AboutBox->Show();
  SendMessageA(MainForm->Handle(), WM_COMMAND, TMainForm::cmAbout, 0);
  AboutBox->Hide();
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_EQ(driver.Boxes()[0].Text, "表示されているウィンドウをモーダルにすることはできません.");
  EXPECT_EQ(driver.Boxes()[0].Caption, "Glyphdock");
  EXPECT_EQ(driver.Boxes()[0].Icon, TBoxIcon::Error);
  EXPECT_EQ(driver.Boxes()[0].Buttons, std::vector<int>{IDOK});
  EXPECT_TRUE(mainDisabledDuringBox);
  EXPECT_TRUE(IsWindowEnabled(MainForm->Handle()));
  // The window goes on working: a collection runs as usual.
  MainForm->Store().Clear();
  *MainForm->FileList() = {FixturePath("three.dll")};
  MainForm->CollectIcons();
  EXPECT_EQ(MainForm->Store().EntryCount(), 3);
  EXPECT_EQ(driver.Count(), 1);
}
