// What one lane's session writes of the lane's own text to the traffic log:
// each request and each reply masked, its control characters shown as text and
// cut to 1 KiB; past 256 KiB within a minute, nothing more of it until the
// minute ends, so that one connection cannot fill the disk through the log.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace paxelle {

class CTrafficLog;

inline constexpr std::size_t kLaneLogBudgetBytes = 256 * 1024;

class CLaneLog {
 public:
  using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

  // `log` must outlive this object; `now` measures the minute.
  explicit CLaneLog(CTrafficLog& log, SteadyNow now = std::chrono::steady_clock::now);

  // The connection's "address:socket", as every entry names it.
  void SetAddress(std::string address) { address_ = std::move(address); }
  // "Request ->[%s] from %s": a received request payload, or the frame when it
  // could not be unwrapped. Fields are masked by MaskRequestFields.
  void Request(std::string_view payload);
  // "[%s] sent to %s" (with " ** FAILED ** " when `failed`): a reply frame. An
  // encrypted frame is cut out by the log; a clear document keeps its own lines.
  void Sent(std::string_view frame, bool failed);

 private:
  // Whether `bytes` more may be logged in the current minute; at the first
  // refusal in a minute one line says so.
  bool Admit(std::size_t bytes);

  CTrafficLog& log_;
  const SteadyNow now_;
  std::string address_;
  std::chrono::steady_clock::time_point minuteStart_{};
  std::size_t loggedInMinute_ = 0;
  bool suppressed_ = false;
};

}  // namespace paxelle
