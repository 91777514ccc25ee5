// The application frame under Wine: which window becomes the main window, what closing does,
// when a released window goes, how errors reach the error box, where windows appear.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "app/application.h"
#include "app/box_watcher.h"
#include "app/control_ids.h"
#include "app/form.h"
#include "net/errors.h"

namespace vanto::app {
namespace {

using test::BoxWatcher;
using test::PumpPendingMessages;
using test::TakeQuitMessage;

// A window whose handlers the test supplies.
class ProbeForm : public Form {
 public:
  ProbeForm(Application& application, std::function<void(ProbeForm&)> onCreate = {},
            CloseAction closeAction = CloseAction::kFree)
      : Form(application), onCreate_(std::move(onCreate)), closeAction_(closeAction) {}

  std::function<void(int)> onCommand;
  HWND button = nullptr;

 protected:
  Frame Describe() const override {
    return {L"VantoProbeForm", L"probe", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 200, 100};
  }
  void CreateControls() override {
    button = CreateWindowExW(0, L"BUTTON", L"b", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 50, 20,
                             Handle(), reinterpret_cast<HMENU>(7), nullptr, nullptr);
    SetTabOrder({button});
  }
  void FormCreate() override {
    if (onCreate_) onCreate_(*this);
  }
  void FormClose(CloseAction& action) override { action = closeAction_; }
  void OnCommand(int controlId, int notification) override {
    (void)notification;
    if (onCommand) onCommand(controlId);
  }

 private:
  std::function<void(ProbeForm&)> onCreate_;
  CloseAction closeAction_;
};

// The primary work area set for a while, as a taskbar would leave it; the old one is put back.
class WorkArea {
 public:
  explicit WorkArea(RECT area) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved_, 0);
    EXPECT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, 0));
    RECT now{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &now, 0);
    EXPECT_TRUE(EqualRect(&now, &area)) << "the work area did not take";
  }
  ~WorkArea() { SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved_, 0); }
  WorkArea(const WorkArea&) = delete;
  WorkArea& operator=(const WorkArea&) = delete;

 private:
  RECT saved_{};
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PumpPendingMessages();
    TakeQuitMessage();
  }
  void TearDown() override { TakeQuitMessage(); }

  Application application{GetModuleHandleW(nullptr)};
};

TEST_F(FrameTest, TheWindowWhoseCreationEndsFirstBecomesMain) {
  ProbeForm* outer = nullptr;
  ProbeForm* inner = nullptr;
  ProbeForm* seenDuringCreation = nullptr;
  application.CreateForm(outer, [&](ProbeForm& self) {
    seenDuringCreation = outer;  // the reference is filled before the creation handler runs
    EXPECT_EQ(application.MainForm(), nullptr);
    application.CreateForm(inner);
    EXPECT_EQ(application.MainForm(), inner);
    (void)self;
  });
  EXPECT_EQ(seenDuringCreation, outer);
  EXPECT_EQ(application.MainForm(), inner);
}

TEST_F(FrameTest, AWindowCreatedAloneBecomesMain) {
  ProbeForm* form = nullptr;
  application.CreateForm(form);
  EXPECT_EQ(application.MainForm(), form);
  EXPECT_FALSE(IsWindowVisible(form->Handle()));  // windows start hidden
}

TEST_F(FrameTest, AReleaseWaitsUntilTheCreationHasEnded) {
  ProbeForm* first = nullptr;
  ProbeForm* second = nullptr;
  HWND firstWindow = nullptr;
  bool aliveAfterInnerLoop = false;
  application.CreateForm(first, [&](ProbeForm& self) {
    firstWindow = self.Handle();
    self.Close();
    application.CreateForm(second);
    // A modal box's loop takes the release request while the creation is still running.
    PumpPendingMessages();
    aliveAfterInnerLoop = IsWindow(firstWindow) != FALSE;
  });
  EXPECT_TRUE(aliveAfterInnerLoop);
  EXPECT_TRUE(IsWindow(firstWindow));
  EXPECT_EQ(application.MainForm(), second);
  PumpPendingMessages();
  EXPECT_FALSE(IsWindow(firstWindow));
  EXPECT_TRUE(IsWindow(second->Handle()));
  EXPECT_EQ(TakeQuitMessage(), -1);
}

