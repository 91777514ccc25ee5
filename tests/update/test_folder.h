// What the update's tests share: a fresh folder for each test, and the server's side of a
// download.
#pragma once

#include <string>

#include "platform/utf.h"
#include "support/temp_dir.h"

namespace vanto::test {

using TestFolder = TempDir;

inline std::string OkResponse(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string RequestLine(const std::string& rawRequest) {
  return rawRequest.substr(0, rawRequest.find("\r\n"));
}

}  // namespace vanto::test
