// The two windows of the program under Wine: layouts, fonts, texts, and what their keys and
// handlers do, against recording fake services.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/application.h"
#include "app/box_watcher.h"
#include "app/control_ids.h"
#include "app/up_cli_main.h"
#include "app/up_main.h"
#include "platform/utf.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "update/fake_services.h"
#include "update/netproc.h"

namespace vanto::app {
namespace {

using test::BoxWatcher;
using test::ClassOf;
using test::PumpPendingMessages;
using test::TakeQuitMessage;
using test::TextOf;

constexpr wchar_t kPreparing[] = L"업그레이드 준비중 입니다.";
constexpr wchar_t kDownloading[] = L"업그레이드화일 다운로드중...";
constexpr wchar_t kDone[] = L"다운로드가 완료 되었습니다. 잠시만 기다려 주세요...";

// A child's bounds in its parent's client coordinates.
RECT BoundsOf(HWND child) {
  RECT bounds;
  GetWindowRect(child, &bounds);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&bounds), 2);
  return bounds;
}

SIZE ClientSize(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return {client.right, client.bottom};
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

// A control as the window was laid out at design time: these positions, sizes, classes and texts
// are the layout's own numbers, not read off the code that creates the controls.
struct ControlCase {
  int id;
  const wchar_t* className;
  int left, top, width, height;  // width or height -1: sized to the text, not checked
  const wchar_t* text;
  bool tabStop;
};

void ExpectControls(HWND window, std::initializer_list<ControlCase> cases) {
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.id);
    HWND control = GetDlgItem(window, c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(_wcsicmp(ClassOf(control).c_str(), c.className), 0) << ClassOf(control).size();
    const RECT bounds = BoundsOf(control);
    EXPECT_EQ(bounds.left, c.left);
    EXPECT_EQ(bounds.top, c.top);
    if (c.width >= 0) {
      EXPECT_EQ(bounds.right - bounds.left, c.width);
    }
    if (c.height >= 0) {
      EXPECT_EQ(bounds.bottom - bounds.top, c.height);
    }
    EXPECT_EQ(TextOf(control), c.text);
    EXPECT_EQ((GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP) != 0, c.tabStop);
  }
}

void ExpectLabelFont(HWND label) {
  const LOGFONTW font = FontOf(label);
  EXPECT_STREQ(font.lfFaceName, L"굴림체");
  EXPECT_EQ(font.lfHeight, -12);
  EXPECT_EQ(font.lfCharSet, HANGUL_CHARSET);
  EXPECT_EQ(font.lfWeight, FW_NORMAL);
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PumpPendingMessages();
    TakeQuitMessage();
    update::RunState() = {};
    application.SetTitle(kApplicationTitle);
  }
  void TearDown() override { TakeQuitMessage(); }

  Application application{GetModuleHandleW(nullptr)};
  test::FakeServices services;
};

TEST_F(WindowsTest, TheFirstWindowsLayout) {
  services.keyPresent = false;
  BoxWatcher watcher;
  application.CreateForm(frmClientMain, services);
  HWND window = frmClientMain->Handle();
  EXPECT_EQ(ClassOf(window), L"TfrmClientMain");
  EXPECT_EQ(TextOf(window), L"자동 업그레이드");
  const SIZE client = ClientSize(window);
  EXPECT_EQ(client.cx, 342);
  EXPECT_EQ(client.cy, 75);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(GetWindow(window, GW_OWNER), application.Handle());
  ExpectControls(window, {
                             {kPanel1Id, L"VantoupPanel", 0, 0, 342, 75, L"", false},
                             {kLblNameId, L"Static", 6, 52, -1, -1, L"", false},
                             {kPrgBarId, L"msctls_progress32", 7, 30, 328, 16, L"", false},
                             {kBtnUpId, L"Button", 135, 85, 76, 25, L"btnUp", true},
                         });
  ExpectLabelFont(GetDlgItem(window, kLblNameId));
  const LOGFONTW buttonFont = FontOf(GetDlgItem(window, kBtnUpId));
  EXPECT_STREQ(buttonFont.lfFaceName, L"MS Sans Serif");
  EXPECT_EQ(buttonFont.lfHeight, -11);
}

TEST_F(WindowsTest, WithoutTheRegistryKeyTheMessageComesAndTheFirstWindowStays) {
  services.keyPresent = false;
  BoxWatcher watcher;
  application.CreateForm(frmClientMain, services);
  ASSERT_EQ(watcher.Boxes().size(), 1u);
  EXPECT_EQ(watcher.Boxes()[0].text, L"프로그램의 정보가 없습니다.\r\r업체에 문의 하여 주십시요");
  EXPECT_EQ(watcher.Boxes()[0].caption, L"업그레이드");
  // Nothing of the program was visible behind the message.
  EXPECT_EQ(watcher.Boxes()[0].owner, application.Handle());
  EXPECT_EQ(application.MainForm(), frmClientMain);
  EXPECT_FALSE(IsWindowVisible(frmClientMain->Handle()));
  EXPECT_EQ(services.Count("ShellOpen"), 0);
}

