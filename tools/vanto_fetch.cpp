// vanto-fetch URL PATH: downloads one URL into a file the way the upgrade client does.
// Success prints nothing; a failure prints "<kind>: <message>" on one line and exits with 1.
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "net/errors.h"
#include "net/fetch.h"
#include "platform/utf.h"

namespace {

int Run(const std::u16string& url, const std::u16string& path) {
  try {
    vanto::net::FetchToFile(url, path);
    return 0;
  } catch (const vanto::Error& error) {
    const std::string line =
        std::string(error.Kind()) + ": " + vanto::platform::Utf16ToUtf8(error.Message()) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    return 1;
  }
}

int Usage() {
  std::fputs("usage: vanto-fetch URL PATH\n", stderr);
  return 2;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  // The message's own CR LF must reach the stream as it is, not as CR CR LF.
  _setmode(_fileno(stderr), _O_BINARY);
  if (argc != 3) return Usage();
  auto text = [](const wchar_t* arg) {
    return std::u16string(reinterpret_cast<const char16_t*>(arg));
  };
  return Run(text(argv[1]), text(argv[2]));
}
#else
int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  return Run(vanto::platform::Utf8ToUtf16(argv[1]), vanto::platform::Utf8ToUtf16(argv[2]));
}
#endif
