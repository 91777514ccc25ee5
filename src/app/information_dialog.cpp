#include "app/information_dialog.h"

#include <commctrl.h>

#include "app/win_handles.h"

namespace vanto::app {
namespace {

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Looked up at run time: version 6 of the common controls, which the manifest selects, has it;
// older ones do not.
TaskDialogIndirectFunction FindTaskDialogIndirect(const UniqueModule& controls) {
  if (!controls) return nullptr;
  FARPROC found = GetProcAddress(controls.Get(), "TaskDialogIndirect");
  // Through the generic function type, which converts to any other without a warning.
  return reinterpret_cast<TaskDialogIndirectFunction>(reinterpret_cast<void (*)()>(found));
}

HRESULT CALLBACK CentreOnOwnersMonitor(HWND dialog, UINT notification, WPARAM, LPARAM,
                                       LONG_PTR owner) {
  if (notification != TDN_CREATED) return S_OK;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(reinterpret_cast<HWND>(owner), MONITOR_DEFAULTTOPRIMARY),
                       &monitor)) {
    return S_OK;
  }
  RECT outer;
  GetWindowRect(dialog, &outer);
  const RECT& work = monitor.rcWork;
  const int left = work.left + ((work.right - work.left) - (outer.right - outer.left)) / 2;
  const int top = work.top + ((work.bottom - work.top) - (outer.bottom - outer.top)) / 2;
  SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return S_OK;
}

}  // namespace

void ShowInformationDialog(HWND owner, const std::wstring& title, const std::wstring& text) {
  const UniqueModule controls(LoadLibraryW(L"comctl32.dll"));
  if (TaskDialogIndirectFunction taskDialogIndirect = FindTaskDialogIndirect(controls)) {
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.dwCommonButtons = TDCBF_OK_BUTTON;
    config.pszWindowTitle = title.c_str();
    config.pszMainInstruction = L"";
    config.pszContent = text.c_str();
    config.nDefaultButton = IDOK;
    config.pfCallback = CentreOnOwnersMonitor;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(owner);
    if (SUCCEEDED(taskDialogIndirect(&config, nullptr, nullptr, nullptr))) return;
  }
  MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK);
}

}  // namespace vanto::app