TEST_F(WindowsTest, EnterInTheFirstWindowDoesNothing) {
  services.keyPresent = false;
  BoxWatcher watcher;
  application.CreateForm(frmClientMain, services);
  frmClientMain->Show();
  HWND button = GetDlgItem(frmClientMain->Handle(), kBtnUpId);
  EXPECT_EQ(GetFocus(), button);
  PostMessageW(button, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(button, WM_KEYUP, VK_RETURN, 0);
  PostMessageW(frmClientMain->Handle(), WM_CLOSE, 0, 0);
  const size_t callsBefore = services.calls.size();
  application.RunLoop();  // ends through the close
  EXPECT_EQ(services.calls.size(), callsBefore);
  EXPECT_EQ(watcher.Boxes().size(), 1u);  // only the start-up message
}

TEST_F(WindowsTest, TheUpgradeWindowsLayout) {
  application.CreateForm(frmUpmain, services);
  HWND window = frmUpmain->Handle();
  EXPECT_EQ(ClassOf(window), L"TfrmUpmain");
  EXPECT_EQ(TextOf(window), L" 자동업그레이드");
  const SIZE client = ClientSize(window);
  EXPECT_EQ(client.cx, 341);
  EXPECT_EQ(client.cy, 66);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
  EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, 0);
  ExpectControls(window, {
                             {kPanel1Id, L"VantoupPanel", 0, 0, 341, 66, L"", false},
                             {kLblStateId, L"Static", 7, 12, 330, 12, kPreparing, false},
                             {kLblNameId, L"Static", 6, 52, -1, -1, L"", false},
                             {kLblCntId, L"Static", 330, 51, -1, -1, L"", false},
                             {kPrgBarId, L"msctls_progress32", 7, 30, 328, 16, L"", false},
                             {kBtnUpId, L"Button", 135, 85, 76, 25, L"btnUp", true},
                         });
  for (int id : {kLblStateId, kLblNameId, kLblCntId}) ExpectLabelFont(GetDlgItem(window, id));
  EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(window, kLblStateId), GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
  EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(window, kLblCntId), GWL_STYLE) & SS_TYPEMASK, SS_RIGHT);
}

TEST_F(WindowsTest, LabelsSizedToTheirTextFollowIt) {
  application.CreateForm(frmUpmain, services);
  HWND window = frmUpmain->Handle();
  HWND name = GetDlgItem(window, kLblNameId);
  HWND count = GetDlgItem(window, kLblCntId);
  const RECT emptyName = BoundsOf(name);
  const RECT emptyCount = BoundsOf(count);

  frmUpmain->SetNameText(u"setup 설치 파일.exe");
  const RECT longName = BoundsOf(name);
  EXPECT_EQ(longName.left, 6);
  EXPECT_GT(longName.right - longName.left, 60);
  EXPECT_EQ(TextOf(name), L"setup 설치 파일.exe");

  frmUpmain->SetCountText(u"12 / 34");
  const RECT longCount = BoundsOf(count);
  EXPECT_EQ(longCount.right, emptyCount.right);  // right-aligned: the right edge stays
  EXPECT_LT(longCount.left, emptyCount.left);

  frmUpmain->SetNameText(u"");
  EXPECT_EQ(BoundsOf(name).right, emptyName.right);
  frmUpmain->SetStateText(u"x");
  const RECT state = BoundsOf(GetDlgItem(window, kLblStateId));
  EXPECT_EQ(state.right - state.left, 330);  // fixed size
}

// The upgrade step clicked from the keyboard: no newer version, so it only finishes and closes
// the window, which as the main window ends the loop.
TEST_F(WindowsTest, EnterAndSpaceInTheUpgradeWindowRunTheUpgradeStep) {
  struct KeyCase {
    const char* name;
    UINT key;
  };
  for (const KeyCase& c : {KeyCase{"enter", VK_RETURN}, KeyCase{"space", VK_SPACE}}) {
    SCOPED_TRACE(c.name);
    Application app(GetModuleHandleW(nullptr));
    update::RunState().LocalVersion = 2.0;
    update::RunState().ServerVersion = 2.0;
    app.CreateForm(frmUpmain, services);
    frmUpmain->Show();
    HWND window = frmUpmain->Handle();
    HWND button = GetDlgItem(window, kBtnUpId);
    ASSERT_EQ(GetFocus(), button);
    PostMessageW(button, WM_KEYDOWN, c.key, 0);
    PostMessageW(button, WM_CHAR, c.key == VK_SPACE ? L' ' : L'\r', 0);
    PostMessageW(button, WM_KEYUP, c.key, 0);
    app.RunLoop();
    EXPECT_EQ(TextOf(GetDlgItem(window, kLblStateId)), kDone);
    EXPECT_TRUE(IsWindowVisible(window));  // stays on screen until the process ends
    EXPECT_EQ(services.Count("ShellOpen"), 0);
  }
}

