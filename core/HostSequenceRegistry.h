// HostSequenceRegistry: the locked set of tickets, one per host worker in flight, that
// lets the host interface's stop wait for its workers.
#pragma once

#include "common/Event.h"
#include "common/Mutex.h"

#include <vector>

namespace paxelle {

class HostSequenceRegistry {
 public:
  // Ticket numbers run 1..kMaxNumber and then wrap to 1.
  static constexpr int kMaxNumber = 999999;

  // Add refuses tickets while `stopping` (the interfaces-stopping event, which must
  // outlive the registry) is set.
  explicit HostSequenceRegistry(const Event& stopping) : stopping_(stopping) {}
  HostSequenceRegistry(const HostSequenceRegistry&) = delete;
  HostSequenceRegistry& operator=(const HostSequenceRegistry&) = delete;

  // Takes the next ticket number not currently held and returns it; returns 0 and adds
  // nothing once the interfaces-stopping event is set.
  int Add();
  // Gives back ticket `number`; false when it is not held.
  bool Remove(int number);
  // Number of tickets held.
  int Count() const;
  // Drops every ticket; numbering continues where it was.
  void Clear();

 private:
  const Event& stopping_;
  mutable Mutex mutex_;
  std::vector<int> numbers_ GUARDED_BY(mutex_);  // in the order they were taken
  int lastNumber_ GUARDED_BY(mutex_) = 0;
};

}  // namespace paxelle
