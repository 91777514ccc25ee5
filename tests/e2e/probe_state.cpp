#include "probe_state.h"

#include "probe_json.h"
#include "probe_windows.h"

namespace vanto::probe {

std::string ChildJson(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  std::string out = "{\"class\": " + JsonString(ClassOf(child));
  out += ", \"id\": " + std::to_string(GetDlgCtrlID(child));
  out += ", \"text\": " + JsonString(TextOf(child));
  out += ", \"rect\": " + JsonRect(rect);
  out += std::string(", \"visible\": ") + (IsWindowVisible(child) ? "true" : "false");
  out += std::string(", \"enabled\": ") + (IsWindowEnabled(child) ? "true" : "false");
  out += ", \"parent\": " + JsonHandle(GetParent(child));
  out += ", \"hwnd\": " + JsonHandle(child) + "}";
  return out;
}

std::string WindowJson(HWND hwnd) {
  RECT rect{}, client{};
  GetWindowRect(hwnd, &rect);
  GetClientRect(hwnd, &client);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  std::string out = "{\"hwnd\": " + JsonHandle(hwnd);
  out += ", \"class\": " + JsonString(ClassOf(hwnd));
  out += ", \"caption\": " + JsonString(TextOf(hwnd));
  out += std::string(", \"visible\": ") + (IsWindowVisible(hwnd) ? "true" : "false");
  out += std::string(", \"enabled\": ") + (IsWindowEnabled(hwnd) ? "true" : "false");
  out += std::string(", \"zoomed\": ") + (IsZoomed(hwnd) ? "true" : "false");
  out += std::string(", \"iconic\": ") + (IsIconic(hwnd) ? "true" : "false");
  out += ", \"rect\": " + JsonRect(rect);
  out += ", \"client\": [" + std::to_string(client.right - client.left) + ", " +
         std::to_string(client.bottom - client.top) + "]";
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  out +=
      ", \"client_origin\": [" + std::to_string(origin.x) + ", " + std::to_string(origin.y) + "]";
  out += ", \"owner\": " + JsonHandle(GetWindow(hwnd, GW_OWNER));
  out += ", \"pid\": " + std::to_string(pid);
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &thread);
  out += ", \"thread_active\": " + JsonHandle(thread.hwndActive);
  out += ", \"thread_focus\": " + JsonHandle(thread.hwndFocus);
  out += std::string(", \"foreground\": ") + (GetForegroundWindow() == hwnd ? "true" : "false");
  out += ", \"children\": [";
  bool first = true;
  for (HWND child : ChildWindows(hwnd)) {
    out += first ? "" : ", ";
    out += ChildJson(child);
    first = false;
  }
  return out + "]}";
}

std::string DumpJson() {
  std::string out = "{\"windows\": [";
  bool first = true;
  for (HWND hwnd : TopLevelWindows()) {
    out += first ? "\n  " : ",\n  ";
    out += WindowJson(hwnd);
    first = false;
  }
  return out + "\n]}";
}

std::string WorkAreaJson() {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return "{\"workarea\": " + JsonRect(work) + "}";
}

std::string WatchedState(const std::vector<std::wstring>& classes) {
  std::string out;
  auto add = [&out](HWND hwnd) {
    out += out.empty() ? "" : ", ";
    out += WindowJson(hwnd);
  };
  bool everyVisible = false;
  for (const std::wstring& c : classes) everyVisible = everyVisible || c == L"*";
  // The whole list at once, not FindWindowEx from the last window found: WoW64 Wine 10's
  // server loops for good on such a search now and then, when windows come and go meanwhile.
  for (HWND hwnd : TopLevelWindows()) {
    std::wstring name = ClassOf(hwnd);
    bool watched = everyVisible && IsWindowVisible(hwnd) != FALSE;
    for (const std::wstring& c : classes) watched = watched || c == name;
    if (watched) add(hwnd);
  }
  return "[" + out + "]";
}

}  // namespace vanto::probe
