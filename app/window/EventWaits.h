// Waits of the window's thread that keep its events turning: the window
// repaints, timers fire and the stop signals are read while a start or stop
// sequence waits for a thread or for time to pass.
#pragma once

#include "common/TimeLimits.h"

#include <chrono>
#include <functional>

class QWidget;

namespace paxelle {

// Runs `step` on a helper thread and dispatches events until it ends; `whileWaiting`
// (may be empty) is called every `slice` meanwhile. `step` must end by itself
// within a bound and must not touch widgets. Runs `step` in place when no
// thread can be started.
void RunWhileDispatching(const std::function<void()>& step, const std::function<void()>& whileWaiting = {},
                         std::chrono::milliseconds slice = kDispatchSlice);

// Dispatches events for `duration`.
void PauseWhileDispatching(std::chrono::milliseconds duration);

// Dispatches events, user input excepted, until `window` is shown on the
// screen (mapped and exposed by the window manager) or `limit` has passed;
// true when it is.
bool WaitUntilExposed(QWidget& window, std::chrono::milliseconds limit);

}  // namespace paxelle
