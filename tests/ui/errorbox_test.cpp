// The error box: its full-stop rule, what it shows, and the capture it ends.
#include "ui/errorbox.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "runtime/application.h"
#include "runtime/failure.h"
#include "runtime/forms.h"
#include "support/msgboxdriver.h"

// Outside the unnamed namespace: the parameterised suite's factory holds one.
struct TFullStopCase {
  const char* Name;
  std::string Text;
  bool GetsFullStop;
};

// Test listings name a case by its name, not by its bytes.
inline void PrintTo(const TFullStopCase& c, std::ostream* out) { *out << c.Name; }

std::vector<TFullStopCase> FullStopCases() {
  return {
      // Double-byte endings: every lead byte is above ".", whatever the trail byte.
      {"kana", "ファイル", true},
      {"kanji with trail 0x5C", "\x95\x5C", true},               // 表
      {"ideographic space with trail 0x40", "\x81\x40", true},    // the smallest trail byte
      {"prolonged sound mark", "エラー", true},
      {"full-width full stop", "終わり\x81\x42", true},           // 。
      {"trail byte that is also a lead byte", "\x83\x81", true},  // メ
      // The pair before the "." ends in a byte that is a lead byte value; only a scan
      // from the start sees that "." stands alone.
      {"full stop after a trail byte 0x81", "\x83\x81.", false},
      {"full stop after kanji", "エラーです.", false},
      {"digit", "code 12", true},
      {"letter", "abc", true},
      {"slash, just above the full stop", "a/", true},
      {"half-width katakana", "\xB1", true},
      {"full stop", "done.", false},
      {"exclamation mark", "stop!", false},
      {"closing parenthesis", "(note)", false},
      {"comma", "a,", false},
      {"hyphen, just below the full stop", "a-", false},
      {"space", "text ", false},
      {"line break", "line\n", false},
      {"carriage return and line feed", "line\r\n", false},
      {"empty", "", false},
      {"a lone full stop", ".", false},
  };
}

class FullStopRule : public ::testing::TestWithParam<TFullStopCase> {};

namespace {
std::string CaseName(const ::testing::TestParamInfo<TFullStopCase>& info) {
  std::string name;
  for (const char* p = info.param.Name; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
}

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// A top-level window with a child that can hold the capture; the child counts the
// WM_CANCELMODE messages it gets and whether the box was up when they came.
class TCaptureWindows {
public:
  TCaptureWindows() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    if (!GetClassInfoA(instance, "GdErrorBoxCapture", &wc)) {
      wc = WNDCLASSA{};
      wc.lpfnWndProc = &CountingProc;
      wc.hInstance = instance;
      wc.lpszClassName = "GdErrorBoxCapture";
      RegisterClassA(&wc);
    }
    FTop = CreateWindowExA(0, "GdErrorBoxCapture", "capture", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 200,
                           nullptr, nullptr, instance, nullptr);
    FChild = CreateWindowExA(0, "GdErrorBoxCapture", "", WS_CHILD | WS_VISIBLE, 10, 10, 100, 100, FTop, nullptr,
                             instance, nullptr);
    ChildWindow = FChild;
    ChildCancelModes = 0;
  }
  ~TCaptureWindows() {
    if (GetCapture()) ReleaseCapture();
    DestroyWindow(FTop);
  }
  TCaptureWindows(const TCaptureWindows&) = delete;
  TCaptureWindows& operator=(const TCaptureWindows&) = delete;
  HWND Top() const { return FTop; }
  HWND Child() const { return FChild; }

  // WM_CANCELMODE messages the child got (disabling the top-level window sends that
  // one its own).
  static inline HWND ChildWindow = nullptr;
  static inline int ChildCancelModes = 0;

private:
  HWND FTop = nullptr;
  HWND FChild = nullptr;
};

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CANCELMODE && hwnd == TCaptureWindows::ChildWindow) ++TCaptureWindows::ChildCancelModes;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A small form whose button handler fails as it is told, to reach the error box through
// the form's own guarded dispatch.
enum class TFailWith { Nothing, Failure, OutOfMemory, FailureDuringDrag };

