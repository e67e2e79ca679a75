#include "app/window/DisplayLossGuard.h"

#include <cstdlib>
#include <memory>

namespace paxelle {

struct DisplayLossGuard::Slot {
  std::function<void()> onLoss;  // empty once disarmed or run
};

void DisplayLossGuard::RunSlot(int, void* argument) {
  // Every registered slot comes back here once, at exit: it goes then.
  const std::unique_ptr<Slot> slot(static_cast<Slot*>(argument));
  std::function<void()> onLoss = std::move(slot->onLoss);
  if (onLoss) onLoss();
}

DisplayLossGuard::DisplayLossGuard(std::function<void()> onLoss) {
  // The list of exit handlers cannot forget one, so the slot stays with it
  // until the exit hands it back, small and empty once the guard is gone.
  auto slot = std::make_unique<Slot>(Slot{std::move(onLoss)});
  slot_ = slot.get();
  if (::on_exit(&RunSlot, slot_) == 0) {
    [[maybe_unused]] Slot* const handedOver = slot.release();
  } else {
    own_ = std::move(slot);  // nothing can run it: the process ends as Qt ends it
  }
}

DisplayLossGuard::~DisplayLossGuard() { slot_->onLoss = nullptr; }

}  // namespace paxelle
