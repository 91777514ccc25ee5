// Body checks for tests: a check that sees the whole body as one text, and running a check over a
// body held in memory the way a download feeds it.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "net/body_buffer.h"
#include "net/body_sink.h"

namespace vanto::test {

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
inline void RunCheck(const net::BodyCheckFactory& makeCheck, const net::BodyBuffer& body) {
  std::unique_ptr<net::BodyCheck> check = makeCheck();
  for (std::span<const char> block : body.Blocks()) check->Add(block);
  check->Decide();
}

}  // namespace vanto::test
