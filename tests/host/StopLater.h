// Raising the interfaces-stopping event part-way through a blocking host call,
// for the cases that check such a call ends on it.
#pragma once

#include "common/Event.h"

#include <chrono>
#include <thread>

namespace paxelle::testing {

// Sets `stopping` (an interfaces-stopping event) after `delay` and clears it
// again when the case ends.
class StopLater {
 public:
  StopLater(Event& stopping, std::chrono::milliseconds delay)
      : stopping_(stopping), thread_([this, delay] {
          // A pause, not a wait: the stop should come part-way through the call.
          std::this_thread::sleep_for(delay);
          stopping_.Set();
        }) {}
  ~StopLater() {
    thread_.join();
    stopping_.ResetEvent();
  }
  StopLater(const StopLater&) = delete;
  StopLater& operator=(const StopLater&) = delete;

 private:
  Event& stopping_;
  std::thread thread_;
};

}  // namespace paxelle::testing
