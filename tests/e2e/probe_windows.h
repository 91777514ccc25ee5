// Finding the windows of other programs and reading them, without sending them messages where a
// busy program could hold the probe up.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vanto::probe {

std::wstring TextOf(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
bool OfOtherProcess(HWND hwnd);
// Top-level windows of the other processes of the session.
std::vector<HWND> TopLevelWindows();
std::vector<HWND> ChildWindows(HWND parent);
// A visible top-level window of that class (and caption, when given), or null.
HWND FindVisible(const std::wstring& className, const std::wstring* caption);
// The window that has the keyboard focus in the thread of `top`, or `top` itself.
HWND FocusedControl(HWND top);
// A dialog box's OK button: the child button with id IDOK, else one whose text reads OK.
HWND OkButton(HWND dialog);

}  // namespace vanto::probe
