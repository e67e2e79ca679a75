// The two process-wide manual-reset events that tie the interface threads together.
#pragma once

#include "common/Event.h"

namespace paxelle {

// Set while the interfaces are stopping: host workers, the worker-ticket registry and
// the host socket give up when they see it. Manual reset; built on first use and never
// destroyed, so a thread still running at process exit can keep reading it.
Event& InterfacesStoppingEvent();

// Set while a dial call to the host is up, so host workers send over the line instead
// of the network. Manual reset; built on first use and never destroyed.
Event& DialLineConnectedEvent();

}  // namespace paxelle
