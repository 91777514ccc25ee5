#include "net/line_reader.h"

#include <algorithm>
#include <cstring>

#include "net/errors.h"

namespace vanto::net {

size_t MemorySource::Read(char* buffer, size_t capacity) {
  const size_t n = std::min({capacity, piece_, size_ - at_});
  if (n > 0) std::memcpy(buffer, data_ + at_, n);
  at_ += n;
  return n;
}

// make_unique value-initialises: every page of the buffer is touched once, here, not per receive.
LineReader::LineReader(ByteSource& source)
    : source_(source), buffer_(std::make_unique<char[]>(kBufferSize)) {}

bool LineReader::Fill() {
  if (closed_) return false;
  begin_ = 0;
  end_ = source_.Read(buffer_.get(), kBufferSize);
  if (end_ == 0) closed_ = true;
  return end_ > 0;
}

bool LineReader::ReadLine(std::string& line, size_t& rawBytes) {
  line.clear();
  for (;;) {
    if (begin_ == end_ && !Fill()) return false;
    const char* start = buffer_.get() + begin_;
    const size_t available = end_ - begin_;
    const void* lf = std::memchr(start, '\n', available);
    const size_t take = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) : available;
    // One byte more than the limit may still be the CR of the terminator; past that the line is
    // refused before it is copied.
    if (take > kMaxLineLength + 1 - line.size()) {
      throw EIdReadLnMaxLineLengthExceeded(u"Max line length exceeded.");
    }
    line.append(start, take);
    begin_ += take;
    rawBytes += take;
    if (line.size() == kMaxLineLength + 1 && line.back() != '\r') {
      throw EIdReadLnMaxLineLengthExceeded(u"Max line length exceeded.");
    }
    if (lf) {
      ++begin_;
      ++rawBytes;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > kMaxLineLength) {
        throw EIdReadLnMaxLineLengthExceeded(u"Max line length exceeded.");
      }
      return true;
    }
  }
}

std::span<const char> LineReader::NextBytes(size_t most) {
  if (begin_ == end_ && !Fill()) return {};
  const size_t n = std::min(most, end_ - begin_);
  const char* start = buffer_.get() + begin_;
  begin_ += n;
  return {start, n};
}

bool LineReader::WaitForData(int timeoutMs) {
  if (begin_ < end_ || closed_) return true;
  std::optional<size_t> n = source_.ReadWithin(buffer_.get(), kBufferSize, timeoutMs);
  if (!n) return false;
  begin_ = 0;
  end_ = *n;
  if (end_ == 0) closed_ = true;
  return true;
}

}  // namespace vanto::net
