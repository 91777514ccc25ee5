// The application object: title, the hidden application window that owns every other window,
// the windows it owns, which of them is the main window, the message loop and the boxes through
// which errors and messages reach the user.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/form.h"
#include "app/win_handles.h"
#include "net/errors.h"

namespace vanto::app {

class Application {
 public:
  explicit Application(HINSTANCE instance);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  HINSTANCE Instance() const { return instance_; }
  HWND Handle() const { return window_.Get(); }
  const std::wstring& Title() const { return title_; }
  void SetTitle(std::wstring title);
  Form* MainForm() const { return mainForm_; }

  // Stores the new window in `reference` before building it, builds it with its creation handler
  // (errors leaving the handler are reported and dropped), then makes it the main window if none is
  // set yet. When building fails outside the handler, `reference` is emptied and the error passes.
  template <class F, class... Args>
  void CreateForm(F*& reference, Args&&... args);

  // Posts the quit message; the loop ends when it takes it.
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Shows the main window as the process was started and dispatches messages until the quit
  // message; returns at once when there is no main window.
  void RunLoop();

  // The error box (stop icon, application title).
  void ReportError(const vanto::Error& error);
  // Reports the exception being handled; call only inside a catch block. Never throws.
  void ReportCurrentException() noexcept;
  // A dialog with the text, one OK button and the application title.
  void ShowInformation(const std::u16string& text);

  // The taskbar entry appears with the first window shown.
  void ShowTaskbarEntry();
  // A window's release request: destroys it.
  void ReleaseForm(Form& form);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void ShowErrorText(const std::u16string& text);
  HWND OwnerForBox() const;
  bool IsOwnForm(HWND window) const;

  HINSTANCE instance_;
  std::wstring title_;
  UniqueWindow window_;
  std::vector<std::unique_ptr<Form>> forms_;
  Form* mainForm_ = nullptr;
  bool terminated_ = false;
};

template <class F, class... Args>
void Application::CreateForm(F*& reference, Args&&... args) {
  auto owned = std::make_unique<F>(*this, std::forward<Args>(args)...);
  F* form = owned.get();
  reference = form;
  forms_.push_back(std::move(owned));
  try {
    form->Construct();
  } catch (...) {
    reference = nullptr;
    ReleaseForm(*form);
    throw;
  }
  if (mainForm_ == nullptr) mainForm_ = form;
}

}  // namespace vanto::app
