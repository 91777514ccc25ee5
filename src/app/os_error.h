// A failed Windows call that the frame cannot do without (window classes, windows).
#pragma once

#include <string>
#include <string_view>

#include "net/errors.h"

namespace vanto::app {

class EOSError : public vanto::Error {
 public:
  using Error::Error;
  std::string_view Kind() const noexcept override { return "EOSError"; }
};

// Raises EOSError with GetLastError()'s number and the system's text for it.
[[noreturn]] void RaiseLastOSError();

}  // namespace vanto::app
