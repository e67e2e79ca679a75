// Raising the interfaces-stopping event part-way through a blocking host call,
// for the cases that check such a call ends on it.
#pragma once

#include "common/ProcessEvents.h"

#include <chrono>
#include <thread>

namespace paxelle::testing {

// Sets the interfaces-stopping event after `delay` and clears it again when the case ends.
class StopLater {
 public:
  explicit StopLater(std::chrono::milliseconds delay)
      : thread_([delay] {
          std::this_thread::sleep_for(delay);
          InterfacesStoppingEvent().Set();
        }) {}
  ~StopLater() {
    thread_.join();
    InterfacesStoppingEvent().ResetEvent();
  }
  StopLater(const StopLater&) = delete;
  StopLater& operator=(const StopLater&) = delete;

 private:
  std::thread thread_;
};

}  // namespace paxelle::testing
