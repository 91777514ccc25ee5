// The application's two boxes: the error box and the information dialog.
#include <new>

#include "app/application.h"
#include "app/error_text.h"
#include "app/information_dialog.h"
#include "app/modal_scope.h"
#include "app/wide.h"
#include "platform/utf.h"

namespace vanto::app {

HWND Application::OwnerForBox() const {
  HWND owner = GetActiveWindow();
  if (owner == nullptr) owner = GetLastActivePopup(Handle());
  if (owner == nullptr) owner = Handle();
  return owner;
}

void Application::ReportError(const vanto::Error& error) {
  ShowErrorText(ErrorBoxText(error));
}

void Application::ReportCurrentException() noexcept {
  try {
    try {
      throw;
    } catch (const vanto::Error& error) {
      ReportError(error);
    } catch (const std::bad_alloc&) {
      ShowErrorText(WithClosingPeriod(u"Out of memory"));
    } catch (const std::exception& error) {
      ShowErrorText(WithClosingPeriod(platform::Utf8ToUtf16(error.what())));
    } catch (...) {
      ShowErrorText(WithClosingPeriod(u"Unexpected error"));
    }
  } catch (...) {
    // Reporting failed as well (no memory left for the text): nothing more can be shown.
  }
}

void Application::ShowErrorText(const std::u16string& text) {
  // A window tracking the mouse would otherwise keep the capture under the box.
  if (HWND capture = GetCapture()) SendMessageW(capture, WM_CANCELMODE, 0, 0);
  const HWND owner = OwnerForBox();
  const std::wstring shown = Wide(text);
  ModalScope scope(owner);
  MessageBoxW(owner, shown.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);
}

void Application::ShowInformation(const std::u16string& text) {
  const HWND owner = OwnerForBox();
  ModalScope scope(owner);
  ShowInformationDialog(owner, title_, Wide(text));
}

}  // namespace vanto::app
