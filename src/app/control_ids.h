// How tools find the program's windows and read their controls: the window class names, the
// captions and the control IDs. Every control is a direct child of its window, so
// GetDlgItem(FindWindowW(kUpmainClass, nullptr), kLblStateId) reaches it; labels are STATIC
// controls whose text GetWindowTextW reads.
#pragma once

namespace vanto::app {

inline constexpr wchar_t kClientMainClass[] = L"TfrmClientMain";
inline constexpr wchar_t kUpmainClass[] = L"TfrmUpmain";
inline constexpr wchar_t kClientMainCaption[] = L"자동 업그레이드";
inline constexpr wchar_t kUpmainCaption[] = L" 자동업그레이드";
// The application window: hidden, owns both windows; its caption is the taskbar text.
inline constexpr wchar_t kApplicationClass[] = L"VantoupApplication";
inline constexpr wchar_t kApplicationTitle[] = L"업그레이드";

// Both windows.
inline constexpr int kPanel1Id = 1001;  // class VantoupPanel
inline constexpr int kLblNameId = 1002;
inline constexpr int kPrgBarId = 1003;  // oPrgBar, msctls_progress32
inline constexpr int kBtnUpId = 1004;   // BUTTON, the only tab stop
// The upgrade window only.
inline constexpr int kLblStateId = 1005;
inline constexpr int kLblCntId = 1006;

}  // namespace vanto::app