// A failed download leaves the window open, saying what it was doing; the user closes it.
TEST_F(WindowsTest, AFailedDownloadIsReportedOverTheUpgradeWindow) {
  update::RunState().LocalVersion = 1.5;
  update::RunState().ServerVersion = 2.0;
  update::RunState().InfoServerDir = u"https://127.0.0.1/vanto/";  // refused before connecting
  update::RunState().ExeDir = u"setup.exe";
  update::RunState().TempDir = u"C:\\nowhere\\";
  application.CreateForm(frmUpmain, services);
  frmUpmain->Show();
  HWND window = frmUpmain->Handle();
  BoxWatcher watcher({window});
  watcher.afterAnswer = [window] { PostMessageW(window, WM_CLOSE, 0, 0); };
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(kBtnUpId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, kBtnUpId)));
  application.RunLoop();
  ASSERT_EQ(watcher.Boxes().size(), 1u);
  EXPECT_EQ(watcher.Boxes()[0].text, L"IOHandler value is not valid.");
  EXPECT_EQ(watcher.Boxes()[0].owner, window);
  EXPECT_EQ(TextOf(GetDlgItem(window, kLblStateId)), kDownloading);
  EXPECT_EQ(TextOf(GetDlgItem(window, kLblNameId)), L"setup.exe");
  EXPECT_TRUE(IsWindowEnabled(window));
}

// The whole run through the windows, against a loopback server: the first window hands over to
// the upgrade window, which ends the run; the first window is never seen and goes in the loop.
TEST_F(WindowsTest, AWholeRunHandsOverToTheUpgradeWindowAndEnds) {
  struct RunCase {
    const char16_t* localVersion;
    bool installer;
  };
  for (const RunCase& c : {RunCase{u"2.0", false}, RunCase{u"1.5", true}}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.localVersion));
    Application app(GetModuleHandleW(nullptr));
    app.SetTitle(kApplicationTitle);
    test::FakeServices fake;
    test::TempDir documents;
    std::filesystem::create_directories(documents.Path() / "vanto" / "Temp");
    fake.specialFolders[platform::kFolderPersonal] = documents.Path().u16string();
    fake.AddFolder(documents.Path().u16string() + u"\\vanto\\Temp");

    test::ScriptedServer server;
    const std::string base = server.BaseUrl() + "vanto/";
    const std::string info = "[VANTO_INFO]\r\nVER=2.0\r\nServerDir=" + base +
                             "\r\n[VANTO_INFO_PC]\r\nExeDir=setup.exe\r\n";
    server.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(info.size()) +
                       "\r\n\r\n" + info);
    server.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nMZ");
    fake.values[u"Ver"] = {platform::RegistryRead::kText, c.localVersion};
    fake.values[u"ServerDir"] = {platform::RegistryRead::kText, platform::Utf8ToUtf16(base)};

    BoxWatcher watcher;
    frmUpmain = nullptr;
    app.CreateForm(frmClientMain, fake);
    ASSERT_NE(frmUpmain, nullptr);
    HWND first = frmClientMain->Handle();
    HWND upgrade = frmUpmain->Handle();
    EXPECT_EQ(app.MainForm(), frmUpmain);
    EXPECT_FALSE(IsWindowVisible(first));
    EXPECT_TRUE(IsWindow(first));  // released only by the message loop
    EXPECT_TRUE(IsWindowVisible(upgrade));
    EXPECT_EQ(TextOf(GetDlgItem(upgrade, kLblStateId)), kDone);
    EXPECT_EQ(TextOf(GetDlgItem(upgrade, kLblNameId)), c.installer ? L"setup.exe" : L"");

    // Keys pressed while the download blocked the window arrive after the run has ended: they
    // must not fetch and start the installer again.
    HWND button = GetDlgItem(upgrade, kBtnUpId);
    PostMessageW(button, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(button, WM_CHAR, L'\r', 0);
    PostMessageW(button, WM_KEYUP, VK_RETURN, 0);

    app.RunLoop();  // the first window's release, the keys, then the quit message
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindowVisible(upgrade));
    EXPECT_TRUE(watcher.Boxes().empty());
    EXPECT_EQ(fake.Count("ShellOpen"), c.installer ? 1 : 0);
    EXPECT_EQ(server.Connections(), c.installer ? 2 : 1);
  }
}

}  // namespace
}  // namespace vanto::app
