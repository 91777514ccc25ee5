// vanto-fetch URL PATH: downloads one URL into a file the way the upgrade client does.
// Success prints nothing; a failure prints "<kind>: <message>" on one line and exits with 1; wrong
// arguments exit with 2.
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
// A name in another encoding (a Latin-1 "caf\xE9.exe") would reach the system as another name,
// with U+FFFD in it: another file would be saved, or overwritten, than the one asked for.
bool IsUtf8(const char* arg) {
  return vanto::platform::Utf16ToUtf8(vanto::platform::Utf8ToUtf16(arg)) == arg;
}

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  if (!IsUtf8(argv[1]) || !IsUtf8(argv[2])) {
    std::fputs("vanto-fetch: URL and PATH must be UTF-8\n", stderr);
    return 2;
  }
  return Run(vanto::platform::Utf8ToUtf16(argv[1]), vanto::platform::Utf8ToUtf16(argv[2]));
}
#endif
