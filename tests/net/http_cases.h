// The responses that every layer of the download must judge alike, one row a case: the reader fed
// from memory (whole and in pieces down to single bytes), the fetch over a loopback socket, and
// the hostile server's splits of the same bytes. A new behaviour is one more row.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "net/fetch.h"
#include "support/http_outcome.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace vanto::test {

using Ending = ServerScript::Ending;

struct HttpCase {
  const char* name;
  std::string response;  // everything the server sends after reading the request
  HttpOutcome expected;  // as the reader sees it (status code and failure body included)
  Ending ending = Ending::kClose;

  std::uint64_t maxBodyBytes = net::kMaxBodyBytes;
  int readTimeoutMs = 3000;
  // Over the socket the bytes go in pieces of `piece` with `pauseMs` after each; 0: in one go.
  size_t piece = 0;
  int pauseMs = 0;
  // Also served one byte at a time (from `bytewiseFrom` on, for 256 bytes) and in random splits.
  bool splits = false;
  size_t bytewiseFrom = 0;

  HttpCase& BodyLimit(std::uint64_t bytes) {
    maxBodyBytes = bytes;
    return *this;
  }
  HttpCase& TimeOut(int ms) {
    readTimeoutMs = ms;
    return *this;
  }
  HttpCase& InPieces(size_t bytes, int pause) {
    piece = bytes;
    pauseMs = pause;
    return *this;
  }
  HttpCase& Splits(size_t from = 0) {
    splits = true;
    bytewiseFrom = from;
    return *this;
  }
};

// Every row; the large ones are built on each call.
std::vector<HttpCase> HttpCases();

// Whether the row can be read from memory: a reset or a time-out needs a socket.
bool ReadsFromMemory(const HttpCase& row);

// What a fetch shows of the expected outcome: no success's status code, no failure's body.
HttpOutcome AtTheFetch(const HttpOutcome& expected);

// Fetches the row served by `script` into a fresh folder, with an older file of the target's
// name there first when `seedOlderFile`, and checks the outcome, the folder's names (compared
// whole), the older file on a failure and the time taken.
// Returns whether the outcome was the row's own: false only for a reset row that this platform
// reported as an orderly close (which is then checked as a body cut short).
bool ExpectFetchOutcome(const HttpCase& row, const ServerScript& script, bool seedOlderFile);

// The feeds over the socket.
ServerScript WholeScript(const HttpCase& row);
ServerScript BytewiseScript(const HttpCase& row);
ServerScript RandomSplitScript(const HttpCase& row, unsigned seed);

}  // namespace vanto::test