TEST_F(FrameTest, ClosingTheMainWindowRequestsTerminationAndKeepsIt) {
  ProbeForm* form = nullptr;
  application.CreateForm(form);
  form->Show();
  form->Close();
  PumpPendingMessages();
  EXPECT_EQ(TakeQuitMessage(), 0);
  EXPECT_TRUE(IsWindow(form->Handle()));
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
}

struct CloseCase {
  CloseAction action;
  bool exists;
  bool visible;
  bool minimised;
};

TEST_F(FrameTest, CloseActionsOfAWindowThatIsNotMain) {
  const CloseCase cases[] = {
      {CloseAction::kNone, true, true, false},
      {CloseAction::kHide, true, false, false},
      {CloseAction::kMinimize, true, true, true},
      {CloseAction::kFree, false, false, false},
  };
  ProbeForm* mainForm = nullptr;
  application.CreateForm(mainForm);
  for (const CloseCase& c : cases) {
    ProbeForm* form = nullptr;
    application.CreateForm(form, nullptr, c.action);
    form->Show();
    HWND window = form->Handle();
    SendMessageW(window, WM_CLOSE, 0, 0);
    PumpPendingMessages();
    SCOPED_TRACE(static_cast<int>(c.action));
    EXPECT_EQ(IsWindow(window) != FALSE, c.exists);
    EXPECT_EQ(IsWindowVisible(window) != FALSE, c.visible);
    EXPECT_EQ(IsIconic(window) != FALSE, c.minimised);
    EXPECT_EQ(TakeQuitMessage(), -1);
  }
}

TEST_F(FrameTest, AnErrorLeavingTheCreationIsReportedAndTheWindowStillBecomesMain) {
  BoxWatcher watcher;
  ProbeForm* form = nullptr;
  application.SetTitle(kApplicationTitle);
  application.CreateForm(
      form, [](ProbeForm&) { throw EIdHTTPProtocolException(404, u"HTTP/1.1 404 Not Found", ""); });
  EXPECT_EQ(application.MainForm(), form);
  ASSERT_EQ(watcher.Boxes().size(), 1u);
  EXPECT_EQ(watcher.Boxes()[0].text, L"HTTP/1.1 404 Not Found.");
  EXPECT_EQ(watcher.Boxes()[0].caption, kApplicationTitle);
  EXPECT_TRUE(watcher.Boxes()[0].hasStopIcon);
  EXPECT_TRUE(watcher.Boxes()[0].isMessageBox);
}

TEST_F(FrameTest, ErrorsOtherThanTheProgramsOwnAreReportedToo) {
  struct Case {
    std::function<void()> raise;
    const wchar_t* shown;
  };
  const Case cases[] = {
      {[] { throw std::bad_alloc(); }, L"Out of memory."},
      {[] { throw std::runtime_error("broken"); }, L"broken."},
      {[] { throw 42; }, L"Unexpected error."},
  };
  for (const Case& c : cases) {
    BoxWatcher watcher;
    ProbeForm* form = nullptr;
    application.CreateForm(form, [&](ProbeForm&) { c.raise(); });
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, c.shown);
  }
}

TEST_F(FrameTest, TheErrorBoxDisablesTheOtherWindowsAndRestoresThem) {
  ProbeForm* first = nullptr;
  ProbeForm* second = nullptr;
  application.CreateForm(first);
  application.CreateForm(second);
  first->Show();
  second->Show();
  ASSERT_EQ(GetActiveWindow(), second->Handle());
  BoxWatcher watcher({first->Handle(), second->Handle()});
  application.ReportError(EConvertError(u"'x' is not a valid floating point value"));
  ASSERT_EQ(watcher.Boxes().size(), 1u);
  EXPECT_EQ(watcher.Boxes()[0].owner, second->Handle());  // the active window owns the box
  EXPECT_EQ(watcher.Boxes()[0].enabled, (std::vector<bool>{false, false}));
  EXPECT_TRUE(IsWindowEnabled(first->Handle()));
  EXPECT_TRUE(IsWindowEnabled(second->Handle()));
  EXPECT_EQ(GetActiveWindow(), second->Handle());
  EXPECT_EQ(GetFocus(), second->button);
}

