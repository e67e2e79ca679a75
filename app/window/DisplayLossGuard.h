// Qt ends the process with exit(1), from inside its event loop, when the
// display goes away (the X server or the compositor ended, and the desktop
// session with them). While a guard is armed, that exit first runs the
// guard's handler, so the interfaces stop as they do on SIGTERM.
#pragma once

#include <functional>
#include <memory>

namespace paxelle {

class DisplayLossGuard {
 public:
  // Armed from here on: an exit of the process runs `onLoss` on the exiting
  // thread, once, before the process's static objects go.
  explicit DisplayLossGuard(std::function<void()> onLoss);
  // Disarms: a later exit runs nothing of it.
  ~DisplayLossGuard();
  DisplayLossGuard(const DisplayLossGuard&) = delete;
  DisplayLossGuard& operator=(const DisplayLossGuard&) = delete;

 private:
  struct Slot;
  static void RunSlot(int status, void* slot);

  Slot* slot_ = nullptr;        // registered: the exit handler frees it
  std::unique_ptr<Slot> own_;  // not registered: ours
};

}  // namespace paxelle
