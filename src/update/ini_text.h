// The private-profile (INI) reading of the Windows service, portable, so that the vendor's tools on
// Linux read an information file the way the client on Windows will.
#pragma once

#include <string>
#include <string_view>

namespace vanto::update {

// The longest answer: GetPrivateProfileStringW with the client's 2048-character buffer.
inline constexpr size_t kLongestProfileString = 2047;

// What GetPrivateProfileStringW answers for `section`/`key` in an INI text: names compare without
// regard to ASCII letter case, blanks around names and values are dropped, one pair of matching
// quotes around a value is removed, ";" lines are comments, the first section of a name and the
// first key in it win, and the answer (the default too) is cut to kLongestProfileString.
std::u16string ProfileStringFromText(std::u16string_view iniText, std::u16string_view section,
                                     std::u16string_view key, std::u16string_view defaultValue);

// The text of an INI file's bytes: UTF-16LE after its byte-order mark; anything else as 8-bit
// text, here UTF-8. The Windows service reads those bytes in the machine's code page, so only
// ASCII reads alike everywhere. A UTF-8 byte-order mark is not one to Windows: it stays in front
// of the first line, which then is no section header.
std::u16string DecodeIniBytes(std::string_view bytes);

// True when the bytes read alike on every code page: UTF-16LE with its mark, or plain ASCII.
bool IniBytesArePortable(std::string_view bytes);

// ProfileStringFromText over the file at `path`; a file that cannot be read gives the default.
std::u16string ProfileStringFromFile(const std::u16string& path, std::u16string_view section,
                                     std::u16string_view key, std::u16string_view defaultValue);

}  // namespace vanto::update