TEST_F(FrameTest, TheInformationDialogShowsTheTextUnchanged) {
  BoxWatcher watcher;
  application.SetTitle(kApplicationTitle);
  application.ShowInformation(u"first.\r\rsecond");
  ASSERT_EQ(watcher.Boxes().size(), 1u);
  EXPECT_EQ(watcher.Boxes()[0].text, L"first.\r\rsecond");
  EXPECT_EQ(watcher.Boxes()[0].caption, kApplicationTitle);
  EXPECT_FALSE(watcher.Boxes()[0].hasStopIcon);
  EXPECT_FALSE(
      watcher.Boxes()[0].isMessageBox);  // the manifest's common controls have task dialogs
  EXPECT_EQ(watcher.Boxes()[0].owner, application.Handle());  // nothing else is there yet
  // Centred on the work area of the owner's monitor (Wine's monitor keeps its work area when
  // the primary one is set, so it is the display's own): as much room on the left as on the
  // right, above as below; an odd pixel goes right and below.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(application.Handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  const RECT& box = watcher.Boxes()[0].bounds;
  const int leftRoom = box.left - work.left, rightRoom = work.right - box.right;
  const int topRoom = box.top - work.top, bottomRoom = work.bottom - box.bottom;
  EXPECT_TRUE(rightRoom - leftRoom == 0 || rightRoom - leftRoom == 1)
      << leftRoom << " left, " << rightRoom << " right";
  EXPECT_TRUE(bottomRoom - topRoom == 0 || bottomRoom - topRoom == 1)
      << topRoom << " above, " << bottomRoom << " below";
}

TEST_F(FrameTest, AnErrorInAMessageHandlerIsReportedAndTheLoopGoesOn) {
  ProbeForm* form = nullptr;
  application.CreateForm(form);
  int commands = 0;
  form->onCommand = [&](int) {
    if (++commands == 1) throw EWriteError(u"Stream write error");
    form->Close();  // the main window: ends the loop
  };
  BoxWatcher watcher;
  const auto click = [form] {
    PostMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(7, BN_CLICKED),
                 reinterpret_cast<LPARAM>(form->button));
  };
  watcher.afterAnswer = click;  // the second click comes once the error box is answered
  click();
  application.RunLoop();
  EXPECT_EQ(commands, 2);
  ASSERT_EQ(watcher.Boxes().size(), 1u);
  EXPECT_EQ(watcher.Boxes()[0].text, L"Stream write error.");
}

TEST_F(FrameTest, RunLoopReturnsAtOnceWithoutAMainWindow) {
  PostMessageW(application.Handle(), WM_NULL, 0, 0);
  application.RunLoop();
  MSG message;
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE));  // untouched
}

// Where the first showing puts a window of 300 x 150 pixels: half the room the work area leaves
// it, counted from the desktop's corner, not the work area's. A taskbar on the left or at the top
// takes room from the work area but does not shift the window by its width; a window larger than
// the work area stays within the desktop's left and top.
TEST_F(FrameTest, TheFirstShowingCentresOnTheWorkAreaAndLaterOnesKeepThePlace) {
  struct Case {
    const char* name;
    RECT work;
    int left, top;
  };
  const Case cases[] = {
      {"the whole screen", {0, 0, 1024, 768}, 362, 309},
      {"odd room: the spare pixel goes right and below", {0, 0, 1023, 767}, 361, 308},
      {"taskbar on the left", {60, 0, 1024, 768}, 332, 309},
      {"taskbar at the top", {0, 40, 1024, 768}, 362, 289},
      {"smaller than the window", {0, 0, 200, 100}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const WorkArea work(c.work);
    ProbeForm* form = nullptr;
    application.CreateForm(form);
    SetWindowPos(form->Handle(), nullptr, 0, 0, 300, 150,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    form->Show();
    RECT outer;
    GetWindowRect(form->Handle(), &outer);
    EXPECT_EQ(outer.left, c.left);
    EXPECT_EQ(outer.top, c.top);
    EXPECT_EQ(outer.right - outer.left, 300);
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
    EXPECT_EQ(GetActiveWindow(), form->Handle());
    EXPECT_EQ(GetFocus(), form->button);  // the first tab stop takes the focus
    ShowWindow(form->Handle(), SW_HIDE);
  }

  ProbeForm* form = nullptr;
  application.CreateForm(form);
  form->Show();
  SetWindowPos(form->Handle(), nullptr, 3, 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(form->Handle(), SW_HIDE);
  form->Show();
  RECT outer;
  GetWindowRect(form->Handle(), &outer);
  EXPECT_EQ(outer.left, 3);
  EXPECT_EQ(outer.top, 4);
}

}  // namespace
}  // namespace vanto::app
