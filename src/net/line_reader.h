// Buffered reading of CR LF (or LF) terminated lines and raw bytes from a ByteSource.
#pragma once

#include <cstddef>
#include <memory>
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
  // Up to `capacity` bytes, buffered ones first; 0 at an orderly close.
  size_t ReadSome(char* out, size_t capacity);
  // True when data (or the close) arrives within `timeoutMs`.
  bool WaitForData(int timeoutMs);

 private:
  bool Fill();  // false at an orderly close

  static constexpr size_t kBufferSize = 64 * 1024;
  ByteSource& source_;
  std::unique_ptr<char[]> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool closed_ = false;
};

}  // namespace vanto::net
