// The real Windows services, run under Wine: registry reading, folders, files, profile reading.
#include "platform/win32/services_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/utf.h"
#include "platform/win32/locale_win.h"
#include "support/temp_dir.h"
#include "support/wine.h"
#include "update/file_names.h"
#include "update/ini_cases.h"

namespace vanto::platform {
namespace {

std::u16string U(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

// --- Registry ----------------------------------------------------------------------------------

// A key of the test's own under HKCU\Software, removed at the end.
class TestKey {
 public:
  TestKey() : path_(L"Software\\vanto-test-" + std::to_wstring(GetCurrentProcessId())) {
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  ~TestKey() {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  }
  void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  void SetText(const wchar_t* name, DWORD type, const std::wstring& text) {
    Set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  std::u16string Path() const { return U(path_); }

 private:
  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST(WindowsRegistryTest, ReadingRules) {
  TestKey testKey;
  testKey.SetText(L"Ver", REG_SZ, L"1.5");
  testKey.SetText(L"Expand", REG_EXPAND_SZ, L"%TEMP%\\x");
  testKey.SetText(L"Hangul", REG_SZ, L"\uC5C5\uADF8\uB808\uC774\uB4DC");
  testKey.Set(L"Empty", REG_SZ, L"", 0);
  testKey.SetText(L"OnlyNul", REG_SZ, L"");
  testKey.Set(L"InnerNul", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
  testKey.Set(L"NoNul", REG_SZ, L"xyz", 3 * sizeof(wchar_t));
  const DWORD number = 7;
  testKey.Set(L"Number", REG_DWORD, &number, sizeof number);
  testKey.Set(L"EmptyNumber", REG_DWORD, nullptr, 0);
  testKey.Set(L"Binary", REG_BINARY, "\x01\x02", 2);
  testKey.Set(L"Multi", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
  const std::wstring longText(5000, L'x');
  testKey.SetText(L"Long", REG_SZ, longText);

  const struct {
    const wchar_t* name;
    RegistryRead status;
    std::u16string text;
  } cases[] = {
      {L"Ver", RegistryRead::kText, u"1.5"},
      {L"ver", RegistryRead::kText, u"1.5"},
      {L"Expand", RegistryRead::kText, u"%TEMP%\\x"},
      {L"Hangul", RegistryRead::kText, u"\uC5C5\uADF8\uB808\uC774\uB4DC"},
      {L"Empty", RegistryRead::kText, u""},
      {L"OnlyNul", RegistryRead::kText, u""},
      {L"InnerNul", RegistryRead::kText, u"ab"},
      {L"NoNul", RegistryRead::kText, u"xyz"},
      {L"Number", RegistryRead::kWrongType, u""},
      {L"EmptyNumber", RegistryRead::kText, u""},
      {L"Binary", RegistryRead::kWrongType, u""},
      {L"Multi", RegistryRead::kWrongType, u""},
      {L"Missing", RegistryRead::kText, u""},
      {L"Long", RegistryRead::kText, U(longText)},
  };
  WindowsServices services;
  auto key = services.OpenUserKey(testKey.Path());
  ASSERT_TRUE(key);
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(U(c.name)));
    const RegistryText value = key->ReadText(U(c.name));
    EXPECT_EQ(static_cast<int>(value.status), static_cast<int>(c.status));
    EXPECT_EQ(Utf16ToUtf8(value.text), Utf16ToUtf8(c.text));
  }
}

TEST(WindowsRegistryTest, MissingKeyIsNull) {
  WindowsServices services;
  EXPECT_FALSE(services.OpenUserKey(u"Software\\vanto-test-missing-" +
                                    U(std::to_wstring(GetCurrentProcessId()))));
}

TEST(WindowsRegistryTest, KeyIsOnlyRead) {
  // Reading never creates the key.
  const std::wstring path =
      L"Software\\vanto-test-absent-" + std::to_wstring(GetCurrentProcessId());
  WindowsServices services;
  EXPECT_FALSE(services.OpenUserKey(U(path)));
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
}

// --- Folders and files -----------------------------------------------------------------------

TEST(WindowsFoldersTest, SpecialFoldersHaveNoTrailingBackslash) {
  WindowsServices services([] { return static_cast<HWND>(nullptr); });
  for (int csidl : {kFolderProgramFiles, kFolderPersonal}) {
    SCOPED_TRACE(csidl);
    const std::u16string folder = services.SpecialFolder(csidl);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), u'\\');
    EXPECT_EQ(folder.find(u'\0'), std::u16string::npos);
    EXPECT_LT(folder.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_TRUE(services.DirectoryExists(folder)) << Utf16ToUtf8(folder);
  }
}

TEST(WindowsFilesTest, ExistenceDeleteAndMove) {
  test::TempDir scratch;
  WindowsServices services;
  const std::u16string a = scratch.Text() + u"\\vanto.exe";
  const std::u16string b = scratch.Text() + u"\\vanto.OLD";
  test::WriteFileBytes(a, "new");
  test::WriteFileBytes(b, "old");

  EXPECT_TRUE(services.FileExists(a));
  EXPECT_FALSE(services.FileExists(scratch.Text()));
  EXPECT_FALSE(services.FileExists(scratch.Text() + u"\\nothing"));
  EXPECT_TRUE(services.DirectoryExists(scratch.Text()));
  EXPECT_TRUE(services.DirectoryExists(scratch.Text() + u"\\"));
  EXPECT_FALSE(services.DirectoryExists(a));

  // The move never replaces the target; the names compare without regard to case.
  EXPECT_FALSE(services.Move(a, b));
  EXPECT_FALSE(services.Move(a, scratch.Text() + u"\\VANTO.old"));
  EXPECT_TRUE(services.FileExists(a));
  EXPECT_TRUE(services.Delete(scratch.Text() + u"\\vanto.old"));
  EXPECT_FALSE(services.FileExists(b));
  EXPECT_FALSE(services.Delete(b));
  EXPECT_TRUE(services.Move(a, b));
  EXPECT_FALSE(services.FileExists(a));
  EXPECT_TRUE(services.FileExists(b));
  EXPECT_FALSE(services.Move(a, b));
}

TEST(WindowsFilesTest, ForceDirectories) {
  test::TempDir scratch;
  WindowsServices services;
  const std::u16string deep = scratch.Text() + u"\\vanto\\Temp\\more\\";
  EXPECT_TRUE(update::ForceDirectories(services, deep));
  EXPECT_TRUE(services.DirectoryExists(deep));
  EXPECT_TRUE(update::ForceDirectories(services, deep));  // already there
  EXPECT_FALSE(services.MakeDirectory(scratch.Text() + u"\\vanto"));

  // A file in the way of a level.
  test::WriteFileBytes(scratch.Text() + u"\\file", "x");
  EXPECT_FALSE(update::ForceDirectories(services, scratch.Text() + u"\\file\\sub\\"));
  EXPECT_FALSE(services.DirectoryExists(scratch.Text() + u"\\file\\sub"));
}

TEST(WindowsFilesTest, SleepWaits) {
  WindowsServices services;
  const auto start = std::chrono::steady_clock::now();
  services.Sleep(100);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

TEST(WindowsFilesTest, OpeningAMissingFileFails) {
  test::TempDir scratch;
  WindowsServices services;
  EXPECT_LE(services.ShellOpen(scratch.Text() + u"\\missing-installer.exe"), 32);
}

// --- Private-profile reading -----------------------------------------------------------------

TEST(WindowsProfileTest, SharedTableOfFiles) {
  test::TempDir scratch;
  WindowsServices services;
  // Each row holds Windows' answer; Wine's only where it answers otherwise, and only under Wine.
  const bool wine = test::RunningUnderWine();
  int index = 0;
  for (const test::IniCase& c : test::kIniCases) {
    SCOPED_TRACE(c.name);
    const std::u16string file = scratch.Text() + u"\\case" + U(std::to_wstring(index++)) + u".ini";
    test::WriteFileBytes(file, test::IniCaseBytes(c));
    EXPECT_EQ(Utf16ToUtf8(services.ReadProfileString(file, c.section, c.key, u"dflt")),
              Utf16ToUtf8(wine && c.wineAnswer != nullptr ? c.wineAnswer : c.expected));
  }
}

TEST(WindowsProfileTest, PlainTextFile) {
  test::TempDir scratch;
  WindowsServices services;
  const std::u16string file = scratch.Text() + u"\\newvanto.ini";
  test::WriteFileBytes(file,
                       "[VANTO_INFO]\r\nVER = 2.0 \r\nServerDir=http://h/d/\r\n"
                       "[VANTO_INFO_PC]\r\nExeDir=\"vanto setup.exe\"\r\n");
  EXPECT_EQ(services.ReadProfileString(file, u"VANTO_INFO", u"VER", u""), u"2.0");
  EXPECT_EQ(services.ReadProfileString(file, u"vanto_info", u"serverdir", u""), u"http://h/d/");
  EXPECT_EQ(services.ReadProfileString(file, u"VANTO_INFO_PC", u"ExeDir", u""), u"vanto setup.exe");
  EXPECT_EQ(services.ReadProfileString(file, u"VANTO_INFO_PC", u"ExeDirUp", u""), u"");
  EXPECT_EQ(services.ReadProfileString(file, u"VANTO_INFO_PC", u"ExeDirUp", u"d"), u"d");
}

TEST(WindowsProfileTest, LongValueIsCut) {
  test::TempDir scratch;
  WindowsServices services;
  const std::u16string file = scratch.Text() + u"\\long.ini";
  const std::string value(3000, 'v');
  test::WriteFileBytes(file, "[S]\r\nk=" + value + "\r\n");
  const std::u16string read = services.ReadProfileString(file, u"S", u"k", u"");
  EXPECT_EQ(read.size(), 2047u);
  EXPECT_EQ(read, std::u16string(2047, u'v'));
}

TEST(WindowsProfileTest, MissingFileGivesTheDefault) {
  test::TempDir scratch;
  WindowsServices services;
  EXPECT_EQ(services.ReadProfileString(scratch.Text() + u"\\none.ini", u"S", u"k", u"dflt"),
            u"dflt");
  EXPECT_EQ(services.ReadProfileString(scratch.Text() + u"\\none.ini", u"S", u"k", u""), u"");
}

// --- Locale ----------------------------------------------------------------------------------

// Puts the user's decimal separator back as it was.
class SavedDecimalSeparator {
 public:
  SavedDecimalSeparator() {
    valid_ = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, setting_, 8) > 0;
  }
  ~SavedDecimalSeparator() {
    if (valid_) SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, setting_);
  }
  bool Valid() const { return valid_; }

 private:
  wchar_t setting_[8] = {};
  bool valid_ = false;
};

TEST(WindowsLocaleTest, DecimalSeparatorIsTheUsersFirstCharacter) {
  SavedDecimalSeparator saved;
  ASSERT_TRUE(saved.Valid());
  const struct {
    const wchar_t* setting;
    char16_t expected;
  } cases[] = {{L",", u','}, {L".", u'.'}, {L"\u066B", u'\u066B'}, {L"#,", u'#'}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(std::u16string(1, c.expected)));
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, c.setting));
    EXPECT_EQ(UserDecimalSeparator(), c.expected);
  }
}

}  // namespace
}  // namespace vanto::platform
