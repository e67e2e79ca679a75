// The service manager's readiness and status protocol: one datagram of
// NAME=VALUE lines to the socket named by NOTIFY_SOCKET.
#pragma once

#include "common/PosixFile.h"

#include <string>
#include <string_view>

namespace paxelle {

class ServiceNotifier {
 public:
  // `address` as NOTIFY_SOCKET gives it: an absolute path, or "@name" for the
  // abstract namespace. Empty: nothing is ever sent and every Send succeeds.
  explicit ServiceNotifier(std::string address = {});
  // The address in NOTIFY_SOCKET, or none when it is unset.
  static ServiceNotifier FromEnvironment();

  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;
  ServiceNotifier(ServiceNotifier&&) = default;
  ServiceNotifier& operator=(ServiceNotifier&&) = default;

  bool Active() const { return !address_.empty(); }

  // Sends `assignments` ("READY=1", "STATUS=...", several joined by line
  // feeds) as one datagram; waits at most a second for room at the receiver.
  // True when sent or when there is no service manager; false with
  // LastErrorText() when the address is unusable or the send failed.
  bool Send(std::string_view assignments);
  const std::string& LastErrorText() const { return lastError_; }

 private:
  std::string address_;
  UniqueFd socket_;
  std::string lastError_;
};

// `text` as one STATUS value: line breaks, tabs and other control characters
// become single blanks, and the blanks at either end are dropped.
std::string StatusValue(std::string_view text);

}  // namespace paxelle
