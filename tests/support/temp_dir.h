// A fresh directory for one test, removed with everything in it at the end.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace vanto::test {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("vanto-test-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The directory's path as a UTF-16 text, without a separator at the end.
  std::u16string Text() const { return path_.u16string(); }
  // The path of `name` inside the directory, as the UTF-16 text the program works with.
  std::u16string File(const std::u16string& name) const { return (path_ / name).u16string(); }
  // The directory's path as the update's texts hold it, with a separator at the end.
  std::u16string WithSeparator() const { return (path_ / "").u16string(); }
  std::string Read(const std::u16string& file) const;

 private:
  std::filesystem::path path_;
};

inline bool FileExists(const std::u16string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::path(path), ignored);
}

inline std::string ReadFileBytes(const std::u16string& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string TempDir::Read(const std::u16string& file) const {
  return ReadFileBytes(file);
}

// The names of everything in `folder`, sorted; none when it cannot be listed.
inline std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::u8string name = it->path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline void WriteFileBytes(const std::u16string& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vanto::test
