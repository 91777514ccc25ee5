// JSON pieces of the probe's output: UTF-8 strings, rectangles and window handles.
#pragma once

#include <windows.h>

#include <string>

namespace vanto::probe {

std::string Utf8(const std::wstring& text);
std::string JsonString(const std::wstring& text);
std::string JsonRect(const RECT& r);
std::string JsonHandle(HWND hwnd);

}  // namespace vanto::probe
