// Exact copies of request frames bound for the host: a sealed sale captured on
// the network and sent again, on this or another connection, must not reach
// the host a second time while the first may have been approved.
#pragma once

#include "common/Mutex.h"
#include "common/TimeLimits.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <string_view>

namespace paxelle {

class CReplayGuard {
 public:
  using Fingerprint = std::array<unsigned char, 32>;
  using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr std::size_t kDefaultCapacity = 20000;

  // Remembers at most `capacity` frames (the oldest is forgotten first), each
  // for kReplayWindow; `now` measures the window.
  explicit CReplayGuard(std::size_t capacity = kDefaultCapacity, SteadyNow now = std::chrono::steady_clock::now);
  CReplayGuard(const CReplayGuard&) = delete;
  CReplayGuard& operator=(const CReplayGuard&) = delete;

  // The SHA-256 of a frame's bytes.
  static Fingerprint Of(std::string_view frame);

  // True, and the frame remembered as in process, unless an exact copy was
  // taken within the window and was approved or is still in process.
  bool Admit(const Fingerprint& frame);
  // The outcome of an admitted frame: an approved one is refused for the rest of
  // its window; any other is forgotten, so that a lane's retry of a failed or
  // declined request goes through.
  void Settle(const Fingerprint& frame, bool approved);
  // Frames remembered now.
  std::size_t Size() const;

 private:
  // When each frame was taken.
  using Taken = std::chrono::steady_clock::time_point;
  void ForgetExpiredLocked(std::chrono::steady_clock::time_point now) REQUIRES(mutex_);

  const std::size_t capacity_;
  const SteadyNow now_;
  mutable Mutex mutex_;
  std::map<Fingerprint, Taken> taken_ GUARDED_BY(mutex_);
  // Oldest first; an entry whose time no longer matches taken_ was forgotten or taken again.
  std::deque<std::pair<std::chrono::steady_clock::time_point, Fingerprint>> order_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
