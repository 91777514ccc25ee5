#include "app/application.h"

#include <algorithm>

#include "app/control_ids.h"
#include "app/os_error.h"
#include "app/res/resource_ids.h"

namespace vanto::app {
namespace {

// Posted when the application window is activated (its taskbar entry was clicked): the window
// the user last worked in takes the activation, not the invisible application window.
constexpr UINT kActivateLastPopup = WM_APP + 2;

bool IsKeyboardMessage(const MSG& message) {
  return message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST;
}

}  // namespace

Application::Application(HINSTANCE instance) : instance_(instance) {
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  info.lpfnWndProc = WindowProc;
  info.hInstance = instance;
  info.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_VANTOUP));
  info.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  info.lpszClassName = kApplicationClass;
  if (RegisterClassExW(&info) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    RaiseLastOSError();
  }
  // A popup of no size: never seen itself, but while it is visible its caption is the taskbar
  // entry of the whole program.
  HWND window =
      CreateWindowExW(0, kApplicationClass, L"",
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                      GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                      nullptr, nullptr, instance, this);
  if (window == nullptr) RaiseLastOSError();
  window_ = UniqueWindow(window);
}

Application::~Application() {
  // The windows go in the reverse order of their creation, the application window last.
  mainForm_ = nullptr;
  while (!forms_.empty()) forms_.pop_back();
  // The application window's last messages must not reach this object any more.
  SetWindowLongPtrW(Handle(), GWLP_USERDATA, 0);
}

void Application::SetTitle(std::wstring title) {
  title_ = std::move(title);
  SetWindowTextW(Handle(), title_.c_str());
}

void Application::Terminate() {
  terminated_ = true;
  PostQuitMessage(0);
}

void Application::ShowTaskbarEntry() {
  if (!IsWindowVisible(Handle())) ShowWindow(Handle(), SW_SHOWNOACTIVATE);
}

void Application::ReleaseForm(Form& form) {
  auto owned =
      std::find_if(forms_.begin(), forms_.end(),
                   [&form](const std::unique_ptr<Form>& each) { return each.get() == &form; });
  if (owned == forms_.end()) return;
  if (mainForm_ == &form) mainForm_ = nullptr;
  std::unique_ptr<Form> released = std::move(*owned);
  forms_.erase(owned);
  released.reset();
}

bool Application::IsOwnForm(HWND window) const {
  return std::any_of(forms_.begin(), forms_.end(), [window](const std::unique_ptr<Form>& each) {
    return each->Handle() == window;
  });
}

void Application::RunLoop() {
  if (mainForm_ == nullptr) return;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const int showCommand =
      (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWNORMAL;
  try {
    mainForm_->ShowAsMain(showCommand);
  } catch (...) {
    ReportCurrentException();
  }

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Keys go through the dialog manager of the window they belong to: Enter clicks the focused
    // default button, Space clicks it too (the button itself handles that), Tab moves the focus.
    if (IsKeyboardMessage(message)) {
      HWND root = GetAncestor(message.hwnd, GA_ROOT);
      if (root != nullptr && IsOwnForm(root) && IsDialogMessageW(root, &message)) continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

LRESULT CALLBACK Application::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* application = reinterpret_cast<Application*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  try {
    switch (message) {
      case WM_CLOSE:
        // Closing the taskbar entry closes the main window; the window itself stays.
        if (application->mainForm_ != nullptr) application->mainForm_->Close();
        return 0;
      case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) PostMessageW(window, kActivateLastPopup, 0, 0);
        return 0;
      case kActivateLastPopup: {
        HWND popup = GetLastActivePopup(window);
        if (popup != window && IsWindowVisible(popup) && IsWindowEnabled(popup) &&
            GetActiveWindow() == window) {
          SetActiveWindow(popup);
        }
        return 0;
      }
      default:
        break;
    }
  } catch (...) {
    application->ReportCurrentException();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vanto::app
