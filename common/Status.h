// The outcome of a fallible call of our own: ok, or a failure with its text and,
// where the caller needs to tell failures apart, a number.
#pragma once

#include <string>
#include <utility>

namespace paxelle {

class [[nodiscard]] Status {
 public:
  static Status Ok() { return Status(); }
  // A failure with the text the caller shows or logs; `code` is 0 unless the
  // caller needs one (a wire code, a system error, a reason to act on).
  static Status Failure(std::string message, int code = 0) { return Status(false, code, std::move(message)); }

  bool ok() const { return ok_; }
  int code() const { return code_; }                          // 0 when ok, or when no number was given
  const std::string& message() const { return message_; }     // empty when ok

 private:
  Status() = default;
  Status(bool ok, int code, std::string message) : ok_(ok), code_(code), message_(std::move(message)) {}

  bool ok_ = true;
  int code_ = 0;
  std::string message_;
};

}  // namespace paxelle
