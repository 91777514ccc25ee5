// Answers the modal boxes the code under test shows on this thread: a thread timer, which the
// box's own message loop dispatches, records the box and confirms it with OK.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace vanto::test {

struct SeenBox {
  std::wstring caption;
  std::wstring text;  // the texts of its static controls, joined by "|"
  HWND owner = nullptr;
  RECT bounds{};
  bool hasStopIcon = false;
  bool isMessageBox = false;  // a classic message box rather than a task dialog
  std::vector<bool> enabled;  // IsWindowEnabled of the watched windows while the box was up
};

class BoxWatcher {
 public:
  // `watched`: windows whose enabled state is recorded while a box is up.
  explicit BoxWatcher(std::vector<HWND> watched = {});
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  const std::vector<SeenBox>& Boxes() const { return boxes_; }
  // Runs after a box has been answered (its OK is then queued, ahead of anything posted here).
  std::function<void()> afterAnswer;

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  static BOOL CALLBACK FindBox(HWND window, LPARAM found);
  void Answer(HWND box);

  UINT_PTR timer_;
  std::vector<HWND> watched_;
  std::vector<SeenBox> boxes_;
};

// Dispatches what is queued, without waiting, as a modal box's loop would.
void PumpPendingMessages();

// A window's text and its class name.
std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);
// Takes a quit message from the queue; its code, or -1 when there was none.
int TakeQuitMessage();

}  // namespace vanto::test
