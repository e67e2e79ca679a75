// The primary and secondary host endpoints with the fail-over between them,
// shared by every host worker of the process.
#pragma once

#include "common/Mutex.h"

#include <string>

namespace paxelle {

struct HostEndpoint {
  std::string host;
  std::string port;  // as text, the way the record and the command line carry it

  bool operator==(const HostEndpoint& other) const = default;
};

// The endpoint both halves of the pair start with until Configure says otherwise.
inline constexpr char kDefaultHostName[] = "localhost";
inline constexpr char kDefaultHostPort[] = "6661";

class HostEndpoints {
 public:
  // Both endpoints localhost:6661, the primary current, no fail-overs counted.
  HostEndpoints();
  HostEndpoints(const HostEndpoints&) = delete;
  HostEndpoints& operator=(const HostEndpoints&) = delete;

  // Makes `primary` and `secondary` the pair's initial values and reloads them
  // (primary current, counter 0).
  void Configure(HostEndpoint primary, HostEndpoint secondary);
  // A copy of the endpoint a connection should try now.
  HostEndpoint Current() const;
  // Counts one fail-over and, when `tried` is the current endpoint, makes the
  // other one current. Returns the (new) current endpoint.
  HostEndpoint FailOver(const HostEndpoint& tried);
  // Back to the configured pair: primary current, counter 0.
  void Reload();
  // Fail-overs counted since the last Reload.
  int FailOverCount() const;

 private:
  mutable Mutex mutex_;
  HostEndpoint configuredPrimary_ GUARDED_BY(mutex_);
  HostEndpoint configuredSecondary_ GUARDED_BY(mutex_);
  HostEndpoint primary_ GUARDED_BY(mutex_);
  HostEndpoint secondary_ GUARDED_BY(mutex_);
  bool primaryCurrent_ GUARDED_BY(mutex_) = true;
  int failOverCount_ GUARDED_BY(mutex_) = 0;
};

// The endpoint's port as a number, or 0 when its text is not a decimal
// number from 1 to 65535.
int PortNumber(const HostEndpoint& endpoint);

}  // namespace paxelle
