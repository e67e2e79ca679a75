#include "common/ProcessEvents.h"

namespace paxelle {
namespace {

// Storage whose destructor leaves the event alone: workers that outlive the shutdown
// wait may still touch these events while static objects are being destroyed.
union LifelongEvent {
  LifelongEvent() : event(Event::Reset::kManual) {}
  ~LifelongEvent() {}
  Event event;
};

}  // namespace

Event& InterfacesStoppingEvent() {
  static LifelongEvent holder;
  return holder.event;
}

Event& DialLineConnectedEvent() {
  static LifelongEvent holder;
  return holder.event;
}

}  // namespace paxelle
