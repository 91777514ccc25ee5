// Texts that HTTP cases are built from.
#pragma once

#include <cstddef>
#include <string>

namespace vanto::test {

inline std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// A status line of exactly `length` bytes before its terminator.
inline std::string StatusLineOfLength(size_t length) {
  const std::string start = "HTTP/1.1 200 ";
  return start + std::string(length - start.size(), 's');
}

// A header line of exactly `length` bytes before its terminator.
inline std::string HeaderLineOfLength(size_t length) {
  const std::string name = "X-Long: ";
  return name + std::string(length - name.size(), 'y');
}

}  // namespace vanto::test