constexpr int ButtonId = 100;
const TControlDesc FailingControls[] = {
    {TControlKind::Button, "FailButton", ButtonId, 10, 10, 120, 25, "押す", 0, 0, 0},
};
const TFormDesc FailingFormDesc = {
    "TFailingForm", "失敗するフォーム", 120, 120, 300, 150, true, WS_OVERLAPPEDWINDOW, 0, false,
    {"ＭＳ Ｐゴシック", 12, SHIFTJIS_CHARSET}, FailingControls, 1};

class TFailingForm : public TForm {
public:
  TFailingForm() : TForm(FailingFormDesc) {}
  TFailWith FailWith = TFailWith::Nothing;
  int Clicks = 0;
  int Finished = 0;  // handlers that ran to their end

protected:
  void Command(int id, int code, HWND control) override {
    if (id != ButtonId || code != BN_CLICKED) return TForm::Command(id, code, control);
    ++Clicks;
    switch (FailWith) {
      case TFailWith::Nothing: break;
      case TFailWith::Failure: Raise(msg::CannotOpenClipboard);
      case TFailWith::OutOfMemory: throw std::bad_alloc();
      case TFailWith::FailureDuringDrag:
        SetCapture(Handle());
        RaiseFmt(msg::CannotCreateFile, "C:\\a.ico");
    }
    ++Finished;
  }
};

// Gives the tests a taskbar window with a known title and puts the old one back.
class ErrorBoxTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Application.Handle()) {
      Application.Initialize(GetModuleHandleA(nullptr), "Errorbox");
      FInitialized = true;
    }
    ASSERT_NE(Application.Handle(), nullptr);
    char old[256] = {};
    GetWindowTextA(Application.Handle(), old, sizeof old);
    FOldTitle = old;
    SetTitle("Glyphdock");
  }
  void TearDown() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (FInitialized) {
      Application.Finalize();
    } else {
      SetTitle(FOldTitle);
    }
  }
  static void SetTitle(const std::string& title) { SetWindowTextA(Application.Handle(), title.c_str()); }

private:
  bool FInitialized = false;
  std::string FOldTitle;
};
}  // namespace

TEST_P(FullStopRule, ComparesTheLastCharacterWithAFullStop) {
  const TFullStopCase& c = GetParam();
  EXPECT_EQ(WithFullStop(c.Text), c.GetsFullStop ? c.Text + "." : c.Text);
}

INSTANTIATE_TEST_SUITE_P(Endings, FullStopRule, ::testing::ValuesIn(FullStopCases()), CaseName);

TEST(FullStopRuleTable, EveryFixedMessageGetsOne) {
  const char* const messages[] = {
      msg::CannotCreateFile, msg::StreamWriteError,  msg::InvalidIconImage, msg::InvalidBitmapImage,
      msg::CannotOpenClipboard, msg::OutOfResources, msg::OutOfMemory,      msg::InvalidImageSize,
      msg::InvalidImageList, msg::CannotShowModal,   msg::RegReadFailed,    msg::RegTypeInvalid,
      msg::RegWriteFailed,
  };
  for (const char* text : messages) EXPECT_EQ(WithFullStop(text), std::string(text) + ".") << text;
}

TEST_F(ErrorBoxTest, ShowsTheTextWithItsFullStopTheErrorIconOneOkAndTheTitle) {
  TMessageBoxDriver driver(IDOK);
  ReportFailure("ファイル C:\\保存\\a.ico を作成できません");
  ReportFailure("already ends.");
  ReportFailure(msg::CannotOpenClipboard);
  ASSERT_EQ(driver.Count(), 3);
  const TMessageBoxRecord& box = driver.Boxes()[0];
  EXPECT_EQ(box.Text, "ファイル C:\\保存\\a.ico を作成できません.");
  EXPECT_EQ(box.Caption, "Glyphdock");
  EXPECT_EQ(box.Icon, TBoxIcon::Error);
  EXPECT_EQ(box.Buttons, std::vector<int>{IDOK});
  EXPECT_EQ(box.Owner, Application.Handle());
  EXPECT_EQ(driver.Boxes()[1].Text, "already ends.");
  EXPECT_EQ(driver.Boxes()[2].Text, std::string(msg::CannotOpenClipboard) + ".");
}

