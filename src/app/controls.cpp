#include "app/controls.h"

#include <commctrl.h>

#include <string>

#include "app/os_error.h"

namespace vanto::app {
namespace {

constexpr wchar_t kPanelClass[] = L"VantoupPanel";

HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, HWND parent, int id,
                 Bounds bounds) {
  HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, bounds.left,
                               bounds.top, bounds.width, bounds.height, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  if (child == nullptr) RaiseLastOSError();
  return child;
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterPanelClass() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  if (GetClassInfoExW(instance, kPanelClass, &info)) return;
  info.style = CS_HREDRAW | CS_VREDRAW;  // the bevel follows the edges
  info.lpfnWndProc = PanelProc;
  info.hInstance = instance;
  info.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  info.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  info.lpszClassName = kPanelClass;
  if (RegisterClassExW(&info) == 0) RaiseLastOSError();
}

DWORD AlignmentStyle(LabelAlignment alignment) {
  switch (alignment) {
    case LabelAlignment::kCenter:
      return SS_CENTER;
    case LabelAlignment::kRight:
      return SS_RIGHT;
    case LabelAlignment::kLeft:
      break;
  }
  return SS_LEFTNOWORDWRAP;
}

}  // namespace

UniqueFont MakeFont(const wchar_t* face, int height, BYTE charset) {
  LOGFONTW description{};
  description.lfHeight = height;
  description.lfWeight = FW_NORMAL;
  description.lfCharSet = charset;
  description.lfOutPrecision = OUT_DEFAULT_PRECIS;
  description.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  description.lfQuality = DEFAULT_QUALITY;
  description.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  lstrcpynW(description.lfFaceName, face, LF_FACESIZE);
  UniqueFont font(CreateFontIndirectW(&description));
  if (!font) RaiseLastOSError();
  return font;
}

HWND CreatePanel(HWND parent, int id, Bounds bounds) {
  RegisterPanelClass();
  // Clipped by its siblings, so that painting it never paints over the controls lying on it.
  return CreateChild(kPanelClass, L"", WS_CLIPSIBLINGS, parent, id, bounds);
}

HWND CreateProgressBar(HWND parent, int id, Bounds bounds) {
  return CreateChild(PROGRESS_CLASSW, L"", 0, parent, id, bounds);
}

HWND CreatePushButton(HWND parent, int id, const wchar_t* caption, Bounds bounds, HFONT font) {
  HWND button = CreateChild(L"BUTTON", caption, WS_TABSTOP | BS_DEFPUSHBUTTON, parent, id, bounds);
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return button;
}

Label::Label(HWND parent, int id, Bounds bounds, bool autoSize, LabelAlignment alignment,
             HFONT font, std::wstring_view caption)
    : font_(font), autoSize_(autoSize), alignment_(alignment), bounds_(bounds) {
  const std::wstring text(caption);
  handle_ = CreateChild(L"STATIC", text.c_str(), SS_NOPREFIX | AlignmentStyle(alignment), parent,
                        id, bounds);
  SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  // The design position holds for the first text; later texts keep the aligned edge.
  if (autoSize_) FitToText(caption, LabelAlignment::kLeft);
}

void Label::SetCaption(std::wstring_view caption) {
  const std::wstring text(caption);
  SetWindowTextW(handle_, text.c_str());
  if (autoSize_) FitToText(caption, alignment_);
}

void Label::FitToText(std::wstring_view caption, LabelAlignment anchor) {
  // An empty caption keeps the height of a line: it is measured as one space.
  const std::wstring text = caption.empty() ? std::wstring(L" ") : std::wstring(caption);
  RECT extent{0, 0, 0, 0};
  HDC dc = GetDC(handle_);
  HGDIOBJ previous = SelectObject(dc, font_);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent,
            DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, previous);
  ReleaseDC(handle_, dc);

  const int width = extent.right - extent.left;
  const int height = extent.bottom - extent.top;
  int left = bounds_.left;
  if (anchor == LabelAlignment::kRight) left = bounds_.left + bounds_.width - width;
  if (anchor == LabelAlignment::kCenter) left = bounds_.left + (bounds_.width - width) / 2;
  bounds_ = {left, bounds_.top, width, height};
  SetWindowPos(handle_, nullptr, left, bounds_.top, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

}  // namespace vanto::app
