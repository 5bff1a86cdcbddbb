#include "export/saveas.h"

#include <commdlg.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "export/exporthelpers.h"
#include "export/storewindow.h"
#include "runtime/dialogs.h"
#include "runtime/failure.h"
#include "support/dialogdriver.h"
#include "support/fixtures.h"
#include "support/msgboxdriver.h"

using namespace exporttest;

namespace {

constexpr std::size_t FileLength = 766;

// The save dialog as the main window sets it up.
void SetUpSaveDialog(TFileDialog& dialog, const std::string& folder) {
  dialog.Filter = "Icon files (*.ico)|*.ico|All files (*.*)|*.*";
  dialog.FilterIndex = 1;
  dialog.Options = OFN_HIDEREADONLY | OFN_ENABLESIZING;
  dialog.SetInitialDir(folder);
}

class SaveAsTest : public ::testing::Test {
protected:
  explicit SaveAsTest(const std::string& parent = std::string()) : FFolder(parent) {}
  void SetUp() override {
    FLiveIcons = TIcon::LiveHandles();
    GetCurrentDirectoryA(MAX_PATH, FStartFolder);
    SetUpSaveDialog(FDialog, FFolder.Path());
    FWindow.AddFile(FixturePath(fixture::ThreeDll));
    FWindow.AddFile(FixturePath(fixture::HighColourDll));
    ASSERT_EQ(FWindow.Store.EntryCount(), 4);
  }
  void TearDown() override {
    EXPECT_EQ(TIcon::LiveHandles(), FLiveIcons) << "the temporary icon was not released";
    // The dialog makes the chosen folder current, which would keep it from being removed.
    SetCurrentDirectoryA(FStartFolder);
  }

  // Runs the command with the dialog answered by the driver; failures come back as text.
  std::string Run(TFileDialogDriver& driver) {
    std::string failure;
    try {
      SaveSelectedIcon(FWindow.Store, FDialog);
    } catch (const EFailure& e) {
      failure = e.Message();
    }
    EXPECT_TRUE(driver.Wait()) << "the save dialog did not come up or would not close";
    return failure;
  }

  TScratchFolder FFolder;
  TFileDialog FDialog{TFileDialog::TKind::Save};
  TStoreWindow FWindow;
  int FLiveIcons = 0;
  char FStartFolder[MAX_PATH] = {};
};

std::string CreateError(const std::string& name) { return "ファイル " + name + " を作成できません"; }

}  // namespace

TEST_F(SaveAsTest, OffersTheCaptionAsFileNameAndWritesTheChosenFile) {
  for (int i = 0; i < 3; ++i) FWindow.AddFile(FixturePath(fixture::TwoDll));  // ten entries
  FWindow.Select(6);
  const std::string target = FFolder.File("chosen.ico");
  TMessageBoxDriver boxes(IDOK);
  TFileDialogDriver driver(target, TFileDialogDriver::TAction::Ok);
  EXPECT_EQ(Run(driver), "");
  EXPECT_EQ(driver.OfferedName(), "Icon7.ico");
  EXPECT_EQ(driver.Owner(), FWindow.Frame()) << "the dialog belongs to the window holding the list";
  EXPECT_EQ(boxes.Count(), 0) << "no question for a new file";
  const std::vector<unsigned char> file = ReadBytes(target);
  ASSERT_EQ(file.size(), FileLength);
  // Entry 7 is the first image of two.dll (after three.dll, highcolour.dll and two.dll
  // once): yellow in the middle, a transparent corner.
  const std::size_t middle = 126 + (31 - 16) * 16 + 16 / 2;
  const unsigned index = file[middle] >> 4;
  EXPECT_EQ(RGB(file[62 + index * 4 + 2], file[62 + index * 4 + 1], file[62 + index * 4]), fixture::TwoColours[0]);
  EXPECT_EQ(file[638] & 0x80, 0x80) << "bottom-left pixel is transparent";
}

TEST_F(SaveAsTest, NameWithoutExtensionUnderAllFilesIsWrittenUnderExactlyThatName) {
  FWindow.Select(0);
  const std::string target = FFolder.File("plainname");
  TFileDialogDriver driver(target, TFileDialogDriver::TAction::Ok, 2);
  EXPECT_EQ(Run(driver), "");
  EXPECT_EQ(ReadBytes(target).size(), FileLength);
  EXPECT_FALSE(FileExists(target + ".ico"));
}

