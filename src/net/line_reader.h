// Buffered reading of CR LF (or LF) terminated lines and raw bytes from a ByteSource, through one
// receive buffer that lives as long as the reader: no receive allocates.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "net/byte_source.h"

namespace vanto::net {

class LineReader {
 public:
  // The longest line accepted, not counting its CR LF.
  static constexpr size_t kMaxLineLength = 16384;

  explicit LineReader(ByteSource& source);

  // Reads up to LF and drops the LF and a CR just before it. Returns false when the source closes
  // before the LF; `line` then holds what came. A longer line than kMaxLineLength raises
  // EIdReadLnMaxLineLengthExceeded. `rawBytes` grows by the bytes consumed, terminator included.
  bool ReadLine(std::string& line, size_t& rawBytes);
  // The next bytes, at most `most`, seen in the receive buffer: the buffered ones, else one
  // receive's worth. Valid until the next call; empty at an orderly close.
  std::span<const char> NextBytes(size_t most);
  // True when data (or the close) arrives within `timeoutMs`.
  bool WaitForData(int timeoutMs);

 private:
  bool Fill();  // false at an orderly close

  // Each receive asks for up to this much: few receives for a fast download (under emulated
  // Windows each one is a trip to its server). Measured with bench/fetch.sh on a 256 MiB body:
  // 1 MiB beat 256 KiB in every build and 64 KiB by far (1.85 times curl for the i686 exe,
  // chunked), for 1 MiB more of memory.
  static constexpr size_t kBufferSize = 1024 * 1024;
  ByteSource& source_;
  std::unique_ptr<char[]> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool closed_ = false;
};

}  // namespace vanto::net
