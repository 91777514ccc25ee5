// The error kinds that reach the user. Every failure of the update is one of these exceptions; the
// error box shows Message() (see app/error_text.h for the period rule).
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace vanto {

class Error : public std::exception {
 public:
  explicit Error(std::u16string message, std::shared_ptr<const Error> inner = nullptr);

  // The class name users and tools see, e.g. "EIdSocketError".
  virtual std::string_view Kind() const noexcept = 0;
  const std::u16string& Message() const noexcept { return message_; }
  // An error this one wraps, if any.
  const Error* Inner() const noexcept { return inner_.get(); }
  // The message as UTF-8.
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::shared_ptr<const Error> inner_;
  std::string utf8_;
};

#define VANTO_ERROR_KIND(Name, Base)                                  \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    std::string_view Kind() const noexcept override { return #Name; } \
  };

// Run-time library kinds.
class EStreamError : public Error {
 public:
  using Error::Error;
};
VANTO_ERROR_KIND(EFCreateError, EStreamError)
VANTO_ERROR_KIND(EWriteError, EStreamError)
VANTO_ERROR_KIND(EOutOfMemory, Error)
VANTO_ERROR_KIND(EConvertError, Error)
VANTO_ERROR_KIND(ERegistryException, Error)

// HTTP client kinds.
class EIdException : public Error {
 public:
  using Error::Error;
};
VANTO_ERROR_KIND(EIdUnknownProtocol, EIdException)
VANTO_ERROR_KIND(EIdIOHandlerPropInvalid, EIdException)
VANTO_ERROR_KIND(EIdHostRequired, EIdException)
VANTO_ERROR_KIND(EIdPortRequired, EIdException)
VANTO_ERROR_KIND(EIdConnClosedGracefully, EIdException)
VANTO_ERROR_KIND(EIdReadLnMaxLineLengthExceeded, EIdException)
VANTO_ERROR_KIND(EIdReadTimeout, EIdException)
VANTO_ERROR_KIND(EIdInvalidContentLength, EIdException)
VANTO_ERROR_KIND(EIdUnsupportedTransferEncoding, EIdException)

class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int lastError, std::u16string message)
      : EIdException(std::move(message)), lastError_(lastError) {}
  std::string_view Kind() const noexcept override { return "EIdSocketError"; }
  // The Windows Sockets error number, on every platform.
  int LastError() const noexcept { return lastError_; }

 private:
  int lastError_;
};

// Error 10038: an operation on something that is not a socket.
class EIdNotASocket : public EIdSocketError {
 public:
  using EIdSocketError::EIdSocketError;
  std::string_view Kind() const noexcept override { return "EIdNotASocket"; }
};

class EIdHTTPProtocolException : public EIdException {
 public:
  EIdHTTPProtocolException(int errorCode, std::u16string statusLine, std::string body)
      : EIdException(std::move(statusLine)), errorCode_(errorCode), body_(std::move(body)) {}
  std::string_view Kind() const noexcept override { return "EIdHTTPProtocolException"; }
  int ErrorCode() const noexcept { return errorCode_; }
  // The first 4 KiB of the failed response's body, which is never saved anywhere.
  const std::string& ErrorBody() const noexcept { return body_; }

 private:
  int errorCode_;
  std::string body_;
};

#undef VANTO_ERROR_KIND

}  // namespace vanto