TEST_F(SaveAsTest, CancelledDialogOrNothingSelectedTouchesNoFile) {
  FWindow.Select(1);
  TMessageBoxDriver boxes(IDOK);
  {
    TFileDialogDriver driver(FFolder.File("never.ico"), TFileDialogDriver::TAction::Cancel);
    EXPECT_EQ(Run(driver), "");
  }
  EXPECT_FALSE(FileExists(FFolder.File("never.ico")));
  EXPECT_FALSE(FileExists(FFolder.File("Icon2.ico")));

  FWindow.Select(-1);
  ASSERT_EQ(FWindow.Store.Selected(), -1);
  TFileDialogDriver unseen(FFolder.File("never.ico"), TFileDialogDriver::TAction::Ok, 0, 1500);
  SaveSelectedIcon(FWindow.Store, FDialog);
  EXPECT_FALSE(unseen.Wait()) << "no dialog may show without a selection";
  EXPECT_FALSE(FileExists(FFolder.File("never.ico")));
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(SaveAsTest, ExistingFileIsReplacedCompletelyAfterOk) {
  const std::string target = FFolder.File("existing.ico");
  WriteBytes(target, std::vector<unsigned char>(3000, 0x5A));
  FWindow.Select(3);
  TMessageBoxDriver boxes(IDOK);
  int iconsDuringQuestion = -1;
  boxes.OnShow([&](const TMessageBoxRecord&) { iconsDuringQuestion = TIcon::LiveHandles(); });
  TFileDialogDriver driver(target, TFileDialogDriver::TAction::Ok);
  EXPECT_EQ(Run(driver), "");
  ASSERT_EQ(boxes.Count(), 1);
  const TMessageBoxRecord& box = boxes.Boxes()[0];
  EXPECT_EQ(box.Text, "ファイルが既に存在します、上書きしますか？");
  EXPECT_EQ(box.Caption, "Glyphdock");
  EXPECT_EQ(box.Icon, TBoxIcon::None);
  EXPECT_TRUE(box.HasButton(IDOK));
  EXPECT_TRUE(box.HasButton(IDCANCEL));
  EXPECT_EQ(iconsDuringQuestion, FLiveIcons) << "the icon is fetched only after the answer";
  const std::vector<unsigned char> file = ReadBytes(target);
  ASSERT_EQ(file.size(), FileLength);
  EXPECT_EQ(file[2], 1);
}

TEST_F(SaveAsTest, ExistingFileStaysByteForByteAfterCancel) {
  const std::string target = FFolder.File("keep.ico");
  const std::vector<unsigned char> before = {7, 7, 7, 0, 1, 2, 3};
  WriteBytes(target, before);
  FWindow.Select(0);
  TMessageBoxDriver boxes(IDCANCEL);
  TFileDialogDriver driver(target, TFileDialogDriver::TAction::Ok);
  EXPECT_EQ(Run(driver), "");
  EXPECT_EQ(boxes.Count(), 1);
  EXPECT_EQ(ReadBytes(target), before);
}

TEST_F(SaveAsTest, FileHeldOpenWithoutSharingGetsNoQuestionAndTheCreateError) {
  const std::string target = FFolder.File("held.ico");
  WriteBytes(target, {1, 2, 3});
  TFileHandle other(CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(other);
  EXPECT_FALSE(IconFileExists(target)) << "a file in use counts as absent";
  FWindow.Select(0);
  TMessageBoxDriver boxes(IDOK);
  TFileDialogDriver driver(target, TFileDialogDriver::TAction::Ok);
  EXPECT_EQ(Run(driver), CreateError(target));
  EXPECT_EQ(boxes.Count(), 0);
  other.Reset();
  EXPECT_EQ(ReadBytes(target), (std::vector<unsigned char>{1, 2, 3}));
}

// Also as root, whom the file system would let write the file: a read-only file is kept.
TEST_F(SaveAsTest, ReadOnlyFileGetsTheQuestionThenTheCreateErrorAndStaysUnchanged) {
  const std::string target = FFolder.File("readonly.ico");
  WriteBytes(target, {9, 8, 7});
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  FWindow.Select(0);
  TMessageBoxDriver boxes(IDOK);
  TFileDialogDriver driver(target, TFileDialogDriver::TAction::Ok);
  EXPECT_EQ(Run(driver), CreateError(target));
  EXPECT_EQ(boxes.Count(), 1);
  EXPECT_EQ(ReadBytes(target), (std::vector<unsigned char>{9, 8, 7}));
  EXPECT_EQ(FolderContents(FFolder.Path()), (std::vector<std::string>{"readonly.ico"}));
}

namespace {
// Files written where the host can read them, for readers outside the program.
class SaveAsHostTest : public SaveAsTest {
protected:
  SaveAsHostTest() : SaveAsTest(HostSideAvailable() ? HostPathToWindows(GLYPHDOCK_BIN_DIR) : std::string()) {}
};
}  // namespace

TEST_F(SaveAsHostTest, IndependentReadersSeeOneThirtyTwoPixelImageInEveryFileAndTwoSavesAgree) {
  if (!HostSideAvailable()) GTEST_SKIP() << "the host's icotool and identify are reached through Wine";
  std::vector<std::string> names;
  for (int entry = 0; entry < 4; ++entry) {
    FWindow.Select(entry);
    names.push_back(FFolder.File("entry" + std::to_string(entry) + ".ico"));
    TFileDialogDriver driver(names.back(), TFileDialogDriver::TAction::Ok);
    ASSERT_EQ(Run(driver), "");
  }
  FWindow.Select(3);
  const std::string again = FFolder.File("again.ico");
  TFileDialogDriver driver(again, TFileDialogDriver::TAction::Ok);
  ASSERT_EQ(Run(driver), "");
  EXPECT_EQ(ReadBytes(again), ReadBytes(names[3]));

  for (const std::string& name : names) {
    const std::string host = WindowsPathToHost(name);
    std::string output;
    int status = -1;
    ASSERT_TRUE(RunHostCommand(FFolder.Path(), "icotool -l '" + host + "'", output, status)) << name;
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "--icon --index=1 --width=32 --height=32 --bit-depth=4 --palette-size=16\n");
    ASSERT_TRUE(RunHostCommand(FFolder.Path(), "identify -format '%w %h|' '" + host + "'", output, status));
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '|'), 1) << "one image: " << output;
    EXPECT_EQ(output, "32 32|");
  }
}
