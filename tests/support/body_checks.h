// Body checks for tests: a check that sees the whole body as one text, and running a check over a
// body held in memory the way a download feeds it.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "net/body_sink.h"

namespace vanto::test {

// A body as it arrives, held in blocks of at most 64 KiB, so that checks see it in pieces.
class BodyInBlocks : public net::BodySink {
 public:
  void Append(const char* data, size_t size) {
    while (size > 0) {
      if (blocks_.empty() || blocks_.back().size() == kBlock) blocks_.emplace_back();
      const size_t n = std::min(size, kBlock - blocks_.back().size());
      blocks_.back().append(data, n);
      data += n;
      size -= n;
    }
  }
  void Write(std::span<const char> bytes) override { Append(bytes.data(), bytes.size()); }
  std::vector<std::span<const char>> Blocks() const { return {blocks_.begin(), blocks_.end()}; }
  std::string Whole() const {
    std::string whole;
    for (const std::string& block : blocks_) whole += block;
    return whole;
  }
  size_t Size() const { return Whole().size(); }

 private:
  static constexpr size_t kBlock = 64 * 1024;
  std::vector<std::string> blocks_;
};

// Collects what arrives and hands the whole body to `decide`, which refuses it by throwing.
inline net::BodyCheckFactory WholeBodyCheck(std::function<void(const std::string&)> decide) {
  class Check : public net::BodyCheck {
   public:
    explicit Check(std::function<void(const std::string&)> decide) : decide_(std::move(decide)) {}
    void Add(std::span<const char> bytes) override { body_.append(bytes.data(), bytes.size()); }
    void Decide() override { decide_(body_); }

   private:
    std::function<void(const std::string&)> decide_;
    std::string body_;
  };
  return [decide = std::move(decide)] { return std::make_unique<Check>(decide); };
}

// A new check of the factory's kind, fed the body block by block, then asked to decide.
inline void RunCheck(const net::BodyCheckFactory& makeCheck, const BodyInBlocks& body) {
  std::unique_ptr<net::BodyCheck> check = makeCheck();
  for (std::span<const char> block : body.Blocks()) check->Add(block);
  check->Decide();
}

}  // namespace vanto::test
