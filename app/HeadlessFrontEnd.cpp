#include "app/HeadlessFrontEnd.h"

#include "app/HeadlessOperator.h"
#include "app/TrafficView.h"

namespace paxelle {

Status HeadlessFrontEnd::Open() { return loop_.Open(); }

std::unique_ptr<IOperatorInterface> HeadlessFrontEnd::MakeOperator(LogSink log) {
  return std::make_unique<HeadlessOperator>(
      out_, err_, [this](std::chrono::milliseconds duration) { return loop_.Pause(duration); }, std::move(log),
      policy_);
}

int HeadlessFrontEnd::Run(const FrontEndHandlers& handlers) {
  if (handlers.start) handlers.start();
  // The headless operator answers the clients question by its policy (Yes).
  return loop_.Run({.tick = handlers.tick,
                    .restart = handlers.restart,
                    .stop = [&handlers] { return !handlers.stop || handlers.stop(true); }},
                   kStatusRefreshPeriod);
}

}  // namespace paxelle
