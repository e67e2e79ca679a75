// What the server counts for a monitor outside it: each part reports its events
// here, and whoever serves them (or nobody) decides what to keep.
#pragma once

#include <chrono>
#include <string_view>

namespace paxelle {

// Every method is called on the thread where the event happens (sessions, host
// workers, the dial link, the number commits): it must be thread-safe, quick,
// and never block on anything outside the process. Labels passed in are fixed
// texts of the server's own, never lane or host text.
class IServerMetrics {
 public:
  virtual ~IServerMetrics() = default;
  // A lane got the final answer of one request: `kind` is the TranCode word of
  // its id, `outcome` "approved", "declined", "success" or a six-digit return code.
  virtual void RequestAnswered(std::string_view kind, std::string_view outcome) = 0;
  // A request went to the host over the network; `answered` when an answer came.
  virtual void HostExchange(std::chrono::microseconds took, bool answered) = 0;
  // A completion went to the host (`sent`) or could not be sent.
  virtual void Completion(bool sent) = 0;
  // A connection to the host was tried: whether some endpoint took it.
  virtual void HostReached(bool reached) = 0;
  // A dial call ended: "connected", or why not ("busy", "no_carrier", ...).
  virtual void DialCall(std::string_view outcome) = 0;
  // The number files were written durably once.
  virtual void NumberCommit(std::chrono::microseconds took) = 0;
};

// The server without a monitor: counts nothing.
class NoServerMetrics final : public IServerMetrics {
 public:
  void RequestAnswered(std::string_view, std::string_view) override {}
  void HostExchange(std::chrono::microseconds, bool) override {}
  void Completion(bool) override {}
  void HostReached(bool) override {}
  void DialCall(std::string_view) override {}
  void NumberCommit(std::chrono::microseconds) override {}
};

}  // namespace paxelle
