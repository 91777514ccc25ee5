// The few kinds of child control the two windows are made of.
#pragma once

#include <windows.h>

#include <string_view>

#include "app/win_handles.h"

namespace vanto::app {

UniqueFont MakeFont(const wchar_t* face, int height, BYTE charset);

struct Bounds {
  int left;
  int top;
  int width;
  int height;
};

// A plain surface in the button-face colour with a lowered outer bevel and no caption.
HWND CreatePanel(HWND parent, int id, Bounds bounds);
// An empty progress bar; nothing advances it.
HWND CreateProgressBar(HWND parent, int id, Bounds bounds);
// A push button that is the window's default button and a tab stop.
HWND CreatePushButton(HWND parent, int id, const wchar_t* caption, Bounds bounds, HFONT font);

enum class LabelAlignment { kLeft, kCenter, kRight };

// A STATIC control showing one text. An auto-sized label takes the size of its text whenever its
// caption changes; a right-aligned one keeps its right edge.
class Label {
 public:
  Label() = default;
  Label(HWND parent, int id, Bounds bounds, bool autoSize, LabelAlignment alignment, HFONT font,
        std::wstring_view caption);

  HWND Handle() const { return handle_; }
  void SetCaption(std::wstring_view caption);
  // Paints what is pending at once.
  void Update() const { UpdateWindow(handle_); }

 private:
  void FitToText(std::wstring_view caption, LabelAlignment anchor);

  HWND handle_ = nullptr;
  HFONT font_ = nullptr;
  bool autoSize_ = false;
  LabelAlignment alignment_ = LabelAlignment::kLeft;
  Bounds bounds_{};
};

}  // namespace vanto::app
