// The simple message dialog: the text, one OK button, no icon.
#pragma once

#include <windows.h>

#include <string>

namespace vanto::app {

// A task dialog centred on the work area of the owner's monitor where the common controls offer
// one, otherwise a message box. Esc and the close box dismiss it as well.
void ShowInformationDialog(HWND owner, const std::wstring& title, const std::wstring& text);

}  // namespace vanto::app
