#include "host/HostEndpoints.h"

#include <charconv>
#include <utility>

namespace paxelle {
HostEndpoints::HostEndpoints()
    : configuredPrimary_{kDefaultHostName, kDefaultHostPort},
      configuredSecondary_{kDefaultHostName, kDefaultHostPort},
      primary_(configuredPrimary_),
      secondary_(configuredSecondary_) {}

void HostEndpoints::Configure(HostEndpoint primary, HostEndpoint secondary) {
  MutexLock lock(mutex_);
  configuredPrimary_ = std::move(primary);
  configuredSecondary_ = std::move(secondary);
  primary_ = configuredPrimary_;
  secondary_ = configuredSecondary_;
  primaryCurrent_ = true;
  failOverCount_ = 0;
}

HostEndpoint HostEndpoints::Current() const {
  MutexLock lock(mutex_);
  return primaryCurrent_ ? primary_ : secondary_;
}

HostEndpoint HostEndpoints::FailOver(const HostEndpoint& tried) {
  MutexLock lock(mutex_);
  ++failOverCount_;
  // Two workers failing on the same endpoint at once must not flip the pair
  // twice: only a failure of the endpoint still current moves it.
  if (tried == (primaryCurrent_ ? primary_ : secondary_)) primaryCurrent_ = !primaryCurrent_;
  return primaryCurrent_ ? primary_ : secondary_;
}

void HostEndpoints::Reload() {
  MutexLock lock(mutex_);
  primary_ = configuredPrimary_;
  secondary_ = configuredSecondary_;
  primaryCurrent_ = true;
  failOverCount_ = 0;
}

int HostEndpoints::FailOverCount() const {
  MutexLock lock(mutex_);
  return failOverCount_;
}

int PortNumber(const HostEndpoint& endpoint) {
  const std::string& text = endpoint.port;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return 0;
  return value >= 1 && value <= 65535 ? value : 0;
}

}  // namespace paxelle
