// A top-level window of the program: built hidden, owned by the application window, closed by
// its close action, and destroyed only when its release request comes through a message loop.
#pragma once

#include <windows.h>

#include <vector>

#include "app/win_handles.h"

namespace vanto::app {

class Application;

enum class CloseAction { kNone = 0, kHide = 1, kFree = 2, kMinimize = 3 };

class Form {
 public:
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  HWND Handle() const { return window_.Get(); }

  // Builds the native window and its controls, then runs the creation handler; errors leaving
  // the handler are reported and dropped. Called once, by Application::CreateForm.
  void Construct();
  // Runs the close handler and carries out its action; the main window asks for termination.
  void Close();
  // Visible now, without taking a message from the queue: centred on the primary monitor's work
  // area the first time, normal state, activated, on top.
  void Show();
  // The main window's first showing by the message loop, with the process's start-up show command.
  void ShowAsMain(int startupShowCommand);

 protected:
  struct Frame {
    const wchar_t* className;
    const wchar_t* caption;
    DWORD style;
    DWORD exStyle;
    int clientWidth;
    int clientHeight;
  };

  explicit Form(Application& application);

  virtual Frame Describe() const = 0;
  // Creates the controls; the first in `tabOrder` that is visible, enabled and a tab stop takes
  // the focus when the window is activated without a focused control.
  virtual void CreateControls() = 0;
  virtual void FormCreate() {}
  virtual void FormClose(CloseAction& action) { (void)action; }
  virtual void OnCommand(int controlId, int notification) {
    (void)controlId;
    (void)notification;
  }

  Application& App() const { return application_; }
  HFONT WindowFont() const { return windowFont_.Get(); }
  HFONT LabelFont() const { return labelFont_.Get(); }
  void SetTabOrder(std::vector<HWND> controls) { tabOrder_ = std::move(controls); }
  // The control that fills the client area.
  void SetClientAligned(HWND control) { clientAligned_ = control; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RegisterClassOnce(const Frame& frame) const;
  void CentreOnWorkArea();
  void OnActivate(WPARAM wParam);
  HWND FirstTabStop() const;

  Application& application_;
  UniqueFont windowFont_;
  UniqueFont labelFont_;
  UniqueWindow window_;
  std::vector<HWND> tabOrder_;
  HWND clientAligned_ = nullptr;
  HWND lastFocus_ = nullptr;
  bool creating_ = false;
  bool releasePending_ = false;
  bool shownBefore_ = false;
};

}  // namespace vanto::app
