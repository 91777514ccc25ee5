// Where the body of a successful response goes as it arrives, and what may judge it on the way.
#pragma once

#include <functional>
#include <memory>
#include <span>

namespace vanto::net {

class BodySink {
 public:
  virtual ~BodySink() = default;
  // Once, before the first body byte, when the head is judged fit to read a body from (for a
  // download, a success): nothing is made for a response that fails before its body.
  virtual void Begin() {}
  // Raises the error of a write that fails.
  virtual void Write(std::span<const char> bytes) = 0;
};

// Sees every byte of a download as it arrives and decides on the whole before it is saved.
class BodyCheck {
 public:
  virtual ~BodyCheck() = default;
  virtual void Add(std::span<const char> bytes) = 0;
  // The body is complete; refuses it by throwing.
  virtual void Decide() = 0;
};

// A new check for each download, so that nothing of one attempt carries into the next.
using BodyCheckFactory = std::function<std::unique_ptr<BodyCheck>()>;

}  // namespace vanto::net
