// Logins per client address: after a run of failures an address's further login
// answers are slowed and its connections that have not logged in yet are
// capped, so a password cannot be guessed at full speed; other addresses and
// lanes already logged in are left alone.
#pragma once

#include "common/Mutex.h"
#include "common/TimeLimits.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <string>

namespace paxelle {

struct LoginThrottleLimits {
  int failures = 5;                                // within `window`, before slowing starts
  std::chrono::seconds window{kLoginFailureWindow};             // failures older than this no longer count
  std::chrono::milliseconds firstDelay{kFirstLoginDelay};       // doubled at each further failure
  std::chrono::milliseconds longestDelay{kLongestLoginDelay};
  std::size_t pendingWhileSlowed = 4;              // connections not logged in yet, per slowed address
};

class CLoginThrottle {
 public:
  using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

  explicit CLoginThrottle(LoginThrottleLimits limits = {}, SteadyNow now = std::chrono::steady_clock::now);
  CLoginThrottle(const CLoginThrottle&) = delete;
  CLoginThrottle& operator=(const CLoginThrottle&) = delete;

  // A connection from `address` is about to log in: false (close it at once) when
  // the address is slowed and already has its cap of connections not logged in;
  // otherwise it counts until EndLogin.
  bool BeginLogin(const std::string& address);
  void EndLogin(const std::string& address);

  // How long the answer to a login from `address` waits: 0 unless the address is
  // slowed. `failed` records the login's outcome first: a failure counts (and
  // may start slowing, `episodeStarted` set once), a success clears the address.
  std::chrono::milliseconds AnswerDelay(const std::string& address, bool failed, bool& episodeStarted);

 private:
  struct Address {
    std::size_t pending = 0;
    int recentFailures = 0;
    std::chrono::steady_clock::time_point firstFailure{};
    std::chrono::steady_clock::time_point lastFailure{};
    std::chrono::milliseconds delay{0};  // 0: not slowed
  };
  // Ends slowing (and the count) after a quiet window; drops an idle entry.
  void Age(std::map<std::string, Address>::iterator entry, std::chrono::steady_clock::time_point now) REQUIRES(mutex_);

  const LoginThrottleLimits limits_;
  const SteadyNow now_;
  Mutex mutex_;
  std::map<std::string, Address> addresses_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
