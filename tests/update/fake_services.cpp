#include "update/fake_services.h"

#include "platform/utf.h"
#include "update/ini_text.h"

namespace vanto::test {
namespace {

using platform::Utf16ToUtf8;

std::u16string StripFolderSlash(std::u16string path) {
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  return FakeServices::Lower(a) == FakeServices::Lower(b);
}

class FakeKey : public platform::RegistryKey {
 public:
  explicit FakeKey(FakeServices& owner) : owner_(owner) {}
  ~FakeKey() override { owner_.Record("CloseKey"); }

  platform::RegistryText ReadText(const std::u16string& valueName) override {
    owner_.Record("ReadText " + Utf16ToUtf8(valueName));
    auto found = owner_.values.find(valueName);
    if (found == owner_.values.end()) return {};
    return found->second;
  }

 private:
  FakeServices& owner_;
};

}  // namespace

FakeServices::FakeServices() {
  specialFolders[platform::kFolderProgramFiles] = u"C:\\Program Files";
  specialFolders[platform::kFolderPersonal] = u"C:\\Users\\user\\Documents";
  folders.insert(u"c:");
  AddFolder(u"C:\\Program Files");
  AddFolder(u"C:\\Program Files\\vanto");
  AddFolder(u"C:\\Users");
  AddFolder(u"C:\\Users\\user");
  AddFolder(u"C:\\Users\\user\\Documents");
}

std::u16string FakeServices::Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

int FakeServices::IndexOf(const std::string& prefix) const {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  }
  return -1;
}

int FakeServices::Count(const std::string& prefix) const {
  int count = 0;
  for (const std::string& call : calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) ++count;
  }
  return count;
}

std::u16string FakeServices::SpecialFolder(int csidl) {
  Record("SpecialFolder " + std::to_string(csidl));
  auto found = specialFolders.find(csidl);
  return found == specialFolders.end() ? std::u16string() : found->second;
}

bool FakeServices::FileExists(const std::u16string& path) {
  Record("FileExists " + Utf16ToUtf8(path));
  return HasFile(path);
}

bool FakeServices::DirectoryExists(const std::u16string& path) {
  Record("DirectoryExists " + Utf16ToUtf8(path));
  return HasFolder(StripFolderSlash(path));
}

bool FakeServices::Delete(const std::u16string& path) {
  Record("Delete " + Utf16ToUtf8(path));
  if (deleteFails) return false;
  return files.erase(Lower(path)) != 0;
}

bool FakeServices::Move(const std::u16string& from, const std::u16string& to) {
  Record("Move " + Utf16ToUtf8(from) + " -> " + Utf16ToUtf8(to));
  if (!HasFile(from) || HasFile(to) || HasFolder(to)) return false;
  files.erase(Lower(from));
  AddFile(to);
  return true;
}

bool FakeServices::MakeDirectory(const std::u16string& path) {
  Record("MakeDirectory " + Utf16ToUtf8(path));
  const std::u16string folder = StripFolderSlash(path);
  const size_t cut = folder.find_last_of(u'\\');
  const std::u16string parent = cut == std::u16string::npos ? u"" : folder.substr(0, cut);
  if (HasFolder(folder) || HasFile(folder) || !HasFolder(parent) ||
      unmakeableFolders.count(Lower(folder)) != 0) {
    return false;
  }
  AddFolder(folder);
  return true;
}

void FakeServices::Sleep(unsigned milliseconds) {
  Record("Sleep " + std::to_string(milliseconds));
}

std::unique_ptr<platform::RegistryKey> FakeServices::OpenUserKey(const std::u16string& path) {
  Record("OpenUserKey " + Utf16ToUtf8(path));
  if (!keyPresent || !SameName(path, keyPath)) return nullptr;
  return std::make_unique<FakeKey>(*this);
}

std::u16string FakeServices::ReadProfileString(const std::u16string& file,
                                               const std::u16string& section,
                                               const std::u16string& key,
                                               const std::u16string& defaultValue) {
  Record("ReadProfileString " + Utf16ToUtf8(section) + " " + Utf16ToUtf8(key));
  auto found = iniFiles.find(file);
  if (found != iniFiles.end()) {
    return update::ProfileStringFromText(found->second, section, key, defaultValue);
  }
  return update::ProfileStringFromFile(file, section, key, defaultValue);
}

std::intptr_t FakeServices::ShellOpen(const std::u16string& file) {
  Record("ShellOpen " + Utf16ToUtf8(file));
  return shellOpenResult;
}

}  // namespace vanto::test
