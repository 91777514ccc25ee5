#include "app/form.h"

#include <algorithm>

#include "app/application.h"
#include "app/controls.h"
#include "app/os_error.h"
#include "app/res/resource_ids.h"

namespace vanto::app {
namespace {

// Posted by Close; destroys the window when a message loop dispatches it.
constexpr UINT kReleaseMessage = WM_APP + 1;

bool IsFocusable(HWND control) {
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  return (style & (WS_VISIBLE | WS_DISABLED | WS_TABSTOP)) == (WS_VISIBLE | WS_TABSTOP);
}

}  // namespace

Form::Form(Application& application)
    : application_(application),
      windowFont_(MakeFont(L"MS Sans Serif", -11, DEFAULT_CHARSET)),
      labelFont_(MakeFont(L"굴림체", -12, HANGUL_CHARSET)) {}

Form::~Form() {
  if (window_) {
    // Messages sent while the window goes away must not reach a half-destroyed object.
    SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, 0);
    window_.Reset();
  }
}

void Form::Construct() {
  creating_ = true;
  const Frame frame = Describe();
  RegisterClassOnce(frame);
  RECT outer{0, 0, frame.clientWidth, frame.clientHeight};
  AdjustWindowRectEx(&outer, frame.style, FALSE, frame.exStyle);
  // Hidden, and owned by the application window, which keeps it off the taskbar.
  HWND window = CreateWindowExW(frame.exStyle, frame.className, frame.caption, frame.style, 0, 0,
                                outer.right - outer.left, outer.bottom - outer.top,
                                application_.Handle(), nullptr, application_.Instance(), this);
  if (window == nullptr) RaiseLastOSError();
  window_ = UniqueWindow(window);
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_.Get()), FALSE);

  CreateControls();
  if (clientAligned_ != nullptr) {
    RECT client;
    GetClientRect(window, &client);
    SetWindowPos(clientAligned_, HWND_BOTTOM, 0, 0, client.right, client.bottom, SWP_NOACTIVATE);
  }

  try {
    FormCreate();
  } catch (...) {
    application_.ReportCurrentException();
  }
  creating_ = false;
  // A release requested during the creation, and taken from the queue by a modal box's loop,
  // waits until now; it still has to come through a message loop.
  if (releasePending_) {
    releasePending_ = false;
    PostMessageW(window, kReleaseMessage, 0, 0);
  }
}

void Form::Close() {
  CloseAction action = CloseAction::kHide;
  FormClose(action);
  if (action == CloseAction::kNone) return;
  if (application_.MainForm() == this) {
    // The main window stays on screen until the process ends.
    application_.Terminate();
    return;
  }
  switch (action) {
    case CloseAction::kHide:
      ShowWindow(Handle(), SW_HIDE);
      break;
    case CloseAction::kMinimize:
      ShowWindow(Handle(), SW_MINIMIZE);
      break;
    case CloseAction::kFree:
      PostMessageW(Handle(), kReleaseMessage, 0, 0);
      break;
    case CloseAction::kNone:
      break;
  }
}

void Form::Show() {
  if (!shownBefore_) {
    CentreOnWorkArea();
    shownBefore_ = true;
  }
  application_.ShowTaskbarEntry();
  ShowWindow(Handle(), SW_SHOWNORMAL);
  SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void Form::ShowAsMain(int startupShowCommand) {
  if (startupShowCommand != SW_SHOWMAXIMIZED && startupShowCommand != SW_SHOWMINNOACTIVE) {
    Show();
    return;
  }
  if (!shownBefore_) {
    // Restoring the window later brings it back to the centre.
    CentreOnWorkArea();
    shownBefore_ = true;
  }
  application_.ShowTaskbarEntry();
  ShowWindow(Handle(), startupShowCommand);
}

void Form::RegisterClassOnce(const Frame& frame) const {
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  if (GetClassInfoExW(application_.Instance(), frame.className, &info)) return;
  info.lpfnWndProc = WindowProc;
  info.hInstance = application_.Instance();
  info.hIcon = LoadIconW(application_.Instance(), MAKEINTRESOURCEW(IDI_VANTOUP));
  info.hIconSm = static_cast<HICON>(
      LoadImageW(application_.Instance(), MAKEINTRESOURCEW(IDI_VANTOUP), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  info.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  info.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  info.lpszClassName = frame.className;
  if (RegisterClassExW(&info) == 0) RaiseLastOSError();
}

void Form::CentreOnWorkArea() {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT outer;
  GetWindowRect(Handle(), &outer);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  const int left =
      std::max<int>((work.right - work.left - width) / 2, GetSystemMetrics(SM_XVIRTUALSCREEN));
  const int top =
      std::max<int>((work.bottom - work.top - height) / 2, GetSystemMetrics(SM_YVIRTUALSCREEN));
  SetWindowPos(Handle(), nullptr, left, top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

HWND Form::FirstTabStop() const {
  for (HWND control : tabOrder_) {
    if (IsFocusable(control)) return control;
  }
  return nullptr;
}

void Form::OnActivate(WPARAM wParam) {
  HWND window = Handle();
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(window, focus)) lastFocus_ = focus;
    return;
  }
  if (HIWORD(wParam) != 0) return;  // activated while minimised
  HWND focus = GetFocus();
  if (focus != nullptr && IsChild(window, focus)) return;
  HWND target = lastFocus_;
  if (target == nullptr || !IsWindow(target) || !IsChild(window, target) || !IsFocusable(target)) {
    target = FirstTabStop();
  }
  SetFocus(target != nullptr ? target : window);
}

LRESULT CALLBACK Form::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  // An error must not unwind through the system's frames: it is reported here, and the loop
  // that dispatched the message goes on.
  Application& application = form->application_;
  try {
    return form->HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    application.ReportCurrentException();
    return 0;
  }
}

LRESULT Form::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ACTIVATE:
      if (window_) OnActivate(wParam);
      return 0;
    case WM_SIZE:
      if (clientAligned_ != nullptr) {
        SetWindowPos(clientAligned_, nullptr, 0, 0, LOWORD(lParam), HIWORD(lParam),
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
      }
      return 0;
    case WM_COMMAND:
      // Commands from controls only; the dialog keys' IDOK and IDCANCEL come without one.
      if (lParam != 0) OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case kReleaseMessage:
      if (creating_) {
        releasePending_ = true;
        return 0;
      }
      application_.ReleaseForm(*this);  // destroys this object: touch nothing of it after
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vanto::app