TEST_F(ErrorBoxTest, TheCaptionIsTheTaskbarWindowsTextAsItIsNow) {
  TMessageBoxDriver driver(IDOK);
  SetTitle("ビューア");
  ReportFailure("x");
  // The longest title the caption takes is 255 bytes.
  SetTitle(std::string(300, 'a'));
  ReportFailure("y");
  ASSERT_EQ(driver.Count(), 2);
  EXPECT_EQ(driver.Boxes()[0].Caption, "ビューア");
  EXPECT_EQ(driver.Boxes()[1].Caption, std::string(255, 'a'));
}

TEST_F(ErrorBoxTest, AFailureDuringACaptureEndsTheCaptureFirst) {
  TCaptureWindows windows;
  SetCapture(windows.Child());
  ASSERT_EQ(GetCapture(), windows.Child());
  TMessageBoxDriver driver(IDOK);
  HWND captureDuringBox = windows.Child();
  int cancelModesBeforeBox = -1;
  driver.OnShow([&](const TMessageBoxRecord&) {
    captureDuringBox = GetCapture();
    cancelModesBeforeBox = TCaptureWindows::ChildCancelModes;
  });
  ReportFailure("drag");
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_EQ(captureDuringBox, nullptr);
  EXPECT_EQ(cancelModesBeforeBox, 1) << "the window with the capture is told once, before the box";
}

TEST_F(ErrorBoxTest, WithoutACaptureNoWindowIsToldToCancel) {
  TCaptureWindows windows;
  ASSERT_EQ(GetCapture(), nullptr);
  TMessageBoxDriver driver(IDOK);
  ReportFailure("no drag");
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_EQ(TCaptureWindows::ChildCancelModes, 0);
}

TEST_F(ErrorBoxTest, AFailingCommandHandlerIsShownAndTheFormWorksOn) {
  Application.SetFailureHandler(&ReportFailure);
  TFailingForm form;
  form.CreateForm();
  form.Show();
  const HWND button = form.Item(ButtonId);
  ASSERT_NE(button, nullptr);

  TMessageBoxDriver driver(IDOK);
  bool formDisabledDuringBox = false;
  driver.OnShow([&](const TMessageBoxRecord&) { formDisabledDuringBox = !IsWindowEnabled(form.Handle()); });
  form.FailWith = TFailWith::Failure;
  SendMessageA(button, BM_CLICK, 0, 0);
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_EQ(driver.Boxes()[0].Text, std::string(msg::CannotOpenClipboard) + ".");
  EXPECT_EQ(driver.Boxes()[0].Caption, "Glyphdock");
  EXPECT_EQ(driver.Boxes()[0].Icon, TBoxIcon::Error);
  EXPECT_TRUE(formDisabledDuringBox);
  EXPECT_EQ(form.Clicks, 1);
  EXPECT_EQ(form.Finished, 0) << "the rest of the handler is skipped";

  // Exhausted memory is shown like any other failure, with its own text.
  form.FailWith = TFailWith::OutOfMemory;
  SendMessageA(button, BM_CLICK, 0, 0);
  ASSERT_EQ(driver.Count(), 2);
  EXPECT_EQ(driver.Boxes()[1].Text, std::string(msg::OutOfMemory) + ".");

  // The form goes on: the next click runs its handler to the end, with no box.
  form.FailWith = TFailWith::Nothing;
  SendMessageA(button, BM_CLICK, 0, 0);
  EXPECT_EQ(driver.Count(), 2);
  EXPECT_EQ(form.Clicks, 3);
  EXPECT_EQ(form.Finished, 1);
  EXPECT_TRUE(IsWindowEnabled(form.Handle()));
}

TEST_F(ErrorBoxTest, AHandlerFailingDuringADragLosesTheCapture) {
  Application.SetFailureHandler(&ReportFailure);
  TFailingForm form;
  form.CreateForm();
  form.Show();
  TMessageBoxDriver driver(IDOK);
  HWND captureDuringBox = form.Handle();
  driver.OnShow([&](const TMessageBoxRecord&) { captureDuringBox = GetCapture(); });
  form.FailWith = TFailWith::FailureDuringDrag;
  SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(ButtonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(form.Item(ButtonId)));
  ASSERT_EQ(driver.Count(), 1);
  EXPECT_EQ(driver.Boxes()[0].Text, "ファイル C:\\a.ico を作成できません.");
  EXPECT_EQ(captureDuringBox, nullptr);
  EXPECT_EQ(GetCapture(), nullptr);
}
