// What the probe reports of windows, as JSON: a window with its children, every window of the
// session, the work area, and the state of the watched windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vanto::probe {

std::string ChildJson(HWND child);
// Class, caption, visibility, state, rectangles, owner, process, the focus of its thread, and
// its children.
std::string WindowJson(HWND hwnd);
std::string DumpJson();
std::string WorkAreaJson();
// One state of the windows of those classes, as the list of their JSON; the class "*" stands
// for every visible window.
std::string WatchedState(const std::vector<std::wstring>& classes);

}  // namespace vanto::probe
